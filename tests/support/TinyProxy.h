#pragma once

#include <string>

#include "support/TempDir.h"

namespace quelvo::test {

// A real HTTP proxy (tinyproxy) on 127.0.0.1 for one test, optionally demanding Basic
// authentication. Stopped with the object. It picks a free port itself; when another program takes
// that port before tinyproxy binds it, it starts again on another.
class TinyProxy {
public:
    explicit TinyProxy(const std::string& user = "", const std::string& password = "");
    TinyProxy(const TinyProxy&) = delete;
    TinyProxy& operator=(const TinyProxy&) = delete;
    ~TinyProxy();

    int Port() const { return port_; }
    // What the proxy logged so far.
    std::string Log() const;

private:
    // Starts tinyproxy on a free port; false when it could not bind it.
    bool Start(const std::string& user, const std::string& password);

    TempDir dir_;
    int port_ = 0;
    int pid_ = -1;
};

// A loopback port held by a socket that is bound but never listens, for as long as the object
// lives: every connection to it is refused, and no other program can take the port meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    ~ClosedPort();
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace quelvo::test
