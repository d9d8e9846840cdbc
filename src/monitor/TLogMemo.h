#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quelvo {

// The log the worker writes to: at most 501 lines after an append (the oldest go first). A text
// with line breaks takes one line per part.
class TLogMemo {
public:
    static constexpr size_t kMaxLines = 501;

    // Appends and returns the lines it added.
    std::vector<std::string> Append(const std::string& text);
    std::vector<std::string> Lines() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
};

}  // namespace quelvo
