#include "site/TTravonHttp.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <istream>
#include <iterator>
#include <map>
#include <ostream>
#include <random>
#include <sstream>
#include <system_error>

#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "common/TextCase.h"
#include "common/TextTrim.h"
#include "common/Utils.h"
#include "common/Win1252.h"
#include "platform/Files.h"

namespace quelvo {

namespace {

std::string Lower(std::string s) {
    for (auto& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Blanks and control characters at both ends go.
std::string TrimControls(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') {
        s.remove_prefix(1);
    }
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') {
        s.remove_suffix(1);
    }
    return std::string(s);
}

// The bytes of a request target: what the user typed goes in Windows-1252, unencoded; only the
// bytes that cannot stand in an HTTP request line (blanks, controls, bytes above 127) and "#"
// (which would end the address) are written as %XX.
std::string WireTarget(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : Utf8ToWin1252(text)) {
        const auto b = static_cast<unsigned char>(c);
        if (b <= 0x20 || b >= 0x7F || c == '#') {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

}  // namespace

// One curl handle for the life of the client, with its error buffer.
struct TTravonHttp::Curl {
    CURL* handle = curl_easy_init();
    char error[CURL_ERROR_SIZE] = {0};
    ~Curl() { curl_easy_cleanup(handle); }
};

TTravonHttpURL ParseURL(const std::string& url) {
    TTravonHttpURL out;
    out.Text = url;
    const std::string lower = Lower(url);
    std::string rest;
    if (lower.rfind("http://", 0) == 0) {
        out.Scheme = "http://";
        out.Port = 80;
    } else if (lower.rfind("https://", 0) == 0) {
        out.Scheme = "https://";
        out.Port = 443;
    } else {
        throw ETravonHttpError("Não foi possivél reconhecer o tipo da URL http ou https. Em \r\n" +
                               url);
    }
    rest = url.substr(out.Scheme.size());
    const size_t slash = rest.find('/');
    if (slash == std::string::npos) {
        out.Host = rest;
    } else {
        out.Host = rest.substr(0, slash);
        out.Path = rest.substr(slash);
    }
    return out;
}

std::string ErrorText(int code) {
    static const std::map<int, const char*> kNames = {
        {12001, "INTERNET OUT OF HANDLES"},
        {12002, "INTERNET TIMEOUT"},
        {12003, "INTERNET EXTENDED ERROR"},
        {12004, "INTERNET INTERNAL ERROR"},
        {12005, "INTERNET INVALID URL"},
        {12006, "INTERNET UNRECOGNIZED SCHEME"},
        {12007, "INTERNET NAME NOT RESOLVED"},
        {12008, "INTERNET PROTOCOL NOT FOUND"},
        {12009, "INTERNET INVALID OPTION"},
        {12010, "INTERNET BAD OPTION LENGTH"},
        {12011, "INTERNET OPTION NOT SETTABLE"},
        {12012, "INTERNET SHUTDOWN"},
        {12013, "INTERNET INCORRECT USER NAME"},
        {12014, "INTERNET INCORRECT PASSWORD"},
        {12015, "INTERNET LOGIN FAILURE"},
        {12016, "INTERNET INVALID OPERATION"},
        {12017, "INTERNET OPERATION CANCELLED"},
        {12018, "INTERNET INCORRECT HANDLE TYPE"},
        {12019, "INTERNET INCORRECT HANDLE STATE"},
        {12020, "INTERNET NOT PROXY REQUEST"},
        {12021, "INTERNET REGISTRY VALUE NOT FOUND"},
        {12022, "INTERNET BAD REGISTRY PARAMETER"},
        {12023, "INTERNET NO DIRECT ACCESS"},
        {12024, "INTERNET NO CONTEXT"},
        {12025, "INTERNET NO CALLBACK"},
        {12026, "INTERNET REQUEST PENDING"},
        {12027, "INTERNET INCORRECT FORMAT"},
        {12028, "INTERNET ITEM NOT FOUND"},
        {12029, "INTERNET CANNOT CONNECT"},
        {12030, "INTERNET CONNECTION ABORTED"},
        {12031, "INTERNET CONNECTION RESET"},
        {12032, "INTERNET FORCE RETRY"},
        {12033, "INTERNET INVALID PROXY REQUEST"},
        {12036, "INTERNET HANDLE EXISTS"},
        {12037, "INTERNET SEC CERT DATE INVALID"},
        {12038, "INTERNET SEC CERT CN INVALID"},
        {12039, "INTERNET HTTP TO HTTPS ON REDIR"},
        {12040, "INTERNET HTTPS TO HTTP ON REDIR"},
        {12041, "INTERNET MIXED SECURITY"},
        {12042, "INTERNET CHG POST IS NON SECURE"},
        {12043, "INTERNET POST IS NON SECURE"},
        {12044, "INTERNET CLIENT AUTH CERT NEEDED"},
        {12045, "INTERNET INVALID CA"},
        {12046, "INTERNET CLIENT AUTH NOT SETUP"},
        {12047, "INTERNET ASYNC THREAD FAILED"},
        {12048, "INTERNET REDIRECT SCHEME CHANGE"},
        {12049, "INTERNET DIALOG PENDING"},
        {12050, "INTERNET RETRY DIALOG"},
        {12052, "INTERNET HTTPS HTTP SUBMIT REDIR"},
        {12053, "INTERNET INSERT CDROM"},
        {12157, "INTERNET SECURITY CHANNEL ERROR"},
        {12158, "INTERNET UNABLE TO CACHE FILE"},
        {12159, "INTERNET TCPIP NOT INSTALLED"},
        {12163, "INTERNET DISCONNECTED"},
        {12164, "INTERNET SERVER UNREACHABLE"},
        {12165, "INTERNET PROXY SERVER UNREACHABLE"},
        {12166, "INTERNET BAD AUTO PROXY SCRIPT"},
        {12167, "INTERNET UNABLE TO DOWNLOAD SCRIPT"},
        {12169, "INTERNET SEC INVALID CERT"},
        {12170, "INTERNET SEC CERT REVOKED"},
        {12110, "FTP TRANSFER IN PROGRESS"},
        {12111, "FTP DROPPED"},
        {12112, "FTP NO PASSIVE MODE"},
        {12130, "GOPHER PROTOCOL ERROR"},
        {12131, "GOPHER NOT FILE"},
        {12132, "GOPHER DATA ERROR"},
        {12133, "GOPHER END OF DATA"},
        {12134, "GOPHER INVALID LOCATOR"},
        {12135, "GOPHER INCORRECT LOCATOR TYPE"},
        {12136, "GOPHER NOT GOPHER PLUS"},
        {12137, "GOPHER ATTRIBUTE NOT FOUND"},
        {12138, "GOPHER UNKNOWN LOCATOR"},
        {12150, "HTTP HEADER NOT FOUND"},
        {12151, "HTTP DOWNLEVEL SERVER"},
        {12152, "HTTP INVALID SERVER RESPONSE"},
        {12153, "HTTP INVALID HEADER"},
        {12154, "HTTP INVALID QUERY REQUEST"},
        {12155, "HTTP HEADER ALREADY EXISTS"},
        {12156, "HTTP REDIRECT FAILED"},
        {12160, "HTTP NOT REDIRECTED"},
        {12161, "HTTP COOKIE NEEDS CONFIRMATION"},
        {12162, "HTTP COOKIE DECLINED"},
        {12168, "HTTP REDIRECT NEEDS CONFIRMATION"},
    };
    const auto it = kNames.find(code);
    return it == kNames.end() ? "Erro HTTP não previsto."
                              : std::string("Erro HTTP ERROR ") + it->second;
}

std::string RandomText(int n) {
    static constexpr std::string_view kChars = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, kChars.size() - 1);
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += kChars[pick(generator)];
    }
    return out;
}

std::string StreamToText(std::string_view bytes, bool decodeUtf8) {
    const auto fromUtf8 = [](std::string_view s) { return Win1252ToUtf8(Utf8ToWin1252(s)); };
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return fromUtf8(bytes.substr(3));
    }
    return decodeUtf8 ? fromUtf8(bytes) : Win1252ToUtf8(bytes);
}

