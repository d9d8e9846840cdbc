#include "support/TinyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace quelvo::test {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

int PortOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// A loopback port nothing holds right now (another program may take it at any moment).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    const int port = PortOf(fd);
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = Loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

ClosedPort::ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr = Loopback(0);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("could not bind a loopback port");
    }
    port_ = PortOf(fd_);
}

ClosedPort::~ClosedPort() {
    ::close(fd_);
}

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (Start(user, password)) {
            return;
        }
    }
    throw std::runtime_error("tinyproxy did not start: " + Log());
}

bool TinyProxy::Start(const std::string& user, const std::string& password) {
    port_ = FreePort();
    std::filesystem::remove(dir_.File("tinyproxy.log"));
    std::string conf = "Port " + std::to_string(port_) +
                       "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\n"
                       "LogLevel Info\nDisableViaHeader Yes\n"
                       "LogFile \"" +
                       dir_.File("tinyproxy.log") +
                       "\"\n"
                       "PidFile \"" +
                       dir_.File("tinyproxy.pid") + "\"\n";
    if (!user.empty()) {
        conf += "BasicAuth " + user + " " + password + "\n";
    }
    const std::string confFile = dir_.Write("tinyproxy.conf", conf);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::execlp("tinyproxy", "tinyproxy", "-d", "-c", confFile.c_str(), nullptr);
        ::_exit(127);
    }
    // Ours once its log says it accepts connections and the port answers; a tinyproxy that could
    // not bind the port (taken meanwhile) ends at once.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (Log().find("Accepting connections") != std::string::npos && Accepts(port_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return false;
}

TinyProxy::~TinyProxy() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string TinyProxy::Log() const {
    return dir_.Read("tinyproxy.log");
}

}  // namespace quelvo::test
