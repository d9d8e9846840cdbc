#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelvo {

// A legacy dataset file that cannot be read.
class ELegacyDatasetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reader of the dataset files of the earlier version ("Empresas.dat"), in both forms that exist in
// the field: the binary packet and the XML packet, told apart by their first bytes. Only the rows
// a user saw are kept: originals of changed rows, deleted rows and unused records are skipped.
// String values come out as UTF-8.
class TLegacyDataset {
public:
    using Row = std::map<std::string, std::string>;  // field name -> value

    static TLegacyDataset Parse(std::string_view bytes);

    const std::vector<std::string>& Fields() const { return fields_; }
    const std::vector<Row>& Rows() const { return rows_; }
    // The value of a field in a row, the name matched without regard to case; "" when absent.
    static std::string Value(const Row& row, std::string_view field);

    // Record status bits.
    static constexpr unsigned kOriginal = 0x01;
    static constexpr unsigned kDeleted = 0x02;
    static constexpr unsigned kUnused = 0x20;
    static bool Visible(unsigned status) {
        return (status & (kOriginal | kDeleted | kUnused)) == 0;
    }

private:
    static TLegacyDataset ParseBinary(std::string_view bytes);
    static TLegacyDataset ParseXml(std::string_view bytes);

    std::vector<std::string> fields_;
    std::vector<Row> rows_;
};

}  // namespace quelvo
