// The texts of every sheet, read-only, for tools that inspect a template
// without filling it.
#include <algorithm>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

std::vector<Workbook::SheetText> Workbook::SheetTexts(std::size_t sheet, std::optional<char16_t> containing) {
    const auto wanted = [&](const std::u16string& text) {
        return !text.empty() && (!containing || text.find(*containing) != std::u16string::npos);
    };
    std::vector<SheetText> texts;
    if (sheet >= sheets_.size()) return texts;
    if (sheet == editable_) {
        // A cell's signature holds every character of its text, so a cell
        // whose signature lacks the character is passed over unmade.
        const std::uint64_t required = containing ? CharSig(std::u16string_view(&*containing, 1)) : 0;
        // By rows: the positions are sorted first (row, column, the cell's
        // place in its column), and each text is made once, in its place.
        std::vector<std::uint64_t> order;
        for (std::uint16_t col = 0; col < formula::kMaxCols; ++col) {
            const std::vector<Cell>& cells = columns_[col].cells;
            for (std::size_t i = 0; i < cells.size(); ++i)
                if ((cells[i].sig & required) == required)
                    order.push_back((std::uint64_t{cells[i].row} << 40) | (std::uint64_t{col} << 24) | i);
        }
        std::sort(order.begin(), order.end());
        texts.reserve(order.size());
        for (const std::uint64_t key : order) {
            const auto col = static_cast<std::uint16_t>((key >> 24) & 0xFFFF);
            const Cell& cell = columns_[col].cells[key & 0xFFFFFF];
            std::u16string text = TextOf(cell);
            if (wanted(text)) texts.push_back({cell.row, col, std::move(text)});
        }
        return texts;
    } else if (keeper_) {
        for (auto& t : keeper_->OtherSheetTexts(*this, sheet))
            if (wanted(t.text)) texts.push_back({t.row, t.col, std::move(t.text)});
    } else {
        // Only the sheet's own cells: records inside an embedded chart's
        // BOF..EOF belong to the chart.
        int depth = 0;
        for (const RawRecord& rec : sheetRecords_[sheet]) {
            if (rec.opcode == biff::op::kBof) ++depth;
            if (rec.opcode == biff::op::kEof) --depth;
            if (depth != 1) continue;
            const bool sst = rec.opcode == biff::op::kLabelSst;
            if (!sst && rec.opcode != biff::op::kLabel && rec.opcode != biff::op::kRString) continue;
            // rw, col, ixfe, then the text or its number in the table.
            biff::RecordCursor cursor(rec.data);
            const std::uint32_t row = cursor.U16();
            const std::uint16_t col = cursor.U16();
            cursor.Skip(2);
            std::u16string text;
            if (sst) {
                const std::uint32_t isst = cursor.U32();
                if (cursor.Ok() && isst < sst_.Size()) text = sst_.Text(isst);
            } else {
                text = biff::ReadUnicodeString(cursor);
            }
            if (!cursor.Ok()) continue;
            if (wanted(text)) texts.push_back({row, col, std::move(text)});
        }
    }
    std::sort(texts.begin(), texts.end(),
              [](const SheetText& a, const SheetText& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    return texts;
}

WorkbookContents ReadContents(std::span<const std::uint8_t> fileBytes, std::optional<char16_t> containing) {
    auto book = Workbook::Load(fileBytes);
    WorkbookContents contents;
    contents.editableSheet = book->EditableSheet();
    contents.sheets.resize(book->SheetCount());
    for (std::size_t s = 0; s < contents.sheets.size(); ++s) {
        contents.sheets[s].name = book->SheetNameAt(s);
        contents.sheets[s].texts = book->SheetTexts(s, containing);
    }
    return contents;
}

} // namespace vi2zezir::workbook
