// Cached results for formulas, so a reader that does not recalculate shows
// the right totals. The evaluator knows Excel's coercions for the operators
// and a small set of functions; for anything else (names, arrays, other
// functions, text it cannot read as a number the way Excel would, a cell the
// context cannot give) it answers nullopt and the caller flags the cell for
// recalculation. Malformed tokens also answer nullopt.
#include "workbook/formula_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vi2zezir::workbook::formula {
namespace {

using namespace detail;

constexpr std::uint8_t kErrDiv0 = 0x07;
constexpr std::uint8_t kErrValue = 0x0F;
constexpr std::uint8_t kErrRef = 0x17;
constexpr std::uint8_t kErrNum = 0x24;
// A formula summing more cells than this is left to the spreadsheet.
constexpr std::size_t kMaxCellsVisited = std::size_t{1} << 20;
// Longest text a formula yields; Excel gives #VALUE! for a longer one. Without
// it a chain of cells each joining the one above to itself doubles its
// text per cell, and a small template asks for gigabytes on save.
constexpr std::size_t kMaxTextResult = 32767;

struct RefValue {
    std::uint16_t sheet = 0;
    std::uint32_t rowFirst = 0;
    std::uint32_t rowLast = 0;
    std::uint16_t colFirst = 0;
    std::uint16_t colLast = 0;
};
using Value = std::variant<Blank, double, std::u16string, bool, ErrorValue, RefValue>;

struct CannotEvaluate {};

CellValue Error(std::uint8_t code) { return ErrorValue{code}; }
bool IsError(const CellValue& v) { return std::holds_alternative<ErrorValue>(v); }

char16_t UpperChar(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 32);
    return c;
}
char16_t LowerChar(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
    return c;
}

std::u16string Ascii(const char* text) {
    std::u16string out;
    for (; *text != '\0'; ++text) out.push_back(static_cast<char16_t>(*text));
    return out;
}

// Excel's General form of a number in text: up to 15 significant digits.
std::u16string GeneralText(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value == 0 ? 0.0 : value);
    return Ascii(buffer);
}

// Plain decimal text ("12", " -1.5e3 ", "50%") as a number. Other text with
// digits in it (dates, "1,000", "$5") Excel may read too: leave that to it.
CellValue TextToNumber(const std::u16string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    bool percent = false;
    if (end > begin && text[end - 1] == u'%') {
        percent = true;
        --end;
    }
    std::string ascii;
    bool digits = false;
    for (std::size_t i = begin; i < end; ++i) {
        const char16_t c = text[i];
        if (c >= u'0' && c <= u'9') digits = true;
        if (c > 0x7F) break;
        ascii.push_back(static_cast<char>(c));
    }
    if (!ascii.empty() && ascii.size() == end - begin) {
        char* stop = nullptr;
        const double value = std::strtod(ascii.c_str(), &stop);
        const bool hexOrWord = ascii.find_first_of("xXnNiI") != std::string::npos;
        if (stop == ascii.c_str() + ascii.size() && !hexOrWord && std::isfinite(value))
            return percent ? value / 100 : value;
    }
    for (char16_t c : text)
        if (c >= u'0' && c <= u'9') digits = true;
    if (digits) throw CannotEvaluate{};
    return Error(kErrValue);
}

