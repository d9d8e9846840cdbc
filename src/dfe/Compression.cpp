#include "dfe/Compression.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace quelvo {

namespace {

[[noreturn]] void DataError(const char* detail = nullptr) {
    throw EDecompressionError(detail ? detail : zError(Z_DATA_ERROR));
}

uint32_t Le32(std::string_view s, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

// Owns a zlib stream.
class Inflater {
public:
    Inflater() {
        if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
            DataError(z_.msg);
        }
    }
    ~Inflater() { inflateEnd(&z_); }
    z_stream* operator->() { return &z_; }
    z_stream* get() { return &z_; }

private:
    z_stream z_{};
};

}  // namespace

std::string DecodeBase64(std::string_view text) {
    std::array<int, 256> value{};
    value.fill(-1);
    const std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < alphabet.size(); ++i) {
        value[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
    }
    std::string out;
    out.reserve(text.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        const int v = value[static_cast<unsigned char>(c)];
        if (v < 0) {
            continue;
        }
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string EncodeBase64(std::string_view bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t n = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (i < bytes.size()) {
        uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) {
            n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        }
        out += kAlphabet[n >> 18];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string GunzipText(std::string_view gz, size_t maxBytes) {
    if (gz.size() <= 9 || static_cast<unsigned char>(gz[0]) != 31 ||
        static_cast<unsigned char>(gz[1]) != 139 || gz[2] != 8 ||
        static_cast<unsigned char>(gz[3]) >= 32) {
        DataError();
    }
    const auto flags = static_cast<unsigned char>(gz[3]);
    size_t pos = 10;
    const auto need = [&](size_t n) {
        if (pos + n > gz.size()) {
            DataError();
        }
    };
    if (flags & 4) {  // extra field
        need(2);
        const size_t len = static_cast<unsigned char>(gz[pos]) |
                           static_cast<size_t>(static_cast<unsigned char>(gz[pos + 1])) << 8;
        pos += 2;
        need(len);
        pos += len;
    }
    for (int bit : {8, 16}) {  // file name, comment: zero-terminated
        if (flags & bit) {
            const size_t end = gz.find('\0', pos);
            if (end == std::string_view::npos) {
                DataError();
            }
            pos = end + 1;
        }
    }
    if (flags & 2) {  // header CRC
        need(2);
        pos += 2;
    }
    if (gz.size() < pos + 8) {
        DataError();
    }
    const std::string_view deflated = gz.substr(pos, gz.size() - 8 - pos);
    // The output stops at the length the trailer tells, and at the limit: a member that would
    // inflate to gigabytes fails after at most `maxBytes` (corrupt data still fails with zlib's
    // own text, as soon as zlib sees it).
    const uint32_t declared = Le32(gz, gz.size() - 4);
    const size_t most = std::min<size_t>(declared, maxBytes);
    Inflater z;
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    z->avail_in = static_cast<uInt>(deflated.size());
    std::string out;
    out.reserve(most);
    char buffer[65536];
    int rc = Z_OK;
    do {
        z->next_out = reinterpret_cast<Bytef*>(buffer);
        z->avail_out = sizeof buffer;
        rc = inflate(z.get(), Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            if (rc == Z_BUF_ERROR) {
                DataError();  // the deflate data ends too early
            }
            DataError(z->msg ? z->msg : zError(rc));
        }
        const size_t produced = sizeof buffer - z->avail_out;
        if (out.size() + produced > most) {
            throw EDecompressionError(
                declared > maxBytes
                    ? "Documento compactado acima do limite de " + std::to_string(maxBytes >> 20) +
                          " MB."
                    : std::string("Documento compactado maior que o tamanho informado no seu "
                                  "arquivo gzip."));
        }
        out.append(buffer, produced);
    } while (rc != Z_STREAM_END);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())));
    if (Le32(gz, gz.size() - 8) != crc ||
        Le32(gz, gz.size() - 4) != static_cast<uint32_t>(out.size())) {
        DataError();
    }
    return out;
}

std::string GzipText(std::string_view data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    std::string deflated(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(deflated.data());
    z.avail_out = static_cast<uInt>(deflated.size());
    deflate(&z, Z_FINISH);
    deflated.resize(deflated.size() - z.avail_out);
    deflateEnd(&z);
    out += deflated;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    for (uint32_t v : {crc, static_cast<uint32_t>(data.size())}) {
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
    return out;
}

}  // namespace quelvo
