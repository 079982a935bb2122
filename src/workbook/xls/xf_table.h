// The XF (cell format) records of an .xls workbook behind the sheet's
// CellStyles: the records read, kept byte for byte, and the ones the edits
// added, written after them.
#pragma once

#include <span>
#include <vector>

#include "workbook/sheet/styles.h"

namespace vi2zezir::workbook::xls {

class XfTable final : public CellStyles {
public:
    // A record as read; a short one is padded with zeros, which read as the
    // first font and General.
    void AddRead(std::span<const std::uint8_t> data);
    // Ends the reading: formats added from here on are new to the file.
    void EndOfRead() { readCount_ = xfs_.size(); }
    // The formats the edits added, in order, as XF payloads.
    std::span<const std::vector<std::uint8_t>> Added() const { return std::span(xfs_).subspan(readCount_); }

    std::size_t Count() const override { return xfs_.size(); }
    std::uint16_t NumberFormat(std::uint16_t xf) const override;
    bool HasQuotePrefix(std::uint16_t xf) const override;
    std::optional<std::uint16_t> AddWithNumberFormat(std::uint16_t xf, std::uint16_t ifmt) override;
    std::optional<std::uint16_t> AddWithQuotePrefix(std::uint16_t xf, bool prefix) override;

private:
    std::optional<std::uint16_t> Append(std::vector<std::uint8_t> xf);

    std::vector<std::vector<std::uint8_t>> xfs_;
    std::size_t readCount_ = 0;
};

} // namespace vi2zezir::workbook::xls
