#include "workbook/xls/range_records.h"

#include <algorithm>
#include <span>

#include "workbook/xls/biff.h"

namespace vi2zezir::workbook {
namespace {

namespace op = biff::op;

constexpr std::size_t kRef8Size = 8; // Ref8U: rwFirst, rwLast, colFirst, colLast

// One Ref8U under the insert. False when the range would leave the sheet;
// it is then left as it was.
bool ShiftRef8(std::span<std::uint8_t> ref, const formula::InsertShift& shift) {
    std::uint32_t r1 = biff::GetU16(ref), r2 = biff::GetU16(ref.subspan(2));
    const std::uint16_t c1 = biff::GetU16(ref.subspan(4)), c2 = biff::GetU16(ref.subspan(6));
    if (c1 != shift.col || c2 != shift.col || r2 < shift.row || r1 > r2) return true;
    if (r1 == 0 && r2 == kLastRow) return true; // a whole column stays the whole column
    if (r1 >= shift.row) {
        if (r1 + shift.count > kLastRow) return false;
        r1 += shift.count;
    }
    // The end of a growing range is cut at the last row.
    r2 = std::min<std::uint32_t>(r2 + shift.count, kLastRow);
    biff::PutU16(ref, static_cast<std::uint16_t>(r1));
    biff::PutU16(ref.subspan(2), static_cast<std::uint16_t>(r2));
    return true;
}

// A formula of a conditional format or validation, in place: references to
// moved cells follow them (token sizes never change). Tokens the formula
// code cannot read are left as they are, as for cell formulas.
void ShiftRgce(std::span<std::uint8_t> rgce, const formula::InsertShift& shift,
               const formula::WorkbookContext& context) {
    if (rgce.empty()) return;
    formula::Tokens tokens{std::vector<std::uint8_t>(rgce.begin(), rgce.end()), {}};
    try {
        if (auto shifted = formula::ShiftForInsert(tokens, shift.sheet, shift, context))
            std::copy(shifted->rgce.begin(), shifted->rgce.end(), rgce.begin());
    } catch (const Error&) {}
}

// SqRefU at `at`: cref, then cref Ref8U. Moves each range; drops those
// pushed off the sheet. Returns false when the list does not fit the record;
// `left` receives how many ranges remain.
bool ShiftSqRef(std::vector<std::uint8_t>& data, std::size_t at, const formula::InsertShift& shift, std::size_t& left) {
    if (data.size() < at + 2) return false;
    const std::size_t cref = biff::GetU16(std::span(data).subspan(at));
    const std::size_t end = at + 2 + cref * kRef8Size;
    if (end > data.size()) return false;
    // The ranges that stay are packed to the front of the list.
    left = 0;
    for (std::size_t i = 0; i < cref; ++i) {
        auto ref = std::span(data).subspan(at + 2 + i * kRef8Size, kRef8Size);
        if (!ShiftRef8(ref, shift)) continue;
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
    for (std::size_t i = 0; i < left; ++i) {
        auto ref = d.subspan(kSqRefAt + 2 + i * kRef8Size, kRef8Size);
        r1 = std::min(r1, biff::GetU16(ref));
        r2 = std::max(r2, biff::GetU16(ref.subspan(2)));
        c1 = std::min(c1, biff::GetU16(ref.subspan(4)));
        c2 = std::max(c2, biff::GetU16(ref.subspan(6)));
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
    if (rec.data.size() < 6) return;
    const std::size_t cce1 = biff::GetU16(std::span(rec.data).subspan(2));
    const std::size_t cce2 = biff::GetU16(std::span(rec.data).subspan(4));
    if (6 + cce1 + cce2 > rec.data.size()) return;
    const std::size_t second = rec.data.size() - cce2;
    ShiftRgce(std::span(rec.data).subspan(second - cce1, cce1), shift, context);
    ShiftRgce(std::span(rec.data).subspan(second, cce2), shift, context);
}

// DV: flags, four XLUnicodeStrings (titles and messages), two formulas
// (cce, unused, rgce), then sqref. Returns false when every range went off
// the sheet.
bool ShiftDv(RawRecord& rec, const formula::InsertShift& shift, const formula::WorkbookContext& context) {
    std::size_t at = 4;
    const std::size_t size = rec.data.size();
    for (int i = 0; i < 4; ++i) {
        if (at + 3 > size) return true;
        const std::size_t cch = biff::GetU16(std::span(rec.data).subspan(at));
        const bool highByte = (rec.data[at + 2] & 0x01) != 0;
        at += 3 + cch * (highByte ? 2 : 1);
    }
    std::span<std::uint8_t> formulas[2];
    for (auto& rgce : formulas) {
        if (at + 4 > size) return true;
        const std::size_t cce = biff::GetU16(std::span(rec.data).subspan(at));
        at += 4;
        if (at + cce > size) return true;
        rgce = std::span(rec.data).subspan(at, cce);
        at += cce;
    }
    // The ranges are checked before anything is changed.
    if (at + 2 > size || at + 2 + biff::GetU16(std::span(rec.data).subspan(at)) * kRef8Size > size) return true;
    for (auto rgce : formulas) ShiftRgce(rgce, shift, context);
    std::size_t left = 0;
    ShiftSqRef(rec.data, at, shift, left);
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
            const std::size_t at = rec.opcode == op::kHLink ? 0 : 2;
            if (rec.data.size() >= at + kRef8Size) ShiftRef8(std::span(rec.data).subspan(at, kRef8Size), shift);
            break;
        }
        case op::kNote: {
            // A cell's comment: row, column, then the comment's object. The
            // comment box is a shape and, like other shapes, stays put on a
            // cell shift; the comment itself belongs to its cell.
            if (rec.data.size() < 4) break;
            auto at = std::span(rec.data);
            const std::uint32_t r = biff::GetU16(at);
            if (biff::GetU16(at.subspan(2)) == shift.col && r >= shift.row && r + shift.count <= kLastRow)
                biff::PutU16(at, static_cast<std::uint16_t>(r + shift.count));
            break;
        }
        case op::kCondFmt:
            if (!ShiftCondFmt(rec, shift)) {
                // Gone with its rules, the CF records that follow it.
                drop[i] = true;
                const std::size_t ccf = rec.data.size() >= 2 ? biff::GetU16(rec.data) : 0;
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
    if (droppedValidations > 0 && dval != SIZE_MAX && records[dval].data.size() >= 18) {
        auto count = std::span(records[dval].data).subspan(14, 4);
        const std::uint32_t had = biff::GetU32(count);
        biff::PutU32(count, had >= droppedValidations ? static_cast<std::uint32_t>(had - droppedValidations) : 0);
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
