#include "monitor/TLogMemo.h"

#include "common/Utils.h"

namespace quelvo {

std::vector<std::string> TLogMemo::Append(const std::string& text) {
    std::vector<std::string> added = SplitLines(text);
    if (added.empty()) {
        added.emplace_back();
    }
    std::lock_guard lock(mutex_);
    // The memo is trimmed to 500 before the new line goes in, so it ends at 501 at most.
    for (const auto& line : added) {
        while (lines_.size() > kMaxLines - 1) {
            lines_.pop_front();
        }
        lines_.push_back(line);
    }
    return added;
}

std::vector<std::string> TLogMemo::Lines() const {
    std::lock_guard lock(mutex_);
    return {lines_.begin(), lines_.end()};
}

}  // namespace quelvo