CellValue ToNumber(const CellValue& v) {
    if (const auto* d = std::get_if<double>(&v)) return *d;
    if (const auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
    if (std::holds_alternative<Blank>(v)) return 0.0;
    if (const auto* s = std::get_if<std::u16string>(&v)) return TextToNumber(*s);
    return v; // an error
}

CellValue ToText(const CellValue& v) {
    if (const auto* d = std::get_if<double>(&v)) return GeneralText(*d);
    if (const auto* b = std::get_if<bool>(&v)) return std::u16string(*b ? u"TRUE" : u"FALSE");
    if (std::holds_alternative<Blank>(v)) return std::u16string();
    return v; // text or an error
}

CellValue ToBool(const CellValue& v) {
    if (const auto* b = std::get_if<bool>(&v)) return *b;
    if (const auto* d = std::get_if<double>(&v)) return *d != 0;
    if (std::holds_alternative<Blank>(v)) return false;
    if (const auto* s = std::get_if<std::u16string>(&v)) {
        std::u16string up;
        for (char16_t c : *s) up.push_back(UpperChar(c));
        if (up == u"TRUE") return true;
        if (up == u"FALSE") return false;
        return Error(kErrValue);
    }
    return v;
}

CellValue Checked(double value) { return std::isfinite(value) ? CellValue(value) : Error(kErrNum); }

enum class RoundMode { kHalfAway, kAway, kToward };

// Rounding on the 15-significant-digit decimal form, as Excel does: 2.675
// rounds to 2.68 although the double lies just below.
double RoundDecimal(double x, double digitsArg, RoundMode mode) {
    if (x == 0 || !std::isfinite(x) || !std::isfinite(digitsArg)) return x;
    const double digitsTruncated = std::trunc(digitsArg);
    if (digitsTruncated > 400) return x;
    const long digits = digitsTruncated < -400 ? -400 : static_cast<long>(digitsTruncated);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(x));
    std::string mantissa;
    mantissa.push_back(buffer[0]);
    mantissa.append(buffer + 2, 14);
    const long exponent = std::strtol(std::strchr(buffer, 'e') + 1, nullptr, 10);
    const long keep = exponent + 1 + digits; // significant digits kept
    if (keep >= 15) return x;
    std::uint64_t kept = 0;
    for (long i = 0; i < keep; ++i)
        kept = kept * 10 + static_cast<std::uint64_t>(mantissa[static_cast<std::size_t>(i)] - '0');
    const std::string rest = keep < 0 ? mantissa : mantissa.substr(static_cast<std::size_t>(keep));
    bool up = false;
    if (mode == RoundMode::kHalfAway)
        up = keep >= 0 && rest[0] >= '5';
    else if (mode == RoundMode::kAway)
        up = rest.find_first_not_of('0') != std::string::npos;
    if (up) ++kept;
    const long scale = keep < 0 ? -digits : exponent + 1 - keep;
    if (keep < 0) kept = up ? 1 : 0;
    std::snprintf(buffer, sizeof buffer, "%llue%ld", static_cast<unsigned long long>(kept), scale);
    const double magnitude = std::strtod(buffer, nullptr);
    return x < 0 ? -magnitude : magnitude;
}

// Excel orders numbers < text < logical values; text compares without case.
int Compare(const CellValue& a, const CellValue& b) {
    auto rank = [](const CellValue& v) {
        return std::holds_alternative<double>(v) ? 0 : std::holds_alternative<std::u16string>(v) ? 1 : 2;
    };
    CellValue left = a;
    CellValue right = b;
    // A blank takes the other side's type.
    if (std::holds_alternative<Blank>(left)) {
        if (std::holds_alternative<std::u16string>(right))
            left = std::u16string();
        else if (std::holds_alternative<bool>(right))
            left = false;
        else
            left = 0.0;
    }
    if (std::holds_alternative<Blank>(right)) {
        if (std::holds_alternative<std::u16string>(left))
            right = std::u16string();
        else if (std::holds_alternative<bool>(left))
            right = false;
        else
            right = 0.0;
    }
    if (rank(left) != rank(right)) return rank(left) < rank(right) ? -1 : 1;
    if (const auto* x = std::get_if<double>(&left)) {
        const double y = std::get<double>(right);
        return *x < y ? -1 : *x > y ? 1 : 0;
    }
    if (const auto* x = std::get_if<bool>(&left)) {
        const bool y = std::get<bool>(right);
        return *x == y ? 0 : (*x ? 1 : -1);
    }
    const auto& s = std::get<std::u16string>(left);
    const auto& t = std::get<std::u16string>(right);
    for (std::size_t i = 0; i < s.size() && i < t.size(); ++i) {
        const char16_t p = UpperChar(s[i]);
        const char16_t q = UpperChar(t[i]);
        if (p != q) return p < q ? -1 : 1;
    }
    return s.size() == t.size() ? 0 : (s.size() < t.size() ? -1 : 1);
}

class Evaluator {
public:
    Evaluator(const Tokens& tokens, const Tree& tree, std::uint16_t formulaSheet, CellPos host,
              const WorkbookContext& context, EvalContext& cells)
        : rgce_(tokens.rgce), tree_(tree), sheet_(formulaSheet), host_(host), context_(context), cells_(cells) {}

