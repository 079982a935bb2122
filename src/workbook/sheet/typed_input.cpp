// Typed input as Excel reads it with en-US rules: what a text put into a
// cell (Range.Value, Range.Formula, a Replace's result) becomes, and the
// formula-bar text of the dates and times it makes, which Find searches and
// which must read back as the same value.
#include "workbook/sheet/typed_input.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <span>
#include <string>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

namespace fmt = builtin_format;

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
    long long serial = DaysFromCivil(y, m, d) + 25569; // 1970-01-01 is serial 25569
    if (serial <= 60) --serial;                        // before Excel's phantom 29/2/1900
    return static_cast<double>(serial);
}

// Excel's window for two-digit years: 00-29 are 2000-2029, 30-99 1930-1999.
long long FullYear(long long year, std::size_t digits) {
    if (digits <= 2) return year + (year < 30 ? 2000 : 1900);
    return digits == 4 ? year : -1; // three digits: no year Excel reads
}

struct DayDate {
    double serial = 0;
    std::uint16_t format = 0;
};

// Numbers joined by one separator, "/" or "-", as U.S. typed input reads
// them. Three are a day: m/d/yyyy, m/d/yy, m-d-yyyy, yyyy-m-d (m/d/yyyy).
// Two are a month and one other number: "1/2" or "10-15" is that day of the
// current year (d-mmm), as typing 1/2 into Excel gives 2-Jan; where the
// number can be no day of the month ("1/45", "12-2026") it is the year
// (mmm-yy), as "Mar 45" is read. The two-number rules come from reports of
// Excel's behaviour; the year reading is the plausible one, not a documented
// rule.
std::optional<DayDate> ParseNumericDate(std::u16string_view s, int currentYear) {
    std::array<long long, 3> parts{};
    std::array<std::size_t, 3> widths{};
    std::size_t count = 0;
    char16_t sep = 0;
    long long cur = -1;
    std::size_t digits = 0;
    for (char16_t c : s) {
        if (c >= u'0' && c <= u'9') {
            cur = (cur < 0 ? 0 : cur) * 10 + (c - u'0');
            if (++digits > 4) return std::nullopt;
        } else if ((c == u'/' || c == u'-') && cur >= 0 && (sep == 0 || sep == c) && count < 2) {
            sep = c;
            parts[count] = cur;
            widths[count++] = digits;
            cur = -1;
            digits = 0;
        } else {
            return std::nullopt;
        }
    }
    if (cur < 0 || sep == 0) return std::nullopt;
    parts[count] = cur;
    widths[count++] = digits;

    if (count == 3) {
        long long y;
        unsigned m, d;
        if (widths[0] == 4) {
            y = parts[0], m = static_cast<unsigned>(parts[1]), d = static_cast<unsigned>(parts[2]);
        } else {
            m = static_cast<unsigned>(parts[0]), d = static_cast<unsigned>(parts[1]);
            y = FullYear(parts[2], widths[2]);
        }
        if (!ValidDate(y, m, d)) return std::nullopt;
        return DayDate{SerialOf(y, m, d), fmt::kShortDate};
    }
    if (widths[0] > 2 || parts[0] < 1 || parts[0] > 12) return std::nullopt;
    const auto month = static_cast<unsigned>(parts[0]);
    if (widths[1] <= 2 && ValidDate(currentYear, month, static_cast<unsigned>(parts[1])))
        return DayDate{SerialOf(currentYear, month, static_cast<unsigned>(parts[1])), fmt::kDayMonth};
    const long long y = FullYear(parts[1], widths[1]);
    if (!ValidDate(y, month, 1)) return std::nullopt;
    return DayDate{SerialOf(y, month, 1), fmt::kMonthYear};
}

// ---- month-name dates

// January = 1; 0 when the word is none. Full names and three-letter
// abbreviations, any case, and "Sept", which people write as often as "Sep".
unsigned MonthOfWord(std::u16string_view word) {
    static constexpr std::array<std::u16string_view, 12> kNames = {u"january",   u"february", u"march",    u"april",
                                                                   u"may",       u"june",     u"july",     u"august",
                                                                   u"september", u"october",  u"november", u"december"};
    if (word.size() < 3 || word.size() > 9) return 0;
    char16_t folded[9];
    for (std::size_t i = 0; i < word.size(); ++i) folded[i] = FoldCase(word[i]);
    const std::u16string_view w(folded, word.size());
    for (unsigned m = 0; m < kNames.size(); ++m)
        if (w == kNames[m] || w == kNames[m].substr(0, 3)) return m + 1;
    return w == u"sept" ? 9 : 0;
}

