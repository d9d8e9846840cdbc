#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "common/MessageBoxes.h"

namespace quelvo {

// Caption of every message box and the program's title.
inline constexpr const char* kAppTitle = "Quelvo do Site Travon";

// The folder every program file is named against, with a trailing "/": by default where this
// copy keeps its files (LocalDoAplicativo: beside the executable, or the user's data folder for
// an installed copy); the headless program's --pasta and the tests name another. Raises
// std::runtime_error when an installed copy finds no home folder.
std::string ApplicationDir();
void SetApplicationDir(const std::string& dir);
// The full path of the running executable.
std::string RunningExecutable();

// The characters of `text`, in order, that occur in `allowed`; works on whole characters.
std::string KeepChars(std::string_view text, std::string_view allowed);
std::string OnlyDigits(std::string_view text);

// Two-digit IBGE code of a state abbreviation (exact, case-sensitive); "" for anything else.
std::string UFCode(std::string_view uf);

// Writes the text as lines (split at CR LF, CR or LF), each followed by CR LF, replacing the file
// at once with one readable by its owner only. Raises std::system_error on failure.
void SaveTextFile(const std::string& fileName, std::string_view text);
// The lines of the file, each followed by CR LF. Raises std::system_error on failure.
std::string LoadTextFile(const std::string& fileName);

// Splits text into lines at CR LF, CR or LF; a last line without a break still counts, an empty
// text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Creates the folder and its missing parents; the outcome is not reported.
void EnsureDir(const std::string& dir);

// "%d.%d.%d.%d" of the version marker compiled into an executable of this program; "" for a file
// without one or that cannot be read. Never raises.
std::string FileVersion(const std::string& path);
// The same for the bytes of a file already read.
std::string VersionInBytes(std::string_view bytes);

// The name in the program marker compiled into an executable of ours (QUELVO_PROGRAM_MARKER:
// "quelvo", "quelvo-monitor"); "" for a file without one, with markers of two different names, or
// that cannot be read. Never raises.
std::string FileProgram(const std::string& path);
// The same for the bytes of a file already read.
std::string ProgramInBytes(std::string_view bytes);

// When the file was created (its birth time where the file system keeps one, else its last
// modification), in local time. Raises std::system_error when the file cannot be examined.
TDateTime FileCreationTime(const std::string& path);

}  // namespace quelvo
