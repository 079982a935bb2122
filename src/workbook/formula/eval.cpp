// Formula results as Excel computes them, or none: the evaluator knows
// Excel's coercions, operand classes (a reference taken as a value, an array
// or itself), array formulas spread over their range, 3-D references and a
// small set of functions. For anything else (other functions, text it cannot
// read as a number the way Excel would, a cell the context cannot give) it
// answers nullopt, and the caller keeps Excel's stored result and has the
// spreadsheet compute it. Malformed tokens also answer nullopt.
#include "workbook/formula/internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vi2zezir::workbook::formula {
namespace {

using namespace detail;

constexpr std::uint8_t kErrDiv0 = 0x07;
constexpr std::uint8_t kErrValue = 0x0F;
constexpr std::uint8_t kErrRef = 0x17;
constexpr std::uint8_t kErrNum = 0x24;
constexpr std::uint8_t kErrNa = 0x2A;
// A formula summing more cells than this is left to the spreadsheet.
constexpr std::size_t kMaxCellsVisited = std::size_t{1} << 20;
// Longest text a formula yields; Excel gives #VALUE! for a longer one. Without
// it a chain of cells each joining the one above to itself doubles its
// text per cell, and a small template asks for gigabytes on save.
constexpr std::size_t kMaxTextResult = 32767;

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
              const WorkbookContext& context, EvalContext& cells, bool arrayFormula)
        : rgce_(tokens.rgce),
          tree_(tree),
          sheet_(formulaSheet),
          host_(host),
          context_(context),
          cells_(cells),
          arrayFormula_(arrayFormula) {}

    // A cell formula: an array result shows its first element, a reference
    // the cell implicit intersection picks.
    CellValue Result() {
        const Value value = Eval(tree_.root);
        CellValue result;
        if (const auto* array = std::get_if<ArrayValue>(&value))
            result = array->values.front();
        else if (const auto* ref = std::get_if<RefValue>(&value))
            result = Scalar(*ref);
        else
            result = ToCell(value);
        if (std::holds_alternative<Blank>(result)) return 0.0; // =A1 of an empty A1 shows 0
        return result;
    }

    std::vector<CellValue> ArrayResult(std::uint32_t rows, std::uint16_t cols) {
        if (std::uint64_t{rows} * cols > kMaxCellsVisited) throw CannotEvaluate{};
        const Value value = Eval(tree_.root);
        ArrayValue array;
        if (const auto* a = std::get_if<ArrayValue>(&value))
            array = *a;
        else if (const auto* ref = std::get_if<RefValue>(&value))
            array = ArrayOf(*ref);
        else
            array = ArrayValue{1, 1, {ToCell(value)}};
        std::vector<CellValue> cells;
        cells.reserve(std::size_t{rows} * cols);
        for (std::uint32_t r = 0; r < rows; ++r) {
            for (std::uint16_t c = 0; c < cols; ++c) {
                CellValue v = Element(array, r, c);
                if (std::holds_alternative<Blank>(v)) v = 0.0;
                cells.push_back(std::move(v));
            }
        }
        return cells;
    }