std::string FormEncode(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : Utf8ToWin1252(text)) {
        const auto b = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("*@._-$!'()").find(c) != std::string_view::npos) {
            out += c;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}

TTravonHttp::TTravonHttp() : curl_(std::make_unique<Curl>()) {}

TTravonHttp::~TTravonHttp() = default;

void TTravonHttp::SetMultiPart(bool multiPart) {
    multiPart_ = multiPart;
    body_.clear();
    if (multiPart) {
        boundary_ = std::string(27, '-') + RandomText(15);
        Request.ContentType = "multipart/form-data; boundary=" + boundary_;
    } else {
        Request.ContentType = "application/x-www-form-urlencoded";
    }
}

void TTravonHttp::AddFileField(const std::string& fieldName, const std::string& fileName,
                               std::istream& content) {
    body_ += "--" + boundary_ + "\r\n";
    body_ += "Content-Disposition: form-data; name=\"" + FormEncode(fieldName) + "\"; filename=\"" +
             FormEncode(fileName) + "\"\r\n";
    body_ += "Content-Type: application/octet-stream\r\n\r\n";
    content.clear();
    content.seekg(0);
    body_.append(std::istreambuf_iterator<char>(content), std::istreambuf_iterator<char>());
    body_ += "\r\n";
}

void TTravonHttp::SetHeader(const std::string& name, const std::string& value) {
    const auto it =
        std::find_if(requestHeaders_.begin(), requestHeaders_.end(),
                     [&](const auto& h) { return SameTextIgnoringCase(h.first, name); });
    if (value.empty()) {
        if (it != requestHeaders_.end()) {
            requestHeaders_.erase(it);
        }
    } else if (it != requestHeaders_.end()) {
        it->second = value;
    } else {
        requestHeaders_.emplace_back(name, value);
    }
}

