// Typed input as Excel reads it with en-US rules, as plain functions: whether
// a text is a number, date or time, its value, and the number format a
// General cell takes for it. Workbook::ParseTypedInput applies them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vi2zezir::workbook {

// The built-in number formats (BIFF indexes) Excel gives typed dates and
// times; a file never spells them out, every reader knows them.
namespace builtin_format {
inline constexpr std::uint16_t kShortDate = 14;     // m/d/yyyy
inline constexpr std::uint16_t kDayMonthYear = 15;  // d-mmm-yy
inline constexpr std::uint16_t kDayMonth = 16;      // d-mmm
inline constexpr std::uint16_t kMonthYear = 17;     // mmm-yy
inline constexpr std::uint16_t kTime12 = 18;        // h:mm AM/PM
inline constexpr std::uint16_t kTime12Seconds = 19; // h:mm:ss AM/PM
inline constexpr std::uint16_t kTime = 20;          // h:mm
inline constexpr std::uint16_t kTimeSeconds = 21;   // h:mm:ss
inline constexpr std::uint16_t kDateTime = 22;      // m/d/yyyy h:mm
inline constexpr std::uint16_t kElapsed = 46;       // [h]:mm:ss
} // namespace builtin_format

struct TypedNumber {
    double value = 0;
    // The built-in format a General cell takes; 0 = the cell keeps its own.
    std::uint16_t numberFormat = 0;
    bool currency = false;   // takes the workbook's "$" format instead
    bool dateOrTime = false; // a cell that shows dates or times already keeps its format
};

// The number, date or time the text is when typed into a cell that is not
// formatted as text; nullopt when it stays text. Booleans, formulas and the
// apostrophe are the caller's. Dates typed without a year ("12-Mar") fall in
// `currentYear`.
std::optional<TypedNumber> ParseTypedNumber(std::u16string_view text, int currentYear);

// The year of today's local date.
int CurrentYear();

} // namespace vi2zezir::workbook
