#include "platform/Files.h"

#include "platform/windows/WindowsText.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace quelvo::platform {

namespace {

using windows::ErrorOf;
using windows::Handle;
using windows::LastError;
using windows::RaiseLastError;
using windows::WidePath;

// Every reader and writer lets the others read, write and, above all, replace or remove the file
// while it is open: a kept file is replaced by a rename, which Windows refuses while a handle
// without FILE_SHARE_DELETE is open on it.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

Handle Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0) {
    return Handle(::CreateFileW(WidePath(path).c_str(), access, kShareAll, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL | flags, nullptr));
}

void WriteAll(HANDLE h, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr)) {
            RaiseLastError(what);
        }
        bytes.remove_prefix(written);
    }
}

// FILETIME (100 ns since 1601) as nanoseconds since 1970.
int64_t UnixNs(const FILETIME& t) {
    const int64_t ticks = (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    constexpr int64_t kEpochDiff = 116444736000000000LL;  // 1601-01-01 to 1970-01-01
    return (ticks - kEpochDiff) * 100;
}

bool Describe(HANDLE h, FileInfo& info, std::error_code& error) {
    BY_HANDLE_FILE_INFORMATION bh{};
    if (!::GetFileInformationByHandle(h, &bh)) {
        error = LastError();
        return false;
    }
    error.clear();
    info.directory = (bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.regular = !info.directory && ::GetFileType(h) == FILE_TYPE_DISK;
    info.size = (static_cast<uint64_t>(bh.nFileSizeHigh) << 32) | bh.nFileSizeLow;
    info.modifiedNs = UnixNs(bh.ftLastWriteTime);
    info.id = (static_cast<uint64_t>(bh.nFileIndexHigh) << 32) | bh.nFileIndexLow;
    info.device = bh.dwVolumeSerialNumber;
    return true;
}

// Antivirus and indexing programs open files for a moment, without sharing their deletion: a
// replacement that meets one is tried again for a short while.
template <typename F>
BOOL Insisting(F attempt) {
    for (int i = 0;; ++i) {
        if (attempt()) {
            return TRUE;
        }
        const DWORD e = ::GetLastError();
        if ((e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) || i >= 20) {
            ::SetLastError(e);
            return FALSE;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

class WindowsOutputFile : public OutputFile {
public:
    WindowsOutputFile(Handle h, std::string path) : h_(std::move(h)), path_(std::move(path)) {}
    void Write(const char* data, size_t n) override { WriteAll(h_.get(), {data, n}, path_); }
    void Close() override {
        // What the disk refused may only show when the file is flushed and closed.
        if (!::FlushFileBuffers(h_.get())) {
            RaiseLastError(path_);
        }
        if (!h_.Close()) {
            RaiseLastError(path_);
        }
    }

private:
    Handle h_;
    std::string path_;
};

// The SID of the user this process runs as.
std::vector<BYTE> CurrentUserSid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    const Handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    std::vector<BYTE> out(::GetLengthSid(sid));
    ::CopySid(static_cast<DWORD>(out.size()), out.data(), sid);
    return out;
}

// Whether the SID stands for many users: everyone, the users of the machine, those signed in.
bool ManyUsers(PSID sid) {
    for (const WELL_KNOWN_SID_TYPE type :
         {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid, WinInteractiveSid,
          WinBuiltinGuestsSid, WinAnonymousSid}) {
        if (::IsWellKnownSid(sid, type)) {
            return true;
        }
    }
    return false;
}

}  // namespace

void WriteWholeFile(const std::string& path, std::string_view bytes, int /*mode*/) {
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    Handle h;
    std::string temp;
    for (int attempt = 0; attempt < 100 && !h.valid(); ++attempt) {
        std::string suffix(6, 'A');
        for (auto& c : suffix) {
            c = kLetters[random() % (sizeof kLetters - 1)];
        }
        temp = folder + "." + name + "." + suffix;
        h = Handle(::CreateFileW(WidePath(temp).c_str(), GENERIC_WRITE, kShareAll, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid() && ::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    if (!h.valid()) {
        RaiseLastError(path);
    }
    try {
        WriteAll(h.get(), bytes, path);
        if (!::FlushFileBuffers(h.get()) || !h.Close()) {
            RaiseLastError(path);
        }
        const std::wstring from = WidePath(temp);
        const std::wstring to = WidePath(path);
        if (!Insisting([&] {
                return ::MoveFileExW(from.c_str(), to.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            })) {
            RaiseLastError(path);
        }
    } catch (...) {
        h.Close();
        ::DeleteFileW(WidePath(temp).c_str());
        throw;
    }
}

void AppendToFile(const std::string& path, std::string_view bytes, int /*mode*/) {
    // FILE_APPEND_DATA alone: every write goes to the end, whoever else appends.
    Handle h = Open(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (!h.valid()) {
        RaiseLastError(path);
    }
    WriteAll(h.get(), bytes, path);
    if (!h.Close()) {
        RaiseLastError(path);
    }
}

void SyncFile(const std::string& path) {
    // FlushFileBuffers needs a handle that may write; it flushes what every handle wrote.
    Handle h = Open(path, GENERIC_WRITE, OPEN_EXISTING);
    if (!h.valid() || !::FlushFileBuffers(h.get())) {
        RaiseLastError(path);
    }
}

std::string ReadFileStart(const std::string& path, size_t limit, bool* whole) {
    Handle h = Open(path, GENERIC_READ, OPEN_EXISTING);
    if (!h.valid()) {
        RaiseLastError(path);
    }
    std::string out;
    std::vector<char> buf(65536);
    for (;;) {
        // One byte past the limit tells a file of exactly `limit` bytes from a longer one.
        const size_t want = std::min(buf.size(), limit == std::string::npos
                                                     ? buf.size()
                                                     : limit + 1 - std::min(limit, out.size()));
        DWORD got = 0;
        if (!::ReadFile(h.get(), buf.data(), static_cast<DWORD>(want), &got, nullptr)) {
            RaiseLastError(path);
        }
        if (got == 0) {
            break;
        }
        out.append(buf.data(), got);
        if (limit != std::string::npos && out.size() > limit) {
            out.resize(limit);
            if (whole != nullptr) {
                *whole = false;
            }
            return out;
        }
    }
    if (whole != nullptr) {
        *whole = true;
    }
    return out;
}

bool StatusOf(const std::string& path, FileInfo& info, std::error_code& error) {
    // No access asked: examining a file needs none, and opens even one another program locks.
    Handle h = Open(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (!h.valid()) {
        error = LastError();
        return false;
    }
    return Describe(h.get(), info, error);
}

bool LinkStatusOf(const std::string& path, FileInfo& info, bool& isLink, std::error_code& error) {
    Handle h =
        Open(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!h.valid()) {
        error = LastError();
        return false;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    isLink = ::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
             (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return Describe(h.get(), info, error);
}

std::chrono::system_clock::time_point CreationTime(const std::string& path) {
    Handle h = Open(path, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    BY_HANDLE_FILE_INFORMATION bh{};
    if (!h.valid() || !::GetFileInformationByHandle(h.get(), &bh)) {
        RaiseLastError(path);
    }
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(UnixNs(bh.ftCreationTime))));
}

std::error_code RenameNoReplace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), 0)) {
        return {};
    }
    return LastError();
}

std::error_code HardLink(const std::string& from, const std::string& to) {
    if (::CreateHardLinkW(WidePath(to).c_str(), WidePath(from).c_str(), nullptr)) {
        return {};
    }
    return LastError();
}

std::error_code RemoveFile(const std::string& path) {
    if (::DeleteFileW(WidePath(path).c_str())) {
        return {};
    }
    const std::error_code e = LastError();
    return e == std::errc::no_such_file_or_directory ? std::error_code() : e;
}

std::error_code CreateFolder(const std::string& path) {
    if (::CreateDirectoryW(WidePath(path).c_str(), nullptr) ||
        ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return {};
    }
    return LastError();
}

void MakeFolderOwnerOnly(const std::string& /*path*/, bool /*rootOutsideHome*/) {
    // A folder made in the user's own folders inherits permissions that keep other users out.
}

void MakeFileOwnerOnly(const std::string& /*path*/) {
    // The same: a file inherits its folder's permissions.
}

Exposure ExposureOf(const std::string& path, bool folder) {
    FileInfo info;
    bool link = false;
    std::error_code error;
    if (folder ? !StatusOf(path, info, error) : !LinkStatusOf(path, info, link, error)) {
        return Exposure::CannotExamine;
    }
    if (folder ? !info.directory : (link || !info.regular)) {
        return Exposure::WrongKind;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(WidePath(path).c_str(), SE_FILE_OBJECT,
                                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return Exposure::CannotExamine;
    }
    struct Free {
        PSECURITY_DESCRIPTOR d;
        ~Free() { ::LocalFree(d); }
    } free{descriptor};
    std::vector<BYTE> me = CurrentUserSid();
    const bool administrators = ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) != FALSE;
    if (me.empty() || (!::EqualSid(owner, me.data()) && !administrators)) {
        return Exposure::OtherOwner;
    }
    if (dacl == nullptr) {
        return Exposure::OthersMayWrite;  // no list at all: everyone may do anything
    }
    constexpr DWORD kWrite = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                             FILE_WRITE_ATTRIBUTES | WRITE_DAC | WRITE_OWNER | DELETE |
                             GENERIC_WRITE | GENERIC_ALL | FILE_DELETE_CHILD;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            continue;
        }
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
            continue;
        }
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        const PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kWrite) != 0 && ManyUsers(sid)) {
            return Exposure::OthersMayWrite;
        }
    }
    return Exposure::None;
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, int /*mode*/) {
    // A link put at the file's name is refused, never written through.
    FileInfo info;
    bool link = false;
    std::error_code error;
    if (LinkStatusOf(path, info, link, error) && link) {
        throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels),
                                path);
    }
    Handle h = Open(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!h.valid()) {
        RaiseLastError(path);
    }
    return std::make_unique<WindowsOutputFile>(std::move(h), path);
}

