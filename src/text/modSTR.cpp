#include "text/modSTR.h"

#include "base/failure.h"

namespace vi2zezir {
namespace {

constexpr std::size_t kMaxLength = 32767;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The routines count in 16-bit integers, so a longer text cannot be measured.
void CheckLength(const std::u16string& text, const char* routine) {
    if (text.size() > kMaxLength) throw Failure(kOverflow, routine);
}

} // namespace

std::int16_t CheckedInt16(long long value) {
    if (value < -32768 || value > 32767) throw Failure(kOverflow);
    return static_cast<std::int16_t>(value);
}

std::u16string TrimSpaces(std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos) return {};
    return std::u16string(text.substr(first, text.find_last_not_of(u' ') - first + 1));
}

std::u16string FitCellText(std::u16string text, std::int16_t limit) {
    if (limit < 3) return {};

    text = TrimSpaces(text);

    std::size_t lineBreak = text.find(u"\r\n");
    bool cutAtLineBreak = lineBreak != std::u16string::npos;
    if (cutAtLineBreak) {
        if (lineBreak + 1 > kMaxLength) throw Failure(kOverflow, "FitCellText");
        text.erase(lineBreak);
    }

    const std::size_t max = static_cast<std::size_t>(limit);
    if (text.size() > max) {
        std::size_t keep = max - 3;
        // Never leave half a surrogate pair in front of the ellipsis.
        if (keep > 0 && IsHighSurrogate(text[keep - 1])) --keep;
        text.erase(keep);
        text += u"...";
    }

    if (cutAtLineBreak && !(text.size() >= 3 && text.compare(text.size() - 3, 3, u"...") == 0)) text += u"...";
    return text;
}

namespace modSTR {

std::int16_t CountDelimiters(std::u16string text, const std::u16string& delimiter) {
    CheckLength(text, "CountDelimiters");
    if (delimiter.empty()) throw Failure(kInvalidProcedureCall, "CountDelimiters");
    std::int16_t count = 0;
    std::size_t position = 0; // zero-based here; the search resumes after each hit's start
    while (position < text.size()) {
        std::size_t found = text.find(delimiter, position);
        if (found == std::u16string::npos) break;
        count = CheckedInt16(count + 1);
        position = found + 1;
    }
    return count;
}

std::u16string GetDelimitedField(std::u16string text, std::int16_t n, const std::u16string& delimiter) {
    std::int16_t fields = CheckedInt16(CountDelimiters(text, delimiter) + 1);
    if (n > fields) return {};
    std::int16_t counter = 0;
    std::u16string field;
    for (;;) {
        std::size_t found = text.find(delimiter);
        counter = CheckedInt16(counter + 1);
        if (found == std::u16string::npos) return text;
        // The position, one-based, is the cut length: the field and one
        // delimiter unit go.
        std::int16_t position = CheckedInt16(static_cast<long long>(found) + 1);
        field = TakeLeadingField(text, position, CheckedInt16(position - 1));
        if (counter == n) return field;
    }
}

std::u16string TakeLeadingField(std::u16string& text, std::int16_t cutLength, std::int16_t keepLength) {
    CheckLength(text, "TakeLeadingField");
    if (keepLength < 0 || cutLength < 0) throw Failure(kInvalidProcedureCall, "TakeLeadingField");
    std::u16string result = text.substr(0, static_cast<std::size_t>(keepLength));
    if (text.size() <= static_cast<std::size_t>(cutLength))
        text.clear();
    else
        text.erase(0, static_cast<std::size_t>(cutLength));
    return result;
}

std::u16string DropLeadingChars(std::u16string text, std::int16_t n) {
    CheckLength(text, "DropLeadingChars");
    if (text.empty() || n >= static_cast<long long>(text.size())) return {};
    if (n <= 0) return text;
    return text.substr(static_cast<std::size_t>(n));
}

} // namespace modSTR
} // namespace vi2zezir
