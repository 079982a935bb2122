// Rewriting references in place: unsharing relative tokens for one cell, and
// following cells that an insert pushes down. Every rewrite keeps token sizes,
// so the IF/CHOOSE jump offsets stay right and rgcb stays in step.
#include "workbook/formula/internal.h"

#include <algorithm>

namespace vi2zezir::workbook::formula {
namespace {

using namespace detail;

void PutLoc(std::vector<std::uint8_t>& rgce, std::size_t rowAt, std::size_t colAt, std::uint32_t row,
            std::uint16_t colField) {
    WriteU16(rgce, rowAt, static_cast<std::uint16_t>(row));
    WriteU16(rgce, colAt, colField);
}

// Calls visit(at, base) for every token that holds cell coordinates.
template <typename Visit>
void ForEachReference(std::span<const std::uint8_t> rgce, Visit visit) {
    for (std::size_t at = 0; at < rgce.size();) {
        const std::size_t size = TokenSize(rgce, at);
        if (IsClassified(rgce[at])) visit(at, BaseOf(rgce[at]));
        at += size;
    }
}

} // namespace

Tokens Unshare(const Tokens& shared, CellPos host) {
    Tokens tokens = shared;
    if (tokens.rgce.size() > 0xFFFF) Fail("formula tokens are too long");
    ForEachReference(shared.rgce, [&](std::size_t at, std::uint8_t base) {
        const std::uint8_t cls = static_cast<std::uint8_t>(shared.rgce[at] & 0x60);
        if (base == kPtgRefN || base == kPtgAreaN) {
            const Area area = ReadRefArea(shared.rgce, at, base, host);
            const std::uint16_t flagsFirst =
                static_cast<std::uint16_t>((area.rowFirstRel ? kRowRelBit : 0) | (area.colFirstRel ? kColRelBit : 0));
            const std::uint16_t flagsLast =
                static_cast<std::uint16_t>((area.rowLastRel ? kRowRelBit : 0) | (area.colLastRel ? kColRelBit : 0));
            if (base == kPtgRefN) {
                tokens.rgce[at] = static_cast<std::uint8_t>(cls | kPtgRef);
                PutLoc(tokens.rgce, at + 1, at + 3, area.rowFirst,
                       static_cast<std::uint16_t>(area.colFirst | flagsFirst));
            } else {
                tokens.rgce[at] = static_cast<std::uint8_t>(cls | kPtgArea);
                WriteU16(tokens.rgce, at + 1, static_cast<std::uint16_t>(area.rowFirst));
                WriteU16(tokens.rgce, at + 3, static_cast<std::uint16_t>(area.rowLast));
                WriteU16(tokens.rgce, at + 5, static_cast<std::uint16_t>(area.colFirst | flagsFirst));
                WriteU16(tokens.rgce, at + 7, static_cast<std::uint16_t>(area.colLast | flagsLast));
            }
        } else if (base == kPtgMemAreaN || base == kPtgMemNoMemN) {
            // Same three bytes, no precomputed areas to carry in rgcb.
            tokens.rgce[at] = static_cast<std::uint8_t>(cls | kPtgMemFunc);
        }
    });
    return tokens;
}

std::optional<Tokens> ShiftForInsert(const Tokens& tokens, std::uint16_t formulaSheet, const InsertShift& shift,
                                     const WorkbookContext& context) {
    if (tokens.rgce.size() > 0xFFFF) Fail("formula tokens are too long");
    Tokens result = tokens;
    bool changed = false;
    std::vector<std::uint8_t>& rgce = result.rgce;
    const std::uint64_t count = shift.count;

    ForEachReference(tokens.rgce, [&](std::size_t at, std::uint8_t base) {
        const bool is3d = base == kPtgRef3d || base == kPtgArea3d;
        if (base != kPtgRef && base != kPtgArea && !is3d) return; // N tokens: the caller unshares first
        std::uint16_t sheet = formulaSheet;
        if (is3d) {
            const auto mapped = context.SheetOfIxti(ReadU16(tokens.rgce, at + 1));
            if (!mapped) return;
            sheet = *mapped;
        }
        if (sheet != shift.sheet) return;
        const Area area = ReadRefArea(tokens.rgce, at, base, CellPos{});
        // Only references lying wholly in the one shifted column follow.
        if (area.colFirst != shift.col || area.colLast != shift.col) return;
        const std::size_t p = at + 1 + (is3d ? 2 : 0);
        const std::uint8_t cls = static_cast<std::uint8_t>(tokens.rgce[at] & 0x60);
        auto moved = [&](std::uint32_t row) -> std::uint64_t { return row >= shift.row ? row + count : row; };

        if (base == kPtgRef || base == kPtgRef3d) {
            const std::uint64_t row = moved(area.rowFirst);
            if (row == area.rowFirst) return;
            changed = true;
            if (row >= kMaxRows) {
                rgce[at] = static_cast<std::uint8_t>(cls | (is3d ? kPtgRefErr3d : kPtgRefErr));
                std::fill(rgce.begin() + static_cast<std::ptrdiff_t>(p),
                          rgce.begin() + static_cast<std::ptrdiff_t>(p + 4), 0);
            } else {
                WriteU16(rgce, p, static_cast<std::uint16_t>(row));
            }
            return;
        }
        // A whole column stays the whole column.
        if (area.rowFirst == 0 && area.rowLast == kMaxRows - 1) return;
        const std::uint64_t first = moved(area.rowFirst);
        if (first >= kMaxRows) {
            changed = true;
            rgce[at] = static_cast<std::uint8_t>(cls | (is3d ? kPtgAreaErr3d : kPtgAreaErr));
            std::fill(rgce.begin() + static_cast<std::ptrdiff_t>(p), rgce.begin() + static_cast<std::ptrdiff_t>(p + 8),
                      0);
            return;
        }
        // The end of a growing area is cut at the last row, as Excel keeps
        // ranges that run to the bottom of the sheet.
        const std::uint64_t last = std::min<std::uint64_t>(moved(area.rowLast), kMaxRows - 1);
        if (first == area.rowFirst && last == area.rowLast) return;
        changed = true;
        WriteU16(rgce, p, static_cast<std::uint16_t>(first));
        WriteU16(rgce, p + 2, static_cast<std::uint16_t>(last));
    });
    if (!changed) return std::nullopt;
    return result;
}

void CollectReferencedColumns(const Tokens& tokens, std::uint16_t formulaSheet, const WorkbookContext& context,
                              std::vector<std::pair<std::uint16_t, std::uint16_t>>& sheetAndCol) {
    if (tokens.rgce.size() > 0xFFFF) Fail("formula tokens are too long");
    const std::size_t before = sheetAndCol.size();
    ForEachReference(tokens.rgce, [&](std::size_t at, std::uint8_t base) {
        const bool is3d = base == kPtgRef3d || base == kPtgArea3d;
        if (base != kPtgRef && base != kPtgArea && !is3d) return;
        std::uint16_t sheet = formulaSheet;
        if (is3d) {
            const auto mapped = context.SheetOfIxti(ReadU16(tokens.rgce, at + 1));
            if (!mapped) return;
            sheet = *mapped;
        }
        const Area area = ReadRefArea(tokens.rgce, at, base, CellPos{});
        const std::uint16_t last = std::min<std::uint16_t>(area.colLast, kMaxCols - 1);
        for (std::uint32_t col = area.colFirst; col <= last; ++col)
            sheetAndCol.emplace_back(sheet, static_cast<std::uint16_t>(col));
    });
    std::sort(sheetAndCol.begin() + static_cast<std::ptrdiff_t>(before), sheetAndCol.end());
    sheetAndCol.erase(std::unique(sheetAndCol.begin() + static_cast<std::ptrdiff_t>(before), sheetAndCol.end()),
                      sheetAndCol.end());
}

void CollectReferences(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host, const WorkbookContext& context,
                       bool inName, References& out) {
    if (tokens.rgce.size() > 0xFFFF) Fail("formula tokens are too long");
    const std::span<const std::uint8_t> rgce(tokens.rgce);
    for (std::size_t at = 0; at < rgce.size();) {
        const std::size_t size = TokenSize(rgce, at);
        const std::uint8_t ptg = rgce[at];
        if (ptg == kPtgExp || ptg == kPtgTbl) out.anywhere = true;
        if (!IsClassified(ptg)) {
            at += size;
            continue;
        }
        const std::uint8_t base = BaseOf(ptg);
        switch (base) {
        case kPtgFunc:
        case kPtgFuncVar: {
            const std::uint16_t id = base == kPtgFunc ? ReadU16(rgce, at + 1) : ReadU16(rgce, at + 2) & 0x7FFF;
            // References these compute can land anywhere.
            if (id == 78 || id == 148 || id == 125 || id == kExternalFunction) out.anywhere = true;
            break;
        }
        case kPtgName: out.names.push_back(ReadU16(rgce, at + 1)); break;
        case kPtgNameX: out.anywhere = true; break;
        case kPtgRef:
        case kPtgArea:
        case kPtgRefN:
        case kPtgAreaN:
        case kPtgRef3d:
        case kPtgArea3d: {
            const bool is3d = base == kPtgRef3d || base == kPtgArea3d;
            std::pair<std::uint16_t, std::uint16_t> sheets{formulaSheet, formulaSheet};
            if (is3d) {
                const auto mapped = context.SheetsOfIxti(ReadU16(rgce, at + 1));
                if (!mapped) break; // another workbook's
                sheets = *mapped;
            }
            const Area a = ReadRefArea(rgce, at, base, host);
            const bool relative = a.rowFirstRel || a.rowLastRel || a.colFirstRel || a.colLastRel;
            if (inName && (relative || !is3d)) {
                out.anywhere = true;
                break;
            }
            out.areas.push_back({std::min(sheets.first, sheets.second), std::max(sheets.first, sheets.second),
                                 std::min(a.rowFirst, a.rowLast),
                                 std::min<std::uint32_t>(std::max(a.rowFirst, a.rowLast), kMaxRows - 1),
                                 std::min(a.colFirst, a.colLast),
                                 std::min<std::uint16_t>(std::max(a.colFirst, a.colLast), kMaxCols - 1)});
            break;
        }
        default: break;
        }
        at += size;
    }
}

} // namespace vi2zezir::workbook::formula
