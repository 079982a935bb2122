// Conversions at the edges: the core counts 16-bit code units, files, JSON,
// the Linux command line and Qt speak UTF-8.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vi2zezir::text {

// Ill-formed input becomes U+FFFD, never a failure.
std::u16string FromUtf8(std::string_view utf8);
// Lone surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view utf16);

std::filesystem::path ToPath(std::u16string_view text);
std::u16string FromPath(const std::filesystem::path& path);

} // namespace vi2zezir::text