struct DateToken {
    bool month = false;     // a month word, else a number
    long long value = 0;    // the month (1-12) or the number
    std::size_t digits = 0; // of a number
    char16_t sepBefore = 0; // '-', '/', ',', ' ' or 0 where letters meet digits
};

struct DateTokens {
    std::array<DateToken, 3> token;
    std::size_t count = 0;
};

// Splits "12-Mar-2026", "Mar 12, 2026", "OCT8" into at most three numbers and
// month words. A separator is a run of spaces with at most one '-', '/' or
// ',' in it; letters and digits may also meet without one.
bool TokenizeDate(std::u16string_view s, DateTokens& tokens) {
    const auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    const auto isLetter = [](char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); };
    std::size_t i = 0;
    while (i < s.size()) {
        char16_t sep = 0;
        while (i < s.size() && !isDigit(s[i]) && !isLetter(s[i])) {
            const char16_t c = s[i++];
            if (c == u' ') {
                if (sep == 0) sep = u' ';
            } else if ((c == u'-' || c == u'/' || c == u',') && (sep == 0 || sep == u' ')) {
                sep = c;
            } else {
                return false;
            }
        }
        if (i == s.size() || (tokens.count == 0 && sep != 0)) return false; // a separator at either end
        if (tokens.count == tokens.token.size()) return false;
        DateToken t;
        t.sepBefore = sep;
        const std::size_t from = i;
        if (isDigit(s[i])) {
            while (i < s.size() && isDigit(s[i])) {
                if (++t.digits > 4) return false;
                t.value = t.value * 10 + (s[i++] - u'0');
            }
        } else {
            while (i < s.size() && isLetter(s[i])) ++i;
            t.month = true;
            t.value = MonthOfWord(s.substr(from, i - from));
            if (t.value == 0) return false;
        }
        tokens.token[tokens.count++] = t;
    }
    return true;
}

// The forms Excel (en-US) takes with a month name, and the format each gets:
//   12-Mar-2026, 12 Mar 26, Mar 12, 2026, March 12 2026  -> d-mmm-yy
//   12-Mar, Mar 12, OCT8 (this year)                      -> d-mmm
//   Mar-2026, March 26 where 26 is no day of March...     -> mmm-yy, the 1st
// A number after the month is its day when it can be one, else the year, as
// Excel reads "Mar 12" and "Mar 2026" (and "Feb 30" as February 1930).
// The d-mmm-yy and mmm-yy formats for typed month names are from consistent
// reports of Excel's behaviour, not documented: each is one constant here.
std::optional<DayDate> ParseMonthNameDate(std::u16string_view s, int currentYear) {
    DateTokens tokens;
    if (!TokenizeDate(s, tokens) || tokens.count < 2) return std::nullopt;
    const std::span<const DateToken> t(tokens.token.data(), tokens.count);
    std::size_t months = 0;
    for (const auto& token : t) months += token.month;
    if (months != 1) return std::nullopt;
    // A comma only before a year: "Mar 12, 2026", "12 March, 2026".
    for (std::size_t k = 0; k + 1 < t.size(); ++k)
        if (t[k].sepBefore == u',') return std::nullopt;
    if (t.size() == 2 && t[1].sepBefore == u',') return std::nullopt;

    const auto day = [](const DateToken& token) { return token.digits <= 2 ? token.value : -1; };
    long long y = -1, m = 0, d = -1;
    std::uint16_t format = 0;
    if (t.size() == 3) {
        if (t[2].month) return std::nullopt; // the year comes last
        m = t[0].month ? t[0].value : t[1].value;
        d = day(t[0].month ? t[1] : t[0]);
        y = FullYear(t[2].value, t[2].digits);
        format = fmt::kDayMonthYear;
    } else if (t[1].month) {
        m = t[1].value;
        d = day(t[0]);
        y = currentYear;
        format = fmt::kDayMonth;
    } else {
        m = t[0].value;
        if (ValidDate(currentYear, static_cast<unsigned>(m), static_cast<unsigned>(std::max(0LL, day(t[1]))))) {
            d = day(t[1]);
            y = currentYear;
            format = fmt::kDayMonth;
        } else {
            d = 1;
            y = FullYear(t[1].value, t[1].digits);
            format = fmt::kMonthYear;
        }
    }
    if (y < 0 || d < 1 || !ValidDate(y, static_cast<unsigned>(m), static_cast<unsigned>(d))) return std::nullopt;
    return DayDate{SerialOf(y, static_cast<unsigned>(m), static_cast<unsigned>(d)), format};
}

