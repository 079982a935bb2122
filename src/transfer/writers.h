// The three writers: header fields, line items, macros. Each searches the
// target worksheet for the placeholders of its table and fills those found.
#pragma once

#include "servers/quote_source.h"
#include "servers/sheet_host.h"

namespace vi2zezir::transfer {

void WriteHeaderFields(quote::Application& quotingApp, sheet::Worksheet& sheet);
void WriteItemFields(quote::Application& quotingApp, sheet::Worksheet& sheet);
void WriteMacroFields(quote::Application& quotingApp, sheet::Worksheet& sheet);

} // namespace vi2zezir::transfer
