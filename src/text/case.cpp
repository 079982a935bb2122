#include "text/case.h"

#include <cstdint>
#include <cwctype>

namespace vi2zezir::text {

char16_t LowerCase(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    // Latin-1 capitals, whatever the C library's locale.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    // Surrogates are halves of a character; leave them alone.
    if (c >= 0xD800 && c <= 0xDFFF) return c;
    // wint_t is 16 bits wide on Windows, 32 elsewhere.
    const auto lower = static_cast<std::uint32_t>(std::towlower(static_cast<wint_t>(c)));
    return lower <= 0xFFFFu ? static_cast<char16_t>(lower) : c;
}

std::u16string LowerCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = LowerCase(c);
    return out;
}

} // namespace vi2zezir::text
