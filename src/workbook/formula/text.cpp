// Tokens back to formula-bar text, the form Find matches and Replace edits.
//
// Placeholders for what has no formula-bar text of its own (Parse refuses all
// of them, so a Replace that touches such a formula fails instead of silently
// changing it):
//   PtgExp  -> "=_SHARED(C5)"  (the caller unshares before asking for text)
//   PtgTbl  -> "=_TABLE(C5)"
//   an unknown PtgFuncVar function number n -> "_FUNCn(args)"
//   a 3-D reference whose sheet the workbook does not know -> "#REF!A1"
// Malformed tokens, names the workbook does not know and external names
// (PtgNameX) throw Error (BadFormula).
#include "workbook/formula/internal.h"

#include <cstring>

namespace vi2zezir::workbook::formula {
namespace {

using namespace detail;

class Renderer {
public:
    Renderer(const Tokens& tokens, const Tree& tree, CellPos host, const WorkbookContext& context)
        : rgce_(tokens.rgce), tree_(tree), host_(host), context_(context) {}

    std::u16string Render(std::size_t index) const {
        const Node& node = tree_.nodes[index];
        switch (node.kind) {
        case Node::Kind::kOperand: return node.lead + Operand(node);
        case Node::Kind::kUnary: return node.lead + (node.ptg == kPtgUminus ? u"-" : u"+") + Render(node.children[0]);
        case Node::Kind::kPercent: return Render(node.children[0]) + node.lead + u"%";
        case Node::Kind::kBinary:
            return Render(node.children[0]) + node.lead + std::u16string(BinarySymbol(node.ptg)) +
                   Render(node.children[1]);
        case Node::Kind::kParen: return node.openLead + u"(" + Render(node.children[0]) + node.closeLead + u")";
        case Node::Kind::kFunction: return Function(node);
        case Node::Kind::kWhole: {
            const std::u16string cell =
                CellText(ReadU16(rgce_, node.offset + 1),
                         static_cast<std::uint16_t>(ReadU16(rgce_, node.offset + 3) & kColMask), true, true);
            return node.lead + (node.ptg == kPtgExp ? u"_SHARED(" : u"_TABLE(") + cell + u")";
        }
        }
        Fail("unknown formula node");
    }

private:
    static std::u16string_view BinarySymbol(std::uint8_t ptg) {
        switch (ptg) {
        case kPtgAdd: return u"+";
        case kPtgSub: return u"-";
        case kPtgMul: return u"*";
        case kPtgDiv: return u"/";
        case kPtgPower: return u"^";
        case kPtgConcat: return u"&";
        case kPtgLt: return u"<";
        case kPtgLe: return u"<=";
        case kPtgEq: return u"=";
        case kPtgGe: return u">=";
        case kPtgGt: return u">";
        case kPtgNe: return u"<>";
        case kPtgIsect: return u" ";
        case kPtgUnion: return u",";
        default: return u":";
        }
    }

    std::u16string Function(const Node& node) const {
        std::u16string name;
        std::size_t first = 0;
        if (const FunctionInfo* info = FunctionById(node.functionId)) {
            name = info->name;
        } else if (node.functionId == kExternalFunction) {
            name = Render(node.children[0]); // the add-in or macro name
            first = 1;
        } else {
            name = u"_FUNC" + Integer(node.functionId);
        }
        std::u16string text = node.lead + name + u"(";
        for (std::size_t i = first; i < node.children.size(); ++i) {
            if (i > first) text += u",";
            text += Render(node.children[i]);
        }
        return text + node.closeLead + u")";
    }

    static std::u16string Integer(std::uint32_t value) {
        std::u16string digits;
        do {
            digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
            value /= 10;
        } while (value > 0);
        return digits;
    }

    static std::u16string Quoted(std::u16string_view text) {
        std::u16string quoted = u"\"";
        for (char16_t c : text) {
            quoted.push_back(c);
            if (c == u'"') quoted.push_back(u'"');
        }
        return quoted + u"\"";
    }

