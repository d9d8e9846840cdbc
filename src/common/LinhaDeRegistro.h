#pragma once

#include <string>
#include <vector>

namespace quelvo {

// One log entry as one line of plain text, for a journal or a pipe: its lines (a message with
// line breaks comes split) joined by a blank, a tab as a blank, and every other control
// character (C0, DEL, C1: the codes a terminal acts upon) left out, as is a byte that is not
// UTF-8. The line holds no line break.
std::string LinhaDeRegistro(const std::vector<std::string>& partes);

}  // namespace quelvo
