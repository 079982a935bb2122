// A1 formula text (en-US) to BIFF8 tokens, the way Excel stores a formula
// typed into a cell:
// - operator precedence: unary -/+, %, ^, * /, + -, &, comparisons; all binary
//   operators associate to the left (=2^3^2 is 64 in Excel);
// - whitespace kept as PtgAttrSpace, each run placed right before the token
//   whose symbol it precedes in the text (before the operator token for "A1 +",
//   before the function token for " SUM(", before the last PtgAttrGoto of IF and
//   CHOOSE);
// - operand classes transformed from each function's parameter classes with a
//   value-class root, as Excel does for cell formulas;
// - IF and CHOOSE with PtgAttrIf / PtgAttrChoose / PtgAttrGoto jump offsets;
// - formulas calling volatile functions start with PtgAttrSemi.
// Not supported (Error, BadFormula): array constants, the union and intersection
// operators, ":" between anything but two cell addresses, sheet ranges
// (Sheet1:Sheet3!A1), external references, and functions newer than BIFF8.
#include "workbook/formula/internal.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace vi2zezir::workbook::formula {
namespace {

using namespace detail;

constexpr std::size_t kMaxTextLength = 8192;

struct PNode {
    Node::Kind kind = Node::Kind::kOperand;
    std::vector<std::uint8_t> bytes; // operand token
    bool classified = false;         // operand whose class bits follow the context
    std::uint8_t op = 0;             // operator token
    const FunctionInfo* function = nullptr;
    OperandClass cls = OperandClass::kReference;
    std::u16string lead;
    std::u16string openLead;
    std::u16string closeLead;
    std::vector<std::unique_ptr<PNode>> children;
};
using PNodePtr = std::unique_ptr<PNode>;

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsNameStart(char16_t c) { return IsLetter(c) || c == u'_' || c == u'\\' || c >= 0x80; }
bool IsNameChar(char16_t c) { return IsNameStart(c) || IsDigit(c) || c == u'.' || c == u'?'; }
char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }
std::u16string UpperAscii(std::u16string_view text) {
    std::u16string up;
    up.reserve(text.size());
    for (char16_t c : text) up.push_back(Upper(c));
    return up;
}

struct CellAddress {
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    bool rowRel = true;
    bool colRel = true;
};

class Parser {
public:
    Parser(std::u16string_view text, const WorkbookContext& context) : text_(text), context_(context) {}

