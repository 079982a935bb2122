// What a user and a script expect of any Linux program before it does its
// work: "--help" and "--version" answered on standard output. They come
// before the form: the transfer's own command line (the "/f:" switch, every
// other argument ignored) stays the shell's.
#pragma once

#include <optional>

namespace vi2zezir::posix {

// When an argument is "--help" (or "-h") or "--version", prints the usage or
// the version and returns the exit status; otherwise returns nothing. The
// first such argument decides.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv);

} // namespace vi2zezir::posix
