// What start-up needs to know about the program itself on Windows.
#pragma once

#include <string>
#include <string_view>

namespace vi2zezir::win32 {

// The directory of the running executable, without a trailing separator.
std::u16string ProgramDirectory();

// The command line less the program's own path: the first token is skipped
// by the rules Windows uses for the program name (up to the closing quote
// when it starts with one, else up to the first space or tab), then the
// blanks after it.
std::u16string ArgumentText(std::u16string_view commandLine);

} // namespace vi2zezir::win32
