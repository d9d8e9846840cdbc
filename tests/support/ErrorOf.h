#pragma once

#include <exception>
#include <functional>
#include <string>

namespace quelvo::test {

// The message of the exception of type E that `f` raises; "(no error)" when it raises none.
template <typename E = std::exception>
std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace quelvo::test
