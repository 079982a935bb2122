#include "workbook_writer.h"

#include "biff_records.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace vi2zezir::tools::biff {

namespace {

constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kBofGlobals = 0x0005;
constexpr std::uint16_t kBofWorksheet = 0x0010;
constexpr std::uint16_t kCodePageUtf16 = 1200;
// Excel groups ROW records and their cells in blocks of at most 32 rows,
// each closed by a DBCELL.
constexpr std::uint16_t kRowsPerBlock = 32;
constexpr std::size_t kRowRecordSize = kRecordHeader + 16;

Body Bof(std::uint16_t type) {
    Body b;
    // rupBuild/rupYear as Excel 97 writes them; sfo = lowest BIFF version
    // that reads every record (BIFF8).
    b.U16(kBiff8).U16(type).U16(0x0DBB).U16(0x07CC).U32(0).U32(0x06);
    return b;
}

// ---------------------------------------------------------------- strings

class SharedStrings {
public:
    std::uint32_t Index(const std::u16string& text) {
        ++total_;
        auto [it, inserted] = index_.try_emplace(text, static_cast<std::uint32_t>(strings_.size()));
        if (inserted) {
            strings_.push_back(text);
        }
        return it->second;
    }

    // SST with CONTINUE records when the strings exceed one record (a string
    // never straddles two records here), then EXTSST with the stream
    // position of every bucket's first string.
    void Write(RecordStream& out) const {
        // Excel's bucket size: at least 8 strings, and no more than 128 buckets.
        const std::size_t perBucket = std::max<std::size_t>(8, (strings_.size() + 127) / 128);
        struct BucketStart {
            std::uint32_t streamPos;
            std::uint16_t recordOffset;
        };
        std::vector<BucketStart> buckets;

        Body body;
        body.U32(total_).U32(static_cast<std::uint32_t>(strings_.size()));
        std::uint16_t type = rt::kSst;
        std::vector<std::pair<std::size_t, std::size_t>> pendingStarts; // string, body offset

        auto flush = [&] {
            const std::size_t at = out.Add(type, body);
            for (const auto& [stringIndex, offset] : pendingStarts) {
                if (stringIndex % perBucket == 0) {
                    buckets.push_back({static_cast<std::uint32_t>(at + kRecordHeader + offset),
                                       static_cast<std::uint16_t>(kRecordHeader + offset)});
                }
            }
            pendingStarts.clear();
            body = Body{};
            type = rt::kContinue;
        };

        for (std::size_t i = 0; i < strings_.size(); ++i) {
            Body one;
            one.String(strings_[i]);
            if (one.Size() > kMaxRecordData) {
                throw std::length_error("a template text too long for one record");
            }
            if (body.Size() + one.Size() > kMaxRecordData) {
                flush();
            }
            pendingStarts.emplace_back(i, body.Size());
            body.Bytes(one.Data());
        }
        flush();

        Body ext;
        ext.U16(static_cast<std::uint16_t>(perBucket));
        for (const auto& bucket : buckets) {
            ext.U32(bucket.streamPos).U16(bucket.recordOffset).U16(0);
        }
        out.Add(rt::kExtSst, ext);
    }

private:
    std::vector<std::u16string> strings_;
    std::map<std::u16string, std::uint32_t> index_;
    std::uint32_t total_ = 0;
};

// ---------------------------------------------------------------- formats

std::uint16_t DiskFontIndex(std::uint16_t font) {
    // Font index 4 does not exist in BIFF: the fifth FONT record is index 5.
    return font < 4 ? font : static_cast<std::uint16_t>(font + 1);
}

Body Xf(std::uint16_t font, std::uint16_t numberFormat, bool isStyle, std::uint8_t alignment, std::uint8_t indent,
        std::uint8_t usedAttributes, std::uint32_t border1, std::uint32_t border2, std::uint16_t fill) {
    Body b;
    // fLocked, fStyle, ixfParent (0xFFF for a style, Normal = 0 for cells).
    const std::uint16_t protection = isStyle ? 0xFFF5 : 0x0001;
    b.U16(font).U16(numberFormat).U16(protection);
    b.U8(alignment).U8(0).U8(indent).U8(usedAttributes);
    b.U32(border1).U32(border2).U16(fill);
    return b;
}

// No pattern: foreground "window text" 0x40, background "window" 0x41.
constexpr std::uint16_t kNoFill = 0x40 | (0x41 << 7);
constexpr std::uint8_t kAlignBottom = 0x20;

void WriteBuiltInXfs(RecordStream& out) {
    // Style XFs: a set bit means "this attribute is not part of the style".
    constexpr std::uint8_t kRowColStyle = 0xF4;
    constexpr std::uint8_t kNumberStyle = 0xF8;
    out.Add(rt::kXf, Xf(0, 0, true, kAlignBottom, 0, 0x00, 0, 0, kNoFill)); // Normal
    for (std::uint16_t i = 1; i <= 14; ++i) {
        const std::uint16_t font = i <= 2 ? 1 : (i <= 4 ? 2 : 0);
        out.Add(rt::kXf, Xf(font, 0, true, kAlignBottom, 0, kRowColStyle, 0, 0, kNoFill));
    }
    out.Add(rt::kXf, Xf(0, 0, false, kAlignBottom, 0, 0x00, 0, 0, kNoFill)); // default cell XF 15
    // Comma, Comma [0], Currency, Currency [0], Percent.
    for (std::uint16_t format : {43, 41, 44, 42, 9}) {
        out.Add(rt::kXf, Xf(1, format, true, kAlignBottom, 0, kNumberStyle, 0, 0, kNoFill));
    }
}

Body CellXf(const CellFormat& f) {
    const auto alignment = static_cast<std::uint8_t>(static_cast<unsigned>(f.horizontal) | (f.wrap ? 0x08u : 0u) |
                                                     (static_cast<unsigned>(f.vertical) << 4));
    auto dg = [](Line l) { return static_cast<std::uint32_t>(l); };
    const std::uint32_t icv = f.borderColour;
    std::uint32_t border1 = dg(f.left) | (dg(f.right) << 4) | (dg(f.top) << 8) | (dg(f.bottom) << 12);
    border1 |= (f.left != Line::None ? icv : 0) << 16;
    border1 |= (f.right != Line::None ? icv : 0) << 23;
    std::uint32_t border2 = (f.top != Line::None ? icv : 0) | ((f.bottom != Line::None ? icv : 0) << 7);
    std::uint16_t fill = kNoFill;
    if (f.fill != 0) {
        border2 |= 1u << 26; // fls = solid
        fill = static_cast<std::uint16_t>(f.fill | (0x41 << 7));
    }
    // A cell XF names every attribute it sets; LibreOffice (rightly) takes
    // an attribute whose "used" bit is clear from the parent style instead.
    constexpr std::uint8_t kAllAttributesUsed = 0xFC;
    return Xf(DiskFontIndex(f.font), f.numberFormat, false, alignment, f.indent & 0x0F, kAllAttributesUsed, border1,
              border2, fill);
}

void WriteFormats(RecordStream& out, const Workbook& book) {
    // The currency and accounting formats Excel (en-US) always stores.
    const std::pair<std::uint16_t, std::u16string> builtIns[] = {
        {5, u"\"$\"#,##0_);\\(\"$\"#,##0\\)"},
        {6, u"\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)"},
        {7, u"\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)"},
        {8, u"\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)"},
        {42, u"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)"},
        {41, u"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)"},
        {44, u"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)"},
        {43, u"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)"},
    };
    for (const auto& [id, code] : builtIns) {
        Body b;
        b.U16(id).String(code);
        out.Add(rt::kFormat, b);
    }
    for (const auto& [id, code] : book.formats) {
        if (id < 164) {
            throw std::invalid_argument("custom number formats start at id 164");
        }
        Body b;
        b.U16(id).String(code);
        out.Add(rt::kFormat, b);
    }
}

void WriteStyles(RecordStream& out) {
    // Built-in styles: (XF, style id). fBuiltIn = 0x8000; iLevel 0xFF.
    const std::pair<std::uint16_t, std::uint8_t> styles[] = {{0x00, 0}, {0x10, 3}, {0x11, 6},
                                                             {0x12, 4}, {0x13, 7}, {0x14, 5}};
    for (const auto& [xf, id] : styles) {
        Body b;
        b.U16(static_cast<std::uint16_t>(0x8000 | xf)).U8(id).U8(0xFF);
        out.Add(rt::kStyle, b);
    }
}

// ---------------------------------------------------------------- sheets

std::uint32_t RkOf(double value, bool& ok) {
    // Integers of 30 bits travel as RK; everything else as NUMBER.
    ok = std::nearbyint(value) == value && std::fabs(value) < (1 << 29);
    if (!ok) {
        return 0;
    }
    const auto asInt = static_cast<std::int32_t>(value);
    return (static_cast<std::uint32_t>(asInt) << 2) | 0x02;
}

void WriteCell(RecordStream& out, const Cell& cell, SharedStrings& sst) {
    const std::uint16_t xf = static_cast<std::uint16_t>(kFirstCellXf + cell.format);
    Body b;
    b.U16(cell.row).U16(cell.col).U16(xf);
    if (std::holds_alternative<std::monostate>(cell.content)) {
        out.Add(rt::kBlank, b);
    } else if (const auto* text = std::get_if<std::u16string>(&cell.content)) {
        b.U32(sst.Index(*text));
        out.Add(rt::kLabelSst, b);
    } else if (const auto* number = std::get_if<double>(&cell.content)) {
        bool isRk = false;
        const std::uint32_t rk = RkOf(*number, isRk);
        if (isRk) {
            b.U32(rk);
            out.Add(rt::kRk, b);
        } else {
            b.F64(*number);
            out.Add(rt::kNumber, b);
        }
    } else {
        const auto& formula = std::get<Formula>(cell.content);
        if (formula.rgce.size() > 0xFFFF) {
            throw std::length_error("formula tokens too long");
        }
        // grbit 0: the cached value is current; chn 0 as required.
        b.F64(formula.cached).U16(0).U32(0);
        b.U16(static_cast<std::uint16_t>(formula.rgce.size())).Bytes(formula.rgce);
        out.Add(rt::kFormula, b);
    }
}

struct RowInfo {
    std::uint16_t colFirst = 0, colLast = 0; // colLast is one past the last cell
    std::uint16_t height = 0;                // 0: default
    std::vector<const Cell*> cells;
};

void WriteSheet(RecordStream& out, const Sheet& sheet, bool selected, SharedStrings& sst) {
    std::map<std::uint16_t, RowInfo> rows;
    for (const auto& cell : sheet.cells) {
        if (cell.col >= 256) {
            throw std::out_of_range("column beyond IV");
        }
        auto& row = rows[cell.row];
        if (row.cells.empty()) {
            row.colFirst = cell.col;
            row.colLast = static_cast<std::uint16_t>(cell.col + 1);
        }
        row.colFirst = std::min(row.colFirst, cell.col);
        row.colLast = std::max<std::uint16_t>(row.colLast, static_cast<std::uint16_t>(cell.col + 1));
        row.cells.push_back(&cell);
    }
    for (const auto& [row, height] : sheet.rowHeights) {
        rows[row].height = height;
    }
    for (auto& [row, info] : rows) {
        std::sort(info.cells.begin(), info.cells.end(), [](const Cell* a, const Cell* b) { return a->col < b->col; });
        for (std::size_t i = 1; i < info.cells.size(); ++i) {
            if (info.cells[i]->col == info.cells[i - 1]->col) {
                throw std::invalid_argument("two cells at one address");
            }
        }
    }

    std::vector<std::vector<std::uint16_t>> blocks;
    for (const auto& [row, info] : rows) {
        if (blocks.empty() || blocks.back().front() / kRowsPerBlock != row / kRowsPerBlock) {
            blocks.emplace_back();
        }
        blocks.back().push_back(row);
    }

    out.Add(rt::kBof, Bof(kBofWorksheet));

    // INDEX: its offsets are known only once the cell table is written.
    const std::uint32_t rwMic = rows.empty() ? 0 : rows.begin()->first;
    const std::uint32_t rwMac = rows.empty() ? 0 : rows.rbegin()->first + 1u;
    Body index;
    index.U32(0).U32(rwMic).U32(rwMac).U32(0);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        index.U32(0);
    }
    const std::size_t indexAt = out.Add(rt::kIndex, index);
    const std::size_t indexData = indexAt + kRecordHeader;

