#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TStandInServer.h"
#include "common/Version.h"

namespace quelvo::standin {

// A stand-in of the Travon site on 127.0.0.1: the login command, the key upload ("/chaves.php")
// and the user identity ("/chaves.php?t=id"), both enciphered with the payload cipher, the
// user's page of invoices that "Ver as Notas" opens (the summaries uploaded under the user's
// identity: issuer, key, value, date), the version text and the executable of the self-update,
// and scripted answers for any address.
// One server serves both the main host and the key-upload host.
class TSiteStandIn {
public:
    struct Upload {
        std::string payload;  // deciphered, as the site received it (bytes)
        std::string chNFe;
        std::string answer;  // what the stand-in answered
    };

    TSiteStandIn();

    TStandInServer& Server() { return *server_; }
    std::string HostPort() const { return server_->HostPort(); }

    // A user who can log in, and the numeric identity the identity request gives for it.
    void AddUser(const std::string& user, const std::string& password, const std::string& id);
    // The identity answer of a user, deciphered: any text (digits are taken by the client).
    void SetIdentityText(const std::string& user, const std::string& text);

    // Answers for the next uploads of a key (in order; the default afterwards: "OK" for a key
    // seen the first time, "JA" after that). An answer with a status other than 200 is sent as
    // that HTTP status.
    void ScriptUpload(const std::string& chNFe, Response answer);
    // A fixed answer for an exact target (path and query), taking the place of everything else.
    void Script(const std::string& target, Response answer);
    void ClearScripts();

    void SetVersion(const std::string& version, const std::string& executable);

    std::vector<Upload> Uploads() const;
    std::vector<Request> Requests() const { return server_->Requests(); }

private:
    struct User {
        std::string password;
        std::string identity;
    };
    Response Handle(const Request& req);
    Response Login(const Request& req);
    Response Notas(const Request& req);
    // The user whose credentials the query "t=...&usuario=U&senha=P" holds; nothing when they
    // are not a user's. Runs under the lock.
    const User* Credenciais(const std::string& query, const std::string& command) const;
    Response Keys(const Request& req);

    mutable std::mutex mutex_;
    std::map<std::string, User> users_;
    std::map<std::string, std::vector<Response>> uploadScripts_;
    std::map<std::string, Response> scripts_;
    std::map<std::string, bool> storedKeys_;
    std::vector<Upload> uploads_;
    std::string version_ = ProgramVersion();  // the running version: nothing to update
    std::string executable_;
    std::unique_ptr<TStandInServer> server_;
};

// The content of the multipart field `name` of a request body; nothing when absent.
std::optional<std::string> MultipartField(const Request& req, const std::string& name);

}  // namespace quelvo::standin