std::string ReadRegularFileNoFollow(const std::string& path, uint64_t limit) {
    Handle h = Open(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!h.valid()) {
        RaiseLastError(path);
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        throw std::system_error(std::make_error_code(std::errc::too_many_symbolic_link_levels),
                                path);
    }
    FileInfo info;
    std::error_code error;
    if (!Describe(h.get(), info, error)) {
        throw std::system_error(error, path);
    }
    if (!info.regular) {
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), path);
    }
    if (info.size > limit) {
        throw std::system_error(std::make_error_code(std::errc::file_too_large), path);
    }
    std::string bytes(static_cast<size_t>(info.size), '\0');
    size_t lidos = 0;
    while (lidos < bytes.size()) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - lidos, 1u << 30));
        if (!::ReadFile(h.get(), bytes.data() + lidos, want, &got, nullptr)) {
            RaiseLastError(path);
        }
        if (got == 0) {
            break;  // it shrank meanwhile: what is there is what is checked
        }
        lidos += got;
    }
    bytes.resize(lidos);
    return bytes;
}

void CopyPermissions(const std::string& /*from*/, const std::string& /*to*/) {
    // Windows has no execute bit to carry over; the folder's permissions pass on to the file.
}

void AdviseHugePages(void* /*start*/, size_t /*length*/) {
    // Large pages need a privilege that users do not have: nothing to ask for.
}

}  // namespace quelvo::platform
