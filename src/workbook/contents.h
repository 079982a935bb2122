// A read-only look into a workbook file, for tools that inspect a template
// or read back a written file (the template check, tests): the sheets, which
// one the engine fills, and the texts in their cells. Nothing here edits.
//
//   const auto contents = workbook::ReadContents(bytes); // throws workbook::Error
//   for (const auto& t : contents.sheets[contents.editableSheet].texts) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/error.h"

namespace vi2zezir::workbook {

// The bounds of an Excel 97-2003 worksheet and of a file the engine reads.
inline constexpr std::uint32_t kSheetRows = 65536;
inline constexpr std::uint16_t kSheetCols = 256;
inline constexpr std::size_t kMaxWorkbookFileSize = 256u * 1024 * 1024;

struct SheetText {
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    std::u16string text;
};

struct SheetContents {
    std::u16string name;
    // The non-empty cells by rows: for the editable sheet the formula-bar
    // text of every cell (what Find searches), for the others the text of
    // their text cells as read.
    std::vector<SheetText> texts;
};

struct WorkbookContents {
    std::vector<SheetContents> sheets; // in workbook order
    std::size_t editableSheet = 0;     // the first worksheet, the one a transfer fills
};

// Reads a whole workbook file. Throws Error with the reason.
// With `containing`, only the texts that hold that character (a tool that
// looks for placeholders wants the cells with an "&" only).
WorkbookContents ReadContents(std::span<const std::uint8_t> fileBytes,
                              std::optional<char16_t> containing = std::nullopt);

// Case folding for comparisons without regard to case (Latin, Greek,
// Cyrillic), as Find compares. ASCII, by far the most common, is folded inline.
char16_t FoldCaseBeyondAscii(char16_t c) noexcept;
inline char16_t FoldCase(char16_t c) noexcept {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    return FoldCaseBeyondAscii(c);
}
std::u16string Fold(std::u16string_view text);

} // namespace vi2zezir::workbook
