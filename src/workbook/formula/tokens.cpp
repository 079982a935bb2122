// The bounds-checked walk over rgce/rgcb and the RPN-to-tree decoder shared
// by ToText and Evaluate, plus the small text forms of references, numbers
// and error codes.
#include "workbook/formula/internal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vi2zezir::workbook::formula::detail {

void Fail(const char* what) { throw workbook::Error(ErrorKind::BadFormula, what); }

std::size_t TokenSize(std::span<const std::uint8_t> rgce, std::size_t at) {
    if (at >= rgce.size()) Fail("formula tokens end inside a token");
    const std::uint8_t ptg = rgce[at];
    auto need = [&](std::size_t n) {
        if (rgce.size() - at < n) Fail("formula tokens end inside a token");
        return n;
    };
    if (ptg < 0x20) {
        switch (ptg) {
        case kPtgExp:
        case kPtgTbl: return need(5);
        case kPtgStr: {
            need(3);
            const std::size_t cch = rgce[at + 1];
            const std::size_t unit = (rgce[at + 2] & 0x01) ? 2 : 1;
            return need(3 + cch * unit);
        }
        case kPtgAttr: {
            need(4);
            switch (rgce[at + 1]) {
            case kAttrChoose: return need(4 + 2 * (static_cast<std::size_t>(ReadU16(rgce, at + 2)) + 1));
            case kAttrSemi:
            case kAttrIf:
            case kAttrGoto:
            case kAttrSum:
            case kAttrBaxcel:
            case kAttrBaxcel2:
            case kAttrSpace:
            case kAttrSpaceSemi: return 4;
            default: Fail("unknown PtgAttr token");
            }
        }
        case kPtgErr:
        case kPtgBool: return need(2);
        case kPtgInt: return need(3);
        case kPtgNum: return need(9);
        default:
            if (ptg >= kPtgAdd && ptg <= kPtgMissArg) return 1;
            Fail("unknown formula token");
        }
    }
    if (ptg >= 0x80) Fail("unknown formula token");
    switch (BaseOf(ptg)) {
    case kPtgArray: return need(8);
    case kPtgFunc: return need(3);
    case kPtgFuncVar: return need(4);
    case kPtgName: return need(5);
    case kPtgRef:
    case kPtgRefErr:
    case kPtgRefN: return need(5);
    case kPtgArea:
    case kPtgAreaErr:
    case kPtgAreaN: return need(9);
    case kPtgMemArea:
    case kPtgMemErr:
    case kPtgMemNoMem: return need(7);
    case kPtgMemFunc:
    case kPtgMemAreaN:
    case kPtgMemNoMemN: return need(3);
    case kPtgNameX:
    case kPtgRef3d:
    case kPtgRefErr3d: return need(7);
    case kPtgArea3d:
    case kPtgAreaErr3d: return need(11);
    default: Fail("unknown formula token");
    }
}

std::size_t ExtraSize(std::uint8_t ptg, std::span<const std::uint8_t> rgcb, std::size_t at) {
    auto need = [&](std::size_t from, std::size_t n) {
        if (from > rgcb.size() || rgcb.size() - from < n) Fail("formula extra data (rgcb) is truncated");
    };
    if (BaseOf(ptg) == kPtgMemArea) {
        need(at, 2);
        const std::size_t count = ReadU16(rgcb, at);
        need(at + 2, count * 8);
        return 2 + count * 8;
    }
    // PtgArray: columns - 1 (u8), rows - 1 (u16), then rows × columns SerAr.
    need(at, 3);
    const std::size_t values =
        (static_cast<std::size_t>(rgcb[at]) + 1) * (static_cast<std::size_t>(ReadU16(rgcb, at + 1)) + 1);
    std::size_t pos = at + 3;
    for (std::size_t i = 0; i < values; ++i) {
        need(pos, 1);
        if (rgcb[pos] == 0x02) {
            need(pos, 4);
            const std::size_t cch = ReadU16(rgcb, pos + 1);
            const std::size_t unit = (rgcb[pos + 3] & 0x01) ? 2 : 1;
            need(pos, 4 + cch * unit);
            pos += 4 + cch * unit;
        } else {
            need(pos, 9);
            pos += 9;
        }
    }
    return pos - at;
}

