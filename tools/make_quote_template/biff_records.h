// A small BIFF8 record emitter for the template generator: little-endian
// record bodies, the record stream with its absolute offsets (BoundSheet8,
// Index and ExtSST point into it), and the formula tokens the template uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vi2zezir::tools::biff {

// BIFF8 caps a record's data at 8,224 bytes; longer data would need CONTINUE
// records, which nothing in the template needs except the SST (split by the
// writer at string boundaries).
inline constexpr std::size_t kMaxRecordData = 8224;

// One record's data, built field by field.
class Body {
public:
    Body& U8(std::uint8_t v);
    Body& U16(std::uint16_t v);
    Body& U32(std::uint32_t v);
    Body& F64(double v);
    Body& Bytes(const std::vector<std::uint8_t>& bytes);
    Body& Zeros(std::size_t count);
    // ShortXLUnicodeString: cch u8, flags, characters (8-bit when every code
    // unit fits, UTF-16LE otherwise).
    Body& ShortString(std::u16string_view text);
    // XLUnicodeString: cch u16, flags, characters.
    Body& String(std::u16string_view text);
    // The flags byte and characters of a string, without its count.
    Body& StringChars(std::u16string_view text);

    const std::vector<std::uint8_t>& Data() const { return data_; }
    std::size_t Size() const { return data_.size(); }

private:
    std::vector<std::uint8_t> data_;
};

// The bytes of a Workbook stream, record after record.
class RecordStream {
public:
    // Appends a record; throws std::length_error for data over kMaxRecordData.
    // Returns the record's absolute offset in the stream.
    std::size_t Add(std::uint16_t type, const Body& body);
    std::size_t Add(std::uint16_t type) { return Add(type, Body{}); }
    // Overwrites 4 bytes already written (offsets known only later).
    void PatchU32(std::size_t at, std::uint32_t value);

