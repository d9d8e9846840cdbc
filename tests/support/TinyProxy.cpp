#include "support/TinyProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace quelvo::test {

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

namespace {

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

TinyProxy::TinyProxy(const std::string& user, const std::string& password) {
    port_ = FreePort();
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
    for (int i = 0; i < 200 && !Accepts(port_); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    if (!Accepts(port_)) {
        throw std::runtime_error("tinyproxy did not start: " + Log());
    }
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
