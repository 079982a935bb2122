// LibreOffice as an independent reader for tests: a workbook is converted
// headless to .xlsx and read back by lo_read.py, so a test can check values,
// formulas and formats as another program reads them.
//
//   std::string whyNot;
//   auto sheet = vi2zezir::test::ReadWithLibreOffice(path, &whyNot);
//   if (!sheet) GTEST_SKIP() << whyNot;
//   EXPECT_EQ(sheet->Formula("F23"), "=SUM(F21:F22)");
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vi2zezir::test {

// Texts are UTF-8, as the xlsx holds them.
struct LoCell {
    // The stored value: a text, or a number as LibreOffice writes it
    // ("1234.5", "0.0825"), a boolean as "1"/"0", an error as "#REF!". For a
    // formula cell, its cached result. Not the formatted display text.
    std::string value;
    std::string formula;      // "=SUM(F21:F22)", or empty for a constant
    std::string numberFormat; // format code: "General", "#,##0.00", "0.00%"
    std::string type;         // the xlsx cell type: "n", "s", "str", "b", "e", "inlineStr"
    bool bold = false;
    double fontPoints = 0;
};

struct LoSheet {
    std::string name;
    std::vector<std::string> sheetNames;         // every sheet of the workbook, in tab order
    std::map<std::string, LoCell> cells;         // "B3" -> cell; blank cells with a format included
    std::vector<std::string> merges;             // "B1:F1"
    std::vector<std::string> conditionalFormats; // the ranges of each conditional format: "C6 D2:D4"
    std::vector<std::string> validations;        // the ranges of each data validation

    const LoCell* At(std::string_view address) const;
    // The cell's value / formula, or the empty text for an absent cell.
    std::string Value(std::string_view address) const;
    std::string Formula(std::string_view address) const;
};

// A conversion or parse that went wrong although LibreOffice is installed.
class LibreOfficeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct LoOptions {
    std::chrono::seconds timeout{180};
};

// nullopt when soffice is not on PATH, with the
// reason in *whyNot, fit for GTEST_SKIP. Every call uses a private profile
// directory, so tests may run in parallel. Throws LibreOfficeError when the
// conversion fails or times out, so a broken file fails the test, not skips it.
std::optional<LoSheet> ReadWithLibreOffice(const std::filesystem::path& workbook, std::string* whyNot = nullptr,
                                           LoOptions options = {});
// Every sheet, in tab order.
std::optional<std::vector<LoSheet>> ReadAllSheetsWithLibreOffice(const std::filesystem::path& workbook,
                                                                 std::string* whyNot = nullptr, LoOptions options = {});

} // namespace vi2zezir::test
