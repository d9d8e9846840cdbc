#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "dfe/TGerador.h"

namespace quelvo {

// A value of an answer that cannot be read (an impossible date, a bad type).
class ELeitorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text reader of answers. It finds element groups, values and attributes by searching their
// tag text: first occurrence, start tags without attributes for values, dates by position.
class TLeitor {
public:
    std::string Arquivo;  // the whole text
    std::string Grupo;    // the group found last

    // The group of `tag` (up to `closingTag`, or its own closing tag when that is empty), the
    // `occurrence`-th one inside the group of level `level` - 1 (level 0 is the whole text).
    // Sets Grupo and returns it ("" when absent): valid until the next extraction.
    const std::string& ExtractGroup(int level, const std::string& tag,
                                    const std::string& closingTag = "", int occurrence = 1);
    // The groups of `tag` one after the other, as ExtractGroup's occurrences 1, 2, ... give them,
    // but in time linear in the text: `position` starts at 0 and moves past each group.
    std::string ExtractNextGroup(int level, const std::string& tag, size_t& position);

    // The raw text of an element inside Grupo ("" when absent or when `stopTag` comes first).
    std::string RawField(const std::string& tag, const std::string& stopTag = "") const;
    std::string ReadString(const std::string& tag, const std::string& stopTag = "") const;
    long long ReadInteger(const std::string& tag, const std::string& stopTag = "") const;
    double ReadDecimal(const std::string& tag, const std::string& stopTag = "") const;
    // Dates and date-times by position ("YYYY-MM-DD", "YYYY-MM-DDThh:mm:ss", anything after the
    // seconds ignored); zero when empty; ELeitorError when impossible.
    TDateTime ReadDate(const std::string& tag, const std::string& stopTag = "") const;
    TDateTime ReadDateTime(const std::string& tag, const std::string& stopTag = "") const;
    // A typed read; ELeitorError for a type beyond 13.
    TValorCampo ReadField(int tipo, const std::string& tag, const std::string& stopTag = "") const;

    // The value of the first occurrence of `name` anywhere in Grupo, between quotes.
    std::string ReadAttribute(const std::string& name) const;

private:
    // The text a group of that level is searched in (level 1: the whole text).
    std::string_view Parent(int level) const;
    // The group of `tag` in `text` (cut at the first closing tag); sets Grupo and the level.
    // `consumed`, when given, receives how much of `text` this occurrence spans.
    const std::string& GroupIn(int level, const std::string& tag, const std::string& close,
                               std::string_view text, size_t* consumed);

    std::array<std::string, 10> nivel_;
};

}  // namespace quelvo
