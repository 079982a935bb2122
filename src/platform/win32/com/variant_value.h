// The automation Value and COM's VARIANT, both ways.
#pragma once

#include "platform/win32/com/com_ptr.h"
#include "servers/value.h"

namespace vi2zezir::com {

Variant ToVariant(const Value& value);

// By-reference variants are read through. Types outside the Value set are
// coerced: other integers to 32-bit (or double when too large), single to
// double, anything else to text; what cannot become text is failure 13
// "Type mismatch".
Value FromVariant(const VARIANT& variant);

} // namespace vi2zezir::com