std::optional<DayDate> ParseAnyDate(std::u16string_view s, int currentYear) {
    if (const auto date = ParseNumericDate(s, currentYear)) return date;
    return ParseMonthNameDate(s, currentYear);
}

// ---- times

struct TimeOfDay {
    double fraction = 0; // of a day; beyond 1 for a duration
    std::uint16_t format = 0;
};

// The longest duration typed as hours Excel is believed to take ("9999:59").
constexpr long long kMaxTypedHours = 9999;

// "10:30", "10:30:15", "10:30 AM", "10:30pm", "10 a"; with `durations`, hours
// of 24 and beyond without AM/PM ("25:00") are an elapsed time, as Excel
// reads them, shown as [h]:mm:ss (from reports of Excel's behaviour:
// a typed duration keeps its seconds field; change kElapsed to alter it).
std::optional<TimeOfDay> ParseTime(std::u16string_view s, bool durations) {
    std::size_t i = 0;
    const auto number = [&](std::size_t maxDigits, long long& value) {
        std::size_t digits = 0;
        value = 0;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            if (++digits > maxDigits) return false;
            value = value * 10 + (s[i++] - u'0');
        }
        return digits > 0;
    };
    long long h = 0, m = 0, sec = 0;
    int fields = 1;
    if (!number(4, h)) return std::nullopt;
    while (fields < 3 && i < s.size() && s[i] == u':') {
        ++i;
        if (!number(2, fields == 1 ? m : sec)) return std::nullopt;
        ++fields;
    }
    while (i < s.size() && s[i] == u' ') ++i;
    int half = 0; // 1 AM, 2 PM
    if (i < s.size()) {
        const char16_t c = FoldCase(s[i]);
        if (c != u'a' && c != u'p') return std::nullopt;
        half = c == u'a' ? 1 : 2;
        ++i;
        if (i < s.size() && FoldCase(s[i]) == u'm') ++i;
        if (i != s.size()) return std::nullopt;
    }
    if ((fields == 1 && half == 0) || m > 59 || sec > 59) return std::nullopt;
    std::uint16_t format;
    if (half != 0) {
        if (h > 12) return std::nullopt;
        h = h % 12 + (half == 2 ? 12 : 0);
        format = fields == 3 ? fmt::kTime12Seconds : fmt::kTime12;
    } else if (h <= 23) {
        format = fields == 3 ? fmt::kTimeSeconds : fmt::kTime;
    } else if (durations && h <= kMaxTypedHours) {
        format = fmt::kElapsed;
    } else {
        return std::nullopt;
    }
    return TimeOfDay{static_cast<double>(h * 3600 + m * 60 + sec) / 86400.0, format};
}

// "1/2/2026 10:30", "Mar 12, 2026 10:30 PM": a date, spaces, a time of day.
// Excel gives both the m/d/yyyy h:mm format, with or without AM/PM.
std::optional<TypedNumber> ParseDateAndTime(std::u16string_view s, int currentYear) {
    for (std::size_t at = s.find(u' '); at != std::u16string_view::npos; at = s.find(u' ', at + 1)) {
        const auto date = ParseAnyDate(Trim(s.substr(0, at)), currentYear);
        if (!date) continue;
        const auto time = ParseTime(Trim(s.substr(at)), false);
        if (!time) continue;
        return TypedNumber{date->serial + time->fraction, fmt::kDateTime, false, true};
    }
    return std::nullopt;
}

} // namespace

std::optional<TypedNumber> ParseTypedNumber(std::u16string_view text, int currentYear) {
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
        TypedNumber n;
        n.value = (negative ? -value : value) / (percent ? 100.0 : 1.0);
        n.currency = currency;
        if (percent)
            n.numberFormat = decimals ? 10 : 9; // 0.00% / 0%
        else if (grouped && !currency)
            n.numberFormat = decimals ? 4 : 3; // #,##0.00 / #,##0
        return n;
    }
    // The longest date with a time Excel reads ("September 30, 2026
    // 10:30:15 PM") is far shorter: item descriptions and memos are not
    // searched for one.
    constexpr std::size_t kLongestDateText = 64;
    if (negative || currency || percent || s.size() > kLongestDateText) return std::nullopt;
    if (const auto date = ParseAnyDate(s, currentYear)) return TypedNumber{date->serial, date->format, false, true};
    if (const auto time = ParseTime(s, true)) return TypedNumber{time->fraction, time->format, false, true};
    return ParseDateAndTime(s, currentYear);
}