    out.Add(rt::kCalcMode, Body{}.U16(1)); // automatic
    out.Add(rt::kCalcCount, Body{}.U16(100));
    out.Add(rt::kRefMode, Body{}.U16(1)); // A1
    out.Add(rt::kIteration, Body{}.U16(0));
    out.Add(rt::kDelta, Body{}.F64(0.001));
    out.Add(rt::kSaveRecalc, Body{}.U16(1));
    out.Add(rt::kPrintRowCol, Body{}.U16(0));
    out.Add(rt::kPrintGrid, Body{}.U16(0));
    out.Add(rt::kGridSet, Body{}.U16(1));
    out.Add(rt::kGuts, Body{}.U16(0).U16(0).U16(0).U16(0));
    out.Add(rt::kDefaultRowHeight, Body{}.U16(0).U16(0x00FF));
    // fShowAutoBreaks, fDspGuts(row/col), fApplyStyles off, fFitToPage as asked.
    const std::uint16_t wsBool = static_cast<std::uint16_t>(0x04C1 | (sheet.fitToPageWidth ? 0x0100 : 0));
    out.Add(rt::kWsBool, Body{}.U16(wsBool));

    out.Add(rt::kHeader);
    out.Add(rt::kFooter);
    out.Add(rt::kHCenter, Body{}.U16(sheet.fitToPageWidth ? 1 : 0));
    out.Add(rt::kVCenter, Body{}.U16(0));
    out.Add(rt::kLeftMargin, Body{}.F64(0.5));
    out.Add(rt::kRightMargin, Body{}.F64(0.5));
    out.Add(rt::kTopMargin, Body{}.F64(0.6));
    out.Add(rt::kBottomMargin, Body{}.F64(0.6));
    {
        Body setup;
        // Letter paper, 100 %, first page 1, fit 1 page wide by as many tall
        // as needed, portrait, 600 dpi, header/footer margins 0.3", 1 copy.
        setup.U16(1).U16(100).U16(1).U16(1).U16(0).U16(0x0002).U16(600).U16(600);
        setup.F64(0.3).F64(0.3).U16(1);
        out.Add(rt::kSetup, setup);
    }

