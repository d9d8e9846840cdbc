#include "TStandInServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include "certificates/OpenSslHandles.h"
#include "certificates/TCertificate.h"

namespace quelvo::standin {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 404:
            return "Not Found";
        case 407:
            return "Proxy Authentication Required";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// The byte stream of one connection, plain or TLS.
class Channel {
public:
    Channel(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    ~Channel() {
        if (ssl_) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
    }
    // Waits up to `ms` for data; -1 on error or close, 0 on time-out.
    long Read(char* buf, size_t size, int ms, const std::atomic<bool>& stopping) {
        for (int waited = 0; !stopping; waited += 50) {
            if (ssl_ && SSL_pending(ssl_) > 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            const int r = ::poll(&p, 1, 50);
            if (r > 0) {
                break;
            }
            if (r < 0 || waited >= ms) {
                return r < 0 ? -1 : 0;
            }
        }
        if (stopping) {
            return -1;
        }
        if (ssl_) {
            const int n = SSL_read(ssl_, buf, static_cast<int>(size));
            return n > 0 ? n : -1;
        }
        const ssize_t n = ::recv(fd_, buf, size, 0);
        return n > 0 ? n : -1;
    }
    bool Write(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const long n =
                ssl_ ? SSL_write(ssl_, bytes.data() + done, static_cast<int>(bytes.size() - done))
                     : ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int fd_;
    SSL* ssl_;
};

}  // namespace

struct TStandInServer::TlsContext {
    SSL_CTX* ctx = nullptr;
    ~TlsContext() { SSL_CTX_free(ctx); }
};

std::string Request::Header(const std::string& name) const {
    for (const auto& [n, v] : headers) {
        if (SameName(n, name)) {
            return v;
        }
    }
    return {};
}

TStandInServer::TStandInServer(Handler handler, std::optional<Tls> tls, int port)
    : handler_(std::move(handler)) {
    // A client that goes away mid-answer must not end the process that hosts the stand-in.
    ::signal(SIGPIPE, SIG_IGN);
    if (tls) {
        tls_ = std::make_unique<TlsContext>();
        tls_->ctx = SSL_CTX_new(TLS_server_method());
        BioPtr certBio(BIO_new_mem_buf(tls->certificatePem.data(),
                                       static_cast<int>(tls->certificatePem.size())));
        X509Ptr leaf(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
        SSL_CTX_use_certificate(tls_->ctx, leaf.get());
        while (X509* extra = PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr)) {
            SSL_CTX_add0_chain_cert(tls_->ctx, extra);
        }
        BioPtr keyBio(BIO_new_mem_buf(tls->keyPem.data(), static_cast<int>(tls->keyPem.size())));
        EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        if (!key || SSL_CTX_use_PrivateKey(tls_->ctx, key.get()) != 1) {
            throw std::runtime_error("stand-in: bad server key");
        }
        if (!tls->clientCaPem.empty()) {
            X509_STORE* store = SSL_CTX_get_cert_store(tls_->ctx);
            BioPtr caBio(BIO_new_mem_buf(tls->clientCaPem.data(),
                                         static_cast<int>(tls->clientCaPem.size())));
            while (X509* ca = PEM_read_bio_X509(caBio.get(), nullptr, nullptr, nullptr)) {
                X509_STORE_add_cert(store, ca);
                X509_free(ca);
            }
            SSL_CTX_set_verify(tls_->ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                               nullptr);
            // Each connection asks for the certificate afresh: no session resumption.
            SSL_CTX_set_session_cache_mode(tls_->ctx, SSL_SESS_CACHE_OFF);
            SSL_CTX_set_options(tls_->ctx, SSL_OP_NO_TICKET);
        }
        ERR_clear_error();
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("stand-in: cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TStandInServer::~TStandInServer() {
    Stop();
}

std::string TStandInServer::BaseUrl() const {
    return std::string(tls_ ? "https://" : "http://") + HostPort();
}

std::vector<Request> TStandInServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TStandInServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void TStandInServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    ::close(listenFd_);
    std::map<int, std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (int fd : openFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
        threads.swap(connections_);
        finished_.clear();
    }
    for (auto& [connection, t] : threads) {
        t.join();
    }
}

void TStandInServer::ReclaimFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        for (int connection : finished_) {
            if (auto it = connections_.find(connection); it != connections_.end()) {
                done.push_back(std::move(it->second));
                connections_.erase(it);
            }
        }
        finished_.clear();
    }
    for (auto& t : done) {
        t.join();  // the thread has left Serve: this returns at once
    }
}

size_t TStandInServer::ConnectionThreads() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

void TStandInServer::AcceptLoop() {
    int count = 0;
    while (!stopping_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        ReclaimFinished();
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        std::lock_guard lock(mutex_);
        openFds_.push_back(fd);
        const int connection = ++count;
        connections_.emplace(connection, std::thread([this, fd, connection] {
                                 Serve(fd, connection);
                                 std::lock_guard done(mutex_);
                                 finished_.push_back(connection);
                             }));
    }
}

void TStandInServer::Serve(int fd, int connection) {
    SSL* ssl = nullptr;
    std::string peerSerial;
    if (tls_) {
        ssl = SSL_new(tls_->ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
            ++failedHandshakes_;
            ERR_clear_error();
            SSL_free(ssl);
            ::close(fd);
            return;
        }
        if (X509* peer = SSL_get1_peer_certificate(ssl)) {
            peerSerial = SerialNumberOf(peer);
            X509_free(peer);
        }
    }
    {
        Channel channel(fd, ssl);
        std::string buffer;
        char chunk[16384];
        while (!stopping_) {
            // The head, up to the empty line.
            size_t headEnd;
            while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
                const long n = channel.Read(chunk, sizeof chunk, 30000, stopping_);
                if (n <= 0) {
                    goto done;
                }
                buffer.append(chunk, static_cast<size_t>(n));
            }
            Request req;
            req.connection = connection;
            req.peerSerial = peerSerial;
            req.head = buffer.substr(0, headEnd + 4);
            {
                const size_t lineEnd = req.head.find("\r\n");
                const std::string line = req.head.substr(0, lineEnd);
                const size_t s1 = line.find(' ');
                const size_t s2 = line.rfind(' ');
                req.method = line.substr(0, s1);
                req.target = line.substr(s1 + 1, s2 - s1 - 1);
                size_t pos = lineEnd + 2;
                while (pos < headEnd) {
                    const size_t e = req.head.find("\r\n", pos);
                    const std::string h = req.head.substr(pos, e - pos);
                    const size_t colon = h.find(':');
                    std::string value = colon == std::string::npos ? "" : h.substr(colon + 1);
                    value.erase(0, value.find_first_not_of(' '));
                    req.headers.emplace_back(h.substr(0, colon), value);
                    pos = e + 2;
                }
            }
            std::string pathAndQuery = req.target;
            if (pathAndQuery.rfind("http://", 0) == 0 || pathAndQuery.rfind("https://", 0) == 0) {
                const size_t slash = pathAndQuery.find('/', pathAndQuery.find("//") + 2);
                pathAndQuery = slash == std::string::npos ? "/" : pathAndQuery.substr(slash);
            }
            const size_t q = pathAndQuery.find('?');
            req.path = pathAndQuery.substr(0, q);
            req.query = q == std::string::npos ? "" : pathAndQuery.substr(q + 1);
            buffer.erase(0, headEnd + 4);
            const size_t length = std::strtoul(req.Header("Content-Length").c_str(), nullptr, 10);
            while (buffer.size() < length) {
                const long n = channel.Read(chunk, sizeof chunk, 30000, stopping_);
                if (n <= 0) {
                    goto done;
                }
                buffer.append(chunk, static_cast<size_t>(n));
            }
            req.body = buffer.substr(0, length);
            buffer.erase(0, length);
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(req);
            }
            const Response res = handler_(req);
            for (auto waited = std::chrono::milliseconds(0); waited < res.delay && !stopping_;
                 waited += std::chrono::milliseconds(20)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            while (res.holdUntil && !stopping_ && !res.holdUntil()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            if (res.hangUp || stopping_) {
                break;
            }
            std::string out = "HTTP/1.1 " + std::to_string(res.status) + " " +
                              (res.reason.empty() ? ReasonOf(res.status) : res.reason) + "\r\n";
            for (const auto& [n, v] : res.headers) {
                out += n + ": " + v + "\r\n";
            }
            out += "Content-Length: " + std::to_string(res.body.size()) + "\r\n\r\n";
            const std::string body = res.cutAfter ? res.body.substr(0, *res.cutAfter) : res.body;
            if (res.drip.count() > 0) {
                bool sent = channel.Write(out);
                for (size_t i = 0; sent && i < body.size() && !stopping_; ++i) {
                    std::this_thread::sleep_for(res.drip);
                    sent = channel.Write(body.substr(i, 1));
                }
                if (!sent || stopping_) {
                    break;
                }
            } else if (!channel.Write(out + body)) {
                break;
            }
            if (res.cutAfter || SameName(req.Header("Connection"), "close")) {
                break;
            }
        }
    done:;
    }
    std::lock_guard lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
    ::close(fd);
}

}  // namespace quelvo::standin
