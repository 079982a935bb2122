// Part names (internal to the package layer): their validity, the key they
// compare by, and how they are shown in messages.
#pragma once

#include <string>
#include <string_view>

namespace vi2zezir::workbook::xlsx {

// Part names compare without regard to ASCII case, percent-escapes decoded:
// "xl/Workbook.xml" and "xl/workbook%2Exml" are one part.
std::string PartKey(std::string_view name);

// Error (BadPartName) unless the name is a relative path of non-empty
// segments with no "." or ".." segment, no backslash, NUL or other control
// character, and no drive letter, before and after percent-decoding. A folder
// entry's name ends with "/".
void CheckPartName(std::string_view name, bool folder = false);

// 'xl/workbook.xml', quoted for a message; control bytes shown as \xNN,
// very long names shortened.
std::string Quoted(std::string_view name);

} // namespace vi2zezir::workbook::xlsx
