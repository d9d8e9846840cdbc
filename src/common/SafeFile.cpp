#include "common/SafeFile.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Time.h"

namespace quelvo {

void WriteFileAtomic(const std::string& path, std::string_view bytes, int mode) {
    platform::WriteWholeFile(path, bytes, mode);
}

void AppendToFile(const std::string& path, std::string_view bytes, int mode) {
    platform::AppendToFile(path, bytes, mode);
}

void SyncFile(const std::string& path) {
    platform::SyncFile(path);
}

std::string ReadWholeFile(const std::string& path) {
    return platform::ReadFileStart(path, std::string::npos);
}

std::string ReadFileStart(const std::string& path, size_t limit, bool* whole) {
    return platform::ReadFileStart(path, limit, whole);
}

bool FileExists(const std::string& path) {
    platform::FileInfo info;
    std::error_code ec;
    return platform::StatusOf(path, info, ec) && info.regular;
}

int RemoveLeftoverTemporaries(const std::string& folder,
                              std::initializer_list<std::string_view> extensions) {
    int removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(platform::PathOf(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = platform::Utf8Of(it->path().filename());
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
        if (ours && it->is_regular_file(kind) &&
            !platform::RemoveFile(platform::Utf8Of(it->path()))) {
            ++removed;
        }
    }
    return removed;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
    return !platform::RenameNoReplace(from, to);
}

namespace {

// "<path>.<label>-YYYYMMDD-HHMMSS" in local time, then "-2", "-3", ... until `place` (which must
// refuse an existing target with file_exists) puts the file there.
template <typename Place>
std::string PlaceAside(const std::string& path, const std::string& label, Place place) {
    const std::tm local = platform::LocalTime(std::time(nullptr));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + "." + label + "-" + stamp;
    for (int n = 1;; ++n) {
        const std::string target = n == 1 ? base : base + "-" + std::to_string(n);
        const std::error_code ec = place(target);
        if (!ec) {
            return target;
        }
        if (ec != std::errc::file_exists) {
            throw std::system_error(ec, path);
        }
    }
}

}  // namespace

std::string SetAsideFile(const std::string& path, const std::string& label) {
    return PlaceAside(path, label, [&](const std::string& target) {
        return platform::RenameNoReplace(path, target);
    });
}

std::string CopyAsideFile(const std::string& path, const std::string& label) {
    return PlaceAside(path, label, [&](const std::string& target) -> std::error_code {
        const std::error_code linked = platform::HardLink(path, target);
        if (!linked || linked == std::errc::file_exists) {
            return linked;
        }
        // No hard links here: a real copy, which also refuses an existing target.
        std::error_code ec;
        if (std::filesystem::copy_file(platform::PathOf(path), platform::PathOf(target),
                                       std::filesystem::copy_options::none, ec)) {
            return {};
        }
        return ec ? ec : std::make_error_code(std::errc::io_error);
    });
}

}  // namespace quelvo
