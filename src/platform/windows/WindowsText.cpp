#include "platform/windows/WindowsText.h"

#include <cerrno>

namespace quelvo::platform::windows {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                          nullptr, nullptr);
    return out;
}

std::wstring WidePath(std::string_view utf8) {
    std::wstring w = Wide(utf8);
    for (auto& c : w) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return w;
}

std::string Utf8Path(std::wstring_view wide) {
    std::string s = Utf8(wide);
    for (auto& c : s) {
        if (c == '\\') {
            c = '/';
        }
    }
    return s;
}

std::error_code ErrorOf(DWORD error) {
    int e = 0;
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
            e = ENOENT;
            break;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            e = EEXIST;
            break;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            e = EACCES;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            e = EBUSY;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            e = ENOSPC;
            break;
        case ERROR_NOT_SAME_DEVICE:
            e = EXDEV;
            break;
        case ERROR_DIRECTORY:
            e = ENOTDIR;
            break;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION:
            e = ENOTSUP;
            break;
        case ERROR_CANT_RESOLVE_FILENAME:
            e = ELOOP;
            break;
        case ERROR_FILENAME_EXCED_RANGE:
            e = ENAMETOOLONG;
            break;
        default:
            return std::error_code(static_cast<int>(error), std::system_category());
    }
    return std::error_code(e, std::generic_category());
}

std::error_code LastError() {
    return ErrorOf(::GetLastError());
}

void RaiseLastError(const std::string& what) {
    throw std::system_error(LastError(), what);
}

}  // namespace quelvo::platform::windows
