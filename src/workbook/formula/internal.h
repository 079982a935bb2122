// Private to the formula library: token ids, the built-in function table, a
// bounds-checked walk over rgce/rgcb and the expression tree ToText and
// Evaluate share.
#pragma once

#include "workbook/formula/formula.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vi2zezir::workbook::formula::detail {

// Base token ids (class bits 0x60 masked off for the classified ones).
enum : std::uint8_t {
    kPtgExp = 0x01,
    kPtgTbl = 0x02,
    kPtgAdd = 0x03,
    kPtgSub = 0x04,
    kPtgMul = 0x05,
    kPtgDiv = 0x06,
    kPtgPower = 0x07,
    kPtgConcat = 0x08,
    kPtgLt = 0x09,
    kPtgLe = 0x0A,
    kPtgEq = 0x0B,
    kPtgGe = 0x0C,
    kPtgGt = 0x0D,
    kPtgNe = 0x0E,
    kPtgIsect = 0x0F,
    kPtgUnion = 0x10,
    kPtgRange = 0x11,
    kPtgUplus = 0x12,
    kPtgUminus = 0x13,
    kPtgPercent = 0x14,
    kPtgParen = 0x15,
    kPtgMissArg = 0x16,
    kPtgStr = 0x17,
    kPtgElf = 0x18,
    kPtgAttr = 0x19,
    kPtgErr = 0x1C,
    kPtgBool = 0x1D,
    kPtgInt = 0x1E,
    kPtgNum = 0x1F,
    // Classified: the low five bits, plus 0x20 (reference), 0x40 (value), 0x60 (array).
    kPtgArray = 0x00,
    kPtgFunc = 0x01,
    kPtgFuncVar = 0x02,
    kPtgName = 0x03,
    kPtgRef = 0x04,
    kPtgArea = 0x05,
    kPtgMemArea = 0x06,
    kPtgMemErr = 0x07,
    kPtgMemNoMem = 0x08,
    kPtgMemFunc = 0x09,
    kPtgRefErr = 0x0A,
    kPtgAreaErr = 0x0B,
    kPtgRefN = 0x0C,
    kPtgAreaN = 0x0D,
    kPtgMemAreaN = 0x0E,
    kPtgMemNoMemN = 0x0F,
    kPtgNameX = 0x19,
    kPtgRef3d = 0x1A,
    kPtgArea3d = 0x1B,
    kPtgRefErr3d = 0x1C,
    kPtgAreaErr3d = 0x1D,
};

// Second byte of PtgAttr*.
enum : std::uint8_t {
    kAttrSemi = 0x01,
    kAttrIf = 0x02,
    kAttrChoose = 0x04,
    kAttrGoto = 0x08,
    kAttrSum = 0x10,
    kAttrBaxcel = 0x20,
    kAttrBaxcel2 = 0x21,
    kAttrSpace = 0x40,
    kAttrSpaceSemi = 0x41,
};

// PtgAttrSpace types: where the characters stand.
enum : std::uint8_t {
    kSpaceBefore = 0x00,
    kCrBefore = 0x01,
    kSpaceBeforeOpen = 0x02,
    kCrBeforeOpen = 0x03,
    kSpaceBeforeClose = 0x04,
    kCrBeforeClose = 0x05,
    kSpaceAfterEquals = 0x06,
};

// Operand classes as stored in bits 5–6 of a classified token.
enum class OperandClass : std::uint8_t { kReference = 0x20, kValue = 0x40, kArray = 0x60 };

inline constexpr std::uint16_t kColRelBit = 0x4000;
inline constexpr std::uint16_t kRowRelBit = 0x8000;
inline constexpr std::uint16_t kColMask = 0x3FFF;
// Excel refuses longer token arrays for a cell formula.
inline constexpr std::size_t kMaxRgceBytes = 1800;
// Nesting of parentheses, calls and signs in text: deep enough for any formula
// a person writes, shallow enough for the stack.
inline constexpr std::size_t kMaxParseDepth = 256;
// Depth of a decoded expression: above anything 1800 bytes of tokens from
// Parse can hold, still bounding recursion over hostile token arrays.
inline constexpr std::size_t kMaxTreeDepth = 2048;
// User-defined / add-in call: the first argument names the function.
inline constexpr std::uint16_t kExternalFunction = 255;

struct FunctionInfo {
    std::uint16_t id;
    std::u16string_view name;
    std::uint8_t minArgs;
    std::uint8_t maxArgs;
    char returnClass;        // 'R', 'V' or 'A'
    std::string_view params; // one class per parameter; the last repeats
    bool isVolatile;