namespace {

std::u16string ReadPtgString(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t cch, bool wide) {
    std::u16string text;
    text.reserve(cch);
    for (std::size_t i = 0; i < cch; ++i)
        text.push_back(wide ? static_cast<char16_t>(ReadU16(bytes, at + 2 * i)) : static_cast<char16_t>(bytes[at + i]));
    return text;
}

ArrayConstant ReadArray(std::span<const std::uint8_t> rgcb, std::size_t at) {
    ArrayConstant array;
    array.cols = static_cast<std::size_t>(rgcb[at]) + 1;
    array.rows = static_cast<std::size_t>(ReadU16(rgcb, at + 1)) + 1;
    std::size_t pos = at + 3;
    for (std::size_t i = 0; i < array.cols * array.rows; ++i) {
        const std::uint8_t type = rgcb[pos];
        switch (type) {
        case 0x00:
            array.values.emplace_back(Blank{});
            pos += 9;
            break;
        case 0x01: {
            double value = 0;
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b) bits = (bits << 8) | rgcb[pos + 1 + static_cast<std::size_t>(b)];
            static_assert(sizeof value == sizeof bits);
            std::memcpy(&value, &bits, sizeof value);
            array.values.emplace_back(value);
            pos += 9;
            break;
        }
        case 0x02: {
            const std::size_t cch = ReadU16(rgcb, pos + 1);
            const bool wide = rgcb[pos + 3] & 0x01;
            array.values.emplace_back(ReadPtgString(rgcb, pos + 4, cch, wide));
            pos += 4 + cch * (wide ? 2 : 1);
            break;
        }
        case 0x04:
            array.values.emplace_back(rgcb[pos + 1] != 0);
            pos += 9;
            break;
        case 0x10:
            array.values.emplace_back(ErrorValue{rgcb[pos + 1]});
            pos += 9;
            break;
        default: Fail("unknown value type in an array constant");
        }
    }
    return array;
}

void AttachSpaces(Tree& tree, Node& node, std::vector<std::pair<std::uint8_t, std::uint8_t>>& pending) {
    for (auto [type, count] : pending) {
        const bool cr = type == kCrBefore || type == kCrBeforeOpen || type == kCrBeforeClose;
        const std::u16string chars(count, cr ? u'\n' : u' ');
        if (type == kSpaceAfterEquals) {
            tree.afterEquals += chars;
        } else if (type == kSpaceBeforeClose || type == kCrBeforeClose) {
            if (node.kind == Node::Kind::kParen || node.kind == Node::Kind::kFunction)
                node.closeLead += chars;
            else
                node.lead += chars;
        } else if (node.kind == Node::Kind::kParen) {
            node.openLead += chars;
        } else {
            node.lead += chars;
        }
    }
    pending.clear();
}

} // namespace