void TTravonHttp::ApplyHeaders() {
    SetHeader("Content-Type", Request.ContentType);
    SetHeader("Referer", Request.Referer);
    SetHeader("Accept", Request.Accept);
    SetHeader("Accept-CharSet", Request.AcceptCharSet);
    SetHeader("Accept-Encoding", Request.AcceptEncoding);
    SetHeader("Accept-Language", Request.AcceptLanguage);
    SetHeader("Cache-Control", Request.CacheControl);
    SetHeader("Connection", Request.Connection);
    SetHeader("Host", Request.Host);
    SetHeader("Origin", Request.Origin);
    SetHeader("GxAjaxRequest", Request.GxAjaxRequest);
    SetHeader("SOAPAction", Request.SOAPAction);
    SetHeader("Cookie", Cookies);
}

std::string TTravonHttp::ResponseHeader(const std::string& name) const {
    for (size_t i = 1; i + 1 < ResponseHeaders.size(); ++i) {
        const std::string& line = ResponseHeaders[i];
        if (line.size() >= name.size() && SameTextIgnoringCase(line.substr(0, name.size()), name)) {
            const size_t colon = line.find(':');
            return colon == std::string::npos || colon + 2 > line.size() ? std::string()
                                                                         : line.substr(colon + 2);
        }
    }
    return {};
}

void TTravonHttp::UpdateCookies() {
    std::string accumulated;
    for (const auto& line : ResponseHeaders) {
        if (line.size() >= 11 && SameTextIgnoringCase(line.substr(0, 11), "Set-Cookie:")) {
            std::string value = line.substr(11);
            if (const size_t at = value.find("HttpOnly"); at != std::string::npos) {
                value.erase(at, 8);
            }
            accumulated += value;
        }
        if (!accumulated.empty() && accumulated.back() != ';') {
            accumulated += ';';
        }
    }
    const auto split = [](const std::string& text) {
        std::vector<std::string> items;
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == ';') {
                items.push_back(TrimControls(std::string_view(text).substr(start, i - start)));
                start = i + 1;
            }
        }
        return items;
    };
    std::vector<std::pair<std::string, std::string>> jar;
    for (const auto& entry : split(Cookies)) {
        if (entry.empty()) {
            continue;
        }
        const size_t eq = entry.find('=');
        jar.emplace_back(entry.substr(0, eq), eq == std::string::npos ? "" : entry.substr(eq + 1));
    }
    for (const auto& item : split(accumulated)) {
        const size_t eq = item.find('=');
        if (item.empty() || eq == std::string::npos) {
            continue;  // a bare attribute (Secure) carries no cookie
        }
        // A control character would go back to the site inside the Cookie header line (a CR
        // would even end it): no real cookie holds one.
        if (std::any_of(item.begin(), item.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x20 || c == '\x7f';
            })) {
            continue;
        }
        const std::string name = item.substr(0, eq);
        const std::string value = item.substr(eq + 1);
        const auto it = std::find_if(jar.begin(), jar.end(), [&](const auto& e) {
            return SameTextIgnoringCase(e.first, name);
        });
        if (!value.empty()) {
            if (it != jar.end()) {
                it->second = value;
            } else {
                jar.emplace_back(name, value);
            }
        } else if (it != jar.end()) {
            jar.erase(it);
        }
    }
    Cookies.clear();
    for (const auto& [name, value] : jar) {
        if (name == "Path" && value == "/") {
            continue;
        }
        Cookies += name + "=" + value + ";";
    }
}