    const std::size_t defColWidthAt = out.Add(rt::kDefColWidth, Body{}.U16(8));
    for (const auto& [col, width] : sheet.columnWidths) {
        Body info;
        // fUserSet: the width was chosen, not the default.
        info.U16(col).U16(col).U16(width).U16(kDefaultCellXf).U16(0x0002).U16(0);
        out.Add(rt::kColInfo, info);
    }

    std::uint16_t colMic = 0xFFFF, colMac = 0;
    for (const auto& [row, info] : rows) {
        if (!info.cells.empty()) {
            colMic = std::min(colMic, info.colFirst);
            colMac = std::max(colMac, info.colLast);
        }
    }
    if (colMic == 0xFFFF) {
        colMic = 0;
    }
    out.Add(rt::kDimensions, Body{}.U32(rwMic).U32(rwMac).U16(colMic).U16(colMac).U16(0));

    std::vector<std::uint32_t> dbCellOffsets;
    for (const auto& block : blocks) {
        const std::size_t firstRowAt = out.Position();
        for (std::uint16_t row : block) {
            const RowInfo& info = rows.at(row);
            Body r;
            const bool custom = info.height != 0;
            r.U16(row).U16(info.colFirst).U16(info.colLast);
            r.U16(custom ? info.height : 0x00FF).U16(0).U16(0);
            // Reserved bit 8 is always set; fUnsynced 0x40 marks a chosen height.
            r.U16(static_cast<std::uint16_t>(0x0100 | (custom ? 0x0040 : 0)));
            r.U16(kDefaultCellXf);
            out.Add(rt::kRow, r);
        }
        // DBCELL: offset back to the first ROW, then for each row with cells
        // the offset to its first cell, the first one counted from the end of
        // the first ROW record and the others from the previous row's first cell.
        std::vector<std::uint16_t> cellOffsets;
        std::size_t previous = firstRowAt + kRowRecordSize;
        for (std::uint16_t row : block) {
            const RowInfo& info = rows.at(row);
            if (info.cells.empty()) {
                continue;
            }
            const std::size_t rowCellsAt = out.Position();
            cellOffsets.push_back(static_cast<std::uint16_t>(rowCellsAt - previous));
            previous = rowCellsAt;
            for (const Cell* cell : info.cells) {
                WriteCell(out, *cell, sst);
            }
        }
        const std::size_t dbCellAt = out.Position();
        Body db;
        db.U32(static_cast<std::uint32_t>(dbCellAt - firstRowAt));
        for (std::uint16_t offset : cellOffsets) {
            db.U16(offset);
        }
        out.Add(rt::kDbCell, db);
        dbCellOffsets.push_back(static_cast<std::uint32_t>(dbCellAt));
    }

