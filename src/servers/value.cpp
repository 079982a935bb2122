#include "servers/value.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/failure.h"

namespace vi2zezir {
namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string DoubleText(double d) {
    if (d == 0) return "0"; // also for -0, which the automation world never shows
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    // %.15G is the automation conversion: 15 significant digits, no trailing
    // zeros, exponent form outside 1E-4 <= |x| < 1E15 with at least two digits.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15G", d);
    return buf;
}

std::string CurrencyText(Currency c) {
    // The magnitude of INT64_MIN does not fit in int64; go through uint64.
    bool negative = c.scaled < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(c.scaled) : static_cast<std::uint64_t>(c.scaled);
    std::string s = std::to_string(magnitude / 10000);
    std::uint64_t fraction = magnitude % 10000;
    if (fraction != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", static_cast<unsigned>(fraction));
        std::string digits = buf;
        while (digits.back() == '0') digits.pop_back();
        s += "." + digits;
    }
    return negative ? "-" + s : s;
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

std::string DateText(Date date) {
    // The automation date counts days from 30 December 1899; for negative
    // values the fraction still runs forward from midnight of its day.
    // Its range is 1 January 100 to 31 December 9999; a server that sends
    // anything else (or NaN) gets the overflow a conversion would give.
    if (!(date.serial > -657435.0 && date.serial < 2958466.0)) throw Failure(kOverflow, "CStr");
    double whole = std::trunc(date.serial);
    double fraction = std::fabs(date.serial - whole);
    long long seconds = std::llround(fraction * 86400.0);
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += date.serial < 0 ? -1 : 1;
    }
    std::string out;
    if (day != 0 || seconds == 0) {
        long long y;
        unsigned m, d;
        CivilFromDays(day - 25569, y, m, d); // 25569 days from 1899-12-30 to 1970-01-01
        out = std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
    }
    if (seconds != 0) {
        int h = static_cast<int>(seconds / 3600);
        int min = static_cast<int>(seconds / 60 % 60);
        int s = static_cast<int>(seconds % 60);
        char buf[24];
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h % 12 == 0 ? 12 : h % 12, min, s, h < 12 ? "AM" : "PM");
        if (!out.empty()) out += " ";
        out += buf;
    }
    return out;
}

// U.S. number text as a late-bound conversion reads it: spaces around,
// optional sign, digits with thousands commas, a decimal point, an exponent.
bool ParseNumberText(std::u16string_view text, double& number) {
    std::string ascii;
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == u' ') ++b;
    while (e > b && text[e - 1] == u' ') --e;
    if (b == e) return false;
    bool digitSeen = false;
    for (std::size_t i = b; i < e; ++i) {
        char16_t c = text[i];
        if (c == u',') {
            if (!digitSeen) return false;
            continue;
        }
        if (c > 0x7F) return false;
        if (c >= u'0' && c <= u'9') digitSeen = true;
        ascii.push_back(static_cast<char>(c));
    }
    if (!digitSeen) return false;
    const char* begin = ascii.c_str();
    char* end = nullptr;
    number = std::strtod(begin, &end);
    if (end != begin + ascii.size()) return false;
    // strtod takes "inf", "nan" and hex; the automation conversion does not.
    for (char c : ascii) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E'))
            return false;
    }
    return std::isfinite(number);
}

} // namespace

bool TryParseNumber(std::u16string_view text, double& number) { return ParseNumberText(text, number); }

std::u16string ToText(const Value& value) {
    switch (value.GetKind()) {
    case Value::Kind::Empty: return {};
    case Value::Kind::Null: throw Failure(kInvalidUseOfNull, "CStr");
    case Value::Kind::Boolean: return value.AsBoolean() ? u"True" : u"False";
    case Value::Kind::Int16: return Ascii(std::to_string(value.AsInt16()));
    case Value::Kind::Int32: return Ascii(std::to_string(value.AsInt32()));
    case Value::Kind::Double: return Ascii(DoubleText(value.AsDouble()));
    case Value::Kind::Currency: return Ascii(CurrencyText(value.AsCurrency()));
    case Value::Kind::Date: return Ascii(DateText(value.AsDate()));
    case Value::Kind::Text: return value.AsText();
    }
    return {};
}

bool ToNumber(const Value& value, double& number) {
    switch (value.GetKind()) {
    case Value::Kind::Empty: number = 0; return true;
    case Value::Kind::Null: return false;
    case Value::Kind::Boolean: number = value.AsBoolean() ? -1 : 0; return true;
    case Value::Kind::Int16: number = value.AsInt16(); return true;
    case Value::Kind::Int32: number = value.AsInt32(); return true;
    case Value::Kind::Double: number = value.AsDouble(); return true;
    case Value::Kind::Currency: number = static_cast<double>(value.AsCurrency().scaled) / 10000.0; return true;
    case Value::Kind::Date: number = value.AsDate().serial; return true;
    case Value::Kind::Text:
        if (!ParseNumberText(value.AsText(), number)) throw Failure(kTypeMismatch, "CDbl");
        return true;
    }
    return false;
}

std::int16_t ToInt16(const Value& value) {
    if (value.IsNull()) throw Failure(kInvalidUseOfNull, "CInt");
    double number = 0;
    ToNumber(value, number);
    // Banker's rounding, as the automation coercion to an integer does: the
    // default floating-point rounding mode is round-half-to-even.
    double rounded = std::nearbyint(number);
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw Failure(kOverflow, "CInt");
    return static_cast<std::int16_t>(rounded);
}

const char* KindName(Value::Kind kind) {
    switch (kind) {
    case Value::Kind::Empty: return "Empty";
    case Value::Kind::Null: return "Null";
    case Value::Kind::Boolean: return "Boolean";
    case Value::Kind::Int16: return "Integer";
    case Value::Kind::Int32: return "Long";
    case Value::Kind::Double: return "Double";
    case Value::Kind::Currency: return "Currency";
    case Value::Kind::Date: return "Date";
    case Value::Kind::Text: return "String";
    }
    return "?";
}

} // namespace vi2zezir