private:
    // A reference operand: the same sheets-rows-columns box dependency
    // tracking uses.
    using RefValue = Reference;
    struct ArrayValue {
        std::size_t rows = 0;
        std::size_t cols = 0;
        std::vector<CellValue> values; // row by row, never empty
    };
    using Value = std::variant<Blank, double, std::u16string, bool, ErrorValue, RefValue, ArrayValue>;

    // An operand of an element-wise operation: one value, or an array.
    struct Arg {
        bool isArray = false;
        CellValue scalar;
        ArrayValue array;
    };

    static constexpr int kMaxNameDepth = 16;

    static Value ToValue(const CellValue& v) {
        return std::visit([](const auto& x) -> Value { return x; }, v);
    }
    static CellValue ToCell(const Value& v) {
        return std::visit(
            [](const auto& x) -> CellValue {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, RefValue> || std::is_same_v<T, ArrayValue>)
                    throw CannotEvaluate{};
                else
                    return x;
            },
            v);
    }

    CellValue CellAt(std::uint16_t sheet, std::uint32_t row, std::uint16_t col) {
        if (++*visited_ > kMaxCellsVisited) throw CannotEvaluate{};
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
    CellValue Scalar(const RefValue& ref) {
        if (ref.sheetFirst != ref.sheetLast) throw CannotEvaluate{};
        if (ref.rowFirst == ref.rowLast && ref.colFirst == ref.colLast)
            return CellAt(ref.sheetFirst, ref.rowFirst, ref.colFirst);
        // Each cell of an array formula intersects on its own row or column.
        if (arrayFormula_) throw CannotEvaluate{};
        if (ref.colFirst == ref.colLast && host_.row >= ref.rowFirst && host_.row <= ref.rowLast)
            return CellAt(ref.sheetFirst, host_.row, ref.colFirst);
        if (ref.rowFirst == ref.rowLast && host_.col >= ref.colFirst && host_.col <= ref.colLast)
            return CellAt(ref.sheetFirst, ref.rowFirst, host_.col);
        return Error(kErrValue);
    }

    ArrayValue ArrayOf(const RefValue& ref) {
        if (ref.sheetFirst != ref.sheetLast) throw CannotEvaluate{};
        const std::size_t rows = std::size_t{ref.rowLast} - ref.rowFirst + 1;
        const std::size_t cols = std::size_t{ref.colLast} - ref.colFirst + 1;
        if (rows * cols > kMaxCellsVisited) throw CannotEvaluate{};
        ArrayValue array{rows, cols, {}};
        array.values.reserve(rows * cols);
        for (std::uint32_t r = ref.rowFirst; r <= ref.rowLast; ++r)
            for (std::uint32_t c = ref.colFirst; c <= ref.colLast; ++c)
                array.values.push_back(CellAt(ref.sheetFirst, r, static_cast<std::uint16_t>(c)));
        return array;
    }

    // Element (r, c) of an array stretched over a larger one: a single row
    // repeats down, a single column across, and beyond that it is #N/A.
    static CellValue Element(const ArrayValue& a, std::size_t r, std::size_t c) {
        if (a.rows == 1) r = 0;
        if (a.cols == 1) c = 0;
        if (r >= a.rows || c >= a.cols) return Error(kErrNa);
        return a.values[r * a.cols + c];
    }

    // What a token's operand class makes of a reference: a value (implicit
    // intersection), an array of the cells' values, or the reference itself.
    Value Classed(Value value, std::uint8_t ptg) {
        const auto* ref = std::get_if<RefValue>(&value);
        if (ref == nullptr) return value;
        switch (static_cast<OperandClass>(ptg & 0x60)) {
        // In an array formula a value is wanted of every cell.
        case OperandClass::kValue: return arrayFormula_ ? Value(ArrayOf(*ref)) : ToValue(Scalar(*ref));
        case OperandClass::kArray: return ArrayOf(*ref);
        default: return value;
        }
    }

    Arg ArgOf(const Value& value) {
        Arg arg;
        if (const auto* array = std::get_if<ArrayValue>(&value)) {
            if (array->values.size() == 1) {
                arg.scalar = array->values.front();
                return arg;
            }
            arg.isArray = true;
            arg.array = *array;
        } else if (const auto* ref = std::get_if<RefValue>(&value)) {
            // A reference where a value is wanted: the cells' values in an
            // array formula, the intersecting cell in a cell formula.
            if (arrayFormula_) {
                arg.array = ArrayOf(*ref);
                arg.isArray = arg.array.values.size() > 1;
                if (!arg.isArray) arg.scalar = arg.array.values.front();
            } else {
                arg.scalar = Scalar(*ref);
            }
        } else {
            arg.scalar = ToCell(value);
        }
        return arg;
    }

    // Applies f to single values, element by element where any is an array.
    template <typename F>
    Value Lift(const std::vector<Arg>& args, F f) {
        std::size_t rows = 0, cols = 0;
        for (const auto& arg : args) {
            if (!arg.isArray) continue;
            rows = std::max(rows, arg.array.rows);
            cols = std::max(cols, arg.array.cols);
        }
        std::vector<CellValue> values(args.size());
        if (rows == 0) {
            for (std::size_t i = 0; i < args.size(); ++i) values[i] = args[i].scalar;
            return ToValue(f(values));
        }
        if (rows * cols > kMaxCellsVisited) throw CannotEvaluate{};
        ArrayValue out{rows, cols, {}};
        out.values.reserve(rows * cols);
        for (std::size_t r = 0; r < rows; ++r) {
            for (std::size_t c = 0; c < cols; ++c) {
                for (std::size_t i = 0; i < args.size(); ++i)
                    values[i] = args[i].isArray ? Element(args[i].array, r, c) : args[i].scalar;
                out.values.push_back(f(values));
            }
        }
        return out;
    }

    // A function of value parameters, applied element-wise to array arguments.
    template <typename F>
    Value LiftArgs(const Node& node, F f) {
        std::vector<Arg> args;
        args.reserve(node.children.size());
        for (std::size_t child : node.children) args.push_back(ArgOf(Eval(child)));
        return Lift(args, f);
    }

    // Every value an aggregate argument stands for: the cells of a reference
    // or the elements of an array (inList = true), or the argument's value.
    template <typename Visit>
    void ForEachValue(std::size_t index, Visit visit) {
        const Value value = Eval(index);
        if (const auto* ref = std::get_if<RefValue>(&value)) {
            const std::uint64_t cellsInArea = (std::uint64_t{ref->sheetLast} - ref->sheetFirst + 1) *
                                              (std::uint64_t{ref->rowLast} - ref->rowFirst + 1) *
                                              (std::uint64_t{ref->colLast} - ref->colFirst + 1);
            if (cellsInArea > kMaxCellsVisited) throw CannotEvaluate{};
            for (std::uint32_t s = ref->sheetFirst; s <= ref->sheetLast; ++s)
                for (std::uint32_t r = ref->rowFirst; r <= ref->rowLast; ++r)
                    for (std::uint32_t c = ref->colFirst; c <= ref->colLast; ++c)
                        if (!visit(CellAt(static_cast<std::uint16_t>(s), r, static_cast<std::uint16_t>(c)), true))
                            return;
            return;
        }
        if (const auto* array = std::get_if<ArrayValue>(&value)) {
            for (const auto& v : array->values)
                if (!visit(v, true)) return;
            return;
        }
        visit(ToCell(value), false);
    }

    Value Eval(std::size_t index) {
        const Node& node = tree_.nodes[index];
        switch (node.kind) {
        case Node::Kind::kOperand: return Operand(node);
        case Node::Kind::kParen: return Eval(node.children[0]);
        case Node::Kind::kUnary:
            return LiftArgs(node, [&](std::span<const CellValue> v) -> CellValue {
                if (node.ptg == kPtgUplus) return v[0];
                const CellValue n = ToNumber(v[0]);
                return IsError(n) ? n : CellValue(-std::get<double>(n));
            });
        case Node::Kind::kPercent:
            return LiftArgs(node, [](std::span<const CellValue> v) -> CellValue {
                const CellValue n = ToNumber(v[0]);
                return IsError(n) ? n : CellValue(std::get<double>(n) / 100);
            });
        case Node::Kind::kBinary:
            if (node.ptg == kPtgRange || node.ptg == kPtgUnion || node.ptg == kPtgIsect) throw CannotEvaluate{};
            return LiftArgs(node, [&](std::span<const CellValue> v) { return Binary(node.ptg, v[0], v[1]); });
        case Node::Kind::kFunction: return Function(node);
        case Node::Kind::kWhole: throw CannotEvaluate{};
        }
        throw CannotEvaluate{};
    }

    Value Operand(const Node& node) {
        const std::size_t at = node.offset;
        switch (node.ptg) {
        case kPtgMissArg: return Blank{};
        case kPtgStr: return PtgStrText(rgce_, at);
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
        std::uint16_t sheetFirst = sheet_;
        std::uint16_t sheetLast = sheet_;
        switch (base) {
        case kPtgArray: {
            const ArrayConstant& constant = tree_.arrays[node.arrayIndex];
            if (constant.values.empty()) throw CannotEvaluate{};
            // Where a single value is wanted, an array constant gives its first.
            if (static_cast<OperandClass>(node.ptg & 0x60) == OperandClass::kValue && !arrayFormula_)
                return ToValue(constant.values.front());
            return ArrayValue{constant.rows, constant.cols, constant.values};
        }
        case kPtgName: return Classed(NameValue(ReadU16(rgce_, at + 1)), node.ptg);
        case kPtgRef3d:
        case kPtgArea3d: {
            const auto mapped = context_.SheetsOfIxti(ReadU16(rgce_, at + 1));
            if (!mapped || mapped->first > mapped->second) throw CannotEvaluate{};
            sheetFirst = mapped->first;
            sheetLast = mapped->second;
            [[fallthrough]];
        }
        case kPtgRef:
        case kPtgArea:
        case kPtgRefN:
        case kPtgAreaN: {
            // A defined name's relative references move with the cell using
            // the name, and its plain ones mean the sheet of that cell.
            if (inName_ && base != kPtgRef3d && base != kPtgArea3d) throw CannotEvaluate{};
            const Area a = ReadRefArea(rgce_, at, base, host_);
            if (inName_ && (a.rowFirstRel || a.rowLastRel || a.colFirstRel || a.colLastRel)) throw CannotEvaluate{};
            if (a.rowFirst > a.rowLast || a.colFirst > a.colLast || a.colLast >= kMaxCols) return ErrorValue{kErrRef};
            return Classed(RefValue{sheetFirst, sheetLast, a.rowFirst, a.rowLast, a.colFirst, a.colLast}, node.ptg);
        }
        case kPtgRefErr:
        case kPtgAreaErr:
        case kPtgRefErr3d:
        case kPtgAreaErr3d: return ErrorValue{kErrRef};
        default: throw CannotEvaluate{}; // external names, table and shared-formula markers
        }
    }

    // A defined name stands for what its own formula gives in this cell.
    Value NameValue(std::uint16_t nameIndex) {
        if (nameDepth_ >= kMaxNameDepth) throw CannotEvaluate{};
        const auto tokens = cells_.NameTokens(nameIndex);
        if (!tokens || tokens->rgce.empty()) throw CannotEvaluate{};
        const Tree tree = Decode(*tokens);
        Evaluator nested(*tokens, tree, sheet_, host_, context_, cells_, arrayFormula_);
        nested.inName_ = true;
        nested.nameDepth_ = nameDepth_ + 1;
        nested.visited_ = visited_;
        return nested.Eval(tree.root);
    }

    CellValue Binary(std::uint8_t ptg, const CellValue& a, const CellValue& b) {
        if (IsError(a)) return a;
        if (IsError(b)) return b;
        if (ptg >= kPtgLt && ptg <= kPtgNe) {
            const int c = Compare(a, b);
            switch (ptg) {
            case kPtgLt: return c < 0;
            case kPtgLe: return c <= 0;
            case kPtgEq: return c == 0;
            case kPtgGe: return c >= 0;
            case kPtgGt: return c > 0;
            default: return c != 0;
            }
        }
        if (ptg == kPtgConcat) {
            const std::u16string left = std::get<std::u16string>(ToText(a));
            const std::u16string right = std::get<std::u16string>(ToText(b));
            if (left.size() + right.size() > kMaxTextResult) return Error(kErrValue);
            return left + right;
        }
        const CellValue na = ToNumber(a);
        if (IsError(na)) return na;
        const CellValue nb = ToNumber(b);
        if (IsError(nb)) return nb;
        const double x = std::get<double>(na);
        const double y = std::get<double>(nb);
        switch (ptg) {
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

    // Which error an aggregate gives when its arguments hold several is a
    // matter of Excel's order of evaluation: one kind of error is certain,
    // different ones are left to Excel.
    struct Errors {
        std::optional<CellValue> first;
        void Add(const CellValue& error) {
            if (first && !(*first == error)) throw CannotEvaluate{};
            first = error;
        }
    };

    // SUM, PRODUCT, MIN, MAX, AVERAGE, COUNT, COUNTA: cells of references and
    // elements of arrays count only when they hold numbers (any value for
    // COUNTA); values given directly are converted, and text that is no
    // number is #VALUE!.
    Value Aggregate(const Node& node) {
        const std::uint16_t id = node.functionId;
        double sum = 0;
        double product = 1;
        double minimum = 0;
        double maximum = 0;
        std::size_t count = 0;
        Errors errors;
        for (std::size_t child : node.children) {
            ForEachValue(child, [&](const CellValue& v, bool inList) {
                if (id == 169) { // COUNTA
                    if (!std::holds_alternative<Blank>(v)) ++count;
                    return true;
                }
                std::optional<double> number;
                if (inList) {
                    if (IsError(v) && id != 0) errors.Add(v);
                    if (const auto* d = std::get_if<double>(&v)) number = *d;
                } else if (!std::holds_alternative<Blank>(v)) {
                    const CellValue n = ToNumber(v);
                    if (IsError(n)) {
                        if (id != 0) errors.Add(n); // COUNT just skips it
                        return true;
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
        }
        if (errors.first) return ToValue(*errors.first);
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

    // AND, OR: references and arrays give their logical values and numbers,
    // their text and blanks are passed over; with no logical value at all
    // the result is #VALUE!. Text given directly is left to Excel.
    Value Logical(const Node& node) {
        const bool isAnd = node.functionId == 36;
        bool result = isAnd;
        bool any = false;
        Errors errors;
        for (std::size_t child : node.children) {
            ForEachValue(child, [&](const CellValue& v, bool inList) {
                if (IsError(v)) {
                    errors.Add(v);
                    return true;
                }
                if (std::holds_alternative<Blank>(v)) return true;
                if (std::holds_alternative<std::u16string>(v)) {
                    if (!inList) throw CannotEvaluate{};
                    return true;
                }
                const CellValue b = ToBool(v);
                any = true;
                result = isAnd ? result && std::get<bool>(b) : result || std::get<bool>(b);
                return true;
            });
        }
        if (errors.first) return ToValue(*errors.first);
        if (!any) return ErrorValue{kErrValue};
        return result;
    }

    Value If(const Node& node) {
        const auto& args = node.children;
        const Arg condition = ArgOf(Eval(args[0]));
        if (!condition.isArray) {
            const CellValue b = ToBool(condition.scalar);
            if (IsError(b)) return ToValue(b);
            if (std::get<bool>(b)) return Eval(args[1]);
            if (args.size() > 2) return Eval(args[2]);
            return false;
        }
        // An array of conditions picks element by element.
        if (!arrayFormula_) throw CannotEvaluate{};
        std::vector<Arg> parts{condition, ArgOf(Eval(args[1])), Arg{}};
        parts[2].scalar = false;
        if (args.size() > 2) parts[2] = ArgOf(Eval(args[2]));
        return Lift(parts, [](std::span<const CellValue> v) -> CellValue {
            const CellValue b = ToBool(v[0]);
            if (IsError(b)) return b;
            return std::get<bool>(b) ? v[1] : v[2];
        });
    }

    ArrayValue ArrayArg(std::size_t index) {
        const Value value = Eval(index);
        if (const auto* array = std::get_if<ArrayValue>(&value)) return *array;
        if (const auto* ref = std::get_if<RefValue>(&value)) return ArrayOf(*ref);
        return ArrayValue{1, 1, {ToCell(value)}};
    }

    static Value Transpose(const ArrayValue& a) {
        ArrayValue out{a.cols, a.rows, {}};
        out.values.reserve(a.values.size());
        for (std::size_t c = 0; c < a.cols; ++c)
            for (std::size_t r = 0; r < a.rows; ++r) out.values.push_back(a.values[r * a.cols + c]);
        return out;
    }

    // MMULT: numbers only, and as many columns in the first as rows in the
    // second.
    static Value MatrixProduct(const ArrayValue& a, const ArrayValue& b) {
        const auto numeric = [](const ArrayValue& m) {
            return std::all_of(m.values.begin(), m.values.end(),
                               [](const CellValue& v) { return std::holds_alternative<double>(v); });
        };
        if (a.cols != b.rows || !numeric(a) || !numeric(b)) return ErrorValue{kErrValue};
        if (a.rows * b.cols > kMaxCellsVisited || a.cols > kMaxCellsVisited / std::max<std::size_t>(1, a.rows * b.cols))
            throw CannotEvaluate{};
        ArrayValue out{a.rows, b.cols, {}};
        for (std::size_t r = 0; r < a.rows; ++r) {
            for (std::size_t c = 0; c < b.cols; ++c) {
                double sum = 0;
                for (std::size_t k = 0; k < a.cols; ++k)
                    sum += std::get<double>(a.values[r * a.cols + k]) * std::get<double>(b.values[k * b.cols + c]);
                out.values.push_back(Checked(sum));
            }
        }
        return out;
    }

    // SUMPRODUCT: arrays of one size; what is no number counts as zero.
    Value SumProduct(const Node& node) {
        std::vector<ArrayValue> arrays;
        for (std::size_t child : node.children) {
            arrays.push_back(ArrayArg(child));
            if (arrays.back().rows != arrays.front().rows || arrays.back().cols != arrays.front().cols)
                return ErrorValue{kErrValue};
        }
        Errors errors;
        double sum = 0;
        for (std::size_t i = 0; i < arrays.front().values.size(); ++i) {
            double product = 1;
            for (const auto& a : arrays) {
                const CellValue& v = a.values[i];
                if (IsError(v)) errors.Add(v);
                const double* d = std::get_if<double>(&v);
                product *= d ? *d : 0;
            }
            sum += product;
        }
        if (errors.first) return ToValue(*errors.first);
        return ToValue(Checked(sum));
    }

    static CellValue Round(std::span<const CellValue> v, RoundMode mode) {
        const CellValue x = ToNumber(v[0]);
        if (IsError(x)) return x;
        const CellValue d = ToNumber(v[1]);
        if (IsError(d)) return d;
        return RoundDecimal(std::get<double>(x), std::get<double>(d), mode);
    }

    Value Function(const Node& node) {
        switch (node.functionId) {
        case 0:
        case 4:
        case 5:
        case 6:
        case 7:
        case 169:
        case 183: return Aggregate(node);
        case 1: return If(node);
        case 36:
        case 37: return Logical(node);
        case 34: return true;
        case 35: return false;
        case 83: return Transpose(ArrayArg(node.children[0]));
        case 165: return MatrixProduct(ArrayArg(node.children[0]), ArrayArg(node.children[1]));
        case 228: return SumProduct(node);
        default: break;
        }
        const std::uint16_t id = node.functionId;
        return LiftArgs(node, [id](std::span<const CellValue> v) { return ScalarFunction(id, v); });
    }

    // The functions of value parameters, on single values.
    static CellValue ScalarFunction(std::uint16_t id, std::span<const CellValue> v) {
        switch (id) {
        case 27: return Round(v, RoundMode::kHalfAway);
        case 212: return Round(v, RoundMode::kAway);
        case 213: return Round(v, RoundMode::kToward);
        case 24:
        case 25: {
            const CellValue x = ToNumber(v[0]);
            if (IsError(x)) return x;
            return id == 24 ? std::fabs(std::get<double>(x)) : std::floor(std::get<double>(x));
        }
        case 39: { // MOD
            const CellValue n = ToNumber(v[0]);
            if (IsError(n)) return n;
            const CellValue d = ToNumber(v[1]);
            if (IsError(d)) return d;
            const double x = std::get<double>(n);
            const double y = std::get<double>(d);
            if (y == 0) return Error(kErrDiv0);
            return Checked(x - y * std::floor(x / y));
        }
        case 38: {
            const CellValue b = ToBool(v[0]);
            if (IsError(b)) return b;
            return !std::get<bool>(b);
        }
        case 336: { // CONCATENATE
            std::u16string text;
            for (const auto& arg : v) {
                const CellValue t = ToText(arg);
                if (IsError(t)) return t;
                text += std::get<std::u16string>(t);
                if (text.size() > kMaxTextResult) return Error(kErrValue);
            }
            return text;
        }
        case 32:
        case 112:
        case 113:
        case 118: { // LEN, LOWER, UPPER, TRIM
            const CellValue t = ToText(v[0]);
            if (IsError(t)) return t;
            std::u16string text = std::get<std::u16string>(t);
            if (id == 32) return static_cast<double>(text.size());
            if (id == 118) return Trim(text);
            for (char16_t& c : text) c = id == 113 ? UpperChar(c) : LowerChar(c);
            return text;
        }
        case 115:
        case 116: { // LEFT, RIGHT
            const CellValue t = ToText(v[0]);
            if (IsError(t)) return t;
            double n = 1;
            if (v.size() > 1) {
                const CellValue count = ToNumber(v[1]);
                if (IsError(count)) return count;
                n = std::trunc(std::get<double>(count));
            }
            if (n < 0) return Error(kErrValue);
            const std::u16string& text = std::get<std::u16string>(t);
            const std::size_t k = n >= static_cast<double>(text.size()) ? text.size() : static_cast<std::size_t>(n);
            return id == 115 ? text.substr(0, k) : text.substr(text.size() - k);
        }
        case 31: { // MID
            const CellValue t = ToText(v[0]);
            if (IsError(t)) return t;
            const CellValue start = ToNumber(v[1]);
            if (IsError(start)) return start;
            const CellValue count = ToNumber(v[2]);
            if (IsError(count)) return count;
            const double s = std::trunc(std::get<double>(start));
            const double n = std::trunc(std::get<double>(count));
            if (s < 1 || n < 0) return Error(kErrValue);
            const std::u16string& text = std::get<std::u16string>(t);
            if (s > static_cast<double>(text.size())) return std::u16string();
            const auto from = static_cast<std::size_t>(s) - 1;
            const std::size_t k = n >= static_cast<double>(text.size()) ? text.size() : static_cast<std::size_t>(n);
            return text.substr(from, k);
        }
        case 3: return IsError(v[0]); // ISERROR
        case 127: return std::holds_alternative<std::u16string>(v[0]);
        case 128: return std::holds_alternative<double>(v[0]);
        case 129: return std::holds_alternative<Blank>(v[0]);
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
    bool arrayFormula_ = false;
    bool inName_ = false;
    int nameDepth_ = 0;
    std::size_t ownVisited_ = 0;
    std::size_t* visited_ = &ownVisited_; // shared with the names it evaluates
};

} // namespace

std::optional<CellValue> Evaluate(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host,
                                  const WorkbookContext& context, EvalContext& cells) {
    try {
        const Tree tree = Decode(tokens);
        Evaluator evaluator(tokens, tree, formulaSheet, host, context, cells, false);
        return evaluator.Result();
    } catch (const CannotEvaluate&) {
        return std::nullopt;
    } catch (const workbook::Error&) { // malformed tokens
        return std::nullopt;
    }
}

std::optional<std::vector<CellValue>> EvaluateArray(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host,
                                                    std::uint32_t rows, std::uint16_t cols,
                                                    const WorkbookContext& context, EvalContext& cells) {
    try {
        const Tree tree = Decode(tokens);
        Evaluator evaluator(tokens, tree, formulaSheet, host, context, cells, true);
        return evaluator.ArrayResult(rows, cols);
    } catch (const CannotEvaluate&) {
        return std::nullopt;
    } catch (const workbook::Error&) { // malformed tokens
        return std::nullopt;
    }
}

} // namespace vi2zezir::workbook::formula
