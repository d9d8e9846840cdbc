#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>
#include <system_error>

// What the Windows side of the platform layer shares: UTF-8 to the wide text of the API and back,
// and the system's error codes as the program's (POSIX errno values where one says the same, so
// that callers compare with std::errc on both systems).
namespace quelvo::platform::windows {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// A path for the API: UTF-8 to wide, "/" to "\".
std::wstring WidePath(std::string_view utf8);
// A path from the API: wide to UTF-8, "\" to "/".
std::string Utf8Path(std::wstring_view wide);

// The error as the program knows it: generic (errno) for the ones that have a POSIX twin,
// system_category otherwise.
std::error_code ErrorOf(DWORD error);
std::error_code LastError();
[[noreturn]] void RaiseLastError(const std::string& what);

// Owns a HANDLE (files, processes): closed once.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
    Handle& operator=(Handle&& o) noexcept {
        if (this != &o) {
            Close();
            h_ = o.h_;
            o.h_ = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    ~Handle() { Close(); }
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    BOOL Close() {
        BOOL ok = TRUE;
        if (valid()) {
            ok = ::CloseHandle(h_);
        }
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace quelvo::platform::windows
