#pragma once

#include <string>
#include <string_view>

namespace quelvo {

// Windows-1252 exists only at the borders of the program (settings file, seen-lists, legacy
// files, some site texts); in memory every text is UTF-8.

// Decodes Windows-1252 bytes into UTF-8. Every byte has a meaning: the five holes of the code
// page (81, 8D, 8F, 90, 9D) map to the C1 controls of the same number, as Windows does.
std::string Win1252ToUtf8(std::string_view bytes);

// Encodes UTF-8 into Windows-1252. A character the code page cannot hold, and every byte of a
// malformed UTF-8 sequence, becomes "?".
std::string Utf8ToWin1252(std::string_view utf8);

// Reads one code point of UTF-8 at `pos`, advancing it. Returns -1 for a malformed sequence
// (pos then moves past one byte).
long NextCodePoint(std::string_view utf8, size_t& pos);

// Appends the UTF-8 encoding of a code point.
void AppendUtf8(std::string& out, unsigned long cp);

}  // namespace quelvo
