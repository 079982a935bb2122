// Values from the quote document go into cells as data, never as live
// formulas: a text the spreadsheet would read as a formula is handed over
// with the leading apostrophe that keeps it text.
#pragma once

#include <string>

#include "servers/value.h"

namespace vi2zezir::transfer {

// "=1+2" and "+1 555 0100" become "'=1+2" and "'+1 555 0100"; "-5" stays.
std::u16string KeepAsText(std::u16string text);
Value KeepAsText(Value value);

} // namespace vi2zezir::transfer
