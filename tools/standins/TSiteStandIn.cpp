#include "TSiteStandIn.h"

#include "common/PayloadCipher.h"
#include "common/Win1252.h"
#include "dfe/XmlText.h"

namespace quelvo::standin {

std::optional<std::string> MultipartField(const Request& req, const std::string& name) {
    const std::string type = req.Header("Content-Type");
    const size_t b = type.find("boundary=");
    if (b == std::string::npos) {
        return std::nullopt;
    }
    const std::string delimiter = "--" + type.substr(b + 9);
    const std::string marker = "name=\"" + name + "\"";
    size_t at = 0;
    while ((at = req.body.find(delimiter, at)) != std::string::npos) {
        const size_t headEnd = req.body.find("\r\n\r\n", at);
        if (headEnd == std::string::npos) {
            return std::nullopt;
        }
        const std::string head = req.body.substr(at, headEnd - at);
        const size_t next = req.body.find("\r\n" + delimiter, headEnd + 4);
        if (next == std::string::npos) {
            return std::nullopt;
        }
        if (head.find(marker) != std::string::npos) {
            return req.body.substr(headEnd + 4, next - headEnd - 4);
        }
        at = next + 2;
    }
    return std::nullopt;
}

TSiteStandIn::TSiteStandIn()
    : server_(std::make_unique<TStandInServer>([this](const Request& r) { return Handle(r); })) {}

void TSiteStandIn::AddUser(const std::string& user, const std::string& password,
                           const std::string& id) {
    std::lock_guard lock(mutex_);
    users_[user] = {password, id};
}

void TSiteStandIn::SetIdentityText(const std::string& user, const std::string& text) {
    std::lock_guard lock(mutex_);
    users_[user].identity = text;
}

void TSiteStandIn::ScriptUpload(const std::string& chNFe, Response answer) {
    std::lock_guard lock(mutex_);
    uploadScripts_[chNFe].push_back(std::move(answer));
}

void TSiteStandIn::Script(const std::string& target, Response answer) {
    std::lock_guard lock(mutex_);
    scripts_[target] = std::move(answer);
}

void TSiteStandIn::ClearScripts() {
    std::lock_guard lock(mutex_);
    scripts_.clear();
    uploadScripts_.clear();
}

void TSiteStandIn::SetVersion(const std::string& version, const std::string& executable) {
    std::lock_guard lock(mutex_);
    version_ = version;
    executable_ = executable;
}

std::vector<TSiteStandIn::Upload> TSiteStandIn::Uploads() const {
    std::lock_guard lock(mutex_);
    return uploads_;
}

Response TSiteStandIn::Handle(const Request& req) {
    {
        std::lock_guard lock(mutex_);
        const std::string target = req.path + (req.query.empty() ? "" : "?" + req.query);
        if (auto it = scripts_.find(target); it != scripts_.end()) {
            return it->second;
        }
        if (req.path == "/app/Quelvo.aspx") {
            return Response{200, "", {{"Content-Type", "text/html"}}, version_};
        }
        if (req.path == "/app/Quelvo.exe") {
            return Response{200, "", {{"Content-Type", "application/octet-stream"}}, executable_};
        }
    }
    if (req.path == "/usuario/comandos.aspx" && req.query.rfind("t=login&", 0) == 0) {
        return Login(req);
    }
    if (req.path == "/usuario/comandos.aspx" && req.query.rfind("t=loginmonitor&", 0) == 0) {
        return Notas(req);
    }
    if (req.path == "/chaves.php" && req.method == "POST") {
        return Keys(req);
    }
    return Response{404, "", {{"Content-Type", "text/html"}}, "<html>Not Found</html>"};
}

// The query holds the credentials unencoded: "t=login&usuario=U&senha=P" where P may hold "&".
const TSiteStandIn::User* TSiteStandIn::Credenciais(const std::string& q,
                                                    const std::string& command) const {
    const std::string userKey = "t=" + command + "&usuario=";
    const size_t senha = q.find("&senha=");
    if (q.rfind(userKey, 0) != 0 || senha == std::string::npos || senha < userKey.size()) {
        return nullptr;
    }
    const std::string user = Win1252ToUtf8(q.substr(userKey.size(), senha - userKey.size()));
    const std::string password = Win1252ToUtf8(q.substr(senha + 7));
    const auto it = users_.find(user);
    return it != users_.end() && it->second.password == password ? &it->second : nullptr;
}

Response TSiteStandIn::Login(const Request& req) {
    std::lock_guard lock(mutex_);
    const bool ok = Credenciais(req.query, "login") != nullptr;
    return Response{200,
                    "",
                    {{"Content-Type", "text/html; charset=utf-8"}},
                    ok ? "OK" : "Usuário ou senha inválidos."};
}

namespace {

// The text of an element of an upload's payload ("" when absent).
std::string Campo(const std::string& payload, const std::string& name) {
    const size_t a = payload.find("<" + name + ">");
    const size_t b = payload.find("</" + name + ">");
    if (a == std::string::npos || b == std::string::npos || b < a) {
        return "";
    }
    return payload.substr(a + name.size() + 2, b - a - name.size() - 2);
}

// Text as it may stand in a page (the five markup characters escaped).
std::string Html(const std::string& text) {
    return EncodeFieldText(text, false, false);
}

}  // namespace

Response TSiteStandIn::Notas(const Request& req) {
    const std::string tipo = "text/html; charset=utf-8";
    std::lock_guard lock(mutex_);
    const User* user = Credenciais(req.query, "loginmonitor");
    if (user == nullptr) {
        return Response{200,
                        "",
                        {{"Content-Type", tipo}},
                        "<!DOCTYPE html><html lang=\"pt-BR\"><meta charset=\"utf-8\"><title>Travon"
                        "</title><p>Usuário ou senha inválidos.</p></html>"};
    }
    std::string linhas;
    int n = 0;
    for (const auto& u : uploads_) {
        // The summaries the site kept, under this user's identity.
        if (u.answer != "OK" || Campo(u.payload, "IDUsuario") != user->identity) {
            continue;
        }
        ++n;
        linhas += "<tr><td>" + Html(Campo(u.payload, "xNome")) + "</td><td>" +
                  Html(Campo(u.payload, "CNPJ")) + "</td><td>" + Html(u.chNFe) + "</td><td>" +
                  Html(Campo(u.payload, "vNF")) + "</td><td>" + Html(Campo(u.payload, "dhEmi")) +
                  "</td></tr>\n";
    }
    const std::string body =
        "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
        "<title>Notas emitidas - Travon</title></head><body>\n<h1>Notas emitidas para você</h1>\n"
        "<p>" +
        std::to_string(n) +
        " resumos de notas recebidos.</p>\n<table border=\"1\">\n<tr><th>Emitente</th><th>CNPJ "
        "do emitente</th><th>Chave de acesso</th><th>Valor</th><th>Emissão</th></tr>\n" +
        linhas + "</table>\n</body></html>\n";
    return Response{200, "", {{"Content-Type", tipo}}, body};
}

Response TSiteStandIn::Keys(const Request& req) {
    const auto field = MultipartField(req, "hash");
    if (!field || field->empty()) {
        return Response{200, "", {}, "Requisição sem o campo hash."};
    }
    const std::string text = BytesToString(Cipher(StringToBytes(*field), kTravonKey, true));
    std::lock_guard lock(mutex_);
    if (req.query == "t=id") {
        const std::string user = Win1252ToUtf8(text);
        const auto it = users_.find(user);
        const std::string identity =
            it == users_.end() ? "usuario inexistente" : it->second.identity;
        return Response{200, "", {}, CipherString(identity, kTravonKey, false)};
    }
    Upload upload;
    upload.payload = text;
    const size_t a = text.find("<chNFe>");
    const size_t b = text.find("</chNFe>");
    if (a != std::string::npos && b != std::string::npos && b > a) {
        upload.chNFe = text.substr(a + 7, b - a - 7);
    }
    Response res{200, "", {{"Content-Type", "text/html"}}, ""};
    auto& scripted = uploadScripts_[upload.chNFe];
    if (!scripted.empty()) {
        res = scripted.front();
        scripted.erase(scripted.begin());
    } else {
        res.body = storedKeys_[upload.chNFe] ? "JA" : "OK";
    }
    if (res.status == 200 && res.body == "OK") {
        storedKeys_[upload.chNFe] = true;
    }
    upload.answer = res.status == 200 ? res.body : "HTTP " + std::to_string(res.status);
    uploads_.push_back(upload);
    return res;
}

}  // namespace quelvo::standin
