#pragma once

#include <string>

#include "support/TempDir.h"

namespace quelvo::test {

// A real HTTP proxy (tinyproxy) on 127.0.0.1 for one test, optionally demanding Basic
// authentication. Stopped with the object.
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
    TempDir dir_;
    int port_ = 0;
    int pid_ = -1;
};

// A loopback port nothing listens on right now.
int FreePort();

}  // namespace quelvo::test