    PNodePtr ParseFormula() {
        PNodePtr root = ParseComparison();
        SkipWhitespace(); // trailing whitespace has no token to stand before
        if (pos_ != text_.size()) Error("unexpected text");
        return root;
    }

private:
    [[noreturn]] void Error(const char* what) const {
        throw workbook::Error(ErrorKind::BadFormula, std::string(what) + " at position " + std::to_string(pos_ + 1));
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char16_t Peek(std::size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : u'\0'; }

    // Whitespace runs are returned as written (spaces and line feeds); a CR of
    // a CR LF pair is dropped, a tab counts as a space.
    std::u16string SkipWhitespace() {
        std::u16string run;
        while (!AtEnd()) {
            const char16_t c = text_[pos_];
            if (c == u' ' || c == u'\t')
                run.push_back(u' ');
            else if (c == u'\n')
                run.push_back(u'\n');
            else if (c == u'\r') {
                if (Peek(1) != u'\n') run.push_back(u'\n');
            } else
                break;
            ++pos_;
        }
        return run;
    }

    struct DepthGuard {
        explicit DepthGuard(Parser& parser) : parser_(parser) {
            if (++parser_.depth_ > kMaxParseDepth) parser_.Error("formula is nested too deeply");
        }
        ~DepthGuard() { --parser_.depth_; }
        DepthGuard(const DepthGuard&) = delete;
        DepthGuard& operator=(const DepthGuard&) = delete;
        Parser& parser_;
    };

    static PNodePtr Binary(std::uint8_t op, PNodePtr left, PNodePtr right, std::u16string lead) {
        auto node = std::make_unique<PNode>();
        node->kind = Node::Kind::kBinary;
        node->op = op;
        node->lead = std::move(lead);
        node->children.push_back(std::move(left));
        node->children.push_back(std::move(right));
        return node;
    }

    // One left-associative precedence level: `match` recognises the operator at
    // the current position and returns its token and length (0 = none).
    template <typename Next, typename Match>
    PNodePtr BinaryLevel(Next next, Match match) {
        PNodePtr left = (this->*next)();
        for (;;) {
            const std::size_t save = pos_;
            std::u16string ws = SkipWhitespace();
            const auto [op, length] = match();
            if (length == 0) {
                pos_ = save;
                return left;
            }
            pos_ += length;
            PNodePtr right = (this->*next)();
            left = Binary(op, std::move(left), std::move(right), std::move(ws));
        }
    }

    PNodePtr ParseComparison() {
        return BinaryLevel(&Parser::ParseConcat, [this]() -> std::pair<std::uint8_t, std::size_t> {
            const char16_t c = Peek();
            const char16_t d = Peek(1);
            if (c == u'<' && d == u'>') return {kPtgNe, 2};
            if (c == u'<' && d == u'=') return {kPtgLe, 2};
            if (c == u'>' && d == u'=') return {kPtgGe, 2};
            if (c == u'<') return {kPtgLt, 1};
            if (c == u'>') return {kPtgGt, 1};
            if (c == u'=') return {kPtgEq, 1};
            return {0, 0};
        });
    }
    PNodePtr ParseConcat() {
        return BinaryLevel(&Parser::ParseAdditive, [this]() -> std::pair<std::uint8_t, std::size_t> {
            return Peek() == u'&' ? std::pair<std::uint8_t, std::size_t>{kPtgConcat, 1}
                                  : std::pair<std::uint8_t, std::size_t>{0, 0};
        });
    }
    PNodePtr ParseAdditive() {
        return BinaryLevel(&Parser::ParseMultiplicative, [this]() -> std::pair<std::uint8_t, std::size_t> {
            if (Peek() == u'+') return {kPtgAdd, 1};
            if (Peek() == u'-') return {kPtgSub, 1};
            return {0, 0};
        });
    }
    PNodePtr ParseMultiplicative() {
        return BinaryLevel(&Parser::ParsePower, [this]() -> std::pair<std::uint8_t, std::size_t> {
            if (Peek() == u'*') return {kPtgMul, 1};
            if (Peek() == u'/') return {kPtgDiv, 1};
            return {0, 0};
        });
    }
    PNodePtr ParsePower() {
        return BinaryLevel(&Parser::ParsePostfix, [this]() -> std::pair<std::uint8_t, std::size_t> {
            return Peek() == u'^' ? std::pair<std::uint8_t, std::size_t>{kPtgPower, 1}
                                  : std::pair<std::uint8_t, std::size_t>{0, 0};
        });
    }

    PNodePtr ParsePostfix() {
        PNodePtr operand = ParseUnary();
        for (;;) {
            const std::size_t save = pos_;
            std::u16string ws = SkipWhitespace();
            if (Peek() != u'%') {
                pos_ = save;
                return operand;
            }
            ++pos_;
            auto node = std::make_unique<PNode>();
            node->kind = Node::Kind::kPercent;
            node->op = kPtgPercent;
            node->lead = std::move(ws);
            node->children.push_back(std::move(operand));
            operand = std::move(node);
        }
    }

    PNodePtr ParseUnary() {
        DepthGuard guard(*this);
        const std::size_t save = pos_;
        std::u16string ws = SkipWhitespace();
        if (Peek() == u'-' || Peek() == u'+') {
            auto node = std::make_unique<PNode>();
            node->kind = Node::Kind::kUnary;
            node->op = Peek() == u'-' ? kPtgUminus : kPtgUplus;
            node->lead = std::move(ws);
            ++pos_;
            node->children.push_back(ParseUnary());
            return node;
        }
        pos_ = save;
        return ParsePrimary();
    }

    PNodePtr Operand(std::vector<std::uint8_t> bytes, bool classified, std::u16string lead) {
        auto node = std::make_unique<PNode>();
        node->bytes = std::move(bytes);
        node->classified = classified;
        node->lead = std::move(lead);
        return node;
    }

    PNodePtr ParsePrimary() {
        DepthGuard guard(*this);
        std::u16string ws = SkipWhitespace();
        if (AtEnd()) Error("formula ends where an operand is expected");
        const char16_t c = Peek();
        if (c == u'(') {
            ++pos_;
            auto node = std::make_unique<PNode>();
            node->kind = Node::Kind::kParen;
            node->op = kPtgParen;
            node->openLead = std::move(ws);
            node->children.push_back(ParseComparison());
            node->closeLead = SkipWhitespace();
            if (Peek() != u')') Error("missing \")\"");
            ++pos_;
            return node;
        }
        if (c == u'"') return Operand(ParseString(), false, std::move(ws));
        if (c == u'#') return Operand(ParseError(), false, std::move(ws));
        if (c == u'{') Error("array constants are not supported");
        if (IsDigit(c) || c == u'.' || c == u'$' || IsNameStart(c) || c == u'\'') {
            if (auto reference = TryReference(std::nullopt)) return Operand(std::move(*reference), true, std::move(ws));
            if (IsDigit(c) || c == u'.') return Operand(ParseNumber(), false, std::move(ws));
            return ParseNameLike(std::move(ws));
        }
        Error("unexpected character");
    }

    std::vector<std::uint8_t> ParseString() {
        ++pos_; // opening quote
        std::u16string value;
        for (;;) {
            if (AtEnd()) Error("a text constant has no closing quote");
            const char16_t c = text_[pos_++];
            if (c == u'"') {
                if (Peek() != u'"') break;
                ++pos_;
            }
            value.push_back(c);
        }
        if (value.size() > 255) Error("a text constant is longer than 255 characters");
        bool wide = false;
        for (char16_t ch : value) wide = wide || ch > 0xFF;
        std::vector<std::uint8_t> bytes{kPtgStr, static_cast<std::uint8_t>(value.size()),
                                        static_cast<std::uint8_t>(wide ? 1 : 0)};
        for (char16_t ch : value) {
            bytes.push_back(static_cast<std::uint8_t>(ch & 0xFF));
            if (wide) bytes.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
        return bytes;
    }

    std::vector<std::uint8_t> ParseError() {
        for (std::size_t length = 7; length >= 4; --length) {
            if (pos_ + length > text_.size()) continue;
            if (auto code = ErrorCode(UpperAscii(text_.substr(pos_, length)))) {
                pos_ += length;
                return {kPtgErr, *code};
            }
        }
        Error("unknown error value");
    }

    std::vector<std::uint8_t> ParseNumber() {
        std::string ascii;
        auto digits = [&] {
            while (IsDigit(Peek())) ascii.push_back(static_cast<char>(text_[pos_++]));
        };
        digits();
        if (Peek() == u'.') {
            ascii.push_back('.');
            ++pos_;
            digits();
        }
        if (ascii == ".") Error("a number has no digits");
        if (Upper(Peek()) == u'E' && (IsDigit(Peek(1)) || ((Peek(1) == u'+' || Peek(1) == u'-') && IsDigit(Peek(2))))) {
            ascii.push_back('E');
            ++pos_;
            if (Peek() == u'+' || Peek() == u'-') ascii.push_back(static_cast<char>(text_[pos_++]));
            digits();
        }
        if (IsNameChar(Peek())) Error("a number runs into a name");
        const double value = std::strtod(ascii.c_str(), nullptr);
        if (!std::isfinite(value)) Error("a number is too large");
        if (value >= 0 && value <= 65535 && value == std::floor(value)) {
            const auto n = static_cast<std::uint16_t>(value);
            return {kPtgInt, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)};
        }
        std::vector<std::uint8_t> bytes{kPtgNum};
        std::uint64_t bits;
        static_assert(sizeof bits == sizeof value);
        std::memcpy(&bits, &value, sizeof bits);
        for (int b = 0; b < 8; ++b) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
        return bytes;
    }

    // "$A$1" style parts; each advances pos_ only on success.
    std::optional<std::uint16_t> TryColumn() {
        std::size_t p = pos_;
        const bool rel = !(p < text_.size() && text_[p] == u'$');
        if (!rel) ++p;
        std::uint32_t col = 0;
        std::size_t letters = 0;
        while (p < text_.size() && IsLetter(text_[p]) && letters < 4) {
            col = col * 26 + static_cast<std::uint32_t>(Upper(text_[p]) - u'A' + 1);
            ++p;
            ++letters;
        }
        if (letters == 0 || letters > 3 || col > kMaxCols) return std::nullopt;
        pos_ = p;
        return static_cast<std::uint16_t>((col - 1) | (rel ? kColRelBit : 0));
    }
    std::optional<std::uint32_t> TryRow(bool& rel) {
        std::size_t p = pos_;
        rel = !(p < text_.size() && text_[p] == u'$');
        if (!rel) ++p;
        std::uint32_t row = 0;
        std::size_t count = 0;
        while (p < text_.size() && IsDigit(text_[p]) && count < 6) {
            row = row * 10 + static_cast<std::uint32_t>(text_[p] - u'0');
            ++p;
            ++count;
        }
        if (count == 0 || count > 5 || row == 0 || row > kMaxRows) return std::nullopt;
        pos_ = p;
        return row - 1;
    }
    std::optional<CellAddress> TryCell() {
        const std::size_t save = pos_;
        auto col = TryColumn();
        bool rowRel = true;
        auto row = col ? TryRow(rowRel) : std::nullopt;
        if (!row) {
            pos_ = save;
            return std::nullopt;
        }
        return CellAddress{*row, static_cast<std::uint16_t>(*col & kColMask), rowRel, (*col & kColRelBit) != 0};
    }

    bool ReferenceEnds() const {
        const char16_t c = Peek();
        return !(IsNameChar(c) || c == u'(' || c == u'!' || c == u':' || c == u'$');
    }

    static void AppendLoc(std::vector<std::uint8_t>& bytes, std::uint32_t row, std::uint16_t col, bool rowRel,
                          bool colRel) {
        AppendU16(bytes, static_cast<std::uint16_t>(row));
        AppendU16(bytes, static_cast<std::uint16_t>(col | (rowRel ? kRowRelBit : 0) | (colRel ? kColRelBit : 0)));
    }

    // A cell, an area ("A1:B2", "A:C", "1:3"), optionally after a sheet
    // prefix; the token is of reference class until classes are settled.
    std::optional<std::vector<std::uint8_t>> TryReference(std::optional<std::uint16_t> ixti) {
        const std::size_t save = pos_;
        if (!ixti) {
            if (auto sheetIxti = TrySheetPrefix()) {
                auto reference = TryReference(sheetIxti);
                if (!reference) Error("a sheet name is not followed by a cell reference");
                return reference;
            }
        }
        Area area;
        bool isArea = false;
        if (auto first = TryCell()) {
            area = {first->row,    first->row,    first->col,    first->col,
                    first->rowRel, first->rowRel, first->colRel, first->colRel};
            if (Peek() == u':') {
                ++pos_;
                auto second = TryCell();
                if (!second) Error("\":\" is supported between two cell addresses only");
                area.rowLast = second->row;
                area.rowLastRel = second->rowRel;
                area.colLast = second->col;
                area.colLastRel = second->colRel;
                isArea = true;
            }
        } else if (auto colFirst = TryColumn(); colFirst && Peek() == u':') {
            ++pos_;
            auto colLast = TryColumn();
            if (!colLast) {
                pos_ = save;
                return std::nullopt;
            }
            area = {0,
                    kMaxRows - 1,
                    static_cast<std::uint16_t>(*colFirst & kColMask),
                    static_cast<std::uint16_t>(*colLast & kColMask),
                    false,
                    false,
                    (*colFirst & kColRelBit) != 0,
                    (*colLast & kColRelBit) != 0};
            isArea = true;
        } else {
            pos_ = save;
            bool relFirst = true;
            bool relLast = true;
            auto rowFirst = TryRow(relFirst);
            if (!rowFirst || Peek() != u':') {
                pos_ = save;
                return std::nullopt;
            }
            ++pos_;
            auto rowLast = TryRow(relLast);
            if (!rowLast) {
                pos_ = save;
                return std::nullopt;
            }
            area = {*rowFirst, *rowLast, 0, kMaxCols - 1, relFirst, relLast, false, false};
            isArea = true;
        }
        if (!ReferenceEnds()) {
            pos_ = save;
            return std::nullopt;
        }
        // Excel orders the corners, each coordinate keeping its own "$".
        if (area.rowFirst > area.rowLast) {
            std::swap(area.rowFirst, area.rowLast);
            std::swap(area.rowFirstRel, area.rowLastRel);
        }
        if (area.colFirst > area.colLast) {
            std::swap(area.colFirst, area.colLast);
            std::swap(area.colFirstRel, area.colLastRel);
        }
        std::vector<std::uint8_t> bytes;
        const std::uint8_t cls = static_cast<std::uint8_t>(OperandClass::kReference);
        if (isArea) {
            bytes.push_back(static_cast<std::uint8_t>(cls | (ixti ? kPtgArea3d : kPtgArea)));
            if (ixti) AppendU16(bytes, *ixti);
            AppendU16(bytes, static_cast<std::uint16_t>(area.rowFirst));
            AppendU16(bytes, static_cast<std::uint16_t>(area.rowLast));
            AppendU16(bytes, static_cast<std::uint16_t>(area.colFirst | (area.rowFirstRel ? kRowRelBit : 0) |
                                                        (area.colFirstRel ? kColRelBit : 0)));
            AppendU16(bytes, static_cast<std::uint16_t>(area.colLast | (area.rowLastRel ? kRowRelBit : 0) |
                                                        (area.colLastRel ? kColRelBit : 0)));
        } else {
            bytes.push_back(static_cast<std::uint8_t>(cls | (ixti ? kPtgRef3d : kPtgRef)));
            if (ixti) AppendU16(bytes, *ixti);
            AppendLoc(bytes, area.rowFirst, area.colFirst, area.rowFirstRel, area.colFirstRel);
        }
        return bytes;
    }

    // "Sheet2!" or "'My Sheet'!": the sheet's EXTERNSHEET index.
    std::optional<std::uint16_t> TrySheetPrefix() {
        const std::size_t save = pos_;
        std::u16string name;
        if (Peek() == u'\'') {
            ++pos_;
            for (;;) {
                if (AtEnd()) Error("a quoted sheet name has no closing quote");
                const char16_t c = text_[pos_++];
                if (c == u'\'') {
                    if (Peek() != u'\'') break;
                    ++pos_;
                }
                name.push_back(c);
            }
            if (Peek() != u'!') Error("a quoted sheet name is not followed by \"!\"");
        } else {
            while (IsNameChar(Peek())) name.push_back(text_[pos_++]);
            if (name.empty() || Peek() != u'!') {
                pos_ = save;
                return std::nullopt;
            }
        }
        ++pos_; // "!"
        const auto sheet = context_.SheetByName(name);
        if (!sheet) Error("the formula refers to a sheet the workbook does not have");
        const auto ixti = context_.IxtiOfSheet(*sheet);
        if (!ixti) Error("the workbook has no external-sheet entry for a referenced sheet");
        return ixti;
    }

    PNodePtr ParseNameLike(std::u16string ws) {
        const std::size_t start = pos_;
        if (!IsNameStart(Peek())) Error("unexpected character");
        while (IsNameChar(Peek())) ++pos_;
        const std::u16string_view name = text_.substr(start, pos_ - start);
        const std::u16string upper = UpperAscii(name);
        if (Peek() == u'(') return ParseCall(upper, std::move(ws));
        if (upper == u"TRUE" || upper == u"FALSE")
            return Operand({kPtgBool, static_cast<std::uint8_t>(upper == u"TRUE")}, false, std::move(ws));
        const auto index = context_.NameByText(name);
        if (!index) Error("the formula uses a name the workbook does not define");
        std::vector<std::uint8_t> bytes{
            static_cast<std::uint8_t>(static_cast<std::uint8_t>(OperandClass::kReference) | kPtgName)};
        AppendU16(bytes, *index);
        AppendU16(bytes, 0);
        return Operand(std::move(bytes), true, std::move(ws));
    }

    PNodePtr ParseCall(const std::u16string& upperName, std::u16string ws) {
        const FunctionInfo* info = FunctionByName(upperName);
        if (info == nullptr) Error("unknown function (or one the .xls format does not have)");
        ++pos_; // "("
        auto node = std::make_unique<PNode>();
        node->kind = Node::Kind::kFunction;
        node->function = info;
        node->lead = std::move(ws);
        const std::size_t save = pos_;
        std::u16string closeWs = SkipWhitespace();
        if (Peek() == u')') {
            ++pos_;
            node->closeLead = std::move(closeWs);
        } else {
            pos_ = save;
            for (;;) {
                node->children.push_back(ParseArgument());
                std::u16string trailing = SkipWhitespace();
                if (Peek() == u',') { // no token stands before ",": the spaces go
                    ++pos_;
                    continue;
                }
                if (Peek() == u')') {
                    ++pos_;
                    node->closeLead = std::move(trailing);
                    break;
                }
                Error("expected \",\" or \")\" in a function's arguments");
            }
        }
        if (node->children.size() < info->minArgs || node->children.size() > info->maxArgs)
            Error("wrong number of arguments for a function");
        return node;
    }

    PNodePtr ParseArgument() {
        const std::size_t save = pos_;
        std::u16string ws = SkipWhitespace();
        if (Peek() == u',' || Peek() == u')') return Operand({kPtgMissArg}, false, std::move(ws));
        pos_ = save;
        return ParseComparison();
    }

    std::u16string_view text_;
    const WorkbookContext& context_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
};

OperandClass ClassOf(char c) {
    return c == 'R' ? OperandClass::kReference : c == 'A' ? OperandClass::kArray : OperandClass::kValue;
}

// Excel's operand-class rules for a cell formula: the root wants a value;
// operators want values; a function argument wants its parameter's class;
// "forced array" spreads down from array parameters through value functions.
void Transform(PNode& node, OperandClass wanted, bool forceArray) {
    switch (node.kind) {
    case Node::Kind::kOperand:
        if (!node.classified) return;
        if (wanted == OperandClass::kValue)
            node.cls = forceArray ? OperandClass::kArray : OperandClass::kValue;
        else if (wanted == OperandClass::kArray)
            node.cls = OperandClass::kArray;
        else
            node.cls = forceArray ? OperandClass::kReference : node.cls;
        return;
    case Node::Kind::kUnary:
    case Node::Kind::kPercent:
    case Node::Kind::kBinary: {
        const OperandClass inner = wanted == OperandClass::kReference ? OperandClass::kValue : wanted;
        for (auto& child : node.children) Transform(*child, inner, forceArray);
        return;
    }
    case Node::Kind::kParen: Transform(*node.children[0], wanted, forceArray); return;
    case Node::Kind::kFunction: {
        const OperandClass returns = ClassOf(node.function->returnClass);
        bool childForce = false;
        if (forceArray) {
            node.cls = returns == OperandClass::kReference && wanted == OperandClass::kReference
                           ? OperandClass::kReference
                           : OperandClass::kArray;
            childForce = returns == OperandClass::kValue;
        } else if (returns == wanted) {
            node.cls = returns;
        } else if (wanted == OperandClass::kValue) {
            node.cls = OperandClass::kValue;
        } else if (wanted == OperandClass::kArray) {
            node.cls = returns == OperandClass::kReference ? OperandClass::kReference : OperandClass::kArray;
            childForce = returns == OperandClass::kValue;
        } else {
            node.cls = returns;
        }
        for (std::size_t i = 0; i < node.children.size(); ++i)
            Transform(*node.children[i], ClassOf(node.function->ParamClass(i)), childForce);
        return;
    }
    case Node::Kind::kWhole: return;
    }
}

class Emitter {
public:
    std::vector<std::uint8_t> out;
    bool isVolatile = false;

