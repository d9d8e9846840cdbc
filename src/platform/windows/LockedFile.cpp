#include "platform/LockedFile.h"

#include <system_error>

#include "platform/windows/WindowsText.h"

namespace quelvo::platform {

namespace {

using windows::Handle;

// The lock covers one byte far past any content: Windows refuses to read a locked range through
// another handle, and the holder's name must stay readable to the others.
constexpr DWORD kLockOffsetHigh = 0x40000000;

class LockedHandle : public LockedFile {
public:
    explicit LockedHandle(Handle h) : h_(std::move(h)) {}
    ~LockedHandle() override {
        OVERLAPPED where{};
        where.OffsetHigh = kLockOffsetHigh;
        ::UnlockFileEx(h_.get(), 0, 1, 0, &where);
    }

    void SetContent(const std::string& text) override {
        LARGE_INTEGER zero{};
        DWORD written = 0;
        if (::SetFilePointerEx(h_.get(), zero, nullptr, FILE_BEGIN) && ::SetEndOfFile(h_.get())) {
            ::WriteFile(h_.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        }
    }

private:
    Handle h_;
};

}  // namespace

std::unique_ptr<LockedFile> TryLockFile(const std::string& path) {
    // Opening an existing file changes nothing in it: a refused program leaves it as it was.
    Handle h(::CreateFileW(windows::WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.valid()) {
        throw std::system_error(windows::LastError(), "Não foi possível abrir o arquivo " + path);
    }
    OVERLAPPED where{};
    where.OffsetHigh = kLockOffsetHigh;
    if (!::LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                      &where)) {
        if (::GetLastError() == ERROR_LOCK_VIOLATION) {
            return nullptr;
        }
        throw std::system_error(windows::LastError(), "Não foi possível travar o arquivo " + path);
    }
    return std::make_unique<LockedHandle>(std::move(h));
}

}  // namespace quelvo::platform
