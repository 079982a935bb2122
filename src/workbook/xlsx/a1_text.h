// Cell references in the text of formulas and ranges as a package stores
// them ("A1", "$B$2:C7", "Sheet2!D4", "'My sheet'!A:A", "A1:B3 D5"), for the
// formulas the engine cannot hold as tokens: a shared formula's members are
// its host's text with the relative references moved, and a formula kept as
// text must say which columns of a sheet it reads, so that an insert that
// would have to rewrite it can be refused.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook::xlsx {

// The package's grid, larger than the .xls one the model holds.
inline constexpr std::uint32_t kPackageRows = 1048576;
inline constexpr std::uint32_t kPackageCols = 16384;

// "A1" or "A1:C4" (absolute markers allowed, whole rows and columns not);
// false for anything else or a cell beyond the package's grid.
bool ParseArea(std::string_view text, Area& area);
// Space-separated areas, as sqref attributes list them.
bool ParseAreaList(std::string_view text, std::vector<Area>& areas);
std::string AreaText(const Area& area);
std::string AreaListText(const std::vector<Area>& areas);
// "A", "AB", ... for a zero-based column.
void AppendColumnName(std::string& out, std::uint32_t col);

// Columns of one sheet a formula's text refers to; `any` when it refers to
// whole rows or in a way the scan cannot tell.
struct ColumnsReferred {
    std::bitset<formula::kMaxCols> columns;
    bool any = false;
    bool Touches(std::uint16_t col) const { return any || columns.test(col); }
};

// Adds the columns the formula (without "=") reads on the sheet named
// `sheet`; unqualified references count when `unqualifiedAreOnSheet`.
void CollectColumns(std::string_view formula, std::u16string_view sheet, bool unqualifiedAreOnSheet,
                    ColumnsReferred& out);

// The formula with its relative references moved by (rows, cols), as a
// shared formula's text reads from a member cell; nullopt when a reference
// would leave the grid.
std::optional<std::string> MoveRelativeReferences(std::string_view formula, std::int64_t rows, std::int64_t cols);

} // namespace vi2zezir::workbook::xlsx
