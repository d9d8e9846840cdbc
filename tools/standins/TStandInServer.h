#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quelvo::standin {

// One HTTP request as it arrived, bytes and all.
struct Request {
    std::string method;
    std::string target;  // as sent: path and query (or the whole URL through a proxy)
    std::string path;    // target up to "?"
    std::string query;   // after "?", undecoded
    std::vector<std::pair<std::string, std::string>> headers;  // in the order sent
    std::string head;  // the raw request line and header lines
    std::string body;
    int connection = 0;      // which connection carried it (1, 2, ... in accept order)
    std::string peerSerial;  // serial of the client certificate, over TLS

    // The first header of that name (any case); "" when absent.
    std::string Header(const std::string& name) const;
};

// What the handler answers.
struct Response {
    int status = 200;
    std::string reason;  // "" takes the usual one
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::chrono::milliseconds delay{0};  // wait before answering (a slow server)
    bool hangUp = false;                 // close the connection without answering
    // Announce the whole body but close the connection after this many of its bytes (a cut
    // download); nothing when the body goes whole.
    std::optional<size_t> cutAfter{};
    // Send the head at once, then the body one byte at a time this long apart (a server that
    // drips its answer and so never stalls).
    std::chrono::milliseconds drip{0};
    // Wait, after `delay`, until this holds (a server that answers when the test lets it).
    std::function<bool()> holdUntil{};
};

using Handler = std::function<Response(const Request&)>;

// A small HTTP/1.1 server on 127.0.0.1 for tests and demos, plain or TLS. It keeps connections
// open between requests (as real servers do), records every request, and can demand a client
// certificate from a given authority. Owns its threads: Stop (or the destructor) ends them; the
// thread of a connection that has closed is joined at the next accept, so long runs with many
// connections hold only the threads of the open ones.
class TStandInServer {
public:
    struct Tls {
        std::string certificatePem;  // the server's certificate and chain
        std::string keyPem;
        std::string clientCaPem;  // when not empty, a client certificate from it is required
    };

    explicit TStandInServer(Handler handler, std::optional<Tls> tls = std::nullopt, int port = 0);
    TStandInServer(const TStandInServer&) = delete;
    TStandInServer& operator=(const TStandInServer&) = delete;
    ~TStandInServer();

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT" or "https://...".
    std::string BaseUrl() const;
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

    std::vector<Request> Requests() const;
    void ClearRequests();
    // TLS handshakes that failed (no client certificate, an untrusted one, ...).
    int FailedHandshakes() const { return failedHandshakes_; }

    void Stop();

    // Threads of connections still open (finished ones are joined at the next accept).
    size_t ConnectionThreads() const;

private:
    struct TlsContext;
    void AcceptLoop();
    void ReclaimFinished();
    void Serve(int fd, int connection);

    Handler handler_;
    std::unique_ptr<TlsContext> tls_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> failedHandshakes_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::map<int, std::thread> connections_;  // by connection number
    std::vector<int> finished_;               // connections whose thread is ending
    std::vector<int> openFds_;
};

}  // namespace quelvo::standin
