// The cell formats of a workbook as the sheet operations see them: for each
// format index a number format and the quote prefix, and new formats made by
// copying one with a single change. Everything else a format holds (font,
// alignment, borders, fill, protection) stays with the file format that read
// it and is written back as it came; the .xls side keeps XF records
// (xls/xf_table.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vi2zezir::workbook {

class CellStyles {
public:
    virtual ~CellStyles() = default;

    virtual std::size_t Count() const = 0;
    // The number format (ifmt) of format xf; 0 (General) for an index the
    // workbook does not define.
    virtual std::uint16_t NumberFormat(std::uint16_t xf) const = 0;
    // Whether cells of format xf keep their text as text (Excel's quote
    // prefix, shown after an apostrophe in the formula bar).
    virtual bool HasQuotePrefix(std::uint16_t xf) const = 0;
    // A new format, xf with number format ifmt, or xf with the quote prefix
    // set or cleared; nullopt when the file format has room for no more.
    virtual std::optional<std::uint16_t> AddWithNumberFormat(std::uint16_t xf, std::uint16_t ifmt) = 0;
    virtual std::optional<std::uint16_t> AddWithQuotePrefix(std::uint16_t xf, bool prefix) = 0;
};

} // namespace vi2zezir::workbook
