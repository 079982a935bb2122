#include "workbook/xlsx/a1_text.h"

#include <functional>

#include "base/utf.h"

namespace vi2zezir::workbook::xlsx {
namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '\\' || c == '$' || c == '?' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// One side of a reference: "$A$1", "B7", "C" (of "C:D"), "4" (of "4:5").
struct Part {
    bool hasCol = false, hasRow = false;
    bool absCol = false, absRow = false;
    std::uint32_t col = 0, row = 0; // zero-based
};

bool ParsePart(std::string_view t, Part& part) {
    std::size_t i = 0;
    part = {};
    if (i < t.size() && t[i] == '$') part.absCol = true, ++i;
    std::uint32_t col = 0;
    std::size_t letters = 0;
    while (i < t.size() && IsLetter(t[i]) && letters < 3) {
        col = col * 26 + static_cast<std::uint32_t>((t[i] | 0x20) - 'a' + 1);
        ++i, ++letters;
    }
    if (letters > 0) {
        if (col > kPackageCols) return false;
        part.hasCol = true;
        part.col = col - 1;
    } else if (part.absCol) {
        part.absCol = false, part.absRow = true; // "$4" of "$4:$5"
    }
    if (i < t.size() && t[i] == '$') {
        if (!part.hasCol || part.absRow) return false;
        part.absRow = true, ++i;
    }
    std::uint64_t row = 0;
    std::size_t digits = 0;
    while (i < t.size() && IsDigit(t[i]) && digits < 8)
        row = row * 10 + static_cast<std::uint64_t>(t[i++] - '0'), ++digits;
    if (i != t.size()) return false;
    if (digits > 0) {
        if (row == 0 || row > kPackageRows) return false;
        part.hasRow = true;
        part.row = static_cast<std::uint32_t>(row - 1);
    }
    if (part.absRow && !part.hasRow) return false;
    return part.hasCol || part.hasRow;
}

void AppendPart(std::string& out, const Part& part) {
    if (part.hasCol) {
        if (part.absCol) out += '$';
        AppendColumnName(out, part.col);
    }
    if (part.hasRow) {
        if (part.absRow) out += '$';
        out += std::to_string(part.row + 1);
    }
}

// A reference found in a formula: one part, or two joined by ':'; the span
// covers both. `qualifier` is the sheet name before '!' ("" for none).
struct Found {
    std::size_t begin = 0, end = 0;
    Part first, second;
    bool range = false;
    std::string qualifier;
    bool external = false;
};

// Calls back for every reference in the formula's text, skipping strings,
// function names and defined names.
void ScanReferences(std::string_view f, const std::function<void(const Found&)>& onReference) {
    std::string qualifier;
    bool qualified = false, external = false;
    std::size_t i = 0;
    const auto readToken = [&](std::size_t from) {
        std::size_t j = from;
        while (j < f.size() && IsNameChar(f[j])) ++j;
        return j;
    };
    while (i < f.size()) {
        const char c = f[i];
        if (c == '"') {
            for (++i; i < f.size(); ++i) {
                if (f[i] == '"' && !(i + 1 < f.size() && f[i + 1] == '"')) break;
                if (f[i] == '"') ++i;
            }
            ++i;
            qualified = external = false;
            continue;
        }
        if (c == '\'') {
            std::string name;
            for (++i; i < f.size(); ++i) {
                if (f[i] == '\'' && i + 1 < f.size() && f[i + 1] == '\'') {
                    name += '\'', ++i;
                    continue;
                }
                if (f[i] == '\'') break;
                name += f[i];
            }
            ++i;
            if (i < f.size() && f[i] == '!') {
                qualifier = name, qualified = true, ++i;
                if (!qualifier.empty() && qualifier.front() == '[') external = true;
            }
            continue;
        }
        if (c == '[') {
            // An external book's index, or a table's structured reference.
            int depth = 0;
            for (; i < f.size(); ++i) {
                if (f[i] == '[') ++depth;
                if (f[i] == ']' && --depth == 0) break;
            }
            ++i;
            external = true;
            continue;
        }
        if (!IsNameChar(c)) {
            if (c != ':') qualified = external = false;
            ++i;
            continue;
        }
        const std::size_t j = readToken(i);
        const std::string_view token = f.substr(i, j - i);
        if (j < f.size() && f[j] == '!') {
            qualifier = std::string(token), qualified = true;
            i = j + 1;
            continue;
        }
        if (j < f.size() && f[j] == '(') {
            qualified = external = false;
            i = j;
            continue;
        }
        Found found;
        found.begin = i;
        found.end = j;
        if (ParsePart(token, found.first)) {
            if (j < f.size() && f[j] == ':') {
                const std::size_t k = readToken(j + 1);
                if (ParsePart(f.substr(j + 1, k - j - 1), found.second) && found.first.hasCol == found.second.hasCol &&
                    found.first.hasRow == found.second.hasRow) {
                    found.range = true;
                    found.end = k;
                }
            }
            const bool cell = found.first.hasCol && found.first.hasRow;
            if (cell || found.range) {
                found.qualifier = qualified ? qualifier : std::string();
                found.external = external;
                onReference(found);
                i = found.end;
                qualified = external = false;
                continue;
            }
        }
        qualified = external = false;
        i = j;
    }
}

} // namespace