void TTravonHttp::RaiseStatus(int status) const {
    // No network error code is pending once an answer arrived: ErrorText(0).
    std::string message =
        ErrorText(0) + " Response:" + std::to_string(status) + "\r\n" + "URL: " + url_.Text;
    if (status == 0) {
        message +=
            "\r\nNão foi possivél ter conexão com a URL acima, por favor verifique sua conexão "
            "com a internet ou as suas configurações proxy.";
    } else if (status == 407) {
        message += "\r\nPor favor verifique as configurações de usuário e senha do proxy.";
    }
    throw ETravonHttpError(message);
}

void TTravonHttp::Send(const std::string& url, std::ostream& out, const std::string& verb) {
    SendTo(
        url, verb,
        [&out](const char* data, size_t n) {
            out.write(data, static_cast<std::streamsize>(n));
            return static_cast<bool>(out);
        },
        MaxResponseBytes, kDefaultDeadlineMs);
}

void TTravonHttp::SendTo(const std::string& url, const std::string& verb, const BodySink& sink,
                         int64_t limit, int defaultDeadlineMs) {
    url_ = ParseURL(url);
    CURL* h = curl_->handle;
    curl_easy_reset(h);
    curl_->error[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curl_->error);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // Our own request target, so that what the user typed reaches the site as typed.
    const std::string path = url_.Path.empty() ? "/" : url_.Path;
    const std::string target = WireTarget(path);
    curl_easy_setopt(h, CURLOPT_URL, (url_.Scheme + url_.Host + target).c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, AllowRedirect ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, Request.UserAgent.c_str());
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, nullptr);
    curl_easy_setopt(
        h, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(ConnectTimeout > 0 ? ConnectTimeout : kDefaultConnectTimeoutMs));
    const int stall = std::max(SendTimeout, ReceiveTimeout);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(
        h, CURLOPT_LOW_SPEED_TIME,
        static_cast<long>(((stall > 0 ? stall : kDefaultStallTimeoutMs) + 999) / 1000));
    // A server that drips its answer never stalls: the whole request has a deadline too.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(Deadline > 0 ? Deadline : defaultDeadlineMs));

    if (Proxy.InUse()) {
        curl_easy_setopt(h, CURLOPT_PROXY,
                         (Proxy.Server + ":" + std::to_string(Proxy.Port)).c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
        if (!Proxy.User.empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, Utf8ToWin1252(Proxy.User).c_str());
        }
        if (!Proxy.Password.empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, Utf8ToWin1252(Proxy.Password).c_str());
        }
    }

    std::string certPem;
    std::string keyPem;
    if (!CertificateSerial.empty()) {
        const TCertificateStore store = TCertificateStore::Default();
        FindCertificateBySerial(store, CertificateSerial);
        const auto credentials = store.LoadCredentials(CertificateSerial, CertificatePassword);
        certPem = credentials.CertificatePem();
        keyPem = credentials.KeyPem();
        curl_blob cert{certPem.data(), certPem.size(), CURL_BLOB_NOCOPY};
        curl_blob key{keyPem.data(), keyPem.size(), CURL_BLOB_NOCOPY};
        curl_easy_setopt(h, CURLOPT_SSLCERT_BLOB, &cert);
        curl_easy_setopt(h, CURLOPT_SSLCERTTYPE, "PEM");
        curl_easy_setopt(h, CURLOPT_SSLKEY_BLOB, &key);
        curl_easy_setopt(h, CURLOPT_SSLKEYTYPE, "PEM");
    }

    ApplyHeaders();
    Slist headers;
    const auto add = [&](const std::string& line) {
        headers.reset(curl_slist_append(headers.release(), Utf8ToWin1252(line).c_str()));
    };
    bool hasAccept = false;
    bool hasContentType = false;
    for (const auto& [name, value] : requestHeaders_) {
        add(name + ": " + value);
        hasAccept |= SameTextIgnoringCase(name, "Accept");
        hasContentType |= SameTextIgnoringCase(name, "Content-Type");
    }
    // No header of curl's own beyond what the request line and the body need.
    add("Expect:");
    if (!hasAccept) {
        add("Accept:");
    }
    if (!hasContentType) {
        add("Content-Type:");
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    std::string postBody;
    if (verb == "POST") {
        if (multiPart_) {
            body_ += "--" + boundary_ + "--\r\n";
        }
        postBody = body_;
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, postBody.data());
    } else if (verb == "GET") {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    // The header lines of the final answer (a proxy's 407 or CONNECT answer comes first).
    ResponseHeaders.clear();
    StatusCode = 0;
    BytesRead = 0;
    using HeaderFn = size_t (*)(char*, size_t, size_t, void*);
    HeaderFn onHeader = [](char* data, size_t, size_t n, void* self) -> size_t {
        auto* lines = &static_cast<TTravonHttp*>(self)->ResponseHeaders;
        std::string line(data, n);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        if (line.rfind("HTTP/", 0) == 0) {
            lines->clear();
        }
        lines->push_back(Win1252ToUtf8(line));
        return n;
    };
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);

    // The body reaches the caller's sink only for the statuses whose body is read, and never
    // beyond the limit.
    struct Sink {
        TTravonHttp* self;
        const BodySink* sink;
        CURL* handle;
        int64_t limit;
        bool tooLarge = false;
        bool sinkFailed = false;
    } state{this, &sink, h, limit};
    using WriteFn = size_t (*)(char*, size_t, size_t, void*);
    WriteFn onBody = [](char* data, size_t, size_t n, void* p) -> size_t {
        auto* s = static_cast<Sink*>(p);
        long code = 0;
        curl_easy_getinfo(s->handle, CURLINFO_RESPONSE_CODE, &code);
        if (code == 200 || code == 302 || code == 303) {
            if (s->self->BytesRead + static_cast<int64_t>(n) > s->limit) {
                s->tooLarge = true;
                return CURL_WRITEFUNC_ERROR;
            }
            if (!(*s->sink)(data, n)) {
                s->sinkFailed = true;
                return CURL_WRITEFUNC_ERROR;
            }
            s->self->BytesRead += static_cast<int64_t>(n);
            if (s->self->OnProgress) {
                s->self->OnProgress();
            }
        }
        return n;
    };
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);

    const CURLcode rc = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    if (state.sinkFailed) {
        throw ETravonHttpError("Não foi possível guardar a resposta - URL:" + url_.Text);
    }
    if (state.tooLarge) {
        throw ETravonHttpError("A resposta passou do limite de " + std::to_string(limit >> 20) +
                               " MB - URL:" + url_.Text);
    }
    if (rc != CURLE_OK) {
        std::string text = curl_->error[0] ? curl_->error : curl_easy_strerror(rc);
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
            text.pop_back();
        }
        throw ETravonHttpError(text + " - URL:" + url_.Text);
    }
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    StatusCode = static_cast<int>(code);
    if (StatusCode != 200 && StatusCode != 302 && StatusCode != 303) {
        RaiseStatus(StatusCode);
    }
    UpdateCookies();
    if (OnProgress) {
        OnProgress();  // the last, empty read
    }
}

