#include "common/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "common/TFileDescriptor.h"

namespace quelvo {

namespace {

[[noreturn]] void RaiseErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

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

}  // namespace

void WriteFileAtomic(const std::string& path, std::string_view bytes, mode_t mode) {
    const std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::string name = ".";  // built in steps: GCC 12 warns falsely on "." + string
    name += target.filename().string();
    name += ".XXXXXX";
    std::string temp = (folder / name).string();
    TFileDescriptor fd(::mkstemp(temp.data()));
    if (fd.get() < 0) {
        RaiseErrno(path);
    }
    try {
        WriteAll(fd.get(), bytes, path);
        if (::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0 || fd.Close() != 0) {
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
    TFileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
}

void AppendToFile(const std::string& path, std::string_view bytes, mode_t mode) {
    TFileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
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
    TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        RaiseErrno(path);
    }
    int rc = 0;
    while ((rc = ::fdatasync(fd.get())) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        RaiseErrno(path);
    }
}

std::string ReadWholeFile(const std::string& path) {
    return ReadFileStart(path, std::string::npos);
}

std::string ReadFileStart(const std::string& path, size_t limit, bool* whole) {
    TFileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int RemoveLeftoverTemporaries(const std::string& folder,
                              std::initializer_list<std::string_view> extensions) {
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        // "." + target name + "." + the six letters or digits mkstemp chose.
        if (name.size() < 9 || name.front() != '.' || name[name.size() - 7] != '.' ||
            !std::all_of(name.end() - 6, name.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)); })) {
            continue;
        }
        const std::string_view target = std::string_view(name).substr(1, name.size() - 8);
        const bool ours = std::any_of(extensions.begin(), extensions.end(), [&](auto ext) {
            return target.size() > ext.size() && target.substr(target.size() - ext.size()) == ext;
        });
        std::error_code kind;
        if (ours && it->is_regular_file(kind) && ::unlink(it->path().c_str()) == 0) {
            ++removed;
        }
    }
    return removed;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing target.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

namespace {

// "<path>.<label>-YYYYMMDD-HHMMSS" in local time, then "-2", "-3", ... until `place` (which must
// refuse an existing target with EEXIST) puts the file there.
template <typename Place>
std::string PlaceAside(const std::string& path, const std::string& label, Place place) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + "." + label + "-" + stamp;
    for (int n = 1;; ++n) {
        const std::string target = n == 1 ? base : base + "-" + std::to_string(n);
        if (place(target)) {
            return target;
        }
        if (errno != EEXIST) {
            RaiseErrno(path);
        }
    }
}

}  // namespace

std::string SetAsideFile(const std::string& path, const std::string& label) {
    return PlaceAside(path, label,
                      [&](const std::string& target) { return RenameNoReplace(path, target); });
}

std::string CopyAsideFile(const std::string& path, const std::string& label) {
    return PlaceAside(path, label, [&](const std::string& target) {
        if (::link(path.c_str(), target.c_str()) == 0) {
            return true;
        }
        if (errno == EEXIST) {
            return false;
        }
        // No hard links here: a real copy, which also refuses an existing target.
        std::error_code ec;
        if (std::filesystem::copy_file(path, target, std::filesystem::copy_options::none, ec)) {
            return true;
        }
        errno = ec.value() != 0 ? ec.value() : EIO;
        return false;
    });
}

}  // namespace quelvo
