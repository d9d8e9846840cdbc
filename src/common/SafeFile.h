#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quelvo {

// Whole-file writes that never leave a truncated file behind: the bytes go to a temporary file
// in the same folder, are flushed to disk, and the temporary file is renamed over the target.
// A crash or a full disk leaves either the old file or the new one. Raises std::system_error.
// `mode` is the new file's permission (owner-only by default: several files hold passwords).
void WriteFileAtomic(const std::string& path, std::string_view bytes, int mode = 0600);

// Appends the bytes to the file (created with `mode` when missing) in one write: a line appended
// so is whole or, after a crash, cut short at the end of the file. No flush: a process killed
// after the call loses nothing the kernel has, but a power cut may; SyncFile makes the appends
// durable, once for several of them. Raises std::system_error.
void AppendToFile(const std::string& path, std::string_view bytes, int mode = 0600);

// Puts what was written to the file on the disk (its data, and its size) before returning: what
// a later write depends on is flushed first, so that a power cut never keeps the later write
// without it. Raises std::system_error (then nothing can be assumed to be on the disk).
void SyncFile(const std::string& path);

// Reads a whole file. Raises std::system_error when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);
// Reads at most `limit` bytes from the start of a file; `whole` (when given) tells whether that
// was the whole file. Raises std::system_error when it cannot be opened or read.
std::string ReadFileStart(const std::string& path, size_t limit, bool* whole = nullptr);

// Whether a regular file (or a link to one) exists at the path.
bool FileExists(const std::string& path);

// Removes, in the folder (not below it), the temporary files that WriteFileAtomic leaves when
// the process dies between creating and renaming them: ".<name>.XXXXXX" for a <name> ending in
// one of `extensions` (".dat", ...). Only for a folder no other process writes. Returns how many
// went.
int RemoveLeftoverTemporaries(const std::string& folder,
                              std::initializer_list<std::string_view> extensions);

// Renames without replacing an existing target; false when the rename did not happen.
bool RenameNoReplace(const std::string& from, const std::string& to);

// Moves a file that cannot be used aside, in its folder, under a name that says why and when:
// "<name>.<label>-YYYYMMDD-HHMMSS" (local time; "-2", "-3", ... when that name is taken). Never
// replaces a file. Returns the new full path; raises std::system_error when the rename fails.
std::string SetAsideFile(const std::string& path, const std::string& label);

// Keeps a copy of the file as it is now beside it, under the same kind of name as SetAsideFile,
// and leaves the file in place: a hard link where the file system has them (the file is only
// ever replaced by a rename, so the copy keeps these bytes), else a real copy. Never replaces a
// file. Returns the copy's full path; raises std::system_error when no copy could be made.
std::string CopyAsideFile(const std::string& path, const std::string& label);

}  // namespace quelvo
