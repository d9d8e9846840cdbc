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

// One gzip member (RFC 1952): our own framing and checks around zlib's raw inflate. The header
// must start with 31, 139, 8 and a flag byte below 32; the trailer's CRC-32 and length must match
// the output. Raises EDecompressionError.
std::string GunzipText(std::string_view gzip);
// The reverse, for the stand-ins and tests.
std::string GzipText(std::string_view data);

}  // namespace quelvo