    bool Fixed() const { return minArgs == maxArgs; }
    char ParamClass(std::size_t index) const {
        if (params.empty()) return 'V';
        return index < params.size() ? params[index] : params.back();
    }
};

const FunctionInfo* FunctionById(std::uint16_t id);
// Upper-case ASCII name.
const FunctionInfo* FunctionByName(std::u16string_view upperName);

// Little-endian reads; callers check bounds first.
inline std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
inline std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}
// The text of the PtgStr at `at` (a ShortXLUnicodeString: cch, flags, then
// 8- or 16-bit characters); its size was checked when the tokens were split.
inline std::u16string PtgStrText(std::span<const std::uint8_t> rgce, std::size_t at) {
    const std::size_t cch = rgce[at + 1];
    const bool wide = rgce[at + 2] & 0x01;
    std::u16string text;
    text.reserve(cch);
    for (std::size_t i = 0; i < cch; ++i)
        text.push_back(wide ? static_cast<char16_t>(ReadU16(rgce, at + 3 + 2 * i))
                            : static_cast<char16_t>(rgce[at + 3 + i]));
    return text;
}
inline void WriteU16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
inline void AppendU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Whether the byte is one of the classified tokens (0x20–0x7F); its base id is
// then ptg & 0x1F.
inline bool IsClassified(std::uint8_t ptg) { return ptg >= 0x20 && ptg < 0x80; }
inline std::uint8_t BaseOf(std::uint8_t ptg) { return static_cast<std::uint8_t>(ptg & 0x1F); }

// The size in bytes of the token at `at`; Error (BadFormula) for an unknown or
// truncated token.
std::size_t TokenSize(std::span<const std::uint8_t> rgce, std::size_t at);

// Size of the rgcb data a token consumes (PtgArray, PtgMemArea); Error
// when rgcb is too short.
std::size_t ExtraSize(std::uint8_t ptg, std::span<const std::uint8_t> rgcb, std::size_t at);

[[noreturn]] void Fail(const char* what);

// ---------------------------------------------------------------------------
// The expression tree decoded from rgce (display tokens kept as text).

struct ArrayConstant {
    std::size_t cols = 0;
    std::size_t rows = 0;
    std::vector<CellValue> values; // row by row
};

struct Node {
    enum class Kind : std::uint8_t {
        kOperand, // constants, references, names, missing argument
        kUnary,   // + - (prefix)
        kPercent, // % (postfix)
        kBinary,
        kParen,
        kFunction,
        kWhole, // PtgExp / PtgTbl standing for the whole formula
    };
    Kind kind = Kind::kOperand;
    std::uint8_t ptg = 0;         // the token (with class bits)
    std::size_t offset = 0;       // in rgce
    std::uint16_t functionId = 0; // kFunction
    std::u16string lead;          // whitespace before the token's own symbol
    std::u16string openLead;      // before "(" of kParen
    std::u16string closeLead;     // before ")" of kParen / kFunction
    std::vector<std::size_t> children;
    std::size_t arrayIndex = 0; // into Tree::arrays for PtgArray
};

struct Tree {
    std::vector<Node> nodes;
    std::vector<ArrayConstant> arrays;
    std::u16string afterEquals; // PtgAttrSpace type 6
    std::size_t root = 0;
};

// Error (BadFormula) for anything malformed (bad sizes, stack under/overflow,
// unknown tokens or fixed-arity functions of unknown arity).
Tree Decode(const Tokens& tokens);

struct Area {
    std::uint32_t rowFirst = 0;
    std::uint32_t rowLast = 0;
    std::uint16_t colFirst = 0;
    std::uint16_t colLast = 0;
    bool rowFirstRel = false;
    bool rowLastRel = false;
    bool colFirstRel = false;
    bool colLastRel = false;
};

// RgceLoc / RgceArea of a PtgRef/PtgArea (offset = token start), and of the
// relative PtgRefN/PtgAreaN resolved against host.
Area ReadRefArea(std::span<const std::uint8_t> rgce, std::size_t at, std::uint8_t base, CellPos host);

std::u16string ColumnLetters(std::uint16_t col);
std::u16string CellText(std::uint32_t row, std::uint16_t col, bool rowRel, bool colRel);
std::u16string AreaText(const Area& area);
std::u16string SheetPrefix(std::u16string_view sheetName); // "Sheet1!" or "'My Sheet'!"

std::u16string NumberText(double value); // formula-bar form of a number constant
std::u16string ErrorText(std::uint8_t code);
std::optional<std::uint8_t> ErrorCode(std::u16string_view upperText);

} // namespace vi2zezir::workbook::formula::detail
