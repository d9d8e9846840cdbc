#include "monitor/TLegacyDataset.h"

#include <pugixml.hpp>

#include <charconv>
#include <cstdint>

#include "common/TextCase.h"
#include "common/Win1252.h"

namespace quelvo {

namespace {

constexpr unsigned char kSignature[4] = {0x96, 0x19, 0xE0, 0xBD};

// Field type codes (low 6 bits) and flags of the binary packet.
constexpr unsigned kTypeString = 9;
constexpr unsigned kTypeWideString = 10;
constexpr unsigned kVarying = 0x40;
constexpr unsigned kArray = 0x80;
// Null-bitmap pair of a field that a changed record did not change.
constexpr unsigned kPairUnchanged = 2;

// Sequential little-endian reader that raises on a read past the end.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ >= bytes_.size(); }
    size_t Position() const { return pos_; }

    std::string_view Take(size_t n) {
        if (n > bytes_.size() - pos_) {
            throw ELegacyDatasetError("Arquivo de empresas antigo incompleto (posição " +
                                      std::to_string(pos_) + ").");
        }
        const auto out = bytes_.substr(pos_, n);
        pos_ += n;
        return out;
    }
    uint32_t UInt(size_t n) {
        const auto b = Take(n);
        uint32_t v = 0;
        for (size_t i = n; i-- > 0;) {
            v = (v << 8) | static_cast<unsigned char>(b[i]);
        }
        return v;
    }
    std::string ShortString() { return std::string(Take(UInt(1))); }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

struct FieldDesc {
    std::string name;
    unsigned size = 0;
    unsigned type = 0;
};

// Properties follow field descriptors and the packet header; their content is not needed.
void SkipProperties(Reader& in) {
    const unsigned count = in.UInt(2);
    for (unsigned i = 0; i < count; ++i) {
        in.ShortString();
        const unsigned size = in.UInt(2);
        const unsigned type = in.UInt(2);
        if (type & kArray) {
            const uint32_t n = in.UInt(4);
            in.Take(static_cast<size_t>(n) * size);
        } else if (type & kVarying) {
            in.Take(in.UInt(size));
        } else {
            in.Take(size);
        }
    }
}

std::string DecodeSingleByte(std::string_view raw) {
    const size_t nul = raw.find('\0');
    return Win1252ToUtf8(raw.substr(0, nul));
}

std::string DecodeUtf16(std::string_view raw) {
    std::string out;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        unsigned long cp = static_cast<unsigned char>(raw[i]) |
                           (static_cast<unsigned>(static_cast<unsigned char>(raw[i + 1])) << 8);
        if (cp == 0) {
            break;
        }
        if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < raw.size()) {
            const unsigned long lo =
                static_cast<unsigned char>(raw[i + 2]) |
                (static_cast<unsigned>(static_cast<unsigned char>(raw[i + 3])) << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, (cp >= 0xD800 && cp < 0xE000) ? '?' : cp);
    }
    return out;
}

bool IsValidUtf8(std::string_view s) {
    size_t pos = 0;
    while (pos < s.size()) {
        if (NextCodePoint(s, pos) < 0) {
            return false;
        }
    }
    return true;
}

bool StartsWithXml(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    while (!bytes.empty() && (bytes.front() == ' ' || bytes.front() == '\t' ||
                              bytes.front() == '\r' || bytes.front() == '\n')) {
        bytes.remove_prefix(1);
    }
    return bytes.substr(0, 1) == "<";
}

}  // namespace

std::string TLegacyDataset::Value(const Row& row, std::string_view field) {
    for (const auto& [name, value] : row) {
        if (SameTextIgnoringCase(name, field)) {
            return value;
        }
    }
    return {};
}

TLegacyDataset TLegacyDataset::Parse(std::string_view bytes) {
    if (bytes.size() >= 4 &&
        bytes.substr(0, 4) == std::string_view(reinterpret_cast<const char*>(kSignature), 4)) {
        return ParseBinary(bytes);
    }
    if (StartsWithXml(bytes)) {
        return ParseXml(bytes);
    }
    throw ELegacyDatasetError("Arquivo de empresas antigo em formato desconhecido.");
}