void TTravonHttp::Get(const std::string& url, std::ostream& out) {
    Send(url, out, "GET");
}

void TTravonHttp::Post(const std::string& url, std::ostream& out) {
    Send(url, out, "POST");
}

std::string TTravonHttp::GetText(const std::string& url) {
    std::ostringstream out;
    Get(url, out);
    return StreamToText(
        out.str(), UpperAscii(ResponseHeader("Content-Type")).find("UTF-8") != std::string::npos);
}

std::string TTravonHttp::PostText(const std::string& url) {
    std::ostringstream out;
    Post(url, out);
    return StreamToText(out.str(), false);
}

void TTravonHttp::GetFile(const std::string& url, const std::string& fileName) {
    // A link put at the file's name is never followed: the answer would overwrite whatever file
    // it leads to.
    std::unique_ptr<platform::OutputFile> file;
    try {
        file = platform::CreateOutputFile(fileName, 0600);
    } catch (const std::system_error&) {
        throw ETravonHttpError("Não foi possível criar o arquivo \"" + fileName + "\".");
    }
    // A write that fails (a full disk) stops the transfer; its reason is kept for the message.
    std::error_code writeError;
    const auto failed = [&](const std::error_code& error) {
        return ETravonHttpError("Não foi possível gravar o arquivo \"" + fileName +
                                "\": " + error.message() + ".");
    };
    try {
        SendTo(
            url, "GET",
            [&](const char* data, size_t n) {
                try {
                    file->Write(data, n);
                    return true;
                } catch (const std::system_error& e) {
                    writeError = e.code();
                    return false;
                }
            },
            kMaxFileBytes, kDefaultFileDeadlineMs);
    } catch (const ETravonHttpError&) {
        if (writeError) {
            throw failed(writeError);
        }
        throw;
    }
    // Data the disk refused may only show when the file is flushed and closed.
    try {
        file->Close();
    } catch (const std::system_error& e) {
        throw failed(e.code());
    }
}

}  // namespace quelvo
