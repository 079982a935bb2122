// Reading an .xls file into the Workbook model. Every record is bounds-checked
// by the biff reader; everything the model does not own is kept as it was
// read so that the writer can pass it through unchanged.
#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <unordered_map>

#include "workbook/sheet/model.h"
#include "workbook/xls/cfb.h"
#include "workbook/xls/crypto.h"
#include "workbook/xls/xf_table.h"

namespace vi2zezir::workbook {

using biff::DecodeRk;
using biff::RecordCursor;
using biff::RecordReader;
namespace op = biff::op;

namespace {

std::string Hex(std::size_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%zX", v);
    return buf;
}

[[noreturn]] void Bad(const std::string& why, ErrorKind kind = ErrorKind::Damaged) { throw Error(kind, why); }

// Excel 2.1 to 4.0 files start with BOF records of their own opcodes, in a
// compound file or (mostly) without one.
bool IsOlderBof(std::uint16_t opcode) { return opcode == 0x0009 || opcode == 0x0209 || opcode == 0x0409; }
constexpr const char* kOlderFormat = "it is an Excel 4.0 or older workbook; only Excel 97-2003 workbooks can be opened";

std::uint32_t CellKey(std::uint32_t row, std::uint16_t col) { return (row << 8) | (col & 0xFF); }

bool IsCellTableRecord(std::uint16_t opcode) {
    switch (opcode) {
    case op::kRow:
    case op::kBlank:
    case op::kMulBlank:
    case op::kNumber:
    case op::kRk:
    case op::kMulRk:
    case op::kLabelSst:
    case op::kLabel:
    case op::kRString:
    case op::kBoolErr:
    case op::kFormula:
    case op::kString:
    case op::kShrFmla:
    case op::kArray:
    case op::kTable:
    case op::kDbCell: return true;
    default: return false;
    }
}

// The fields every cell record starts with.
struct CellHeader {
    std::uint32_t row;
    std::uint16_t col;
    std::uint16_t xf;
};
CellHeader ReadCellHeader(RecordCursor& cursor) {
    const std::uint32_t row = cursor.U16();
    const std::uint16_t col = cursor.U16();
    return {row, col, cursor.U16()};
}

// A record of the editable sheet that ends before its fields do.
void NeedFields(bool present, const char* record) {
    if (!present) Bad(std::string("a ") + record + " record of the first worksheet is too short");
}

// A record's payload and the CONTINUE records after it, as one cursor.
RecordCursor WithContinues(RecordReader& reader) {
    RecordCursor cursor(reader.Current().data);
    while (reader.PeekOpcode() == op::kContinue && reader.Next()) cursor.AddContinue(reader.Current().data);
    return cursor;
}

} // namespace

class XlsReader {
public:
    XlsReader(Workbook& wb, std::span<const std::uint8_t> stream) : wb_(wb), stream_(stream) {
        auto xfs = std::make_unique<xls::XfTable>();
        xfs_ = xfs.get();
        wb_.styles_ = std::move(xfs);
    }

    void ReadGlobals();
    void ReadSheets();

private:
    // The workbook globals, one handler per record.
    void ReadBof(RecordReader& reader);
    void ReadSst(RecordCursor cursor);
    void ReadBoundSheet(std::span<const std::uint8_t> data);
    void ReadFormat(std::span<const std::uint8_t> data);
    void ReadSupBook(std::span<const std::uint8_t> data);
    void ReadExternSheet(std::span<const std::uint8_t> data);
    void ReadName(std::span<const std::uint8_t> data);
    void FindNameFormulas();

    // Each returns where its substream ends.
    std::size_t ReadEditableSheet(std::size_t start);
    std::size_t ReadOtherSheet(std::uint16_t sheet, std::size_t start);

    // The editable sheet's cell table, one handler per record.
    void ReadCellRecord(RecordReader& reader);
    void ReadRow(std::span<const std::uint8_t> data);
    void ReadBlank(std::span<const std::uint8_t> data);
    void ReadMulBlank(std::span<const std::uint8_t> data);
    void ReadNumber(std::span<const std::uint8_t> data);
    void ReadRk(std::span<const std::uint8_t> data);
    void ReadMulRk(std::span<const std::uint8_t> data);
    void ReadLabelSst(std::span<const std::uint8_t> data);
    void ReadLabel(std::span<const std::uint8_t> data, bool rich);
    void ReadBoolErr(std::span<const std::uint8_t> data);
    void ReadFormula(std::span<const std::uint8_t> data);
    void ReadString(RecordReader& reader);
    void ReadShrFmla(std::span<const std::uint8_t> data);
    void ReadArrayOrTable(std::uint16_t opcode, std::span<const std::uint8_t> data);
    // The editable sheet's other records.
    void ReadSheetRecord(const biff::Record& rec);
    void ReadMergeCells(std::span<const std::uint8_t> data);