    std::u16string SheetOf(std::uint16_t ixti) const {
        if (auto sheet = context_.SheetOfIxti(ixti))
            if (auto name = context_.SheetName(*sheet)) return SheetPrefix(*name);
        return u"#REF!";
    }

    std::u16string ArrayText(const ArrayConstant& array) const {
        std::u16string text = u"{";
        for (std::size_t r = 0; r < array.rows; ++r) {
            if (r > 0) text += u";";
            for (std::size_t c = 0; c < array.cols; ++c) {
                if (c > 0) text += u",";
                const CellValue& value = array.values[r * array.cols + c];
                if (const auto* number = std::get_if<double>(&value))
                    text += NumberText(*number);
                else if (const auto* str = std::get_if<std::u16string>(&value))
                    text += Quoted(*str);
                else if (const auto* flag = std::get_if<bool>(&value))
                    text += *flag ? u"TRUE" : u"FALSE";
                else if (const auto* error = std::get_if<ErrorValue>(&value))
                    text += ErrorText(error->code);
            }
        }
        return text + u"}";
    }

    std::u16string Operand(const Node& node) const {
        const std::size_t at = node.offset;
        switch (node.ptg) {
        case kPtgMissArg: return u"";
        case kPtgStr: return Quoted(PtgStrText(rgce_, at));
        case kPtgErr: return ErrorText(rgce_[at + 1]);
        case kPtgBool: return rgce_[at + 1] ? u"TRUE" : u"FALSE";
        case kPtgInt: return Integer(ReadU16(rgce_, at + 1));
        case kPtgNum: {
            double value;
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b) bits = (bits << 8) | rgce_[at + 1 + static_cast<std::size_t>(b)];
            std::memcpy(&value, &bits, sizeof value);
            return NumberText(value);
        }
        default: break;
        }
        const std::uint8_t base = BaseOf(node.ptg);
        switch (base) {
        case kPtgArray: return ArrayText(tree_.arrays[node.arrayIndex]);
        case kPtgName: {
            const std::uint32_t index = ReadU32(rgce_, at + 1);
            if (index == 0 || index > 0xFFFF) Fail("a defined-name reference is out of range");
            auto text = context_.NameText(static_cast<std::uint16_t>(index));
            if (!text) Fail("a formula refers to a defined name the workbook does not have");
            return *text;
        }
        case kPtgRef:
        case kPtgRefN: {
            const Area a = ReadRefArea(rgce_, at, base, host_);
            return CellText(a.rowFirst, a.colFirst, a.rowFirstRel, a.colFirstRel);
        }
        case kPtgArea:
        case kPtgAreaN: return AreaText(ReadRefArea(rgce_, at, base, host_));
        case kPtgRefErr:
        case kPtgAreaErr: return u"#REF!";
        case kPtgRef3d: {
            const Area a = ReadRefArea(rgce_, at, base, host_);
            return SheetOf(ReadU16(rgce_, at + 1)) + CellText(a.rowFirst, a.colFirst, a.rowFirstRel, a.colFirstRel);
        }
        case kPtgArea3d: return SheetOf(ReadU16(rgce_, at + 1)) + AreaText(ReadRefArea(rgce_, at, base, host_));
        case kPtgRefErr3d:
        case kPtgAreaErr3d: return SheetOf(ReadU16(rgce_, at + 1)) + u"#REF!";
        case kPtgNameX: Fail("external names are not supported");
        default: Fail("a formula token has no text form");
        }
    }

    std::span<const std::uint8_t> rgce_;
    const Tree& tree_;
    CellPos host_;
    const WorkbookContext& context_;
};

} // namespace

std::u16string ToText(const Tokens& tokens, CellPos host, const WorkbookContext& context) {
    const Tree tree = Decode(tokens);
    const Renderer renderer(tokens, tree, host, context);
    return u"=" + tree.afterEquals + renderer.Render(tree.root);
}

} // namespace vi2zezir::workbook::formula