    CellValue Result() {
        CellValue value = Scalar(Eval(tree_.root));
        if (std::holds_alternative<Blank>(value)) return 0.0; // =A1 of an empty A1 shows 0
        return value;
    }

private:
    CellValue CellAt(std::uint16_t sheet, std::uint32_t row, std::uint16_t col) {
        if (++visited_ > kMaxCellsVisited) throw CannotEvaluate{};
        auto value = cells_.Cell(sheet, CellPos{row, col});
        if (!value) throw CannotEvaluate{};
        // A file can hold any bit pattern in a number cell; Excel has no NaN
        // or infinity, so such a cell counts as #NUM! rather than reaching
        // the integer conversions below.
        if (const auto* d = std::get_if<double>(&*value)) return Checked(*d);
        return *value;
    }

    // A reference used as a single value: the cell itself, or the cell of the
    // area in the formula's own row or column (implicit intersection).
    CellValue Scalar(const Value& value) {
        const auto* ref = std::get_if<RefValue>(&value);
        if (ref == nullptr) {
            return std::visit(
                [](const auto& v) -> CellValue {
                    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, RefValue>)
                        return Blank{};
                    else
                        return v;
                },
                value);
        }
        if (ref->rowFirst == ref->rowLast && ref->colFirst == ref->colLast)
            return CellAt(ref->sheet, ref->rowFirst, ref->colFirst);
        if (ref->colFirst == ref->colLast && host_.row >= ref->rowFirst && host_.row <= ref->rowLast)
            return CellAt(ref->sheet, host_.row, ref->colFirst);
        if (ref->rowFirst == ref->rowLast && host_.col >= ref->colFirst && host_.col <= ref->colLast)
            return CellAt(ref->sheet, ref->rowFirst, host_.col);
        return Error(kErrValue);
    }

    CellValue ScalarOf(std::size_t index) { return Scalar(Eval(index)); }

    // Every value an aggregate argument stands for: the cells of a reference
    // (fromReference = true) or the argument's own value.
    template <typename Visit>
    void ForEachValue(std::size_t index, Visit visit) {
        const Value value = Eval(index);
        if (const auto* ref = std::get_if<RefValue>(&value)) {
            const std::uint64_t cellsInArea =
                (std::uint64_t{ref->rowLast} - ref->rowFirst + 1) * (std::uint64_t{ref->colLast} - ref->colFirst + 1);
            if (cellsInArea > kMaxCellsVisited) throw CannotEvaluate{};
            for (std::uint32_t r = ref->rowFirst; r <= ref->rowLast; ++r)
                for (std::uint32_t c = ref->colFirst; c <= ref->colLast; ++c)
                    if (!visit(CellAt(ref->sheet, r, static_cast<std::uint16_t>(c)), true)) return;
            return;
        }
        visit(Scalar(value), false);
    }

    Value Eval(std::size_t index) {
        const Node& node = tree_.nodes[index];
        switch (node.kind) {
        case Node::Kind::kOperand: return Operand(node);
        case Node::Kind::kParen: return Eval(node.children[0]);
        case Node::Kind::kUnary: {
            const CellValue v = ScalarOf(node.children[0]);
            if (node.ptg == kPtgUplus) return ToValue(v);
            const CellValue n = ToNumber(v);
            return IsError(n) ? ToValue(n) : Value(-std::get<double>(n));
        }
        case Node::Kind::kPercent: {
            const CellValue n = ToNumber(ScalarOf(node.children[0]));
            return IsError(n) ? ToValue(n) : Value(std::get<double>(n) / 100);
        }
        case Node::Kind::kBinary: return ToValue(Binary(node));
        case Node::Kind::kFunction: return Function(node);
        case Node::Kind::kWhole: throw CannotEvaluate{};
        }
        throw CannotEvaluate{};
    }

    static Value ToValue(const CellValue& v) {
        return std::visit([](const auto& x) -> Value { return x; }, v);
    }

    Value Operand(const Node& node) {
        const std::size_t at = node.offset;
        switch (node.ptg) {
        case kPtgMissArg: return Blank{};
        case kPtgStr: {
            const std::size_t cch = rgce_[at + 1];
            const bool wide = rgce_[at + 2] & 0x01;
            std::u16string text;
            for (std::size_t i = 0; i < cch; ++i)
                text.push_back(wide ? static_cast<char16_t>(ReadU16(rgce_, at + 3 + 2 * i))
                                    : static_cast<char16_t>(rgce_[at + 3 + i]));
            return text;
        }
        case kPtgErr: return ErrorValue{rgce_[at + 1]};
        case kPtgBool: return rgce_[at + 1] != 0;
        case kPtgInt: return static_cast<double>(ReadU16(rgce_, at + 1));
        case kPtgNum: {
            double value;
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b) bits = (bits << 8) | rgce_[at + 1 + static_cast<std::size_t>(b)];
            std::memcpy(&value, &bits, sizeof value);
            return ToValue(Checked(value));
        }
        default: break;
        }
        const std::uint8_t base = BaseOf(node.ptg);
        std::uint16_t sheet = sheet_;
        switch (base) {
        case kPtgRef3d:
        case kPtgArea3d: {
            const auto mapped = context_.SheetOfIxti(ReadU16(rgce_, at + 1));
            if (!mapped) throw CannotEvaluate{};
            sheet = *mapped;
            [[fallthrough]];
        }
        case kPtgRef:
        case kPtgArea:
        case kPtgRefN:
        case kPtgAreaN: {
            const Area a = ReadRefArea(rgce_, at, base, host_);
            if (a.rowFirst > a.rowLast || a.colFirst > a.colLast || a.colLast >= kMaxCols) return ErrorValue{kErrRef};
            return RefValue{sheet, a.rowFirst, a.rowLast, a.colFirst, a.colLast};
        }
        case kPtgRefErr:
        case kPtgAreaErr:
        case kPtgRefErr3d:
        case kPtgAreaErr3d: return ErrorValue{kErrRef};
        default: throw CannotEvaluate{}; // names, arrays, external names
        }
    }

    CellValue Binary(const Node& node) {
        if (node.ptg == kPtgRange || node.ptg == kPtgUnion || node.ptg == kPtgIsect) throw CannotEvaluate{};
        const CellValue a = ScalarOf(node.children[0]);
        const CellValue b = ScalarOf(node.children[1]);
        if (IsError(a)) return a;
        if (IsError(b)) return b;
        if (node.ptg >= kPtgLt && node.ptg <= kPtgNe) {
            const int c = Compare(a, b);
            switch (node.ptg) {
            case kPtgLt: return c < 0;
            case kPtgLe: return c <= 0;
            case kPtgEq: return c == 0;
            case kPtgGe: return c >= 0;
            case kPtgGt: return c > 0;
            default: return c != 0;
            }
        }
        if (node.ptg == kPtgConcat) {
            const std::u16string left = std::get<std::u16string>(ToText(a));
            const std::u16string right = std::get<std::u16string>(ToText(b));
            if (left.size() + right.size() > kMaxTextResult) return ErrorValue{kErrValue};
            return left + right;
        }
        const CellValue na = ToNumber(a);
        if (IsError(na)) return na;
        const CellValue nb = ToNumber(b);
        if (IsError(nb)) return nb;
        const double x = std::get<double>(na);
        const double y = std::get<double>(nb);
        switch (node.ptg) {
        case kPtgAdd: return Checked(x + y);
        case kPtgSub: return Checked(x - y);
        case kPtgMul: return Checked(x * y);
        case kPtgDiv: return y == 0 ? Error(kErrDiv0) : Checked(x / y);
        default: // kPtgPower
            if (x == 0 && y == 0) return Error(kErrNum);
            if (x == 0 && y < 0) return Error(kErrDiv0);
            return Checked(std::pow(x, y));
        }
    }

    CellValue Number(std::size_t index) { return ToNumber(ScalarOf(index)); }

    CellValue TextArg(std::size_t index) { return ToText(ScalarOf(index)); }

    // SUM, PRODUCT, MIN, MAX, AVERAGE, COUNT, COUNTA: cells of references
    // count only when they hold numbers (any value for COUNTA); values given
    // directly are converted, and text that is no number is #VALUE!.
    Value Aggregate(const Node& node) {
        const std::uint16_t id = node.functionId;
        double sum = 0;
        double product = 1;
        double minimum = 0;
        double maximum = 0;
        std::size_t count = 0;
        std::optional<CellValue> error;
        for (std::size_t child : node.children) {
            ForEachValue(child, [&](const CellValue& v, bool fromReference) {
                if (id == 169) { // COUNTA
                    if (!std::holds_alternative<Blank>(v)) ++count;
                    return true;
                }
                std::optional<double> number;
                if (fromReference) {
                    if (IsError(v) && id != 0) {
                        error = v;
                        return false;
                    }
                    if (const auto* d = std::get_if<double>(&v)) number = *d;
                } else if (!std::holds_alternative<Blank>(v)) {
                    const CellValue n = ToNumber(v);
                    if (IsError(n)) {
                        if (id == 0) return true; // COUNT just skips it
                        error = n;
                        return false;
                    }
                    number = std::get<double>(n);
                }
                if (number) {
                    sum += *number;
                    product *= *number;
                    minimum = count == 0 ? *number : std::min(minimum, *number);
                    maximum = count == 0 ? *number : std::max(maximum, *number);
                    ++count;
                }
                return true;
            });
            if (error) return ToValue(*error);
        }
        switch (id) {
        case 0:
        case 169: return static_cast<double>(count);
        case 4: return ToValue(Checked(sum));
        case 5: return count == 0 ? Value(ErrorValue{kErrDiv0}) : ToValue(Checked(sum / static_cast<double>(count)));
        case 6: return minimum;
        case 7: return maximum;
        default: return count == 0 ? Value(0.0) : ToValue(Checked(product)); // PRODUCT
        }
    }

    Value Logical(const Node& node) {
        const bool isAnd = node.functionId == 36;
        bool result = isAnd;
        bool any = false;
        std::optional<CellValue> error;
        for (std::size_t child : node.children) {
            ForEachValue(child, [&](const CellValue& v, bool fromReference) {
                if (IsError(v)) {
                    error = v;
                    return false;
                }
                if (std::holds_alternative<Blank>(v)) return true;
                if (fromReference && std::holds_alternative<std::u16string>(v)) return true;
                const CellValue b = ToBool(v);
                if (IsError(b)) {
                    error = b;
                    return false;
                }
                any = true;
                result = isAnd ? result && std::get<bool>(b) : result || std::get<bool>(b);
                return true;
            });
            if (error) return ToValue(*error);
        }
        if (!any) return ErrorValue{kErrValue};
        return result;
    }

    Value Round(const Node& node, RoundMode mode) {
        const CellValue x = Number(node.children[0]);
        if (IsError(x)) return ToValue(x);
        const CellValue d = Number(node.children[1]);
        if (IsError(d)) return ToValue(d);
        return RoundDecimal(std::get<double>(x), std::get<double>(d), mode);
    }

    Value Function(const Node& node) {
        const auto& args = node.children;
        switch (node.functionId) {
        case 0:
        case 4:
        case 5:
        case 6:
        case 7:
        case 169:
        case 183: return Aggregate(node);
        case 1: { // IF: only the branch taken is evaluated
            const CellValue condition = ToBool(ScalarOf(args[0]));
            if (IsError(condition)) return ToValue(condition);
            if (std::get<bool>(condition)) return Eval(args[1]);
            if (args.size() > 2) return Eval(args[2]);
            return false;
        }
        case 27: return Round(node, RoundMode::kHalfAway);
        case 212: return Round(node, RoundMode::kAway);
        case 213: return Round(node, RoundMode::kToward);
        case 24:
        case 25: {
            const CellValue x = Number(args[0]);
            if (IsError(x)) return ToValue(x);
            return node.functionId == 24 ? std::fabs(std::get<double>(x)) : std::floor(std::get<double>(x));
        }
        case 39: { // MOD
            const CellValue n = Number(args[0]);
            if (IsError(n)) return ToValue(n);
            const CellValue d = Number(args[1]);
            if (IsError(d)) return ToValue(d);
            const double x = std::get<double>(n);
            const double y = std::get<double>(d);
            if (y == 0) return ErrorValue{kErrDiv0};
            return ToValue(Checked(x - y * std::floor(x / y)));
        }
        case 36:
        case 37: return Logical(node);
        case 38: {
            const CellValue b = ToBool(ScalarOf(args[0]));
            if (IsError(b)) return ToValue(b);
            return !std::get<bool>(b);
        }
        case 34: return true;
        case 35: return false;
        case 336: { // CONCATENATE
            std::u16string text;
            for (std::size_t child : args) {
                const CellValue t = TextArg(child);
                if (IsError(t)) return ToValue(t);
                text += std::get<std::u16string>(t);
                if (text.size() > kMaxTextResult) return ErrorValue{kErrValue};
            }
            return text;
        }
        case 32:
        case 112:
        case 113:
        case 118: { // LEN, LOWER, UPPER, TRIM
            const CellValue t = TextArg(args[0]);
            if (IsError(t)) return ToValue(t);
            std::u16string text = std::get<std::u16string>(t);
            if (node.functionId == 32) return static_cast<double>(text.size());
            if (node.functionId == 118) return Trim(text);
            for (char16_t& c : text) c = node.functionId == 113 ? UpperChar(c) : LowerChar(c);
            return text;
        }
        case 115:
        case 116: { // LEFT, RIGHT
            const CellValue t = TextArg(args[0]);
            if (IsError(t)) return ToValue(t);
            double n = 1;
            if (args.size() > 1) {
                const CellValue count = Number(args[1]);
                if (IsError(count)) return ToValue(count);
                n = std::trunc(std::get<double>(count));
            }
            if (n < 0) return ErrorValue{kErrValue};
            const std::u16string& text = std::get<std::u16string>(t);
            const std::size_t k = n >= static_cast<double>(text.size()) ? text.size() : static_cast<std::size_t>(n);
            return node.functionId == 115 ? text.substr(0, k) : text.substr(text.size() - k);
        }
        case 31: { // MID
            const CellValue t = TextArg(args[0]);
            if (IsError(t)) return ToValue(t);
            const CellValue start = Number(args[1]);
            if (IsError(start)) return ToValue(start);
            const CellValue count = Number(args[2]);
            if (IsError(count)) return ToValue(count);
            const double s = std::trunc(std::get<double>(start));
            const double n = std::trunc(std::get<double>(count));
            if (s < 1 || n < 0) return ErrorValue{kErrValue};
            const std::u16string& text = std::get<std::u16string>(t);
            if (s > static_cast<double>(text.size())) return std::u16string();
            const auto from = static_cast<std::size_t>(s) - 1;
            const std::size_t k = n >= static_cast<double>(text.size()) ? text.size() : static_cast<std::size_t>(n);
            return text.substr(from, k);
        }
        case 3:
        case 127:
        case 128:
        case 129: { // ISERROR, ISTEXT, ISNUMBER, ISBLANK
            const CellValue v = ScalarOf(args[0]);
            switch (node.functionId) {
            case 3: return IsError(v);
            case 127: return std::holds_alternative<std::u16string>(v);
            case 128: return std::holds_alternative<double>(v);
            default: return std::holds_alternative<Blank>(v);
            }
        }
        default: throw CannotEvaluate{};
        }
    }

    static std::u16string Trim(const std::u16string& text) {
        std::u16string out;
        for (char16_t c : text) {
            if (c == u' ' && (out.empty() || out.back() == u' ')) continue;
            out.push_back(c);
        }
        if (!out.empty() && out.back() == u' ') out.pop_back();
        return out;
    }

    std::span<const std::uint8_t> rgce_;
    const Tree& tree_;
    std::uint16_t sheet_;
    CellPos host_;
    const WorkbookContext& context_;
    EvalContext& cells_;
    std::size_t visited_ = 0;
};

} // namespace

std::optional<CellValue> Evaluate(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host,
                                  const WorkbookContext& context, EvalContext& cells) {
    try {
        const Tree tree = Decode(tokens);
        Evaluator evaluator(tokens, tree, formulaSheet, host, context, cells);
        return evaluator.Result();
    } catch (const CannotEvaluate&) {
        return std::nullopt;
    } catch (const FormulaError&) {
        return std::nullopt;
    }
}

} // namespace vi2zezir::workbook::formula
