// The three placeholder tables, in processing order. The template check
// reads these same tables, so it can never disagree with a transfer.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace vi2zezir::transfer {

inline constexpr std::u16string_view kHeaderPrefix = u"&DH_";
inline constexpr std::u16string_view kItemPrefix = u"&DI_";

// Header placeholders: the short list is indices 0..55, the full list 0..111.
inline constexpr std::size_t kHeaderShortLast = 55;
inline constexpr std::size_t kHeaderFullLast = 111;
extern const std::array<std::u16string_view, 112> kHeaderPlaceholders;

// Line-item placeholders: entries 0..22 of the short list, or all 61 of the
// full list (which renames entries 4 and 5).
inline constexpr std::size_t kItemShortLast = 22;
inline constexpr std::size_t kItemFullLast = 60;
extern const std::array<std::u16string_view, 23> kItemShortList;
extern const std::array<std::u16string_view, 61> kItemFullList;

// Macro placeholders, the same for every version; handed to Tendrix whole.
extern const std::array<std::u16string_view, 40> kMacroPlaceholders;

// The two item placeholders whose columns make the extended-price formula.
inline constexpr std::u16string_view kUnitPricePlaceholder = u"&DI_UnitPrice";
inline constexpr std::u16string_view kQuantityPlaceholder = u"&DI_QtyTotal";
inline constexpr std::u16string_view kExtendedPricePlaceholder = u"&DI_ExtendedPrice";

// The name Tendrix knows a header or item field by: the placeholder with
// every occurrence of its family prefix removed, exact case.
std::u16string FieldName(std::u16string_view placeholder, std::u16string_view prefix);

// A memo header placeholder goes into the sheet unfitted.
bool IsMemoPlaceholder(std::u16string_view placeholder);

// Which fields a line of type 2 or 4 receives (exact, case-sensitive match).
bool WrittenOnType2Line(std::u16string_view placeholder);
bool WrittenOnType4Line(std::u16string_view placeholder);

} // namespace vi2zezir::transfer
