// Writing a workbook file so that no one ever sees half of it: a reader finds
// the old file or the whole new one, a failure leaves the old one as it was,
// and two transfers at once never write the same new file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "workbook/error.h"

namespace vi2zezir::workbook {

// Both throw Error (CannotWrite) for a file that cannot be written or
// claimed; the reason is the system's.

// Writes the bytes to a new temporary file in the target's folder, flushes
// it to the disk and renames it over `path`. A symbolic link at `path` is
// written through, to the file it names. On failure the temporary file is
// removed and whatever `path` held is untouched.
void WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Creates `folder`/<stem>-filled-<n><extension>, empty, with the lowest n
// whose name is free, and returns its path. The creation is exclusive: a name
// another process holds, or takes at the same moment, is never returned.
std::filesystem::path ClaimFilledName(const std::filesystem::path& folder, const std::filesystem::path& stem,
                                      std::string_view extension = ".xls");

} // namespace vi2zezir::workbook
