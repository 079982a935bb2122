// String helpers: delimited-field access, and the fitting of a value into one
// worksheet cell. Positions and lengths count 16-bit code units from 1; every
// count, position, length and limit is a 16-bit integer, and leaving its range
// fails with 6 "Overflow".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vi2zezir {

// The 16-bit counters of the transfer: outside -32,768..32,767 is 6 "Overflow".
std::int16_t CheckedInt16(long long value);

// The text less its leading and trailing spaces (code 32 only; tabs stay).
std::u16string TrimSpaces(std::u16string_view text);

// One line, trimmed of spaces, at most `limit` long with "..." where text was
// dropped. A cut line gets "..." even when short, so the result can exceed the
// limit by up to three; a limit under 3 gives the empty text.
std::u16string FitCellText(std::u16string text, std::int16_t limit);

namespace modSTR {

// Occurrences of the delimiter, a search resuming one unit after the start of
// each hit (so "aa" occurs twice in "aaa"). An empty delimiter fails with 5.
std::int16_t CountDelimiters(std::u16string text, const std::u16string& delimiter);

// Field n (from 1) of the text split at the delimiter; beyond the last field
// the empty text; n of 0 or less the last field.
std::u16string GetDelimitedField(std::u16string text, std::int16_t n, const std::u16string& delimiter);

// Returns the first keepLength units; the text loses its first cutLength.
std::u16string TakeLeadingField(std::u16string& text, std::int16_t cutLength, std::int16_t keepLength);

// The text less its first n units.
std::u16string DropLeadingChars(std::u16string text, std::int16_t n);

} // namespace modSTR
} // namespace vi2zezir