    void Emit(const PNode& node) {
        switch (node.kind) {
        case Node::Kind::kOperand: {
            Spaces(node.lead, kSpaceBefore, kCrBefore);
            std::vector<std::uint8_t> bytes = node.bytes;
            if (node.classified)
                bytes[0] = static_cast<std::uint8_t>(BaseOf(bytes[0]) | static_cast<std::uint8_t>(node.cls));
            out.insert(out.end(), bytes.begin(), bytes.end());
            return;
        }
        case Node::Kind::kUnary:
        case Node::Kind::kPercent:
            Emit(*node.children[0]);
            Spaces(node.lead, kSpaceBefore, kCrBefore);
            out.push_back(node.op);
            return;
        case Node::Kind::kBinary:
            Emit(*node.children[0]);
            Emit(*node.children[1]);
            Spaces(node.lead, kSpaceBefore, kCrBefore);
            out.push_back(node.op);
            return;
        case Node::Kind::kParen:
            Emit(*node.children[0]);
            Spaces(node.openLead, kSpaceBeforeOpen, kCrBeforeOpen);
            Spaces(node.closeLead, kSpaceBeforeClose, kCrBeforeClose);
            out.push_back(kPtgParen);
            return;
        case Node::Kind::kFunction:
            isVolatile = isVolatile || node.function->isVolatile;
            if (node.function->id == 1)
                EmitIf(node);
            else if (node.function->id == 100)
                EmitChoose(node);
            else {
                for (const auto& child : node.children) Emit(*child);
                FunctionTail(node);
            }
            return;
        case Node::Kind::kWhole: return;
        }
    }

private:
    // Runs of one character each become a PtgAttrSpace of at most 255.
    void Spaces(const std::u16string& text, std::uint8_t spaceType, std::uint8_t crType) {
        std::size_t i = 0;
        while (i < text.size()) {
            const char16_t c = text[i];
            std::size_t n = 0;
            while (i < text.size() && text[i] == c && n < 255) {
                ++i;
                ++n;
            }
            out.insert(out.end(),
                       {kPtgAttr, kAttrSpace, c == u'\n' ? crType : spaceType, static_cast<std::uint8_t>(n)});
        }
    }