    {
        // fDspGrid 0x02, fDspRwCol 0x04, fDspZeros 0x10, fDefaultHdr 0x20,
        // fDspGuts 0x80; fSelected 0x200 and fPaged 0x400 on the active sheet.
        std::uint16_t grbit = 0x04 | 0x10 | 0x20 | 0x80;
        if (sheet.showGridlines) {
            grbit |= 0x02;
        }
        if (selected) {
            grbit |= 0x0600;
        }
        Body w;
        w.U16(grbit).U16(0).U16(0).U16(0x40).U16(0).U16(0).U16(0).U16(0).U16(0);
        out.Add(rt::kWindow2, w);
    }

    if (!sheet.merges.empty()) {
        Body m;
        m.U16(static_cast<std::uint16_t>(sheet.merges.size()));
        for (const auto& area : sheet.merges) {
            m.U16(area.rowFirst).U16(area.rowLast).U16(area.colFirst).U16(area.colLast);
        }
        out.Add(rt::kMergeCells, m);
    }
    out.Add(rt::kEof);

    out.PatchU32(indexData + 12, static_cast<std::uint32_t>(defColWidthAt));
    for (std::size_t i = 0; i < dbCellOffsets.size(); ++i) {
        out.PatchU32(indexData + 16 + 4 * i, dbCellOffsets[i]);
    }
}

} // namespace