Tree Decode(const Tokens& tokens) {
    const std::span<const std::uint8_t> rgce(tokens.rgce);
    const std::span<const std::uint8_t> rgcb(tokens.rgcb);
    if (rgce.empty()) Fail("a formula has no tokens");
    if (rgce.size() > 0xFFFF) Fail("formula tokens are too long");

    Tree tree;
    std::vector<std::size_t> stack;
    std::vector<std::size_t> depth; // per node
    std::vector<std::pair<std::uint8_t, std::uint8_t>> pending;
    std::size_t extraAt = 0;

    auto push = [&](Node node, std::size_t arity) {
        if (stack.size() < arity) Fail("formula tokens miss an operand");
        std::size_t nodeDepth = 1;
        node.children.assign(stack.end() - static_cast<std::ptrdiff_t>(arity), stack.end());
        for (std::size_t child : node.children) nodeDepth = std::max(nodeDepth, depth[child] + 1);
        if (nodeDepth > kMaxTreeDepth) Fail("formula is nested too deeply");
        stack.resize(stack.size() - arity);
        AttachSpaces(tree, node, pending);
        tree.nodes.push_back(std::move(node));
        depth.push_back(nodeDepth);
        stack.push_back(tree.nodes.size() - 1);
    };

    for (std::size_t at = 0; at < rgce.size();) {
        const std::size_t size = TokenSize(rgce, at);
        const std::uint8_t ptg = rgce[at];
        Node node;
        node.ptg = ptg;
        node.offset = at;
        if (ptg == kPtgAttr) {
            const std::uint8_t type = rgce[at + 1];
            if (type == kAttrSpace || type == kAttrSpaceSemi) {
                pending.emplace_back(rgce[at + 2], rgce[at + 3]);
            } else if (type == kAttrSum) {
                node.kind = Node::Kind::kFunction;
                node.functionId = 4;
                push(std::move(node), 1);
            }
            // If/Goto/Choose only steer a lazy evaluator; the tree holds IF and
            // CHOOSE as ordinary calls. Semi marks volatility.
        } else if (ptg == kPtgExp || ptg == kPtgTbl) {
            node.kind = Node::Kind::kWhole;
            push(std::move(node), 0);
        } else if (ptg >= kPtgAdd && ptg <= kPtgRange) {
            node.kind = Node::Kind::kBinary;
            push(std::move(node), 2);
        } else if (ptg == kPtgUplus || ptg == kPtgUminus) {
            node.kind = Node::Kind::kUnary;
            push(std::move(node), 1);
        } else if (ptg == kPtgPercent) {
            node.kind = Node::Kind::kPercent;
            push(std::move(node), 1);
        } else if (ptg == kPtgParen) {
            node.kind = Node::Kind::kParen;
            push(std::move(node), 1);
        } else if (ptg < 0x20) {
            push(std::move(node), 0); // MissArg, Str, Err, Bool, Int, Num
        } else {
            switch (BaseOf(ptg)) {
            case kPtgFunc: {
                node.kind = Node::Kind::kFunction;
                node.functionId = ReadU16(rgce, at + 1);
                const FunctionInfo* info = FunctionById(node.functionId);
                if (info == nullptr || !info->Fixed()) Fail("unknown fixed-argument function number");
                push(std::move(node), info->minArgs);
                break;
            }
            case kPtgFuncVar: {
                node.kind = Node::Kind::kFunction;
                const std::uint16_t tab = ReadU16(rgce, at + 2);
                if (tab & 0x8000) Fail("macro-sheet command functions are not supported");
                node.functionId = tab;
                const std::size_t arity = rgce[at + 1] & 0x7F;
                if (node.functionId == kExternalFunction && arity == 0) Fail("an add-in call without its name");
                // Readers index arguments by the table's counts.
                if (const FunctionInfo* info = FunctionById(node.functionId);
                    info != nullptr && (arity < info->minArgs || arity > info->maxArgs))
                    Fail("a function has a wrong number of arguments");
                push(std::move(node), arity);
                break;
            }
            case kPtgMemArea:
            case kPtgMemErr:
            case kPtgMemNoMem:
            case kPtgMemFunc:
            case kPtgMemAreaN:
            case kPtgMemNoMemN:
                // The subexpression that follows yields the value; only the
                // precomputed areas in rgcb need skipping.
                if (BaseOf(ptg) == kPtgMemArea) extraAt += ExtraSize(ptg, rgcb, extraAt);
                break;
            case kPtgArray: {
                const std::size_t extra = ExtraSize(ptg, rgcb, extraAt);
                node.arrayIndex = tree.arrays.size();
                tree.arrays.push_back(ReadArray(rgcb, extraAt));
                extraAt += extra;
                push(std::move(node), 0);
                break;
            }
            default: push(std::move(node), 0); break;
            }
        }
        at += size;
    }
    if (stack.size() != 1) Fail("formula tokens do not form one expression");
    tree.root = stack.back();
    return tree;
}

Area ReadRefArea(std::span<const std::uint8_t> rgce, std::size_t at, std::uint8_t base, CellPos host) {
    const bool is3d = base == kPtgRef3d || base == kPtgArea3d;
    const bool isArea = base == kPtgArea || base == kPtgAreaN || base == kPtgArea3d;
    const bool relative = base == kPtgRefN || base == kPtgAreaN;
    const std::size_t p = at + 1 + (is3d ? 2 : 0);
    std::uint16_t rows[2];
    std::uint16_t cols[2];
    if (isArea) {
        rows[0] = ReadU16(rgce, p);
        rows[1] = ReadU16(rgce, p + 2);
        cols[0] = ReadU16(rgce, p + 4);
        cols[1] = ReadU16(rgce, p + 6);
    } else {
        rows[0] = rows[1] = ReadU16(rgce, p);
        cols[0] = cols[1] = ReadU16(rgce, p + 2);
    }
    Area area;
    std::uint32_t r[2];
    std::uint16_t c[2];
    for (int i = 0; i < 2; ++i) {
        const bool rowRel = cols[i] & kRowRelBit;
        const bool colRel = cols[i] & kColRelBit;
        if (relative) {
            r[i] = rowRel ? static_cast<std::uint16_t>(host.row + static_cast<std::int16_t>(rows[i])) : rows[i];
            c[i] = colRel ? static_cast<std::uint8_t>(host.col + static_cast<std::int8_t>(cols[i] & 0xFF))
                          : static_cast<std::uint16_t>(cols[i] & 0xFF);
        } else {
            r[i] = rows[i];
            c[i] = static_cast<std::uint16_t>(cols[i] & kColMask);
        }
        (i == 0 ? area.rowFirstRel : area.rowLastRel) = rowRel;
        (i == 0 ? area.colFirstRel : area.colLastRel) = colRel;
    }
    area.rowFirst = r[0];
    area.rowLast = r[1];
    area.colFirst = c[0];
    area.colLast = c[1];
    return area;
}

