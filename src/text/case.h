// Letter case for matching texts without regard to case (switch names, file
// names where the file system ignores case).
#pragma once

#include <string>
#include <string_view>

namespace vi2zezir::text {

char16_t LowerCase(char16_t c);
std::u16string LowerCase(std::u16string_view text);

} // namespace vi2zezir::text
