#pragma once

#include <string>

namespace quelvo {

// Proxy settings, copied by value into every request.
struct TTravonHttpProxy {
    std::string Server;
    int Port = 0;
    std::string User;
    std::string Password;

    // In use when the server, without surrounding blanks and control characters, is not empty and
    // the port is positive.
    bool InUse() const;

    bool operator==(const TTravonHttpProxy&) const = default;
};

}  // namespace quelvo
