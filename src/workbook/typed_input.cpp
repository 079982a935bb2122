// Typed input as Excel reads it with en-US rules: what a text put into a
// cell (Range.Value, Range.Formula, a Replace's result) becomes.
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "workbook/workbook_model.h"

namespace vi2zezir::workbook {

namespace {

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
    return s;
}

// Digits with optional thousands separators in groups of three, an optional
// decimal part and exponent. Sets `grouped` when separators were used.
bool ParsePlainNumber(std::u16string_view s, double& value, bool& grouped, bool& decimals) {
    grouped = decimals = false;
    std::string ascii;
    std::size_t i = 0, digitsBeforeComma = 0, intDigits = 0;
    bool sawComma = false;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c >= u'0' && c <= u'9') {
            ascii.push_back(static_cast<char>(c));
            ++intDigits;
            ++digitsBeforeComma;
        } else if (c == u',' && intDigits > 0) {
            if (sawComma && digitsBeforeComma != 3) return false;
            if (!sawComma && digitsBeforeComma > 3) return false;
            sawComma = true;
            digitsBeforeComma = 0;
        } else {
            break;
        }
    }
    if (sawComma && digitsBeforeComma != 3) return false;
    grouped = sawComma;
    if (i < s.size() && s[i] == u'.') {
        ascii.push_back('.');
        ++i;
        std::size_t frac = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ascii.push_back(static_cast<char>(s[i++])), ++frac;
        decimals = frac > 0;
        if (intDigits == 0 && frac == 0) return false;
    } else if (intDigits == 0) {
        return false;
    }
    if (i < s.size() && (s[i] == u'e' || s[i] == u'E') && !grouped) {
        ascii.push_back('e');
        ++i;
        if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) ascii.push_back(static_cast<char>(s[i++]));
        std::size_t exp = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') ascii.push_back(static_cast<char>(s[i++])), ++exp;
        if (exp == 0) return false;
    }
    if (i != s.size()) return false;
    char* end = nullptr;
    value = std::strtod(ascii.c_str(), &end);
    return end && *end == 0 && std::isfinite(value);
}

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool ValidDate(long long y, unsigned m, unsigned d) {
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
    if (m == 2 && d == 29 && !((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return false;
    return y >= 1900 && y <= 9999;
}

double SerialOf(long long y, unsigned m, unsigned d) {
    long long serial = DaysFromCivil(y, m, d) + 25569;  // 1970-01-01 is serial 25569
    if (serial <= 60) --serial;                            // before Excel's phantom 29/2/1900
    return static_cast<double>(serial);
}

// m/d/yyyy, m/d/yy, m-d-yyyy and yyyy-m-d, as U.S. typed input reads them.
bool ParseDate(std::u16string_view s, double& serial) {
    std::vector<long long> parts;
    char16_t sep = 0;
    long long cur = -1;
    std::size_t digits = 0;
    std::vector<std::size_t> widths;
    for (char16_t c : s) {
        if (c >= u'0' && c <= u'9') {
            cur = (cur < 0 ? 0 : cur) * 10 + (c - u'0');
            if (++digits > 4) return false;
        } else if ((c == u'/' || c == u'-') && cur >= 0 && (sep == 0 || sep == c)) {
            sep = c;
            parts.push_back(cur);
            widths.push_back(digits);
            cur = -1;
            digits = 0;
        } else {
            return false;
        }
    }
    if (cur < 0 || sep == 0) return false;
    parts.push_back(cur);
    widths.push_back(digits);
    if (parts.size() != 3) return false;
    long long y;
    unsigned m, d;
    if (widths[0] == 4) {
        y = parts[0], m = static_cast<unsigned>(parts[1]), d = static_cast<unsigned>(parts[2]);
    } else {
        m = static_cast<unsigned>(parts[0]), d = static_cast<unsigned>(parts[1]), y = parts[2];
        if (widths[2] <= 2) y += y < 30 ? 2000 : 1900;  // Excel's two-digit year window
    }
    if (!ValidDate(y, m, d)) return false;
    serial = SerialOf(y, m, d);
    return true;
}

} // namespace

Content Workbook::ParseTypedInput(std::u16string_view text, std::uint32_t row, std::uint16_t col) {
    Content c;
    const Cell* cell = CellAt(row, col);
    const std::uint16_t xf = cell ? cell->xf : kDefaultXf;
    if (text.empty()) return c;  // clears the content
    if (IsTextXf(xf)) {
        c.kind = CellKind::Text;
        c.text = text;
        return c;
    }
    if (text.front() == u'\'') {
        c.kind = CellKind::Text;
        c.text = text.substr(1);
        if (c.text.empty()) c.kind = CellKind::Blank;
        return c;
    }
    if (text.front() == u'=' && text.size() > 1) {
        c.kind = CellKind::Formula;
        c.tokens = ParseFormula(text);
        return c;
    }
    const std::u16string_view trimmed = Trim(text);
    const auto foldedEquals = [&](std::u16string_view word) {
        if (trimmed.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
            if (FoldCase(trimmed[i]) != word[i]) return false;
        return true;
    };
    if (foldedEquals(u"true") || foldedEquals(u"false")) {
        c.kind = CellKind::Boolean;
        c.small = foldedEquals(u"true");
        return c;
    }
    std::u16string_view s = Trim(text);
    bool negative = false, currency = false, percent = false;
    if (!s.empty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s.remove_prefix(1);
    }
    if (!s.empty() && s.front() == u'$') {
        currency = true;
        s.remove_prefix(1);
        if (!negative && !s.empty() && s.front() == u'-') {
            negative = true;
            s.remove_prefix(1);
        }
    }
    if (!currency && !s.empty() && s.back() == u'%') {
        percent = true;
        s.remove_suffix(1);
    }
    double value;
    bool grouped, decimals;
    if (ParsePlainNumber(s, value, grouped, decimals)) {
        c.kind = CellKind::Number;
        c.number = (negative ? -value : value) / (percent ? 100.0 : 1.0);
        if (currency)
            c.numberFormat = CustomFormat(u"\"$\"#,##0.00");
        else if (percent)
            c.numberFormat = decimals ? 10 : 9;  // 0.00% / 0%
        else if (grouped)
            c.numberFormat = decimals ? 4 : 3;   // #,##0.00 / #,##0
        return c;
    }
    if (!negative && !currency && !percent && ParseDate(s, value)) {
        c.kind = CellKind::Number;
        c.number = value;
        c.numberFormat = 14;
        c.onlyWhenNoDateFormat = true;
        return c;
    }
    c.kind = CellKind::Text;
    c.text = text;
    return c;
}

} // namespace vi2zezir::workbook
