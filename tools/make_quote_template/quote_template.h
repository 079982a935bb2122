// The default quote template "quote40.xls": its layout as a workbook
// description, and the rows and columns tests rely on.
#pragma once

#include "workbook_writer.h"

#include <cstdint>
#include <vector>

namespace vi2zezir::tools::quote_template {

// Zero-based positions of the item table (row 20 in A1 terms is index 19).
inline constexpr std::uint16_t kTableHeaderRow = 19;
inline constexpr std::uint16_t kSpacerRow = 20;
inline constexpr std::uint16_t kItemRow = 21;
inline constexpr std::uint16_t kSubtotalRow = 22;
inline constexpr std::uint16_t kTaxRow = 23;
inline constexpr std::uint16_t kTotalRow = 24;

inline constexpr std::uint16_t kDescriptionCol = 1;  // B
inline constexpr std::uint16_t kManufacturerCol = 2; // C
inline constexpr std::uint16_t kQuantityCol = 3;     // D
inline constexpr std::uint16_t kUnitPriceCol = 4;    // E
inline constexpr std::uint16_t kExtendedCol = 5;     // F

inline constexpr double kTaxRate = 0.0825;

biff::Workbook BuildQuoteTemplate();

// The complete .xls file: the Workbook stream in a compound file.
std::vector<std::uint8_t> WriteQuoteTemplateFile();

} // namespace vi2zezir::tools::quote_template
