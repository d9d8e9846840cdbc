#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace quelvo {

// Bytes in, bytes out of the site's payload cipher.
using TTravonBytes = std::vector<std::uint8_t>;

// The key of every exchange with the site's key-upload host.
inline constexpr const char* kTravonKey = "brevolantisco";

// An additive byte cipher with a one-byte salt in front: every data byte is shifted by the sum of
// the key's bytes and the salt, modulo 256. The salt is drawn at random from 0..254 (never 255),
// or is 100 in fixed-salt mode. Deciphering an empty block raises std::out_of_range: it has no
// salt byte. The site reverses the same transformation, so this is a wire format.
TTravonBytes Cipher(const TTravonBytes& data, std::string_view key, bool decipher,
                    bool fixedSalt = false);

// One byte per character and back; the text is taken as raw bytes.
TTravonBytes StringToBytes(std::string_view text);
std::string BytesToString(const TTravonBytes& bytes);

std::string CipherString(std::string_view text, std::string_view key, bool decipher,
                         bool fixedSalt = false);

// Applies the cipher to the whole stream, read from position 0.
TTravonBytes CipherStream(std::istream& stream, std::string_view key, bool decipher,
                          bool fixedSalt = false);

// Writes the cipher of `text` at position 0 of the stream, over what is there (nothing is
// truncated); the position ends just after the written bytes.
void CipherToStream(std::string_view text, std::ostream& stream, std::string_view key,
                    bool decipher, bool fixedSalt = false);

}  // namespace quelvo