int CurrentYear() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &now) != 0) return 1970;
#else
    if (!localtime_r(&now, &local)) return 1970;
#endif
    return local.tm_year + 1900;
}

Content Workbook::ParseTypedInput(std::u16string_view text, std::uint32_t row, std::uint16_t col) {
    Content c;
    const Cell* cell = CellAt(row, col);
    const std::uint16_t xf = cell ? cell->xf : defaultXf_;
    if (text.empty()) return c; // clears the content
    if (IsTextXf(xf)) {
        c.kind = CellKind::Text;
        c.text = text;
        return c;
    }
    if (text.front() == u'\'') {
        // The apostrophe is the cell's quote prefix, not part of the text.
        c.kind = CellKind::Text;
        c.text = text.substr(1);
        c.quotePrefix = true;
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
    if (const auto n = ParseTypedNumber(text, CurrentYear())) {
        c.kind = CellKind::Number;
        c.number = n->value;
        c.numberFormat = n->currency ? CustomFormat(u"\"$\"#,##0.00") : n->numberFormat;
        // A date typed into a cell that shows dates or times keeps that
        // cell's format; the same for a time (a plausible reading of Excel,
        // which documents only the General case).
        c.onlyWhenNoDateFormat = n->dateOrTime;
        return c;
    }
    c.kind = CellKind::Text;
    c.text = text;
    return c;
}

// ------------------------------------------------------------ formula-bar text

bool IsTimeFormatCode(std::u16string_view code) {
    bool quoted = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char16_t c = FoldCase(code[i]);
        if (quoted) {
            quoted = c != u'"';
            continue;
        }
        if (c == u'"') {
            quoted = true;
        } else if (c == u'[') {
            // [h], [mm], [ss]: elapsed time; [Red], [$-409]: no time.
            const std::size_t close = code.find(u']', i);
            if (close == std::u16string_view::npos) return false;
            const char16_t first = close > i + 1 ? FoldCase(code[i + 1]) : u'\0';
            if (first == u'h' || first == u'm' || first == u's') {
                bool same = true;
                for (std::size_t k = i + 1; k < close; ++k) same = same && FoldCase(code[k]) == first;
                if (same) return true;
            }
            i = close;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i;
        } else if (c == u';') {
            break; // the positive section decides
        } else if (c == u'h' || c == u's') {
            return true;
        }
    }
    return false;
}

std::u16string DateTimeText(double serial, bool formatHasTime) {
    // Excel shows no date before 1900 or after 31 December 9999: the cell
    // shows ####, the formula bar the number itself. A file may also hold a
    // NaN or an infinity there, which must not reach the day arithmetic.
    if (!InDateRange(serial)) return GeneralNumberText(serial);
    double day = std::floor(serial);
    long long seconds = std::llround((serial - day) * 86400.0);
    if (seconds == 86400) day += 1, seconds = 0;
    // The formula bar shows the date part unless the value is a time alone
    // (under one day), and the time part when there is one or the format
    // shows times: 24:00 typed reads back as "1/1/1900 12:00:00 AM".
    const bool showTime = formatHasTime || seconds != 0;
    const bool showDate = day != 0 || !showTime;
    std::u16string text;
    if (showDate) text = DateSerialText(day);
    if (showTime) {
        const long long h = seconds / 3600;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%lld:%02lld:%02lld %s", showDate ? " " : "", h % 12 == 0 ? 12 : h % 12,
                      seconds / 60 % 60, seconds % 60, h < 12 ? "AM" : "PM");
        for (const char* p = buf; *p; ++p) text.push_back(static_cast<char16_t>(*p));
    }
    return text;
}

bool Workbook::IsTimeXf(std::uint16_t xf) const {
    const std::uint16_t ifmt = NumberFormatOfXf(xf);
    if ((ifmt >= 18 && ifmt <= 22) || (ifmt >= 45 && ifmt <= 47)) return true;
    if (ifmt < 164 && !formats_.count(ifmt)) return false;
    return IsTimeFormatCode(FormatCode(ifmt));
}

} // namespace vi2zezir::workbook