void AppendColumnName(std::string& out, std::uint32_t col) {
    char letters[4];
    std::size_t n = 0;
    for (std::uint32_t c = col + 1; c > 0 && n < 4; c = (c - 1) / 26)
        letters[n++] = static_cast<char>('A' + (c - 1) % 26);
    while (n > 0) out += letters[--n];
}

bool ParseArea(std::string_view text, Area& area) {
    const auto colon = text.find(':');
    Part a, b;
    if (!ParsePart(text.substr(0, colon), a) || !a.hasCol || !a.hasRow) return false;
    b = a;
    if (colon != std::string_view::npos && (!ParsePart(text.substr(colon + 1), b) || !b.hasCol || !b.hasRow))
        return false;
    area.r1 = std::min(a.row, b.row), area.r2 = std::max(a.row, b.row);
    area.c1 = static_cast<std::uint16_t>(std::min(a.col, b.col));
    area.c2 = static_cast<std::uint16_t>(std::max(a.col, b.col));
    return true;
}

bool ParseAreaList(std::string_view text, std::vector<Area>& areas) {
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i == text.size()) break;
        std::size_t j = text.find(' ', i);
        if (j == std::string_view::npos) j = text.size();
        Area area;
        if (!ParseArea(text.substr(i, j - i), area)) return false;
        areas.push_back(area);
        i = j;
    }
    return true;
}

std::string AreaText(const Area& area) {
    std::string out;
    AppendColumnName(out, area.c1);
    out += std::to_string(area.r1 + 1);
    if (area.r1 != area.r2 || area.c1 != area.c2) {
        out += ':';
        AppendColumnName(out, area.c2);
        out += std::to_string(area.r2 + 1);
    }
    return out;
}

std::string AreaListText(const std::vector<Area>& areas) {
    std::string out;
    for (const auto& area : areas) {
        if (!out.empty()) out += ' ';
        out += AreaText(area);
    }
    return out;
}

void CollectColumns(std::string_view formula, std::u16string_view sheet, bool unqualifiedAreOnSheet,
                    ColumnsReferred& out) {
    const auto folded = Fold(sheet);
    ScanReferences(formula, [&](const Found& ref) {
        if (ref.external) return;
        bool onSheet = ref.qualifier.empty() ? unqualifiedAreOnSheet : false;
        if (!ref.qualifier.empty()) {
            // "Sheet1:Sheet3" names every sheet between; the scan cannot
            // tell which those are, so either end counts.
            const auto colon = ref.qualifier.find(':');
            onSheet = Fold(text::FromUtf8(ref.qualifier.substr(0, colon))) == folded ||
                      (colon != std::string::npos && Fold(text::FromUtf8(ref.qualifier.substr(colon + 1))) == folded);
        }
        if (!onSheet) return;
        if (!ref.first.hasCol) {
            out.any = true; // whole rows
            return;
        }
        const Part& last = ref.range ? ref.second : ref.first;
        const auto c1 = std::min(ref.first.col, last.col), c2 = std::max(ref.first.col, last.col);
        for (std::uint32_t c = c1; c <= c2 && c < formula::kMaxCols; ++c) out.columns.set(c);
    });
}

std::optional<std::string> MoveRelativeReferences(std::string_view formula, std::int64_t rows, std::int64_t cols) {
    std::string out;
    std::size_t copied = 0;
    bool fits = true;
    ScanReferences(formula, [&](const Found& ref) {
        const auto move = [&](Part part) {
            if (part.hasCol && !part.absCol) {
                const std::int64_t c = std::int64_t{part.col} + cols;
                if (c < 0 || c >= kPackageCols) fits = false;
                part.col = static_cast<std::uint32_t>(c);
            }
            if (part.hasRow && !part.absRow) {
                const std::int64_t r = std::int64_t{part.row} + rows;
                if (r < 0 || r >= kPackageRows) fits = false;
                part.row = static_cast<std::uint32_t>(r);
            }
            return part;
        };
        out.append(formula.substr(copied, ref.begin - copied));
        // The qualifier stays in the text before the reference.
        AppendPart(out, move(ref.first));
        if (ref.range) {
            out += ':';
            AppendPart(out, move(ref.second));
        }
        copied = ref.end;
    });
    if (!fits) return std::nullopt;
    out.append(formula.substr(copied));
    return out;
}

} // namespace vi2zezir::workbook::xlsx