std::vector<std::uint8_t> WriteWorkbookStream(const Workbook& book) {
    if (book.fonts.size() < 4) {
        throw std::invalid_argument("a workbook needs its four default fonts");
    }
    if (book.sheets.empty()) {
        throw std::invalid_argument("a workbook needs a sheet");
    }
    for (const auto& sheet : book.sheets) {
        for (const auto& cell : sheet.cells) {
            if (cell.format >= book.cellFormats.size()) {
                throw std::out_of_range("cell format index out of range");
            }
        }
    }

    // Sheets are written to a stream of their own first: the strings they use
    // fill the SST, which the globals need before the sheets' offsets are known.
    SharedStrings sst;
    std::vector<RecordStream> sheetStreams(book.sheets.size());
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        WriteSheet(sheetStreams[i], book.sheets[i], i == 0, sst);
    }

    RecordStream out;
    out.Add(rt::kBof, Bof(kBofGlobals));
    out.Add(rt::kInterfaceHdr, Body{}.U16(kCodePageUtf16));
    out.Add(rt::kMms, Body{}.U8(0).U8(0));
    out.Add(rt::kInterfaceEnd);
    {
        // WriteAccess: the user name, padded with spaces to 112 bytes.
        Body w;
        w.String(u"VI2Zezir");
        w.Bytes(std::vector<std::uint8_t>(112 - w.Size(), 0x20));
        out.Add(rt::kWriteAccess, w);
    }
    out.Add(rt::kCodePage, Body{}.U16(kCodePageUtf16));
    out.Add(rt::kDsf, Body{}.U16(0));
    {
        Body tabs;
        for (std::size_t i = 0; i < book.sheets.size(); ++i) {
            tabs.U16(static_cast<std::uint16_t>(i + 1));
        }
        out.Add(rt::kRrTabId, tabs);
    }
    out.Add(rt::kWinProtect, Body{}.U16(0));
    out.Add(rt::kProtect, Body{}.U16(0));
    out.Add(rt::kPassword, Body{}.U16(0));
    out.Add(rt::kProt4Rev, Body{}.U16(0));
    out.Add(rt::kProt4RevPass, Body{}.U16(0));
    out.Add(rt::kBackup, Body{}.U16(0));
    out.Add(rt::kHideObj, Body{}.U16(0));
    {
        Body w;
        // Position and size in twips; fDspHScroll | fDspVScroll | fBotAdornment;
        // first sheet active; tab bar ratio 600/1000.
        w.U16(0x0168).U16(0x001E).U16(0x3A98).U16(0x2328).U16(0x0038);
        w.U16(0).U16(0).U16(1).U16(0x0258);
        out.Add(rt::kWindow1, w);
    }
    out.Add(rt::kDate1904, Body{}.U16(0));
    out.Add(rt::kCalcPrecision, Body{}.U16(1));
    out.Add(rt::kRefreshAll, Body{}.U16(0));
    out.Add(rt::kBookBool, Body{}.U16(0));

    for (const auto& font : book.fonts) {
        Body f;
        f.U16(font.twips).U16(font.italic ? 0x0002 : 0x0000).U16(font.colour);
        f.U16(font.bold ? 700 : 400).U16(0).U8(0);
        f.U8(2).U8(0).U8(0); // family: swiss; ANSI charset
        f.ShortString(font.name);
        out.Add(rt::kFont, f);
    }
    WriteFormats(out, book);
    WriteBuiltInXfs(out);
    for (const auto& format : book.cellFormats) {
        if (format.font >= book.fonts.size()) {
            throw std::out_of_range("font index out of range");
        }
        out.Add(rt::kXf, CellXf(format));
    }
    WriteStyles(out);
    out.Add(rt::kUsesElfs, Body{}.U16(0));

    std::vector<std::size_t> boundSheetAt;
    for (const auto& sheet : book.sheets) {
        Body b;
        b.U32(0).U8(0).U8(0).ShortString(sheet.name); // visible worksheet
        boundSheetAt.push_back(out.Add(rt::kBoundSheet8, b));
    }
    out.Add(rt::kCountry, Body{}.U16(1).U16(1));
    sst.Write(out);
    out.Add(rt::kEof);

    // Sheets follow the globals; their absolute offsets shift by where each
    // begins, so the sheet streams are appended with their internal offsets
    // (INDEX) rebased.
    std::vector<std::uint8_t> bytes = out.Bytes();
    for (std::size_t i = 0; i < book.sheets.size(); ++i) {
        const std::size_t base = bytes.size();
        std::vector<std::uint8_t> sheetBytes = sheetStreams[i].Bytes();
        // The INDEX record follows the 20-byte BOF; its ibXF and rgibRw are
        // offsets inside the sheet stream until rebased here.
        const std::size_t indexAt = kRecordHeader + 16;
        const std::size_t indexSize = sheetBytes[indexAt + 2] | (sheetBytes[indexAt + 3] << 8);
        for (std::size_t at = indexAt + kRecordHeader + 12; at + 4 <= indexAt + kRecordHeader + indexSize; at += 4) {
            std::uint32_t v = 0;
            for (int k = 0; k < 4; ++k) {
                v |= static_cast<std::uint32_t>(sheetBytes[at + k]) << (8 * k);
            }
            v += static_cast<std::uint32_t>(base);
            for (int k = 0; k < 4; ++k) {
                sheetBytes[at + k] = static_cast<std::uint8_t>((v >> (8 * k)) & 0xFF);
            }
        }
        const std::size_t lbPlyPos = boundSheetAt[i] + kRecordHeader;
        for (int k = 0; k < 4; ++k) {
            bytes[lbPlyPos + k] = static_cast<std::uint8_t>((base >> (8 * k)) & 0xFF);
        }
        bytes.insert(bytes.end(), sheetBytes.begin(), sheetBytes.end());
    }
    return bytes;
}

} // namespace vi2zezir::tools::biff
