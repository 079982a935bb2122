#include "workbook/xls/range_records.h"

#include <algorithm>
#include <span>

#include "workbook/xls/biff.h"

namespace vi2zezir::workbook {
namespace {

namespace op = biff::op;

constexpr std::size_t kRef8Size = 8; // Ref8U: rwFirst, rwLast, colFirst, colLast

// The Ref8U at `at` under the insert. False when the range would leave the
// sheet; it is then left as it was, as is one the record cuts off.
bool ShiftRef8(std::span<std::uint8_t> data, std::size_t at, const formula::InsertShift& shift) {
    biff::RecordCursor cursor(data);
    cursor.Skip(at);
    std::uint32_t r1 = cursor.U16();
    std::uint32_t r2 = cursor.U16();
    const std::uint16_t c1 = cursor.U16();
    const std::uint16_t c2 = cursor.U16();
    if (!cursor.Ok()) return true;
    if (c1 != shift.col || c2 != shift.col || r2 < shift.row || r1 > r2) return true;
    if (r1 == 0 && r2 == kLastRow) return true; // a whole column stays the whole column
    if (r1 >= shift.row) {
        if (r1 + shift.count > kLastRow) return false;
        r1 += shift.count;
    }
    // The end of a growing range is cut at the last row.
    r2 = std::min<std::uint32_t>(r2 + shift.count, kLastRow);
    biff::PutU16(data.subspan(at), static_cast<std::uint16_t>(r1));
    biff::PutU16(data.subspan(at + 2), static_cast<std::uint16_t>(r2));
    return true;
}

// A formula of a conditional format or validation, read as TOKENS from
// RGCE, shifted in place: references to moved cells follow them (token sizes
// never change). Tokens the formula code cannot read are left as they are,
// as for cell formulas.
void ShiftRgce(std::span<std::uint8_t> rgce, const formula::Tokens& tokens, const formula::InsertShift& shift,
               const formula::WorkbookContext& context) {
    if (tokens.rgce.empty()) return;
    try {
        if (auto shifted = formula::ShiftForInsert(tokens, shift.sheet, shift, context))
            std::copy(shifted->rgce.begin(), shifted->rgce.end(), rgce.begin());
    } catch (const Error&) {}
}

// SqRefU at `at`: cref, then cref Ref8U. Moves each range; drops those
// pushed off the sheet. Returns false when the list does not fit the record;
// `left` receives how many ranges remain.
bool ShiftSqRef(std::vector<std::uint8_t>& data, std::size_t at, const formula::InsertShift& shift, std::size_t& left) {
    biff::RecordCursor cursor(data);
    cursor.Skip(at);
    const std::size_t cref = cursor.U16();
    cursor.Skip(cref * kRef8Size);
    if (!cursor.Ok()) return false;
    const std::size_t end = at + 2 + cref * kRef8Size;
    // The ranges that stay are packed to the front of the list.
    left = 0;
    for (std::size_t i = 0; i < cref; ++i) {
        const std::size_t refAt = at + 2 + i * kRef8Size;
        if (!ShiftRef8(data, refAt, shift)) continue;
        const auto ref = std::span(data).subspan(refAt, kRef8Size);
        if (left != i)
            std::copy(ref.begin(), ref.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 2 + left * kRef8Size));
        ++left;
    }
    if (left == cref) return true;
    biff::PutU16(std::span(data).subspan(at), static_cast<std::uint16_t>(left));
    data.erase(data.begin() + static_cast<std::ptrdiff_t>(at + 2 + left * kRef8Size),
               data.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

// CondFmt: ccf, flags and id, refBound (the box around every range), sqref.
// Returns false when every range went off the sheet.
bool ShiftCondFmt(RawRecord& rec, const formula::InsertShift& shift) {
    constexpr std::size_t kSqRefAt = 12;
    std::size_t left = 0;
    if (!ShiftSqRef(rec.data, kSqRefAt, shift, left)) return true;
    if (left == 0) return false;
    auto d = std::span(rec.data);
    std::uint16_t r1 = 0xFFFF, r2 = 0, c1 = 0xFFFF, c2 = 0;
    biff::RecordCursor cursor(d);
    cursor.Skip(kSqRefAt + 2);
    for (std::size_t i = 0; i < left; ++i) {
        r1 = std::min(r1, cursor.U16());
        r2 = std::max(r2, cursor.U16());
        c1 = std::min(c1, cursor.U16());
        c2 = std::max(c2, cursor.U16());
    }
    biff::PutU16(d.subspan(4), r1);
    biff::PutU16(d.subspan(6), r2);
    biff::PutU16(d.subspan(8), c1);
    biff::PutU16(d.subspan(10), c2);
    return true;
}

// CF: ct, cp, cce1, cce2, the differential format (of varying size), then
// the two formulas at the very end.
void ShiftCf(RawRecord& rec, const formula::InsertShift& shift, const formula::WorkbookContext& context) {
    biff::RecordCursor cursor(rec.data);
    cursor.Skip(2);
    const std::size_t cce1 = cursor.U16();
    const std::size_t cce2 = cursor.U16();
    if (!cursor.Ok() || cursor.Remaining() < cce1 + cce2) return;
    cursor.Skip(cursor.Remaining() - cce1 - cce2);
    const std::size_t first = cursor.Position();
    const formula::Tokens tokens1 = biff::ReadFormula(cursor, cce1, biff::FormulaTail::TokensOnly);
    const formula::Tokens tokens2 = biff::ReadFormula(cursor, cce2, biff::FormulaTail::TokensOnly);
    if (!cursor.Ok()) return;
    ShiftRgce(std::span(rec.data).subspan(first, cce1), tokens1, shift, context);
    ShiftRgce(std::span(rec.data).subspan(first + cce1, cce2), tokens2, shift, context);
}

// DV: flags, four XLUnicodeStrings (titles and messages), two formulas
// (cce, unused, rgce), then sqref. Returns false when every range went off
// the sheet.
bool ShiftDv(RawRecord& rec, const formula::InsertShift& shift, const formula::WorkbookContext& context) {
    biff::RecordCursor cursor(rec.data);
    cursor.Skip(4);
    for (int i = 0; i < 4; ++i) {
        const std::size_t cch = cursor.U16();
        const bool highByte = (cursor.U8() & 0x01) != 0;
        cursor.Skip(cch * (highByte ? 2 : 1));
    }
    std::size_t rgceAt[2];
    formula::Tokens tokens[2];
    for (int i = 0; i < 2; ++i) {
        const std::size_t cce = cursor.U16();
        cursor.Skip(2);
        rgceAt[i] = cursor.Position();
        tokens[i] = biff::ReadFormula(cursor, cce, biff::FormulaTail::TokensOnly);
    }
    // The ranges are checked before anything is changed.
    const std::size_t sqRefAt = cursor.Position();
    cursor.Skip(std::size_t{cursor.U16()} * kRef8Size);
    if (!cursor.Ok()) return true;
    for (int i = 0; i < 2; ++i)
        ShiftRgce(std::span(rec.data).subspan(rgceAt[i], tokens[i].rgce.size()), tokens[i], shift, context);
    std::size_t left = 0;
    ShiftSqRef(rec.data, sqRefAt, shift, left);
    return left != 0;
}

} // namespace

void ShiftRangeRecords(std::vector<RawRecord>& records, const formula::InsertShift& shift,
                       const formula::WorkbookContext& context) {
    std::vector<bool> drop(records.size(), false);
    std::size_t droppedValidations = 0;
    std::size_t dval = SIZE_MAX;
    for (std::size_t i = 0; i < records.size(); ++i) {
        RawRecord& rec = records[i];
        switch (rec.opcode) {
        case op::kHLink:
        case op::kHLinkTooltip: {
            // Hyperlinks (and their tooltips) start with the cell range they
            // cover; one whose cell would leave the sheet stays where it is.
            ShiftRef8(rec.data, rec.opcode == op::kHLink ? 0 : 2, shift);
            break;
        }
        case op::kNote: {
            // A cell's comment: row, column, then the comment's object. The
            // comment box is a shape and, like other shapes, stays put on a
            // cell shift; the comment itself belongs to its cell.
            biff::RecordCursor cursor(rec.data);
            const std::uint32_t r = cursor.U16();
            const std::uint16_t c = cursor.U16();
            if (cursor.Ok() && c == shift.col && r >= shift.row && r + shift.count <= kLastRow)
                biff::PutU16(rec.data, static_cast<std::uint16_t>(r + shift.count));
            break;
        }
        case op::kCondFmt:
            if (!ShiftCondFmt(rec, shift)) {
                // Gone with its rules, the CF records that follow it.
                drop[i] = true;
                biff::RecordCursor cursor(rec.data);
                const std::size_t ccf = cursor.U16(); // zero when cut off
                for (std::size_t k = 0; k < ccf && i + 1 < records.size() && records[i + 1].opcode == op::kCf; ++k)
                    drop[++i] = true;
            }
            break;
        case op::kCf: ShiftCf(rec, shift, context); break;
        case op::kDVal: dval = i; break;
        case op::kDv:
            if (!ShiftDv(rec, shift, context)) {
                drop[i] = true;
                ++droppedValidations;
            }
            break;
        default: break;
        }
    }
    // DVal counts the validations that follow it.
    if (droppedValidations > 0 && dval != SIZE_MAX) {
        biff::RecordCursor cursor(records[dval].data);
        cursor.Skip(14);
        const std::uint32_t had = cursor.U32();
        if (cursor.Ok())
            biff::PutU32(std::span(records[dval].data).subspan(14),
                         had >= droppedValidations ? static_cast<std::uint32_t>(had - droppedValidations) : 0);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (drop[i]) continue;
        if (kept != i) records[kept] = std::move(records[i]);
        ++kept;
    }
    records.resize(kept);
}

} // namespace vi2zezir::workbook