TLegacyDataset TLegacyDataset::ParseBinary(std::string_view bytes) {
    Reader in(bytes);
    in.Take(12);  // signature, version, 18
    const unsigned fieldCount = in.UInt(2);
    in.Take(4 + 4 + 2);  // record count, 3, header size
    std::vector<FieldDesc> fields(fieldCount);
    TLegacyDataset out;
    for (auto& f : fields) {
        f.name = Win1252ToUtf8(in.ShortString());
        f.size = in.UInt(2);
        f.type = in.UInt(2);
        in.UInt(2);  // attributes
        SkipProperties(in);
        out.fields_.push_back(f.name);
    }
    SkipProperties(in);  // packet properties

    const size_t bitmapBytes = (fieldCount + 3) / 4;
    // A changed record follows its original; a field it did not change (pair 2) carries no
    // bytes and keeps the original's value.
    Row original;
    while (!in.AtEnd()) {
        const unsigned status = in.UInt(1);
        const std::string_view bitmap = in.Take(bitmapBytes);
        Row row;
        for (unsigned i = 0; i < fieldCount; ++i) {
            const auto bits = (static_cast<unsigned char>(bitmap[i / 4]) >> ((i % 4) * 2)) & 3u;
            if (bits == kPairUnchanged) {
                if (const auto it = original.find(fields[i].name); it != original.end()) {
                    row[fields[i].name] = it->second;
                }
                continue;
            }
            if (bits != 0) {
                continue;  // null: no bytes follow
            }
            const FieldDesc& f = fields[i];
            if (f.type & kArray) {
                throw ELegacyDatasetError(
                    "Campo de tipo não suportado no arquivo de empresas antigo: " + f.name);
            }
            const std::string_view raw =
                (f.type & kVarying) ? in.Take(in.UInt(f.size == 0 ? 1 : f.size)) : in.Take(f.size);
            const unsigned base = f.type & 0x3F;
            if (base == kTypeString) {
                row[f.name] = DecodeSingleByte(raw);
            } else if (base == kTypeWideString) {
                row[f.name] = DecodeUtf16(raw);
            }
        }
        if (status & kOriginal) {
            original = row;
        }
        if (Visible(status)) {
            out.rows_.push_back(std::move(row));
        }
    }
    return out;
}

TLegacyDataset TLegacyDataset::ParseXml(std::string_view bytes) {
    pugi::xml_document doc;
    const auto result = doc.load_buffer(bytes.data(), bytes.size());
    if (!result) {
        throw ELegacyDatasetError("Arquivo de empresas antigo com XML inválido: " +
                                  std::string(result.description()) + ".");
    }
    const pugi::xml_node packet = doc.child("DATAPACKET");
    if (!packet) {
        throw ELegacyDatasetError("Arquivo de empresas antigo sem DATAPACKET.");
    }
    TLegacyDataset out;
    for (const auto field : packet.child("METADATA").child("FIELDS").children("FIELD")) {
        out.fields_.emplace_back(field.attribute("attrname").value());
    }
    for (const auto row : packet.child("ROWDATA").children("ROW")) {
        unsigned status = 0;
        const std::string_view state = row.attribute("RowState").value();
        std::from_chars(state.data(), state.data() + state.size(), status);
        if (!Visible(status)) {
            continue;
        }
        Row values;
        for (const auto attr : row.attributes()) {
            const std::string name = attr.name();
            if (name == "RowState") {
                continue;
            }
            // Old packets may carry single-byte text where UTF-8 is due.
            const std::string value = attr.value();
            values[name] = IsValidUtf8(value) ? value : Win1252ToUtf8(value);
        }
        out.rows_.push_back(std::move(values));
    }
    return out;
}

}  // namespace quelvo