    std::size_t Position() const { return bytes_.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// Size of a record on disk: 4 header bytes plus its data.
inline constexpr std::size_t kRecordHeader = 4;

bool FitsIn8Bit(std::u16string_view text);

// Record identifiers used by the generator.
namespace rt {
inline constexpr std::uint16_t kFormula = 0x0006;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kCalcCount = 0x000C;
inline constexpr std::uint16_t kCalcMode = 0x000D;
inline constexpr std::uint16_t kCalcPrecision = 0x000E;
inline constexpr std::uint16_t kRefMode = 0x000F;
inline constexpr std::uint16_t kDelta = 0x0010;
inline constexpr std::uint16_t kIteration = 0x0011;
inline constexpr std::uint16_t kProtect = 0x0012;
inline constexpr std::uint16_t kPassword = 0x0013;
inline constexpr std::uint16_t kHeader = 0x0014;
inline constexpr std::uint16_t kFooter = 0x0015;
inline constexpr std::uint16_t kWinProtect = 0x0019;
inline constexpr std::uint16_t kDate1904 = 0x0022;
inline constexpr std::uint16_t kLeftMargin = 0x0026;
inline constexpr std::uint16_t kRightMargin = 0x0027;
inline constexpr std::uint16_t kTopMargin = 0x0028;
inline constexpr std::uint16_t kBottomMargin = 0x0029;
inline constexpr std::uint16_t kPrintRowCol = 0x002A;
inline constexpr std::uint16_t kPrintGrid = 0x002B;
inline constexpr std::uint16_t kFont = 0x0031;
inline constexpr std::uint16_t kBackup = 0x0040;
inline constexpr std::uint16_t kCodePage = 0x0042;
inline constexpr std::uint16_t kDefColWidth = 0x0055;
inline constexpr std::uint16_t kWriteAccess = 0x005C;
inline constexpr std::uint16_t kSaveRecalc = 0x005F;
inline constexpr std::uint16_t kColInfo = 0x007D;
inline constexpr std::uint16_t kGuts = 0x0080;
inline constexpr std::uint16_t kWsBool = 0x0081;
inline constexpr std::uint16_t kGridSet = 0x0082;
inline constexpr std::uint16_t kHCenter = 0x0083;
inline constexpr std::uint16_t kVCenter = 0x0084;
inline constexpr std::uint16_t kBoundSheet8 = 0x0085;
inline constexpr std::uint16_t kCountry = 0x008C;
inline constexpr std::uint16_t kHideObj = 0x008D;
inline constexpr std::uint16_t kSetup = 0x00A1;
inline constexpr std::uint16_t kMms = 0x00C1;
inline constexpr std::uint16_t kDbCell = 0x00D7;
inline constexpr std::uint16_t kBookBool = 0x00DA;
inline constexpr std::uint16_t kXf = 0x00E0;
inline constexpr std::uint16_t kInterfaceHdr = 0x00E1;
inline constexpr std::uint16_t kInterfaceEnd = 0x00E2;
inline constexpr std::uint16_t kMergeCells = 0x00E5;
inline constexpr std::uint16_t kSst = 0x00FC;
inline constexpr std::uint16_t kLabelSst = 0x00FD;
inline constexpr std::uint16_t kExtSst = 0x00FF;
inline constexpr std::uint16_t kRrTabId = 0x013D;
inline constexpr std::uint16_t kUsesElfs = 0x0160;
inline constexpr std::uint16_t kDsf = 0x0161;
inline constexpr std::uint16_t kProt4Rev = 0x01AF;
inline constexpr std::uint16_t kRefreshAll = 0x01B7;
inline constexpr std::uint16_t kProt4RevPass = 0x01BC;
inline constexpr std::uint16_t kDimensions = 0x0200;
inline constexpr std::uint16_t kBlank = 0x0201;
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kRow = 0x0208;
inline constexpr std::uint16_t kIndex = 0x020B;
inline constexpr std::uint16_t kDefaultRowHeight = 0x0225;
inline constexpr std::uint16_t kWindow2 = 0x023E;
inline constexpr std::uint16_t kRk = 0x027E;
inline constexpr std::uint16_t kStyle = 0x0293;
inline constexpr std::uint16_t kFormat = 0x041E;
inline constexpr std::uint16_t kBof = 0x0809;
inline constexpr std::uint16_t kContinue = 0x003C;
inline constexpr std::uint16_t kWindow1 = 0x003D;
} // namespace rt

// Formula tokens (rgce) for the few formulas the template holds. Cell
// formulas use value-class operands; SUM's argument is reference class, as
// Excel itself stores it. Rows and columns are zero-based; references are
// relative in both directions (the "A1" form without "$").
namespace ptg {
class Rgce {
public:
    Rgce& Ref(std::uint16_t row, std::uint16_t col); // PtgRef, value class 0x44
    // PtgArea within one column: reference class 0x25 (SUM's argument) or
    // array class 0x65 (SUMPRODUCT's arguments), as Excel stores them.
    Rgce& Area(std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col);
    Rgce& ArrayArea(std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col);
    Rgce& Number(double value);         // PtgNum 0x1F
    Rgce& Integer(std::uint16_t value); // PtgInt 0x1E
    Rgce& Add();                        // PtgAdd 0x03
    Rgce& Multiply();                   // PtgMul 0x05
    // PtgFuncVar (value class 0x42) with argc arguments: SUM is function 4,
    // SUMPRODUCT 228.
    Rgce& FuncVar(std::uint16_t function, std::uint8_t argc);
    // PtgFunc (value class 0x41), fixed argument count: ROUND is function 27.
    Rgce& Func(std::uint16_t function);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    Rgce& AreaOfClass(std::uint8_t ptg, std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col);
    Rgce& Loc(std::uint16_t row, std::uint16_t col);
    std::vector<std::uint8_t> bytes_;
};

inline constexpr std::uint16_t kFuncSum = 4;
inline constexpr std::uint16_t kFuncRound = 27;
inline constexpr std::uint16_t kFuncSumProduct = 228;
} // namespace ptg

} // namespace vi2zezir::tools::biff
