#include "dfe/TSoapHttpTransport.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include "common/TextTrim.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <vector>

#include "dfe/TTrustStore.h"

namespace quelvo {

namespace {

// "Erro: Requisição não enviada." with the error code and its text, the text without trailing
// blanks, control characters and dots.
std::string NotSent(long code, std::string text) {
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return "Erro: Requisição não enviada.\r\n" + std::to_string(code) + " - " + text;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The system's authorities as this libcurl would load them by default.
std::string CurlDefault(CURLINFO info) {
    CURL* h = curl_easy_init();
    char* value = nullptr;
    std::string out;
    if (h != nullptr && curl_easy_getinfo(h, info, &value) == CURLE_OK && value != nullptr) {
        out = value;
    }
    curl_easy_cleanup(h);
    return out;
}

const std::string& SystemCaFile() {
    static const std::string file = CurlDefault(CURLINFO_CAINFO);
    return file;
}

const std::string& SystemCaPath() {
    static const std::string path = CurlDefault(CURLINFO_CAPATH);
    return path;
}

}  // namespace

std::string SoapProxyText(const std::string& host, const std::string& port) {
    return port.empty() || port == "0" ? host : host + ":" + port;
}

struct TSoapHttpTransport::Impl {
    CURL* handle = curl_easy_init();
    char error[CURL_ERROR_SIZE] = {0};
    std::string lastCertificate;  // the serial the last call presented
    // The credentials each new TLS context takes: the certificate, its chain and the key object
    // (for a key on a token, OpenSSL's PKCS#11 engine signs with the token). Kept until the
    // handle is renewed, as its connections hold the key.
    std::shared_ptr<const TClientCredentials> presented;
    bool present = false;  // this call presents them
    // What the server's chain is verified with, shared by every connection of the program.
    TTrustStore::Store trust;
    long connections = 0;
    // The stall check: when bytes last moved, and how long a call may go without.
    std::chrono::steady_clock::time_point lastMove;
    curl_off_t lastTotal = 0;
    long stallSeconds = 0;
    bool stalled = false;
    ~Impl() { curl_easy_cleanup(handle); }

    // A new handle: no connection and no TLS session of the old one stays.
    void Renew() {
        curl_easy_cleanup(handle);
        handle = curl_easy_init();
    }

    // curl's own low-speed check averages over several seconds and so lets a server that never
    // answers after the upload hold the call longer than asked; this one counts from the last
    // byte that moved in either direction.
    static int OnProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* impl = static_cast<Impl*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (dlnow + ulnow != impl->lastTotal) {
            impl->lastTotal = dlnow + ulnow;
            impl->lastMove = now;
            return 0;
        }
        if (now - impl->lastMove > std::chrono::seconds(impl->stallSeconds)) {
            impl->stalled = true;
            return 1;
        }
        return 0;
    }

    // Runs for every new TLS context: the shared store of anchors (the system's, the built-in
    // roots and the folder's), the server certificate's dates not checked, and the client's
    // credentials.
    static CURLcode OnSslContext(CURL*, void* sslctx, void* self) {
        auto* ctx = static_cast<SSL_CTX*>(sslctx);
        auto* impl = static_cast<Impl*>(self);
        SSL_CTX_set1_cert_store(ctx, impl->trust.get());
        X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_NO_CHECK_TIME);
        if (const auto& token = impl->presented; token && impl->present && !token->UseIn(ctx)) {
            LastOpenSslError();
            return CURLE_SSL_CERTPROBLEM;
        }
        LastOpenSslError();
        return CURLE_OK;
    }
};

TSoapHttpTransport::TSoapHttpTransport() : impl_(std::make_unique<Impl>()) {}

TSoapHttpTransport::~TSoapHttpTransport() = default;

long TSoapHttpTransport::ConnectionsOpened() const {
    return impl_->connections;
}

