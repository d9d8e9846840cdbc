#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "site/TTravonHttpProxy.h"

namespace quelvo {

// A failed site request; the message is the text the user and the callers see.
class ETravonHttpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The parsed target of a request.
struct TTravonHttpURL {
    std::string Host;    // everything between the scheme and the first "/", a ":port" included
    std::string Text;    // the URL as passed in
    int Port = 80;       // 80 for "http://", 443 for "https://"
    std::string Path;    // from the first "/" after the host, query included; "" when none
    std::string Scheme;  // "http://" or "https://"
};

// Raises ETravonHttpError for a scheme other than http or https.
TTravonHttpURL ParseURL(const std::string& url);

// The request header values; an empty value is not sent.
struct TTravonHttpRequest {
    std::string ContentType;
    std::string Referer;
    std::string Accept =
        "text/html,application/xhtml+xml,application/xml;q=0.9,image/webp,*/*;q=0.8";
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage = "pt-BR,pt;q=0.8,en-US;q=0.6,en;q=0.4";
    std::string CacheControl;
    std::string Connection;
    std::string Host;
    std::string UserAgent =
        "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/27.0.1453.116 Safari/537.36";
    std::string Origin;
    std::string GxAjaxRequest;
    std::string SOAPAction;
};

// "Erro HTTP " and the name of a network error code; "Erro HTTP não previsto." for others.
std::string ErrorText(int code);
// n characters drawn from "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ".
std::string RandomText(int n);
// The answer as text: a UTF-8 byte-order mark, or `decodeUtf8`, reads the bytes as UTF-8
// (characters outside Windows-1252 become "?"); otherwise they are Windows-1252.
std::string StreamToText(std::string_view bytes, bool decodeUtf8);
// Form encoding of multipart names: letters, digits and * @ . _ - $ ! ' ( ) stay, a blank
// becomes "+", every other byte "%XX".
std::string FormEncode(std::string_view text);

// The HTTP client towards the site. One object per request (or two); every request opens and
// closes its own connection. It sends its own headers in a fixed order, keeps its own cookie
// jar, frames multipart bodies itself, never follows redirects, and turns every failure into
// ETravonHttpError with the texts the callers look for (" Response:0", " Response:407", the
// URL). Blocking; belongs to the thread that made it.
class TTravonHttp {
public:
    // Defaults when the time-outs are 0: 60 s to connect; a transfer that moves no byte for
    // 120 s fails; a request that has not ended after 5 minutes fails, whatever moves.
    static constexpr int kDefaultConnectTimeoutMs = 60000;
    static constexpr int kDefaultStallTimeoutMs = 120000;
    static constexpr int kDefaultDeadlineMs = 300000;
    // GetFile's default: a whole executable over a slow line.
    static constexpr int kDefaultFileDeadlineMs = 1800000;
    // The largest answer read into memory (the site's answers are a few bytes), and the largest
    // file GetFile writes (the program's executable).
    static constexpr int64_t kDefaultMaxResponseBytes = int64_t{1} << 20;
    static constexpr int64_t kMaxFileBytes = int64_t{256} << 20;

    TTravonHttp();
    TTravonHttp(const TTravonHttp&) = delete;
    TTravonHttp& operator=(const TTravonHttp&) = delete;
    ~TTravonHttp();

    // An answer longer than MaxResponseBytes fails ("... passou do limite de 1 MB - URL:...").
    void Get(const std::string& url, std::ostream& out);
    std::string GetText(const std::string& url);
    // Creates (or truncates) the file, readable by its owner only when it is new, and writes the
    // answer into it, up to kMaxFileBytes, within Deadline or else 30 minutes. A link at the
    // file's name is not followed: it is an error.
    // Raises ETravonHttpError when the file cannot be created or written (a full disk), naming
    // the file and the reason; the part written stays.
    void GetFile(const std::string& url, const std::string& fileName);
    void Post(const std::string& url, std::ostream& out);
    std::string PostText(const std::string& url);
    void Send(const std::string& url, std::ostream& out, const std::string& verb);

    // Multipart: a new boundary, an empty body and the multipart Content-Type; off: an empty
    // body and the form Content-Type.
    void SetMultiPart(bool multiPart);
    bool MultiPart() const { return multiPart_; }
    void AddFileField(const std::string& fieldName, const std::string& fileName,
                      std::istream& content);
    const std::string& Body() const { return body_; }
    const std::string& Boundary() const { return boundary_; }

    // Sets (or, with an empty value, removes) a request header, names ignoring case.
    void SetHeader(const std::string& name, const std::string& value);
    // A header of the last answer; "" when absent.
    std::string ResponseHeader(const std::string& name) const;
    // Takes the Set-Cookie lines of ResponseHeaders into the jar (after every answer read).
    void UpdateCookies();

    TTravonHttpProxy Proxy;
    TTravonHttpRequest Request;
    int ConnectTimeout = 0;  // milliseconds; 0 takes the default
    int SendTimeout = 0;
    int ReceiveTimeout = 0;
    int Deadline = 0;  // milliseconds for the whole request; 0 takes the default
    int64_t MaxResponseBytes = kDefaultMaxResponseBytes;
    bool AllowRedirect = false;
    // A client certificate of the store to present (none by default) and its key's password.
    std::string CertificateSerial;
    std::string CertificatePassword;
    std::function<void()> OnProgress;

    std::string Cookies;                       // "name=value;" for each cookie
    std::vector<std::string> ResponseHeaders;  // the last answer's header lines, status first
    int StatusCode = 0;
    int64_t BytesRead = 0;
    const TTravonHttpURL& URL() const { return url_; }

private:
    struct Curl;
    // Receives the body of an answer whose status is read; false stops the transfer.
    using BodySink = std::function<bool(const char* data, size_t size)>;
    void SendTo(const std::string& url, const std::string& verb, const BodySink& sink,
                int64_t limit, int defaultDeadlineMs);
    void ApplyHeaders();
    [[noreturn]] void RaiseStatus(int status) const;

    std::unique_ptr<Curl> curl_;
    std::vector<std::pair<std::string, std::string>> requestHeaders_;
    bool multiPart_ = false;
    std::string body_;
    std::string boundary_;
    TTravonHttpURL url_;
};

}  // namespace quelvo