std::u16string ColumnLetters(std::uint16_t col) {
    std::u16string letters;
    std::uint32_t n = static_cast<std::uint32_t>(col) + 1;
    while (n > 0) {
        const std::uint32_t rem = (n - 1) % 26;
        letters.insert(letters.begin(), static_cast<char16_t>(u'A' + rem));
        n = (n - 1) / 26;
    }
    return letters;
}

namespace {
std::u16string Decimal(std::uint64_t n) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
        n /= 10;
    } while (n > 0);
    return digits;
}
} // namespace

std::u16string CellText(std::uint32_t row, std::uint16_t col, bool rowRel, bool colRel) {
    return (colRel ? u"" : u"$") + ColumnLetters(col) + (rowRel ? u"" : u"$") + Decimal(row + 1);
}

std::u16string AreaText(const Area& area) {
    const bool allRows = area.rowFirst == 0 && area.rowLast == kMaxRows - 1;
    const bool allCols = area.colFirst == 0 && area.colLast == kMaxCols - 1;
    if (allRows && !allCols)
        return (area.colFirstRel ? u"" : u"$") + ColumnLetters(area.colFirst) + u":" + (area.colLastRel ? u"" : u"$") +
               ColumnLetters(area.colLast);
    if (allCols)
        return (area.rowFirstRel ? u"" : u"$") + Decimal(area.rowFirst + 1) + u":" + (area.rowLastRel ? u"" : u"$") +
               Decimal(area.rowLast + 1);
    return CellText(area.rowFirst, area.colFirst, area.rowFirstRel, area.colFirstRel) + u":" +
           CellText(area.rowLast, area.colLast, area.rowLastRel, area.colLastRel);
}

namespace {
bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// A name Excel would read as a cell address or an R1C1 reference needs quotes.
bool LooksLikeReference(std::u16string_view name) {
    std::size_t i = 0;
    while (i < name.size() && IsAsciiLetter(name[i])) ++i;
    if (i >= 1 && i <= 3 && i < name.size()) {
        std::size_t j = i;
        while (j < name.size() && IsDigit(name[j])) ++j;
        if (j == name.size()) return true;
    }
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    std::size_t k = 0;
    auto digits = [&] {
        while (k < name.size() && IsDigit(name[k])) ++k;
    };
    if (k < name.size() && upper(name[k]) == u'R') {
        ++k;
        digits();
    }
    if (k < name.size() && upper(name[k]) == u'C') {
        ++k;
        digits();
    }
    if (k == name.size() && k > 0) return true;
    std::u16string up;
    for (char16_t c : name) up.push_back(upper(c));
    return up == u"TRUE" || up == u"FALSE";
}
} // namespace

std::u16string SheetPrefix(std::u16string_view sheetName) {
    bool plain = !sheetName.empty() && !IsDigit(sheetName[0]) && sheetName[0] != u'.';
    for (char16_t c : sheetName)
        if (!(IsAsciiLetter(c) || IsDigit(c) || c == u'_' || c == u'.' || c >= 0x80)) plain = false;
    if (plain && !LooksLikeReference(sheetName)) return std::u16string(sheetName) + u"!";
    std::u16string quoted = u"'";
    for (char16_t c : sheetName) {
        quoted.push_back(c);
        if (c == u'\'') quoted.push_back(u'\'');
    }
    return quoted + u"'!";
}

std::u16string NumberText(double value) {
    if (!std::isfinite(value)) Fail("a number constant is not finite");
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    std::u16string text;
    for (const char* p = buffer; *p != '\0'; ++p) text.push_back(static_cast<char16_t>(*p));
    return text;
}

namespace {
struct ErrorName {
    std::uint8_t code;
    std::u16string_view text;
};
constexpr ErrorName kErrors[] = {
    {0x00, u"#NULL!"}, {0x07, u"#DIV/0!"}, {0x0F, u"#VALUE!"}, {0x17, u"#REF!"},
    {0x1D, u"#NAME?"}, {0x24, u"#NUM!"},   {0x2A, u"#N/A"},
};
} // namespace

std::u16string ErrorText(std::uint8_t code) {
    for (const auto& e : kErrors)
        if (e.code == code) return std::u16string(e.text);
    Fail("unknown error code in a formula");
}

std::optional<std::uint8_t> ErrorCode(std::u16string_view upperText) {
    for (const auto& e : kErrors)
        if (e.text == upperText) return e.code;
    return std::nullopt;
}

} // namespace vi2zezir::workbook::formula::detail
