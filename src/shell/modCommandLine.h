// The command line: one switch, "/f:" with the template path, which puts the
// path into the path box and starts the export run at once.
#pragma once

#include <string>
#include <vector>

namespace vi2zezir::shell {
class frmTX_To_ExcelLink;
}

namespace vi2zezir::modCommandLine {

// Element 0 is always the empty text; the arguments are 1..N.
const std::vector<std::u16string>& ArgumentTable();

// Splits the program's argument text at spaces, keeping quoted text together.
void ParseCommandLine(const std::u16string& argumentText);

// The quote count runs from the start of the text and is never reset; an
// argument keeps its double quotes.
void SplitArguments(const std::u16string& text, const std::u16string& separator, std::vector<std::u16string>& table);

// The argument text that SplitArguments splits back into these arguments,
// for a system whose shell hands the program its arguments already split.
// An argument keeps its characters and its quotes where they keep it whole
// (a Windows-style /f:"C:\My Templates\q.xls" comes through unchanged);
// otherwise quotes are added around its spaces, after it when its own quotes
// are unbalanced, and for an empty argument, so that the switch lookup,
// which drops every quote, reads the value the argument carried.
std::u16string JoinArguments(const std::vector<std::u16string>& arguments);

// True when an argument carries the switch ("/f", "/f:" or "/f:value", the
// name in any case); value receives everything after the colon, less every
// double quote. The first such argument decides.
bool GetSwitchValue(const std::u16string& switchName, std::u16string& value);

// Acts on "/f": the value goes into the path box as it stands and the export
// run starts, exactly as the button starts it.
void ApplyCommandLine(shell::frmTX_To_ExcelLink& form);

} // namespace vi2zezir::modCommandLine
