// Hands a file to the desktop's default application for its type: on Linux
// this is how a filled workbook reaches the user's spreadsheet program.
#pragma once

#include <filesystem>

namespace vi2zezir {

// Needs a running QGuiApplication. Throws Failure (1004) when the desktop
// has no application for the file or refuses to start it.
void OpenWithDesktop(const std::filesystem::path& file);

} // namespace vi2zezir
