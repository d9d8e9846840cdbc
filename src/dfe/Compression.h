#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quelvo {

// A document that cannot be decompressed; the message is zlib's text.
class EDecompressionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Standard base64 (RFC 4648); every character outside the alphabet is skipped ("=" and line
// breaks included); a last group of 2 or 3 characters gives 1 or 2 bytes.
std::string DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// The largest document a docZip may hold once decompressed.
inline constexpr size_t kMaxInflatedBytes = size_t{16} << 20;

// One gzip member (RFC 1952): our own framing and checks around zlib's raw inflate. The header
// must start with 31, 139, 8 and a flag byte below 32; the trailer's CRC-32 and length must match
// the output. The output never grows beyond the trailer's length nor beyond `maxBytes`: a small
// member that would inflate to gigabytes fails at once. Raises EDecompressionError.
std::string GunzipText(std::string_view gzip, size_t maxBytes = kMaxInflatedBytes);
// The reverse, for the stand-ins and tests.
std::string GzipText(std::string_view data);

}  // namespace quelvo