    std::size_t Attr(std::uint8_t type) {
        const std::size_t at = out.size();
        out.insert(out.end(), {kPtgAttr, type, 0, 0});
        return at;
    }

    // The spaces of the call itself, then the function token; returns where
    // the function token starts.
    std::size_t FunctionTail(const PNode& node, std::optional<std::size_t>* lastGoto = nullptr) {
        Spaces(node.closeLead, kSpaceBeforeClose, kCrBeforeClose);
        Spaces(node.lead, kSpaceBefore, kCrBefore);
        if (lastGoto != nullptr) *lastGoto = Attr(kAttrGoto);
        const std::size_t at = out.size();
        const auto cls = static_cast<std::uint8_t>(node.cls);
        if (node.function->Fixed()) {
            out.push_back(static_cast<std::uint8_t>(cls | kPtgFunc));
        } else {
            out.push_back(static_cast<std::uint8_t>(cls | kPtgFuncVar));
            out.push_back(static_cast<std::uint8_t>(node.children.size()));
        }
        AppendU16(out, node.function->id);
        return at;
    }

    // A PtgAttrGoto jumps to the last byte of the function token: its offset
    // is one less than the distance from its own end to the function's end.
    void PatchGotos(const std::vector<std::size_t>& gotos, std::size_t funcAt) {
        for (std::size_t g : gotos) WriteU16(out, g + 2, static_cast<std::uint16_t>(funcAt + 4 - (g + 4) - 1));
    }