std::string TSoapHttpTransport::Execute() {
    if (PresentCertificate) {
        Secure = true;
    }
    // Another company's certificate never rides on a connection, nor resumes a TLS session,
    // opened with this one; nor does another key object (a token's key is kept for as long as
    // connections that signed with it may be reused).
    if (PresentCertificate && ClientCertificate) {
        const std::string serial = ClientCertificate->Certificate().SerialNumber();
        if (serial != impl_->lastCertificate || ClientCertificate != impl_->presented) {
            impl_->Renew();
            impl_->presented.reset();
            impl_->lastCertificate = serial;
        }
    }
    CURL* h = impl_->handle;
    // Options start afresh; the handle's open connections stay for reuse.
    curl_easy_reset(h);
    impl_->error[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, impl_->error);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, Url.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, DeadlineMs > 0 ? DeadlineMs : kDeadlineMs);
    impl_->stallSeconds = StallTimeoutS > 0 ? StallTimeoutS : kStallTimeoutS;
    impl_->lastMove = std::chrono::steady_clock::now();
    impl_->lastTotal = 0;
    impl_->stalled = false;
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, impl_.get());
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Quelvo");

    // The server: chain and name verified (anyone on the way could otherwise answer with any
    // trusted certificate and have false summaries uploaded), dates not.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // curl loads no bundle of its own: the shared store takes its place in every new context.
    impl_->trust = TTrustStore::For(TrustAnchorsFolder, SystemCaFile(), SystemCaPath());
    curl_easy_setopt(h, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &Impl::OnSslContext);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, impl_.get());

    impl_->present = PresentCertificate && ClientCertificate;
    if (impl_->present) {
        impl_->presented = ClientCertificate;
    }

    if (!ProxyHost.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXY, SoapProxyText(ProxyHost, ProxyPort).c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        if (!Trim(ProxyUser).empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, ProxyUser.c_str());
        }
        if (!Trim(ProxyPass).empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, ProxyPass.c_str());
        }
    }

    // Host comes from curl itself (one line only); then the three lines of the call.
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const std::string& line :
         {"Content-Type: " + ContentType + "; charset=" + CharsetName,
          "Accept-Charset: " + CharsetName, "SOAPAction: \"" + SoapAction + "\"",
          std::string("Accept:"), std::string("Expect:")}) {
        headers.reset(curl_slist_append(headers.release(), line.c_str()));
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, Body.data());

    struct Answer {
        std::string text;
        bool tooLarge = false;
    } answer;
    using WriteFn = size_t (*)(char*, size_t, size_t, void*);
    WriteFn onBody = [](char* data, size_t, size_t n, void* p) -> size_t {
        auto* out = static_cast<Answer*>(p);
        if (out->text.size() + n > kMaxAnswerBytes) {
            out->tooLarge = true;
            return CURL_WRITEFUNC_ERROR;
        }
        out->text.append(data, n);
        return n;
    };
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    long opened = 0;
    curl_easy_getinfo(h, CURLINFO_NUM_CONNECTS, &opened);
    impl_->connections += opened;
    if (rc != CURLE_OK) {
        impl_->lastCertificate.clear();
        if (impl_->stalled) {
            throw std::runtime_error(NotSent(CURLE_OPERATION_TIMEDOUT,
                                             "Operation timed out: no data moved for " +
                                                 std::to_string(impl_->stallSeconds) + " seconds"));
        }
        if (answer.tooLarge) {
            throw std::runtime_error("Erro: a resposta do servidor passou do limite de " +
                                     std::to_string(kMaxAnswerBytes >> 20) + " MB.");
        }
        std::string text =
            NotSent(static_cast<long>(rc), impl_->error[0] ? impl_->error : curl_easy_strerror(rc));
        if (rc == CURLE_PEER_FAILED_VERIFICATION) {
            text += TrustHint(h);
        }
        throw std::runtime_error(text);
    }
    std::string& body = answer.text;
    // The text ends at its first zero byte.
    if (const size_t zero = body.find('\0'); zero != std::string::npos) {
        body.resize(zero);
    }
    if (body.empty()) {
        throw std::runtime_error(NotSent(0, curl_easy_strerror(CURLE_OK)));
    }
    const std::string upper = UpperAscii(body);
    if (upper.find("<TITLE") != std::string::npos) {
        // An HTML error page instead of a SOAP answer: its title says what went wrong.
        const size_t open = upper.find("<TITLE>");
        const size_t close = upper.find("</TITLE>");
        std::string title;
        if (open != std::string::npos && close != std::string::npos && close > open + 7) {
            title = Trim(std::string_view(body).substr(open + 7, close - open - 7));
        }
        throw std::runtime_error("Erro: Requisição não enviada.\r\n" + title);
    }
    return std::move(body);
}

std::string TSoapHttpTransport::TrustHint(void* handle) const {
    long verify = X509_V_OK;
    curl_easy_getinfo(static_cast<CURL*>(handle), CURLINFO_SSL_VERIFYRESULT, &verify);
    // curl checks the name itself once the chain has passed, and then reports no chain error
    // (or an unspecified one).
    if (verify == X509_V_OK || verify == X509_V_ERR_UNSPECIFIED ||
        verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH) {
        // The chain was trusted: the certificate names another server.
        return "\r\nO certificado apresentado pelo servidor não é do endereço " + Url +
               ": a conexão foi recusada.";
    }
    return "\r\nA cadeia do certificado do servidor não é confiável (" +
           std::string(X509_verify_cert_error_string(verify)) +
           "): nem as raízes da ICP-Brasil embutidas no aplicativo nem as autoridades "
           "certificadoras do sistema a cobrem. Coloque o certificado da autoridade "
           "certificadora raiz dessa cadeia (arquivo .crt ou .pem) na pasta " +
           (TrustAnchorsFolder.empty() ? std::string("ac-confiaveis/") : TrustAnchorsFolder) +
           " do aplicativo.";
}

}  // namespace quelvo
