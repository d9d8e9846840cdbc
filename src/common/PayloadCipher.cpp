#include "common/PayloadCipher.h"

#include <istream>
#include <iterator>
#include <ostream>
#include <random>
#include <stdexcept>

namespace quelvo {

namespace {

std::uint8_t KeySum(std::string_view key) {
    unsigned sum = 0;
    for (char c : key) {
        sum += static_cast<unsigned char>(c);
    }
    return static_cast<std::uint8_t>(sum);
}

// One generator per thread, seeded once from the system's entropy: two calls in the same clock
// tick still get independent salts.
std::uint8_t RandomSalt() {
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> salt(0, 254);
    return static_cast<std::uint8_t>(salt(generator));
}

}  // namespace

TTravonBytes Cipher(const TTravonBytes& data, std::string_view key, bool decipher, bool fixedSalt) {
    const std::uint8_t keySum = KeySum(key);
    if (decipher) {
        if (data.empty()) {
            throw std::out_of_range("Range check error");
        }
        const std::uint8_t shift = static_cast<std::uint8_t>(keySum + data[0]);
        TTravonBytes out(data.size() - 1);
        for (size_t i = 1; i < data.size(); ++i) {
            out[i - 1] = static_cast<std::uint8_t>(data[i] - shift);
        }
        return out;
    }
    const std::uint8_t salt = fixedSalt ? 100 : RandomSalt();
    const std::uint8_t shift = static_cast<std::uint8_t>(keySum + salt);
    TTravonBytes out(data.size() + 1);
    out[0] = salt;
    for (size_t i = 0; i < data.size(); ++i) {
        out[i + 1] = static_cast<std::uint8_t>(data[i] + shift);
    }
    return out;
}

TTravonBytes StringToBytes(std::string_view text) {
    return TTravonBytes(text.begin(), text.end());
}

std::string BytesToString(const TTravonBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string CipherString(std::string_view text, std::string_view key, bool decipher,
                         bool fixedSalt) {
    return BytesToString(Cipher(StringToBytes(text), key, decipher, fixedSalt));
}

TTravonBytes CipherStream(std::istream& stream, std::string_view key, bool decipher,
                          bool fixedSalt) {
    stream.clear();
    stream.seekg(0);
    const TTravonBytes content{std::istreambuf_iterator<char>(stream),
                               std::istreambuf_iterator<char>()};
    return Cipher(content, key, decipher, fixedSalt);
}

void CipherToStream(std::string_view text, std::ostream& stream, std::string_view key,
                    bool decipher, bool fixedSalt) {
    const TTravonBytes block = Cipher(StringToBytes(text), key, decipher, fixedSalt);
    stream.seekp(0);
    stream.write(reinterpret_cast<const char*>(block.data()),
                 static_cast<std::streamsize>(block.size()));
}

}  // namespace quelvo