    void FinishCells();
    void AddCell(std::uint32_t row, std::uint16_t col, Cell cell);
    // Where records of the editable sheet go: before its cell table or after.
    std::vector<RawRecord>& SheetRecords() { return inCells_ ? wb_.suffix_ : wb_.prefix_; }

    // Indexes a formula of the globals or another sheet by the columns of
    // the editable sheet it refers to, so that inserts there rewrite it.
    void AddSite(const FormulaSite& site, std::vector<std::pair<std::uint16_t, std::uint16_t>>& cols);

    Workbook& wb_;
    xls::XfTable* xfs_ = nullptr; // wb_.styles_
    std::span<const std::uint8_t> stream_;
    std::vector<std::uint32_t> nameRecords_;
    std::vector<FormulaSite> nameSites_;
    std::size_t globalsEnd_ = 0;
    bool sawSst_ = false;

    // While the editable sheet is read.
    bool inCells_ = false;
    bool mergeMarker_ = false;
    // The FORMULA record that an ARRAY, TABLE, SHRFMLA or STRING belongs to.
    std::uint32_t lastFormula_ = UINT32_MAX;

    // Shared formulas of the editable sheet by their anchor: the cell whose
    // FORMULA record the SHRFMLA follows, which is the cell its members'
    // PtgExp names. Ranges of different shared formulas may overlap.
    std::unordered_map<std::uint32_t, formula::Tokens> shared_;
    struct PendingShared {
        std::uint32_t id;
        std::uint32_t hostRow;
        std::uint16_t hostCol;
    };
    std::vector<PendingShared> pendingShared_;
};

void XlsReader::ReadGlobals() {
    RecordReader reader(stream_);
    ReadBof(reader);
    bool sawEof = false;
    while (reader.Next()) {
        const auto& rec = reader.Current();
        const auto data = rec.data;
        switch (rec.opcode) {
        case op::kSst:
            ReadSst(WithContinues(reader));
            wb_.globals_.push_back({op::kSst, {}});
            continue;
        case op::kExtSst:
            // Rebuilt on save, with its CONTINUE records.
            WithContinues(reader);
            wb_.globals_.push_back({op::kExtSst, {}});
            continue;
        case op::kBoundSheet: ReadBoundSheet(data); break;
        case op::kXf:
            // A short XF is kept as read; the engine reads the fields it
            // lacks as zeros (the first font, General).
            xfs_->AddRead(data);
            break;
        case op::kFormat: ReadFormat(data); break;
        case op::kSupBook: ReadSupBook(data); break;
        case op::kExternSheet: ReadExternSheet(data); break;
        case op::kName: ReadName(data); break;
        default: break;
        }
        wb_.globals_.push_back({rec.opcode, {data.begin(), data.end()}});
        if (rec.opcode == op::kEof) {
            sawEof = true;
            break;
        }
    }
    if (!reader.Valid()) Bad("a record of the workbook globals runs past the end of the stream");
    globalsEnd_ = reader.Position();
    if (!sawEof) Bad("the workbook globals end without an EOF record");
    if (wb_.sheets_.empty()) Bad("the workbook has no sheets");
    if (xfs_->Count() <= kDefaultXf) Bad("the workbook has too few XF (cell format) records");
    xfs_->EndOfRead();
    if (!sawSst_) {
        // Cells written later need a table: put one just before the EOF.
        wb_.globals_.insert(wb_.globals_.end() - 1, {op::kSst, {}});
        wb_.globals_.insert(wb_.globals_.end() - 1, {op::kExtSst, {}});
    }
    FindNameFormulas();
}

void XlsReader::ReadBof(RecordReader& reader) {
    if (reader.Next() && IsOlderBof(reader.Current().opcode)) Bad(kOlderFormat, ErrorKind::Unsupported);
    if (!reader.Valid() || reader.Current().opcode != op::kBof)
        Bad("the Workbook stream does not start with a BOF record");
    const auto bof = reader.Current().data;
    RecordCursor cursor(bof);
    const std::uint16_t vers = cursor.U16();
    const std::uint16_t dt = cursor.U16();
    if (!cursor.Ok()) Bad("the Workbook stream does not start with a BOF record");
    if ((vers & 0xFF00) == 0x0500)
        Bad("it is an Excel 5.0/95 workbook; only Excel 97-2003 workbooks can be opened", ErrorKind::Unsupported);
    if (vers != 0x0600)
        Bad("it is not an Excel 97-2003 (BIFF8) workbook (BOF version " + Hex(vers) + ")", ErrorKind::Unsupported);
    if (dt != 0x0005) Bad("the Workbook stream does not start with the workbook globals");
    wb_.globals_.push_back({op::kBof, {bof.begin(), bof.end()}});
}

void XlsReader::ReadSst(RecordCursor cursor) {
    if (sawSst_) Bad("the workbook has two shared-string tables");
    sawSst_ = true;
    cursor.U32(); // total references: recomputed on save
    const std::uint32_t unique = cursor.U32();
    if (!cursor.Ok()) Bad("the shared-string table is too short");
    // The count may lie; every string takes at least three bytes, so reserve
    // no more than the data can hold and stop where the data ends.
    const std::size_t expected = std::min<std::size_t>(unique, cursor.Remaining() / 3);
    // Characters take at least a byte each: the bytes left bound the pool.
    wb_.sst_.Reserve(expected, cursor.Remaining() - 3 * expected);
    biff::RichString s; // one buffer for every string
    for (std::uint32_t i = 0; i < unique && !cursor.AtEnd(); ++i) {
        biff::ReadRichString(cursor, s);
        if (!cursor.Ok()) Bad("the shared-string table is cut off inside string " + std::to_string(i));
        wb_.sst_.Append(s.text, s.runs, s.extRst);
    }
}

void XlsReader::ReadBoundSheet(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    Workbook::SheetInfo info;
    info.originalOffset = cursor.U32();
    cursor.U8(); // visibility
    info.type = cursor.U8();
    info.name = biff::ReadShortUnicodeString(cursor);
    if (!cursor.Ok()) Bad("a BOUNDSHEET record is malformed");
    info.boundSheetRecord = wb_.globals_.size();
    wb_.sheets_.push_back(std::move(info));
}

void XlsReader::ReadFormat(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const std::uint16_t ifmt = cursor.U16();
    if (!cursor.Ok()) return;
    std::u16string code = biff::ReadUnicodeString(cursor);
    // A code whose length disagrees with its record is kept as read and
    // shown as General, as other readers do; its number stays taken.
    wb_.formats_[ifmt] = cursor.Ok() ? std::move(code) : u"General";
}

void XlsReader::ReadSupBook(std::span<const std::uint8_t> data) {
    // The book's own sheets: ctab, then 0x0401 where a file name would be.
    RecordCursor cursor(data);
    cursor.U16();
    const std::uint16_t marker = cursor.U16();
    if (cursor.Ok() && cursor.AtEnd() && marker == 0x0401) {
        wb_.internalSupBook_ = static_cast<std::uint16_t>(std::count_if(
            wb_.globals_.begin(), wb_.globals_.end(), [](const RawRecord& r) { return r.opcode == op::kSupBook; }));
    }
}

void XlsReader::ReadExternSheet(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const std::uint16_t count = cursor.U16();
    for (std::uint16_t i = 0; i < count && cursor.Ok(); ++i) {
        Workbook::Xti xti;
        xti.supBook = cursor.U16();
        xti.first = static_cast<std::int16_t>(cursor.U16());
        xti.last = static_cast<std::int16_t>(cursor.U16());
        if (cursor.Ok()) wb_.xti_.push_back(xti);
    }
}

void XlsReader::ReadName(std::span<const std::uint8_t> data) {
    // grbit, chKey, cch, cce, ixals, itab, 4 reserved bytes, name.
    RecordCursor cursor(data);
    const std::uint16_t grbit = cursor.U16();
    cursor.U8();
    const std::uint8_t cch = cursor.U8();
    cursor.Skip(10);
    std::u16string name;
    const std::uint8_t flags = cursor.U8();
    name = cursor.Chars(cch, (flags & 1) != 0);
    if (grbit & 0x0020) {
        static const char16_t* const kBuiltin[] = {
            u"Consolidate_Area", u"Auto_Open",       u"Auto_Close",   u"Extract",        u"Database",
            u"Criteria",         u"Print_Area",      u"Print_Titles", u"Recorder",       u"Data_Form",
            u"Auto_Activate",    u"Auto_Deactivate", u"Sheet_Title",  u"_FilterDatabase"};
        if (name.size() == 1 && name[0] < std::size(kBuiltin)) name = kBuiltin[name[0]];
    }
    wb_.names_.push_back(name);
    nameRecords_.push_back(static_cast<std::uint32_t>(wb_.globals_.size()));
}

void XlsReader::FindNameFormulas() {
    // A name's formula follows inserts as cell formulas do. In a long name
    // it may run on into the CONTINUE records after it; a formula cut off
    // is kept as read.
    for (std::uint32_t index : nameRecords_) {
        // The name itself lies in the NAME record.
        RecordCursor cursor(wb_.globals_[index].data);
        cursor.Skip(3);
        const std::uint8_t cch = cursor.U8();
        const std::size_t cce = cursor.U16();
        cursor.Skip(8);
        const bool high = (cursor.U8() & 1) != 0;
        cursor.Skip(std::size_t{cch} * (high ? 2 : 1));
        if (!cursor.Ok()) continue;
        const std::size_t rgce = cursor.Position();
        for (std::size_t r = index + 1; r < wb_.globals_.size() && wb_.globals_[r].opcode == op::kContinue; ++r)
            cursor.AddContinue(wb_.globals_[r].data);
        cursor.Skip(cce);
        if (!cursor.Ok()) continue;
        nameSites_.push_back({kNameSite, index, rgce, cce});
    }
}

void XlsReader::AddSite(const FormulaSite& site, std::vector<std::pair<std::uint16_t, std::uint16_t>>& cols) {
    cols.clear();
    try {
        formula::CollectReferencedColumns(wb_.SiteTokens(site), site.sheet == kNameSite ? wb_.editable_ : site.sheet,
                                          wb_, cols);
    } catch (const Error&) {
        return; // tokens the library cannot walk stay as they are
    }
    bool any = false;
    const auto index = static_cast<std::uint32_t>(wb_.sites_.size());
    for (auto [s, c] : cols) {
        if (s != wb_.editable_ || c >= formula::kMaxCols) continue;
        auto& list = wb_.sitesByColumn_[c];
        if (list.empty() || list.back() != index) list.push_back(index);
        any = true;
    }
    if (any) wb_.sites_.push_back(site);
}

void XlsReader::ReadSheets() {
    // The editable sheet is the first worksheet by position.
    bool found = false;
    for (std::size_t i = 0; i < wb_.sheets_.size(); ++i) {
        if (wb_.sheets_[i].type == 0) {
            wb_.editable_ = static_cast<std::uint16_t>(i);
            found = true;
            break;
        }
    }
    if (!found) Bad("the workbook has no worksheet");
    std::vector<std::pair<std::uint16_t, std::uint16_t>> cols;
    for (const auto& site : nameSites_) AddSite(site, cols);
    wb_.sheetRecords_.resize(wb_.sheets_.size());
    std::size_t end = globalsEnd_;
    for (std::size_t i = 0; i < wb_.sheets_.size(); ++i) {
        const std::uint32_t start = wb_.sheets_[i].originalOffset;
        if (start >= stream_.size())
            Bad("sheet " + std::to_string(i + 1) + " starts past the end of the Workbook stream");
        end = std::max(
            end, i == wb_.editable_ ? ReadEditableSheet(start) : ReadOtherSheet(static_cast<std::uint16_t>(i), start));
    }
    // What follows the last sheet (a substream no BOUNDSHEET names, as some
    // writers leave) goes back after the sheets as it was.
    wb_.trailing_.assign(stream_.begin() + static_cast<std::ptrdiff_t>(end), stream_.end());
}

std::size_t XlsReader::ReadOtherSheet(std::uint16_t sheet, std::size_t start) {
    RecordReader reader(stream_, start);
    auto& records = wb_.sheetRecords_[sheet];
    int depth = 0;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> cols;
    while (reader.Next()) {
        const auto& rec = reader.Current();
        if (records.empty() && rec.opcode != op::kBof)
            Bad("sheet " + std::to_string(sheet + 1) + " does not start with a BOF record");
        records.push_back({rec.opcode, {rec.data.begin(), rec.data.end()}});
        if (rec.opcode == op::kBof) ++depth;
        if (rec.opcode == op::kEof && --depth == 0) break;
        if (depth != 1) continue;
        RecordCursor cursor(rec.data);
        if (rec.opcode == op::kLabelSst) {
            ReadCellHeader(cursor);
            const std::uint32_t isst = cursor.U32();
            if (!cursor.Ok() || isst >= wb_.sst_.Size())
                Bad("a cell of sheet " + std::to_string(sheet + 1) + " refers to a missing shared string");
            ++wb_.otherSheetsSstRefs_;
        }
        // Formulas here can point into the editable sheet through 3-D
        // references; index the ones that do by column. Their cce comes
        // just before their tokens.
        std::size_t cceAt = 0;
        if (rec.opcode == op::kFormula) cceAt = 20;
        if (rec.opcode == op::kArray) cceAt = 12;
        if (cceAt == 0) continue;
        cursor.Skip(cceAt);
        const std::size_t cce = cursor.U16();
        const std::size_t rgce = cursor.Position();
        cursor.Skip(cce);
        if (!cursor.Ok()) continue;
        AddSite({sheet, static_cast<std::uint32_t>(records.size() - 1), rgce, cce}, cols);
    }
    if (!reader.Valid()) Bad("a record of sheet " + std::to_string(sheet + 1) + " runs past the end of the stream");
    if (depth != 0) Bad("sheet " + std::to_string(sheet + 1) + " ends without an EOF record");
    return reader.Position();
}

void XlsReader::AddCell(std::uint32_t row, std::uint16_t col, Cell cell) {
    if (row > kLastRow || col >= formula::kMaxCols) Bad("a cell lies outside the sheet");
    if (cell.xf >= xfs_->Count())
        Bad("cell " + std::to_string(row + 1) + ":" + std::to_string(col + 1) + " uses cell format " +
            std::to_string(cell.xf) + ", which the workbook does not define");
    cell.row = row;
    auto& cells = wb_.columns_[col].cells;
    // Files list cells by rows, so each column arrives in order; a duplicate
    // cell replaces the earlier one, as readers do.
    if (!cells.empty() && cells.back().row == row) {
        wb_.ClearFormula(cells.back());
        cells.back() = cell;
    } else if (!cells.empty() && cells.back().row > row) {
        auto it =
            std::lower_bound(cells.begin(), cells.end(), row, [](const Cell& c, std::uint32_t r) { return c.row < r; });
        if (it != cells.end() && it->row == row) {
            wb_.ClearFormula(*it);
            *it = cell;
        } else {
            cells.insert(it, cell);
        }
    } else {
        cells.push_back(cell);
    }
}

std::size_t XlsReader::ReadEditableSheet(std::size_t start) {
    RecordReader reader(stream_, start);
    int depth = 0;
    inCells_ = false;
    mergeMarker_ = false;
    lastFormula_ = UINT32_MAX;
    while (reader.Next()) {
        const auto& rec = reader.Current();
        const auto d = rec.data;
        if (depth == 0 && rec.opcode != op::kBof) Bad("the first worksheet does not start with a BOF record");
        if (rec.opcode == op::kBof) {
            ++depth;
            if (depth == 1) {
                wb_.prefix_.push_back({rec.opcode, {d.begin(), d.end()}});
                continue;
            }
        }
        if (depth > 1) {
            // An embedded chart's substream: kept whole.
            SheetRecords().push_back({rec.opcode, {d.begin(), d.end()}});
            if (rec.opcode == op::kEof) --depth;
            continue;
        }
        if (rec.opcode == op::kEof) {
            wb_.suffix_.push_back({rec.opcode, {}});
            depth = 0;
            break;
        }
        if (IsCellTableRecord(rec.opcode))
            ReadCellRecord(reader);
        else
            ReadSheetRecord(rec);
    }
    if (!reader.Valid()) Bad("a record of the first worksheet runs past the end of the stream");
    if (depth != 0) Bad("the first worksheet ends without an EOF record");
    if (!mergeMarker_ && !wb_.merges_.empty()) wb_.suffix_.insert(wb_.suffix_.end() - 1, {op::kMergeCells, {}});
    FinishCells();
    return reader.Position();
}

void XlsReader::ReadCellRecord(RecordReader& reader) {
    const auto& rec = reader.Current();
    const auto d = rec.data;
    inCells_ = true;
    // A formula's ARRAY, TABLE or SHRFMLA and then its STRING follow its
    // FORMULA record; any other record ends the group.
    if (rec.opcode != op::kString && rec.opcode != op::kArray && rec.opcode != op::kTable &&
        rec.opcode != op::kShrFmla && rec.opcode != op::kFormula)
        lastFormula_ = UINT32_MAX;
    switch (rec.opcode) {
    case op::kRow: ReadRow(d); break;
    case op::kBlank: ReadBlank(d); break;
    case op::kMulBlank: ReadMulBlank(d); break;
    case op::kNumber: ReadNumber(d); break;
    case op::kRk: ReadRk(d); break;
    case op::kMulRk: ReadMulRk(d); break;
    case op::kLabelSst: ReadLabelSst(d); break;
    case op::kLabel: ReadLabel(d, false); break;
    case op::kRString: ReadLabel(d, true); break;
    case op::kBoolErr: ReadBoolErr(d); break;
    case op::kFormula: ReadFormula(d); break;
    case op::kString: ReadString(reader); break;
    case op::kShrFmla: ReadShrFmla(d); break;
    case op::kArray:
    case op::kTable: ReadArrayOrTable(rec.opcode, d); break;
    default: // DBCELL: rebuilt on save
        break;
    }
}

void XlsReader::ReadRow(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const std::uint32_t row = cursor.U16();
    cursor.Skip(14); // columns, height, flags: written back as read
    NeedFields(cursor.Ok(), "ROW");
    wb_.rowRecords_[row] = {data.begin(), data.end()};
}

void XlsReader::ReadBlank(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    NeedFields(cursor.Ok(), "BLANK");
    Cell cell;
    cell.xf = h.xf;
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadMulBlank(std::span<const std::uint8_t> data) {
    // rw, colFirst, an XF per cell, colLast.
    RecordCursor cursor(data);
    const std::uint32_t row = cursor.U16();
    const std::uint16_t col = cursor.U16();
    NeedFields(cursor.Remaining() >= 2, "MULBLANK");
    const std::size_t n = (cursor.Remaining() - 2) / 2;
    Cell cell;
    for (std::size_t i = 0; i < n; ++i) {
        cell.xf = cursor.U16();
        AddCell(row, static_cast<std::uint16_t>(col + i), cell);
    }
}

void XlsReader::ReadNumber(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    Cell cell;
    cell.xf = h.xf;
    cell.kind = CellKind::Number;
    cell.number = cursor.F64();
    NeedFields(cursor.Ok(), "NUMBER");
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadRk(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    Cell cell;
    cell.xf = h.xf;
    cell.kind = CellKind::Number;
    cell.number = DecodeRk(cursor.U32());
    NeedFields(cursor.Ok(), "RK");
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadMulRk(std::span<const std::uint8_t> data) {
    // rw, colFirst, an XF and RK number per cell, colLast.
    RecordCursor cursor(data);
    const std::uint32_t row = cursor.U16();
    const std::uint16_t col = cursor.U16();
    NeedFields(cursor.Remaining() >= 2, "MULRK");
    const std::size_t n = (cursor.Remaining() - 2) / 6;
    Cell cell;
    cell.kind = CellKind::Number;
    for (std::size_t i = 0; i < n; ++i) {
        cell.xf = cursor.U16();
        cell.number = DecodeRk(cursor.U32());
        AddCell(row, static_cast<std::uint16_t>(col + i), cell);
    }
}

void XlsReader::ReadLabelSst(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    const std::uint32_t isst = cursor.U32();
    NeedFields(cursor.Ok(), "LABELSST");
    if (isst >= wb_.sst_.Size())
        Bad("a cell refers to shared string " + std::to_string(isst) + " of " + std::to_string(wb_.sst_.Size()));
    Cell cell;
    cell.xf = h.xf;
    cell.kind = CellKind::Text;
    cell.index = isst;
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadLabel(std::span<const std::uint8_t> data, bool rich) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    NeedFields(cursor.Ok(), rich ? "RSTRING" : "LABEL");
    biff::RichString s;
    s.text = biff::ReadUnicodeString(cursor);
    if (rich) {
        const std::uint16_t runs = cursor.U16();
        s.runs = cursor.Bytes(std::size_t{runs} * 4);
    }
    if (!cursor.Ok()) Bad("a text cell of the first worksheet is malformed");
    Cell cell;
    cell.xf = h.xf;
    cell.kind = CellKind::Text;
    cell.index = s.runs.empty() ? wb_.InternString(s.text) : wb_.sst_.Append(s.text, s.runs);
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadBoolErr(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    const std::uint8_t value = cursor.U8();
    const bool isError = cursor.U8() != 0;
    NeedFields(cursor.Ok(), "BOOLERR");
    Cell cell;
    cell.xf = h.xf;
    cell.kind = isError ? CellKind::Error : CellKind::Boolean;
    cell.small = value;
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadFormula(std::span<const std::uint8_t> data) {
    // The cell, its cached value (8 bytes), grbit, chn, cce, then the tokens.
    RecordCursor cursor(data);
    const CellHeader h = ReadCellHeader(cursor);
    const std::vector<std::uint8_t> cached = cursor.Bytes(8);
    const std::uint16_t grbit = cursor.U16();
    cursor.Skip(4);
    const std::size_t cce = cursor.U16();
    NeedFields(cursor.Ok(), "FORMULA");
    formula::Tokens tokens = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
    if (!cursor.Ok()) Bad("a formula of the first worksheet is cut off");
    Cell cell;
    cell.xf = h.xf;
    cell.kind = CellKind::Formula;
    const std::uint32_t id = static_cast<std::uint32_t>(wb_.formulas_.size());
    wb_.formulas_.emplace_back();
    auto& f = wb_.formulas_.back();
    f.row = h.row;
    f.col = h.col;
    f.grbit = grbit;
    std::copy(cached.begin(), cached.end(), f.cached.begin());
    // A member of a shared formula holds PtgExp pointing at the shared
    // formula's first cell; it is unshared when all is read.
    if (cce == 5 && tokens.rgce[0] == 0x01) {
        RecordCursor exp(std::span(tokens.rgce).subspan(1));
        const std::uint32_t hostRow = exp.U16();
        pendingShared_.push_back({id, hostRow, exp.U16()});
    }
    f.tokens = std::move(tokens);
    cell.index = id;
    lastFormula_ = id;
    AddCell(h.row, h.col, cell);
}

void XlsReader::ReadString(RecordReader& reader) {
    // A formula's text result; without a formula before it, it (and any
    // CONTINUE after it) is kept among the sheet's records as read.
    if (lastFormula_ == UINT32_MAX) return;
    RecordCursor cursor = WithContinues(reader);
    wb_.formulas_[lastFormula_].cachedText = biff::ReadUnicodeString(cursor);
    if (!cursor.Ok()) Bad("a formula's text result is malformed");
}

void XlsReader::ReadShrFmla(std::span<const std::uint8_t> data) {
    // The range (RefU), reserved, cUse, cce, then the tokens.
    RecordCursor cursor(data);
    const std::uint32_t firstRow = cursor.U16();
    cursor.U16();
    const std::uint16_t firstCol = cursor.U8();
    cursor.Skip(3);
    const std::size_t cce = cursor.U16();
    NeedFields(cursor.Ok(), "SHRFMLA");
    formula::Tokens tokens = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
    if (!cursor.Ok()) Bad("a shared formula is cut off");
    // Without a FORMULA before it (malformed), the range's first cell is the
    // only anchor it can have.
    const std::uint32_t anchor = lastFormula_ != UINT32_MAX
                                     ? CellKey(wb_.formulas_[lastFormula_].row, wb_.formulas_[lastFormula_].col)
                                     : CellKey(firstRow, firstCol);
    shared_.insert_or_assign(anchor, std::move(tokens));
}

void XlsReader::ReadArrayOrTable(std::uint16_t opcode, std::span<const std::uint8_t> data) {
    // The range (RefU) first; an ARRAY then has grbit, chn, cce and tokens.
    RecordCursor cursor(data);
    Area range;
    range.r1 = cursor.U16();
    range.r2 = cursor.U16();
    range.c1 = cursor.U8();
    range.c2 = cursor.U8();
    NeedFields(cursor.Ok(), opcode == op::kArray ? "ARRAY" : "TABLE");
    if (lastFormula_ == UINT32_MAX) return;
    auto& f = wb_.formulas_[lastFormula_];
    f.extraOpcode = opcode;
    f.extra.assign(data.begin(), data.end());
    wb_.arrays_.push_back(range);
    if (opcode != op::kArray) return;
    cursor.Skip(6);
    const std::size_t cce = cursor.U16();
    formula::Tokens tokens = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
    // A formula cut off stays in the record as read.
    if (!cursor.Ok()) return;
    f.tokens = std::move(tokens); // evaluated and shifted as the host's formula
    f.arrayHost = true;
}

void XlsReader::ReadSheetRecord(const biff::Record& rec) {
    const auto d = rec.data;
    switch (rec.opcode) {
    case op::kIndex: wb_.prefix_.push_back({op::kIndex, {}}); break;
    case op::kDefaultRowHeight: {
        // Rows without a ROW record have this height; the writer gives those
        // it must list (they have cells) a ROW record saying so.
        RecordCursor cursor(d);
        const std::uint16_t flags = cursor.U16();
        const std::uint16_t height = cursor.U16();
        if (cursor.Ok()) wb_.defaultRowHeight_ = {flags, height};
        wb_.prefix_.push_back({rec.opcode, {d.begin(), d.end()}});
        break;
    }
    case op::kDimensions: SheetRecords().push_back({op::kDimensions, {}}); break;
    case op::kMergeCells: ReadMergeCells(d); break;
    default: SheetRecords().push_back({rec.opcode, {d.begin(), d.end()}}); break;
    }
}

void XlsReader::ReadMergeCells(std::span<const std::uint8_t> data) {
    RecordCursor cursor(data);
    const std::uint16_t count = cursor.U16();
    for (std::uint16_t i = 0; i < count; ++i) {
        Area a;
        a.r1 = cursor.U16();
        a.r2 = cursor.U16();
        a.c1 = cursor.U16();
        a.c2 = cursor.U16();
        if (!cursor.Ok()) Bad("a MERGECELLS record is cut off");
        if (a.r1 > a.r2 || a.c1 > a.c2 || a.c2 >= formula::kMaxCols) continue;
        wb_.merges_.push_back(a);
    }
    // The merges are written back as one record where the first one was.
    if (!mergeMarker_) SheetRecords().push_back({op::kMergeCells, {}});
    mergeMarker_ = true;
}

void XlsReader::FinishCells() {
    for (const auto& p : pendingShared_) {
        auto& f = wb_.formulas_[p.id];
        if (f.arrayHost) continue;
        const auto it = shared_.find(CellKey(p.hostRow, p.hostCol));
        if (it == shared_.end()) {
            f.expMember = true; // a member of an array formula keeps its PtgExp
            continue;
        }
        try {
            f.tokens = formula::Unshare(it->second, {f.row, f.col});
        } catch (const Error& e) {
            Bad(std::string("a shared formula cannot be expanded: ") + e.what());
        }
        f.grbit &= static_cast<std::uint16_t>(~0x0008); // no longer shared
    }
    for (std::uint16_t c = 0; c < formula::kMaxCols; ++c) {
        auto& column = wb_.columns_[c];
        for (auto& cell : column.cells) {
            cell.sig = wb_.SigOf(cell);
            column.sigUnion |= cell.sig;
        }
    }
    for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id) {
        if (wb_.formulas_[id].live) wb_.IndexFormula(id);
    }
}

bool IsPackage(std::span<const std::uint8_t> fileBytes) noexcept {
    return fileBytes.size() >= 4 && fileBytes[0] == 'P' && fileBytes[1] == 'K' && fileBytes[2] == 3 &&
           fileBytes[3] == 4;
}

std::unique_ptr<Workbook> Workbook::Load(std::span<const std::uint8_t> fileBytes) {
    if (IsPackage(fileBytes)) return LoadPackage(fileBytes);
    cfb::CompoundFile file;
    try {
        file = cfb::Read(fileBytes);
    } catch (const Error& e) {
        // An older workbook without a compound file: a BOF record's header.
        RecordCursor head(fileBytes);
        const std::uint16_t opcode = head.U16();
        const std::uint16_t length = head.U16();
        if (head.Ok() && IsOlderBof(opcode) && length <= 16) Bad(kOlderFormat, ErrorKind::Unsupported);
        Bad(std::string("it is not an Excel workbook (") + e.what() + ")", e.Kind());
    }
    // Excel 97 and later write "Workbook", Excel 5.0/95 "Book"; some writers
    // put the newer records in a stream of the older name. The BOF record,
    // not the name, tells which format the stream holds.
    std::u16string streamName = u"Workbook";
    if (!file.FindStream(streamName)) streamName = u"Book";
    const cfb::Entry* stream = file.FindStream(streamName);
    if (!stream) Bad("it holds no Workbook stream", ErrorKind::NotAWorkbook);
    std::unique_ptr<Workbook> wb(new Workbook());
    wb->streamName_ = stream->name;
    wb->file_ = std::make_unique<cfb::CompoundFile>(std::move(file));
    auto* ws = wb->file_->FindStream(streamName);
    DecryptWorkbookStream(ws->data);
    {
        XlsReader reader(*wb, ws->data);
        reader.ReadGlobals();
        reader.ReadSheets();
    }
    // Every record is now held by the model; the stream's bytes would only
    // double the memory and be copied again on save, where the stream is
    // written anew.
    std::vector<std::uint8_t>().swap(wb->file_->FindStream(streamName)->data);
    return wb;
}

} // namespace vi2zezir::workbook
