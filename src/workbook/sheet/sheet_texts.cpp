// The texts of every sheet, read-only, for tools that inspect a template
// without filling it.
#include <algorithm>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

std::vector<Workbook::SheetText> Workbook::SheetTexts(std::size_t sheet) {
    std::vector<SheetText> texts;
    if (sheet >= sheets_.size()) return texts;
    if (sheet == editable_) {
        for (std::uint16_t col = 0; col < formula::kMaxCols; ++col) {
            for (const Cell& cell : columns_[col].cells) {
                std::u16string text = TextOf(cell);
                if (!text.empty()) texts.push_back({cell.row, col, std::move(text)});
            }
        }
    } else if (keeper_) {
        for (auto& t : keeper_->OtherSheetTexts(*this, sheet)) texts.push_back({t.row, t.col, std::move(t.text)});
    } else {
        // Only the sheet's own cells: records inside an embedded chart's
        // BOF..EOF belong to the chart.
        int depth = 0;
        for (const RawRecord& rec : sheetRecords_[sheet]) {
            if (rec.opcode == biff::op::kBof) ++depth;
            if (rec.opcode == biff::op::kEof) --depth;
            if (depth != 1 || rec.data.size() < 6) continue;
            const std::span<const std::uint8_t> d(rec.data);
            const std::uint32_t row = biff::GetU16(d);
            const std::uint16_t col = biff::GetU16(d.subspan(2));
            std::u16string text;
            if (rec.opcode == biff::op::kLabelSst) {
                if (d.size() < 10) continue;
                const std::uint32_t isst = biff::GetU32(d.subspan(6));
                if (isst < sst_.Size()) text = sst_.Text(isst);
            } else if (rec.opcode == biff::op::kLabel || rec.opcode == biff::op::kRString) {
                biff::RecordCursor cursor(d.subspan(6));
                text = biff::ReadUnicodeString(cursor);
                if (!cursor.Ok()) continue;
            } else {
                continue;
            }
            if (!text.empty()) texts.push_back({row, col, std::move(text)});
        }
    }
    std::sort(texts.begin(), texts.end(),
              [](const SheetText& a, const SheetText& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    return texts;
}

} // namespace vi2zezir::workbook
