#pragma once

#include <memory>
#include <string>

#include "certificates/TClientCredentials.h"

namespace quelvo {

// The HTTPS transport of the SOAP calls: posts the envelope with the company's client
// certificate and returns the answer's body as received. One curl handle lives as long as the
// transport (and so as its client): consecutive calls reuse the TLS connection; a call with
// another certificate opens a new one. The server's chain is verified against the system's
// authorities, the ICP-Brasil roots built into the program and the files of an extra folder
// (TTrustAnchors), and its name against the host of the address; its dates are not checked. The
// HTTP status is not examined. Raises std::runtime_error with the texts the call template wraps.
class TSoapHttpTransport {
public:
    // 60 s to connect; a call that moves no byte for 120 s fails, and so does one that has not
    // ended after 5 minutes (a server that drips its answer).
    static constexpr long kConnectTimeoutMs = 60000;
    static constexpr long kStallTimeoutS = 120;
    static constexpr long kDeadlineMs = 300000;
    // The largest answer read (a real one holds at most 50 small documents).
    static constexpr size_t kMaxAnswerBytes = size_t{32} << 20;

    TSoapHttpTransport();
    TSoapHttpTransport(const TSoapHttpTransport&) = delete;
    TSoapHttpTransport& operator=(const TSoapHttpTransport&) = delete;
    ~TSoapHttpTransport();

    std::shared_ptr<const TClientCredentials> ClientCertificate;
    std::string SoapAction;
    std::string ContentType = "application/soap+xml";
    std::string CharsetName = "utf-8";
    std::string Body;
    std::string ProxyHost;
    std::string ProxyPass;
    std::string ProxyPort;
    std::string ProxyUser;
    std::string Url;
    bool PresentCertificate = true;
    bool Secure = true;
    // Folder of extra trust anchors (".pem" and ".crt" files, PEM or DER); "" for none. The
    // built-in roots are trusted in every case.
    std::string TrustAnchorsFolder;
    // Stall time-out in seconds and deadline in milliseconds (0 takes the default); the tests
    // shorten them.
    long StallTimeoutS = 0;
    long DeadlineMs = 0;

    std::string Execute();

    // How many connections the handle has opened so far (for the tests and the benchmark).
    long ConnectionsOpened() const;

private:
    // What a refused server certificate means for the user: another server's name, or a chain
    // that ends at no trusted authority (and where to put the missing roots).
    std::string TrustHint(void* handle) const;

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Proxy text of the transport: the host, and ":port" unless the port is empty or "0".
std::string SoapProxyText(const std::string& host, const std::string& port);

}  // namespace quelvo
