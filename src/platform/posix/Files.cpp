#include "platform/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace quelvo::platform {

namespace {

[[noreturn]] void RaiseErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

std::error_code LastError() {
    return std::error_code(errno, std::generic_category());
}

// Owns a file descriptor: closed once, by Close or the destructor.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int get() const { return fd_; }
    int Close() {
        int rc = 0;
        if (fd_ >= 0) {
            rc = ::close(fd_);
            fd_ = -1;
        }
        return rc;
    }

private:
    int fd_;
};

void WriteAll(int fd, std::string_view bytes, const std::string& what) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseErrno(what);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

int DataSync(int fd) {
    int rc = 0;
    while ((rc = ::fdatasync(fd)) != 0 && errno == EINTR) {
    }
    return rc;
}

class PosixOutputFile : public OutputFile {
public:
    PosixOutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    void Write(const char* data, size_t n) override { WriteAll(fd_.get(), {data, n}, path_); }
    void Close() override {
        // Data the disk refused may only show when the file is flushed and closed.
        if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) {
            RaiseErrno(path_);
        }
        if (fd_.Close() != 0) {
            RaiseErrno(path_);
        }
    }

private:
    Fd fd_;
    std::string path_;
};

// The user's home folder: $HOME, else the password database's entry; "" when neither says.
std::string Home() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return "";
}

// Whether the folder is the user's home folder or lies inside it ("/" is nobody's home).
bool InHome(const std::string& folder) {
    namespace fs = std::filesystem;
    const std::string home = Home();
    if (home.empty()) {
        return false;
    }
    std::error_code ec;
    const fs::path casa = fs::weakly_canonical(home, ec);
    const fs::path alvo = fs::weakly_canonical(folder, ec);
    if (casa.empty() || casa == casa.root_path()) {
        return false;
    }
    auto a = alvo.begin();
    for (auto c = casa.begin(); c != casa.end(); ++c, ++a) {
        if (c->empty()) {
            continue;  // a trailing "/"
        }
        if (a == alvo.end() || *a != *c) {
            return false;
        }
    }
    return true;
}

}  // namespace

void WriteWholeFile(const std::string& path, std::string_view bytes, int mode) {
    const std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string name = ".";  // built in steps: GCC 12 warns falsely on "." + string
    name += target.filename().string();
    name += ".XXXXXX";
    std::string temp = (folder / name).string();
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        RaiseErrno(path);
    }
    try {
        WriteAll(fd.get(), bytes, path);
        if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0 || ::fsync(fd.get()) != 0 ||
            fd.Close() != 0) {
            RaiseErrno(path);
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            RaiseErrno(path);
        }
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    // The rename itself reaches the disk with the folder's entry.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
}

void AppendToFile(const std::string& path, std::string_view bytes, int mode) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        RaiseErrno(path);
    }
    WriteAll(fd.get(), bytes, path);
    if (fd.Close() != 0) {
        RaiseErrno(path);
    }
}

void SyncFile(const std::string& path) {
    // Any descriptor of the file flushes every page of it, whoever wrote them.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || DataSync(fd.get()) != 0) {
        RaiseErrno(path);
    }
}

std::string ReadFileStart(const std::string& path, size_t limit, bool* whole) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        RaiseErrno(path);
    }
    std::string out;
    char buf[65536];
    for (;;) {
        // One byte past the limit tells a file of exactly `limit` bytes from a longer one.
        const size_t want = std::min(sizeof buf, limit == std::string::npos
                                                     ? sizeof buf
                                                     : limit + 1 - std::min(limit, out.size()));
        const ssize_t n = ::read(fd.get(), buf, want);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseErrno(path);
        }
        if (n == 0) {
            break;
        }
        out.append(buf, static_cast<size_t>(n));
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

namespace {

void Fill(const struct stat& st, FileInfo& info) {
    info.regular = S_ISREG(st.st_mode);
    info.directory = S_ISDIR(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info.id = static_cast<uint64_t>(st.st_ino);
    info.device = static_cast<uint64_t>(st.st_dev);
}

}  // namespace

bool StatusOf(const std::string& path, FileInfo& info, std::error_code& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = LastError();
        return false;
    }
    error.clear();
    Fill(st, info);
    return true;
}

bool LinkStatusOf(const std::string& path, FileInfo& info, bool& isLink, std::error_code& error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        error = LastError();
        return false;
    }
    error.clear();
    isLink = S_ISLNK(st.st_mode);
    Fill(st, info);
    return true;
}

std::chrono::system_clock::time_point CreationTime(const std::string& path) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &stx) != 0) {
        RaiseErrno(path);
    }
    const statx_timestamp t = (stx.stx_mask & STATX_BTIME) != 0 ? stx.stx_btime : stx.stx_mtime;
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec)));
}

std::error_code RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return LastError();
    }
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing target.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return LastError();
    }
    ::unlink(from.c_str());
    return {};
}

std::error_code HardLink(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0 ? std::error_code() : LastError();
}

std::error_code RemoveFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
        return {};
    }
    return LastError();
}

std::error_code CreateFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) {
        return {};
    }
    return LastError();
}

void MakeFolderOwnerOnly(const std::string& path, bool rootOutsideHome) {
    // Checked and changed through one open descriptor, so a folder swapped in between is never
    // the one changed.
    Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid() ||
        (st.st_mode & 07077) == 0 || (st.st_uid == 0 && !rootOutsideHome && !InHome(path))) {
        return;
    }
    ::fchmod(fd.get(), st.st_mode & 0700);  // a refusal leaves it as it was
}

void MakeFileOwnerOnly(const std::string& path) {
    ::chmod(path.c_str(), 0600);
}

Exposure ExposureOf(const std::string& path, bool folder) {
    struct stat st {};
    // A folder is looked at through a link (the folder the program lives in); a file is not.
    if ((folder ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        return Exposure::CannotExamine;
    }
    if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
        return Exposure::WrongKind;
    }
    if (st.st_uid != ::geteuid()) {
        return Exposure::OtherOwner;
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Exposure::OthersMayWrite;
    }
    return Exposure::None;
}

std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, int mode) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        RaiseErrno(path);
    }
    return std::make_unique<PosixOutputFile>(fd, path);
}

std::string ReadRegularFileNoFollow(const std::string& path, uint64_t limit) {
    // No link followed, and a pipe or device put there never blocks the reader.
    const Fd f(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (f.get() < 0) {
        RaiseErrno(path);
    }
    struct stat st {};
    if (::fstat(f.get(), &st) != 0) {
        RaiseErrno(path);
    }
    if (!S_ISREG(st.st_mode)) {
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), path);
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        throw std::system_error(std::make_error_code(std::errc::file_too_large), path);
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t lidos = 0;
    while (lidos < bytes.size()) {
        const ssize_t n = ::read(f.get(), bytes.data() + lidos, bytes.size() - lidos);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            RaiseErrno(path);
        }
        if (n == 0) {
            break;  // it shrank meanwhile: what is there is what is checked
        }
        lidos += static_cast<size_t>(n);
    }
    bytes.resize(lidos);
    return bytes;
}

void CopyPermissions(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0) {
        return;
    }
    const Fd f(::open(to.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (f.get() >= 0) {
        ::fchmod(f.get(), st.st_mode & 07777);
    }
}

void AdviseHugePages(void* start, size_t length) {
    ::madvise(start, length, MADV_HUGEPAGE);
}

}  // namespace quelvo::platform
