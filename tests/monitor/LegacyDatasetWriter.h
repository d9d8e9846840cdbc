#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelvo::test {

// Writes legacy dataset files byte by byte, the way the earlier version's data-access layer laid
// them out, so that the reader is checked against the format and not against itself.
class LegacyDatasetWriter {
public:
    struct Field {
        std::string name;
        uint16_t size;  // width of the length prefix for a varying field, else the value's width
        uint16_t type;  // 9 string, 0x49 varying string, 1 signed int, ...
        uint16_t width = 0;  // written as a WIDTH property when not 0
    };
    struct Row {
        uint8_t status;
        std::vector<std::optional<std::string>> values;  // nothing: a null field
        // Fields a changed record did not change (null pair 2, no bytes): their values above
        // are not written.
        std::vector<size_t> unchanged = {};
    };

    // The company table of the earlier version: five varying single-byte strings.
    static std::vector<Field> CompanyFields() {
        return {{"CNPJ", 1, 0x49, 18},
                {"UF", 1, 0x49, 2},
                {"Certificado", 1, 0x49, 120},
                {"Empresa", 1, 0x49, 120},
                {"Senha", 1, 0x49, 20}};
    }

    static std::string Binary(const std::vector<Field>& fields, const std::vector<Row>& rows) {
        std::string meta;
        for (const auto& f : fields) {
            meta += static_cast<char>(f.name.size());
            meta += f.name;
            U16(meta, f.size);
            U16(meta, f.type);
            U16(meta, 0);  // attributes
            if (f.width != 0) {
                U16(meta, 1);
                meta += '\x05';
                meta += "WIDTH";
                U16(meta, 2);
                U16(meta, 2);  // unsigned int
                U16(meta, f.width);
            } else {
                U16(meta, 0);
            }
        }
        // One packet property with the varying bit, as a change log would be.
        U16(meta, 1);
        meta += '\x0a';
        meta += "LCID______";
        U16(meta, 1);
        U16(meta, 0x49);
        meta += '\x03';
        meta += "pt!";

        std::string out = "\x96\x19\xE0\xBD";
        U32(out, 2);
        U32(out, 18);
        U16(out, static_cast<uint16_t>(fields.size()));
        U32(out, static_cast<uint32_t>(rows.size()));
        U32(out, 3);
        U16(out, static_cast<uint16_t>(24 + meta.size()));
        out += meta;
        for (const auto& row : rows) {
            out += static_cast<char>(row.status);
            std::string bitmap((fields.size() + 3) / 4, '\0');
            const auto unchanged = [&](size_t i) {
                return std::find(row.unchanged.begin(), row.unchanged.end(), i) !=
                       row.unchanged.end();
            };
            for (size_t i = 0; i < fields.size(); ++i) {
                const int pair = unchanged(i) ? 2 : !row.values[i] ? 1 : 0;
                bitmap[i / 4] = static_cast<char>(bitmap[i / 4] | (pair << ((i % 4) * 2)));
            }
            out += bitmap;
            for (size_t i = 0; i < fields.size(); ++i) {
                if (!row.values[i] || unchanged(i)) {
                    continue;
                }
                const std::string& v = *row.values[i];
                if (fields[i].type & 0x40) {
                    for (int b = 0; b < fields[i].size; ++b) {
                        out += static_cast<char>((v.size() >> (8 * b)) & 0xFF);
                    }
                    out += v;
                } else {
                    std::string fixed = v;
                    fixed.resize(fields[i].size, '\0');
                    out += fixed;
                }
            }
        }
        return out;
    }

private:
    static void U16(std::string& s, uint16_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>(v >> 8);
    }
    static void U32(std::string& s, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
};

}  // namespace quelvo::test