    void EmitIf(const PNode& node) {
        Emit(*node.children[0]);
        const std::size_t ifAt = Attr(kAttrIf);
        Emit(*node.children[1]);
        std::vector<std::size_t> gotos;
        std::optional<std::size_t> falseAt;
        if (node.children.size() == 3) {
            gotos.push_back(Attr(kAttrGoto));
            falseAt = out.size();
            Emit(*node.children[2]);
        }
        std::optional<std::size_t> lastGoto;
        const std::size_t funcAt = FunctionTail(node, &lastGoto);
        gotos.push_back(*lastGoto);
        // PtgAttrIf jumps from its end to the false argument, or to the
        // function token when there is none.
        WriteU16(out, ifAt + 2, static_cast<std::uint16_t>(falseAt.value_or(funcAt) - (ifAt + 4)));
        PatchGotos(gotos, funcAt);
    }

    void EmitChoose(const PNode& node) {
        Emit(*node.children[0]);
        const std::size_t choices = node.children.size() - 1;
        const std::size_t chooseAt = out.size();
        out.insert(out.end(), {kPtgAttr, kAttrChoose});
        AppendU16(out, static_cast<std::uint16_t>(choices));
        out.resize(out.size() + 2 * (choices + 1), 0);
        const std::size_t tableAt = chooseAt + 4; // offsets count from the jump table
        std::vector<std::size_t> gotos;
        for (std::size_t i = 0; i < choices; ++i) {
            WriteU16(out, tableAt + 2 * i, static_cast<std::uint16_t>(out.size() - tableAt));
            Emit(*node.children[i + 1]);
            if (i + 1 < choices) gotos.push_back(Attr(kAttrGoto));
        }
        std::optional<std::size_t> lastGoto;
        const std::size_t funcAt = FunctionTail(node, &lastGoto);
        gotos.push_back(*lastGoto);
        WriteU16(out, tableAt + 2 * choices, static_cast<std::uint16_t>(funcAt - tableAt));
        PatchGotos(gotos, funcAt);
    }
};

} // namespace

Tokens Parse(std::u16string_view text, const WorkbookContext& context) {
    if (text.size() > kMaxTextLength)
        throw workbook::Error(ErrorKind::BadFormula, "formula text is longer than 8192 characters");
    if (text.empty() || text[0] != u'=') throw workbook::Error(ErrorKind::BadFormula, "a formula starts with \"=\"");
    Parser parser(text.substr(1), context);
    PNodePtr root = parser.ParseFormula();
    Transform(*root, OperandClass::kValue, false);
    Emitter emitter;
    emitter.Emit(*root);
    Tokens tokens;
    tokens.rgce = std::move(emitter.out);
    if (emitter.isVolatile) tokens.rgce.insert(tokens.rgce.begin(), {kPtgAttr, kAttrSemi, 0, 0});
    if (tokens.rgce.size() > kMaxRgceBytes)
        throw workbook::Error(ErrorKind::BadFormula, "formula is too long for the .xls format");
    return tokens;
}

} // namespace vi2zezir::workbook::formula
