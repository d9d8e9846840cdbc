#pragma once

#include <string>
#include <string_view>

namespace quelvo {

// Small text routines of the fiscal-document client.

// The content of an element found by its name without regard to case: from after the first ">"
// that follows "<NAME" up to the "</" of "/NAME"; with a fallback to the name prefixed "NS2:".
// "" when absent. The text comes from `text` as passed.
std::string ElementContent(std::string_view text, std::string_view name);
// From after the first start marker up to the next end marker (to the end when there is none);
// "" when the start marker is absent.
std::string ContentBetween(std::string_view text, std::string_view start, std::string_view end);
// The number after `width` zeros, keeping the rightmost `width` characters.
std::string ZeroPadded(long long number, int width);
// Text of a field as the writer puts it in a document: accented letters made plain and other
// characters outside 32..126 made blanks (removeAccents), the five XML characters escaped, runs
// of blanks made one (removeBlanks), trimmed.
std::string EncodeFieldText(std::string_view text, bool removeBlanks, bool removeAccents);
// "&amp;", "&lt;", "&gt;", "&quot;" and "&#39;" (in that order), then "&#x...;" references.
std::string DecodeEntities(std::string_view text);
// The reason text of a SOAP fault in an answer (SOAP 1.2 Fault/Reason/Text, or SOAP 1.1
// faultstring), element names matched whatever their prefix, trimmed; "" when there is none.
std::string SoapFaultReason(std::string_view text);
// Check digits of the published modulo-11 rules (digits only; any other length is invalid).
bool ValidCPF(std::string_view digits);
bool ValidCNPJ(std::string_view digits);

// The SOAP answer's text as the call template reads it: with `decodeEntities`, the five XML
// entities, the named entities of the accented letters and "&apos;" are replaced; without it the
// five characters are escaped instead. With `isUtf8`, characters that Windows-1252 cannot hold
// become "?". (In memory the text is UTF-8 either way.)
// The text is taken by value: an answer handed over whole is not copied.
std::string DecodeText(std::string text, bool decodeEntities, bool isUtf8);

}  // namespace quelvo
