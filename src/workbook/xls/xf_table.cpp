#include "workbook/xls/xf_table.h"

#include "workbook/xls/biff.h"

namespace vi2zezir::workbook::xls {
namespace {

constexpr std::size_t kXfSize = 20;
constexpr std::size_t kMaxXfs = 4050; // the format's limit on cell formats
constexpr std::size_t kXfNumberFormat = 2;
// f123Prefix, bit 3 of the type-and-protection word that follows ifnt and
// ifmt.
constexpr std::size_t kXfTypeProtection = 4;
constexpr std::uint8_t kXfQuotePrefix = 0x08;
// fAtrNum: the number format differs from the parent style's.
constexpr std::size_t kXfUsedAttributes = 9;
constexpr std::uint8_t kXfAtrNum = 0x04;

} // namespace

void XfTable::AddRead(std::span<const std::uint8_t> data) {
    xfs_.emplace_back(data.begin(), data.end());
    if (xfs_.back().size() < kXfSize) xfs_.back().resize(kXfSize, 0);
}

std::uint16_t XfTable::NumberFormat(std::uint16_t xf) const {
    if (xf >= xfs_.size()) return 0;
    return biff::GetU16(std::span(xfs_[xf]).subspan(kXfNumberFormat));
}

bool XfTable::HasQuotePrefix(std::uint16_t xf) const {
    return xf < xfs_.size() && (xfs_[xf][kXfTypeProtection] & kXfQuotePrefix) != 0;
}

std::optional<std::uint16_t> XfTable::AddWithNumberFormat(std::uint16_t xf, std::uint16_t ifmt) {
    if (xf >= xfs_.size()) return std::nullopt;
    std::vector<std::uint8_t> copy = xfs_[xf];
    biff::PutU16(std::span(copy).subspan(kXfNumberFormat), ifmt);
    copy[kXfUsedAttributes] |= kXfAtrNum;
    return Append(std::move(copy));
}

std::optional<std::uint16_t> XfTable::AddWithQuotePrefix(std::uint16_t xf, bool prefix) {
    if (xf >= xfs_.size()) return std::nullopt;
    std::vector<std::uint8_t> copy = xfs_[xf];
    if (prefix)
        copy[kXfTypeProtection] |= kXfQuotePrefix;
    else
        copy[kXfTypeProtection] &= static_cast<std::uint8_t>(~kXfQuotePrefix);
    return Append(std::move(copy));
}

std::optional<std::uint16_t> XfTable::Append(std::vector<std::uint8_t> xf) {
    if (xfs_.size() >= kMaxXfs) return std::nullopt;
    xfs_.push_back(std::move(xf));
    return static_cast<std::uint16_t>(xfs_.size() - 1);
}

} // namespace vi2zezir::workbook::xls
