#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

// What the program asks of the operating system about files, in one place: posix/Files.cpp and
// windows/Files.cpp implement it, and the build compiles the one of the system it builds for.
// Paths are UTF-8 text on both systems, with "/" between folders (Windows takes it as well as
// "\"); the Windows side hands them to the wide-character functions. Failures raise
// std::system_error carrying the system's error, as a POSIX errno value (std::generic_category)
// where one says the same (a missing file is std::errc::no_such_file_or_directory everywhere).
namespace quelvo::platform {

// Replaces the file whole, atomically: the bytes go to a temporary file in the same folder
// (".<name>.XXXXXX", which RemoveLeftoverTemporaries knows), are flushed to the disk, and the
// temporary file takes the file's place in one step; then the folder's entry is flushed. A crash
// or a power cut leaves the old file or the new one, never a part. `mode` is the new file's
// permission where the system has them (0600: several files hold passwords).
void WriteWholeFile(const std::string& path, std::string_view bytes, int mode);

// Appends the bytes in one write (created with `mode` when missing): a line appended so is whole
// or, after a crash, cut short at the end of the file.
void AppendToFile(const std::string& path, std::string_view bytes, int mode);

// Puts everything written to the file on the disk (its data and its size) before returning.
void SyncFile(const std::string& path);

// At most `limit` bytes from the start of the file (std::string::npos: all); `whole` (when given)
// tells whether that was the whole file. A file being read never stops another program's
// replacement of it (on Windows it is opened with FILE_SHARE_DELETE).
std::string ReadFileStart(const std::string& path, size_t limit, bool* whole = nullptr);

// What a path names, following links.
struct FileInfo {
    bool regular = false;
    bool directory = false;
    uint64_t size = 0;
    // When it was last modified, in nanoseconds since 1970 (UTC).
    int64_t modifiedNs = 0;
    // Which file it is: equal for two paths of one file, different for a file replaced by
    // another at the same path (inode and device; file index and volume on Windows).
    uint64_t id = 0;
    uint64_t device = 0;
};
// False when the path names nothing (`error`: no_such_file_or_directory) or cannot be examined
// (`error` says why).
bool StatusOf(const std::string& path, FileInfo& info, std::error_code& error);

// The same without following a link at the path: `isLink` says whether one is there.
bool LinkStatusOf(const std::string& path, FileInfo& info, bool& isLink, std::error_code& error);

// When the file was created (its birth time where the file system keeps one, else its last
// modification). Raises when the file cannot be examined.
std::chrono::system_clock::time_point CreationTime(const std::string& path);

// Renames without ever replacing an existing target: an error (file_exists for a taken name)
// when the rename did not happen.
std::error_code RenameNoReplace(const std::string& from, const std::string& to);

// A second name for the file (a hard link); an error where the file system has none.
std::error_code HardLink(const std::string& from, const std::string& to);

// Removes a file (not a folder); a missing one is no error.
std::error_code RemoveFile(const std::string& path);

// Creates one folder (its parent must exist) readable by its owner only where the system has
// permissions; an existing folder is no error.
std::error_code CreateFolder(const std::string& path);

// Takes the group's and the other users' permissions off a folder that belongs to the user
// running the program; the owner's stay. A folder of another user, or one the system refuses to
// change, is left as it is (and says nothing). Where `rootOutsideHome` is false, root leaves its
// folders alone unless they lie in its home folder (a folder of programs it may be running from
// belongs to everyone who relies on it). Windows keeps a user's folders the user's own through
// their inherited permissions: nothing to do there.
void MakeFolderOwnerOnly(const std::string& path, bool rootOutsideHome);

// Makes a file readable and writable by its owner only (0600); Windows keeps a user's files the
// user's own through the permissions its folder passes on: nothing to do there.
void MakeFileOwnerOnly(const std::string& path);

// Whether someone other than the user running the program could change the folder, or the file
// (a file is looked at without following a link at its name).
enum class Exposure {
    None,            // the user's alone
    CannotExamine,   // it cannot be examined (missing, no permission)
    WrongKind,       // not a folder, or not a regular file
    OtherOwner,      // it belongs to another user
    OthersMayWrite,  // its group or every user may change it
};
Exposure ExposureOf(const std::string& path, bool folder);

// A file being written as a stream (a download): never through a link planted at its name (the
// answer would overwrite whatever file it leads to). Close flushes it to the disk and reports what
// the disk refused.
class OutputFile {
public:
    virtual ~OutputFile() = default;
    // Raises std::system_error.
    virtual void Write(const char* data, size_t n) = 0;
    virtual void Close() = 0;
};
// Creates or truncates the file. Raises std::system_error.
std::unique_ptr<OutputFile> CreateOutputFile(const std::string& path, int mode);

// A file read whole after the checks that it is a regular file and not a link (a download
// someone may have replaced by a link or a pipe is refused, and never blocks the reader).
// Raises std::system_error; `limit`: larger files are refused with std::errc::file_too_large.
std::string ReadRegularFileNoFollow(const std::string& path, uint64_t limit);

// Gives the file the permissions of another (an executable's, for the file that replaces it),
// without following a link at its name. Where the system has no such permissions: nothing.
void CopyPermissions(const std::string& from, const std::string& to);

// Asks the system to back a large memory region with huge pages where it can (a hint; nothing
// where there are none).
void AdviseHugePages(void* start, size_t length);

}  // namespace quelvo::platform
