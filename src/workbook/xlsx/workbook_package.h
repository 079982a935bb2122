// A workbook package read into the sheet model: what the model holds of it
// (the first worksheet's cells, styles as cell formats, sheet and defined
// names) is filled by the reader; everything else stays in the package,
// kept by XlsxKeeper, and is written back untouched. The first worksheet's
// XML is spliced: its cell table is written anew from the model, cells no
// edit reached are copied as they were read, and every other element passes
// through with the ranges that name cells moved by inserts.
#pragma once

#include <array>
#include <bitset>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "workbook/sheet/model.h"
#include "workbook/xlsx/a1_text.h"
#include "workbook/xlsx/package.h"

namespace vi2zezir::workbook {

// The cell formats (cellXfs) of a package as the sheet operations see them:
// a number format id and the quote prefix each. A format the edits add
// remembers the one read that it was made from, so the writer can clone that
// one's fonts, fills and borders.
class PackageStyles final : public CellStyles {
public:
    // Excel's own limit on the cell formats of a workbook.
    static constexpr std::size_t kMaxCount = 65000;

    // A format as read; false when there are too many.
    bool AddRead(std::uint16_t numFmt, bool quotePrefix) {
        if (styles_.size() >= kMaxCount) return false;
        styles_.push_back({numFmt, quotePrefix, static_cast<std::uint16_t>(styles_.size())});
        return true;
    }
    // Cells may name formats the styles part lacks: they count as General.
    void PadTo(std::size_t count) {
        while (styles_.size() < count) styles_.push_back({0, false, static_cast<std::uint16_t>(styles_.size())});
    }
    // Ends the reading: formats added from here on are new to the file.
    void EndOfRead() { readCount_ = styles_.size(); }
    std::size_t ReadCount() const { return readCount_; }
    // The format read that xf was made from (xf itself when it was read).
    std::uint16_t BaseOf(std::uint16_t xf) const { return xf < styles_.size() ? styles_[xf].base : 0; }

    std::size_t Count() const override { return styles_.size(); }
    std::uint16_t NumberFormat(std::uint16_t xf) const override {
        return xf < styles_.size() ? styles_[xf].numFmt : 0;
    }
    bool HasQuotePrefix(std::uint16_t xf) const override { return xf < styles_.size() && styles_[xf].quotePrefix; }
    std::optional<std::uint16_t> AddWithNumberFormat(std::uint16_t xf, std::uint16_t ifmt) override {
        return Append({ifmt, HasQuotePrefix(xf), BaseOf(xf)});
    }
    std::optional<std::uint16_t> AddWithQuotePrefix(std::uint16_t xf, bool prefix) override {
        return Append({NumberFormat(xf), prefix, BaseOf(xf)});
    }

private:
    struct Style {
        std::uint16_t numFmt = 0;
        bool quotePrefix = false;
        std::uint16_t base = 0;
    };
    std::optional<std::uint16_t> Append(Style style) {
        if (styles_.size() >= kMaxCount) return std::nullopt;
        styles_.push_back(style);
        return static_cast<std::uint16_t>(styles_.size() - 1);
    }

    std::vector<Style> styles_;
    std::size_t readCount_ = 0;
};

class XlsxKeeper : public FormatKeeper {
public:
    explicit XlsxKeeper(xlsx::Package package) : package_(std::move(package)) { keptLast_.fill(-1); }

    void CheckInsert(const Workbook& wb, std::uint32_t row, std::uint16_t col) const override;
    void Inserted(Workbook& wb, const formula::InsertShift& shift) override;
    std::vector<std::uint8_t> Save(Workbook& wb) override;
    std::vector<Text> OtherSheetTexts(const Workbook& wb, std::size_t sheet) const override;

    // Writes the sheet, the shared strings and the workbook part anew even
    // when nothing changed, so that a test can show that an empty transfer
    // through the writer loses nothing.
    bool rewriteAll = false;
    // Writes every cell from the model, none copied as read.
    bool regenerateCells = false;
    const std::string& SheetPart() const { return sheetPart_; }

private:
    friend class XlsxReader;
    friend class XlsxWriter;
    friend class SheetHandler;

    xlsx::Package package_;
    xlsx::WorkbookParts parts_;
    std::string sheetPart_;
    std::string sheetXml_; // as read
    std::size_t sheetDataBegin_ = 0, sheetDataEnd_ = 0;
    bool sheetDataEmptyTag_ = false; // <sheetData/>
    std::string sheetDataPrefix_;    // "x:" when the sheet's elements carry one

    // A cell as read, in the order of the sheet: its key (row << 8 | col),
    // where its element lies in sheetXml_, and its content as the model
    // first held it.
    struct RawCell {
        std::uint32_t key = 0;
        std::uint32_t offset = 0, length = 0;
        Cell cell;
        bool kept = false;   // a formula held as its value: written only as read
        bool shared = false; // a shared string's cell (t="s")
    };
    std::vector<RawCell> cells_; // ascending key
    const RawCell* RawAt(std::uint32_t row, std::uint16_t col) const;

    // Rows as read: the attributes besides r, and what lies beyond the
    // model's grid (cells right of column IV, whole rows below 65,536).
    struct RowInfo {
        std::vector<xlsx::xml::Attribute> attributes;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> beyond; // offset, length of cells
    };
    std::map<std::uint32_t, RowInfo> rows_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rowsBeyond_; // whole <row> elements
    std::bitset<formula::kMaxCols> columnsBeyond_;                    // columns with cells below row 65,536
    std::vector<Area> tables_;   // the sheet's tables (parts of their own, not moved)
    std::vector<Area> comments_; // cells with comments (parts of their own, not moved)

    // Formulas as read, by formula id: the cached result, so that the writer
    // can tell a recomputed one.
    struct FormulaRead {
        std::array<std::uint8_t, 8> cached{};
        std::u16string cachedText;
        std::int64_t sharedIndex = -1; // si of a shared formula's host or member
        bool hasValue = true;          // false: stored without a result
    };
    std::vector<FormulaRead> formulasRead_;
    std::unordered_map<std::int64_t, std::uint32_t> sharedHosts_; // si -> key
    // Formulas the model holds as their values (array formulas, data tables,
    // texts the parser does not take): the columns they read.
    xlsx::ColumnsReferred keptRefer_;
    std::array<std::int64_t, formula::kMaxCols> keptLast_; // per column: the last row holding such a formula
    std::bitset<formula::kMaxCols> insertedColumns_;
    // Formulas of other sheets and names kept as text that read this sheet.
    xlsx::ColumnsReferred othersRefer_;
    bool keptFormulas_ = false;
    bool uncomputed_ = false; // a formula without a stored result

    // Attributes of the sheet's other elements that name ranges.
    struct RangeAttribute {
        std::size_t offset = 0, length = 0; // the value in sheetXml_
        std::vector<Area> areas;
        bool dimension = false;
        bool changed = false;
    };
    std::vector<RangeAttribute> ranges_;

    // Defined names in workbook.xml order; tokens when the parser took them.
    struct NameRead {
        std::optional<formula::Tokens> tokens;
        bool changed = false;
    };
    std::vector<NameRead> names_;

    std::uint32_t sharedStringsRead_ = 0; // <si> entries of the part
    std::uint64_t sharedCountRead_ = 0;   // its count attribute
    std::uint64_t sheetSharedRefs_ = 0;   // t="s" cells of this sheet as read
    PackageStyles* styles_ = nullptr; // owned by the workbook
    bool inserted_ = false;
};

} // namespace vi2zezir::workbook
