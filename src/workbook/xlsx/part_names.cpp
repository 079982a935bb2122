#include "workbook/xlsx/part_names.h"

#include <algorithm>
#include <cstdio>

#include "workbook/xlsx/package.h"

namespace vi2zezir::workbook::xlsx {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && i + 2 < name.size()) {
            const int high = HexDigit(name[i + 1]), low = HexDigit(name[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

[[noreturn]] void Bad(std::string_view name, const char* what) {
    throw Error(ErrorKind::BadPartName, "part name " + Quoted(name) + " " + what);
}

void CheckSegments(std::string_view shown, std::string_view name, bool folder) {
    if (name.empty()) Bad(shown, "is empty");
    for (const char c : name) {
        if (c == '\0') Bad(shown, "contains a NUL character");
        if (c == '\\') Bad(shown, "contains a backslash");
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) Bad(shown, "contains a control character");
    }
    if (name.front() == '/') Bad(shown, "is an absolute path");
    if (name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
        Bad(shown, "begins with a drive letter");
    std::string_view rest = name;
    if (folder) rest.remove_suffix(1);
    while (true) {
        const auto slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty()) Bad(shown, "has an empty segment");
        if (segment == "." || segment == "..") Bad(shown, "contains a '.' or '..' segment");
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
}

} // namespace

std::string PartKey(std::string_view name) {
    std::string key = PercentDecoded(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return key;
}

void CheckPartName(std::string_view name, bool folder) {
    CheckSegments(name, name, folder);
    if (name.find('%') == std::string_view::npos) return;
    // An escaped '/', '\', '.' or control character hides what the checks
    // above look for.
    const std::string decoded = PercentDecoded(name);
    if (std::count(decoded.begin(), decoded.end(), '/') != std::count(name.begin(), name.end(), '/'))
        Bad(name, "contains an escaped '/'");
    CheckSegments(name, decoded, folder);
}

std::string Quoted(std::string_view name) {
    constexpr std::size_t kShown = 120;
    std::string out = "'";
    for (std::size_t i = 0; i < name.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (name.size() > kShown) out += "...";
    return out + "'";
}

} // namespace vi2zezir::workbook::xlsx
