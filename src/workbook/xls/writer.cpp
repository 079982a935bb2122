// Writing the model back as an .xls file: the globals and other sheets as
// they were read (with the offsets that moved patched), the shared strings
// and the first worksheet's cell table rebuilt, the other streams unchanged.
#include <algorithm>
#include <bit>
#include <cmath>

#include "workbook/sheet/model.h"
#include "workbook/sheet/recalc.h"
#include "workbook/xls/crypto.h"
#include "workbook/xls/xf_table.h"

namespace vi2zezir::workbook {

using biff::Bytes;
using biff::PutU16;
using biff::PutU32;
namespace op = biff::op;

class XlsWriter {
public:
    explicit XlsWriter(Workbook& wb) : wb_(wb) {}
    std::vector<std::uint8_t> Write();

private:
    std::size_t RecalcIdPosition() const;
    void WriteSst();
    void WriteExtSst();
    void WriteEditableSheet();
    void WriteOtherSheet(std::size_t sheet);
    void WriteCell(std::uint16_t col, const Cell& cell);

    Workbook& wb_;
    biff::StreamWriter out_;
    struct Bucket {
        std::uint32_t streamPos;
        std::uint16_t recordOffset;
    };
    std::vector<Bucket> buckets_;
    std::uint16_t bucketSize_ = 8;
};

void XlsWriter::WriteSst() {
    std::uint32_t total = wb_.otherSheetsSstRefs_;
    for (const auto& column : wb_.columns_)
        for (const auto& cell : column.cells) total += cell.kind == CellKind::Text;
    const std::size_t n = wb_.sst_.Size();
    bucketSize_ = static_cast<std::uint16_t>(std::max<std::size_t>(8, (n + 127) / 128));
    biff::ContinuableWriter w(out_, op::kSst);
    w.U32(total);
    w.U32(static_cast<std::uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        if (i % bucketSize_ == 0) {
            // Where the string starts once its header is placed.
            const auto index = static_cast<std::uint32_t>(i);
            const std::size_t header =
                3 + (wb_.sst_.Runs(index).empty() ? 0 : 2) + (wb_.sst_.ExtRst(index).empty() ? 0 : 4) + 2;
            w.KeepTogether(header);
            buckets_.push_back(
                {static_cast<std::uint32_t>(w.StreamPosition()), static_cast<std::uint16_t>(w.OffsetInRecord())});
        }
        const auto index = static_cast<std::uint32_t>(i);
        w.RichStringEntry(wb_.sst_.Text(index), wb_.sst_.Runs(index), wb_.sst_.ExtRst(index));
    }
    w.Finish();
}

void XlsWriter::WriteExtSst() {
    Bytes b;
    b.U16(bucketSize_);
    for (const auto& bucket : buckets_) b.U32(bucket.streamPos).U16(bucket.recordOffset).U16(0);
    out_.Write(op::kExtSst, b.Span());
}

// Where a RecalcId record goes when the file has none: after the sheets,
// external references and names, before the drawing group and the strings.
std::size_t XlsWriter::RecalcIdPosition() const {
    std::size_t lastBoundSheet = 0;
    for (std::size_t i = 0; i < wb_.globals_.size(); ++i)
        if (wb_.globals_[i].opcode == op::kBoundSheet) lastBoundSheet = i;
    for (std::size_t i = lastBoundSheet + 1; i < wb_.globals_.size(); ++i) {
        switch (wb_.globals_[i].opcode) {
        case 0x0866: // HFPicture
        case 0x00EB: // MsoDrawingGroup
        case op::kSst:
        case op::kExtSst:
        case 0x0801: // WebPub
        case 0x080B: // WOpt
        case 0x0865: // CrErr
        case 0x0863: // BookExt
        case 0x0867: // FeatHdr
        case 0x0876: // DConn
        case 0x0896: // Theme
        case 0x089B: // CompressPictures
        case 0x088C: // Compat12
        case 0x0897: // GUIDTypeLib
        case op::kEof: return i;
        default: break;
        }
    }
    return wb_.globals_.size() - 1;
}

std::vector<std::uint8_t> XlsWriter::Write() {
    {
        // One allocation for the stream in the usual case: the globals and
        // other sheets as read, the strings, about 14 bytes a cell.
        std::size_t estimate = 4096 + 2 * wb_.sst_.CharCount() + 8 * wb_.sst_.Size();
        for (const auto& rec : wb_.globals_) estimate += 4 + rec.data.size();
        for (const auto& sheet : wb_.sheetRecords_)
            for (const auto& rec : sheet) estimate += 4 + rec.data.size();
        for (const auto& column : wb_.columns_) estimate += 16 * column.cells.size();
        estimate += 20 * wb_.rowRecords_.size() + 48 * wb_.formulas_.size();
        out_.Reserve(estimate);
    }
    std::size_t lastXf = 0, lastFormat = 0, firstXf = 0;
    bool anyFormat = false;
    for (std::size_t i = 0; i < wb_.globals_.size(); ++i) {
        const auto opcode = wb_.globals_[i].opcode;
        if (opcode == op::kXf) {
            if (!firstXf) firstXf = i;
            lastXf = i;
        }
        if (opcode == op::kFormat) {
            lastFormat = i;
            anyFormat = true;
        }
    }
    // A RecalcId of build 0 makes Excel compute every formula on opening.
    const std::uint8_t recalcAll[8] = {0xC1, 0x01, 0, 0, 0, 0, 0, 0};
    std::size_t recalcIdAt = SIZE_MAX;
    if (wb_.recalcOnOpen_) {
        const auto it = std::find_if(wb_.globals_.begin(), wb_.globals_.end(),
                                     [](const RawRecord& r) { return r.opcode == op::kRecalcId; });
        if (it == wb_.globals_.end()) recalcIdAt = RecalcIdPosition();
    }
    std::vector<std::size_t> boundSheetPos(wb_.sheets_.size());
    const auto writeAddedFormats = [&] {
        for (const auto& [ifmt, code] : wb_.addedFormats_) {
            Bytes b;
            b.U16(ifmt).UnicodeString(code);
            out_.Write(op::kFormat, b.Span());
        }
    };
    std::size_t sheetIndex = 0;
    for (std::size_t i = 0; i < wb_.globals_.size(); ++i) {
        const auto& rec = wb_.globals_[i];
        if (!anyFormat && i == firstXf) writeAddedFormats();
        if (i == recalcIdAt) out_.Write(op::kRecalcId, recalcAll);
        if (rec.opcode == op::kRecalcId && wb_.recalcOnOpen_ && rec.data.size() >= 8) {
            std::vector<std::uint8_t> data = rec.data;
            std::fill(data.begin() + 4, data.begin() + 8, 0);
            out_.Write(op::kRecalcId, data);
            continue;
        }
        if (rec.opcode == op::kSst) {
            WriteSst();
            continue;
        }
        if (rec.opcode == op::kExtSst) {
            WriteExtSst();
            continue;
        }
        if (rec.opcode == op::kBoundSheet && sheetIndex < boundSheetPos.size())
            boundSheetPos[sheetIndex++] = out_.Position() + 4;
        out_.Write(rec.opcode, rec.data);
        if (anyFormat && i == lastFormat) writeAddedFormats();
        if (i == lastXf) {
            // A workbook the .xls reader read keeps its XF records.
            for (const auto& xf : dynamic_cast<const xls::XfTable&>(*wb_.styles_).Added()) out_.Write(op::kXf, xf);
        }
    }
    for (std::size_t s = 0; s < wb_.sheets_.size(); ++s) {
        out_.PatchU32(boundSheetPos[s], static_cast<std::uint32_t>(out_.Position()));
        if (s == wb_.editable_)
            WriteEditableSheet();
        else
            WriteOtherSheet(s);
    }

    out_.Data().insert(out_.Data().end(), wb_.trailing_.begin(), wb_.trailing_.end());

    cfb::CompoundFile file = *wb_.file_;
    cfb::Entry* stream = file.FindStream(wb_.streamName_);
    stream->data = std::move(out_.Data());
    EncryptWorkbookStream(stream->data);
    return cfb::Write(file);
}

void XlsWriter::WriteOtherSheet(std::size_t sheet) {
    // Offsets inside an unchanged sheet are relative, except INDEX's.
    const std::int64_t delta = static_cast<std::int64_t>(out_.Position()) - wb_.sheets_[sheet].originalOffset;
    int depth = 0;
    for (auto rec : wb_.sheetRecords_[sheet]) {
        if (rec.opcode == op::kBof) ++depth;
        if (rec.opcode == op::kEof) --depth;
        if (rec.opcode == op::kIndex && depth == 1 && rec.data.size() >= 16) {
            auto at = std::span(rec.data);
            const auto shift = [&](std::size_t pos) {
                const std::uint32_t v = biff::GetU32(at.subspan(pos));
                if (v) PutU32(at.subspan(pos), static_cast<std::uint32_t>(v + delta));
            };
            shift(12);
            for (std::size_t p = 16; p + 4 <= rec.data.size(); p += 4) shift(p);
        }
        out_.Write(rec.opcode, rec.data);
    }
}

namespace {

bool EncodeRk(double v, std::uint32_t& rk) {
    // Integers in 30 bits, and integers divided by 100, go in 4 bytes.
    for (int x100 = 0; x100 < 2; ++x100) {
        const double scaled = x100 ? v * 100 : v;
        if (std::nearbyint(scaled) == scaled && scaled >= -536870912.0 && scaled <= 536870911.0) {
            if (x100 && static_cast<double>(static_cast<std::int32_t>(scaled)) / 100 != v) continue;
            rk = (static_cast<std::uint32_t>(static_cast<std::int32_t>(scaled)) << 2) | 0x02 | x100;
            return true;
        }
    }
    // Otherwise the double's top 30 bits: only when the 34 bits dropped
    // are all zero, or the value would change (46024.4375, 10:30 on a day,
    // needs bit 33).
    const auto bits = std::bit_cast<std::uint64_t>(v);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        rk = static_cast<std::uint32_t>(bits >> 32) & 0xFFFFFFFCu;
        return true;
    }
    return false;
}

} // namespace

namespace {

// The payload of a constant cell's record, built on the stack: a sheet has
// hundreds of thousands of them.
class CellBytes {
public:
    CellBytes& U8(std::uint8_t v) {
        data_[size_++] = v;
        return *this;
    }
    CellBytes& U16(std::uint16_t v) { return U8(static_cast<std::uint8_t>(v)).U8(static_cast<std::uint8_t>(v >> 8)); }
    CellBytes& U32(std::uint32_t v) {
        return U16(static_cast<std::uint16_t>(v)).U16(static_cast<std::uint16_t>(v >> 16));
    }
    CellBytes& F64(double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        return U32(static_cast<std::uint32_t>(bits)).U32(static_cast<std::uint32_t>(bits >> 32));
    }
    std::span<const std::uint8_t> Span() const noexcept { return {data_, size_}; }

private:
    std::uint8_t data_[16];
    std::size_t size_ = 0;
};

} // namespace

void XlsWriter::WriteCell(std::uint16_t col, const Cell& cell) {
    CellBytes c;
    c.U16(static_cast<std::uint16_t>(cell.row)).U16(col).U16(cell.xf);
    switch (cell.kind) {
    case CellKind::Blank: out_.Write(op::kBlank, c.Span()); return;
    case CellKind::Number: {
        std::uint32_t rk;
        if (EncodeRk(cell.number, rk)) {
            c.U32(rk);
            out_.Write(op::kRk, c.Span());
        } else {
            c.F64(cell.number);
            out_.Write(op::kNumber, c.Span());
        }
        return;
    }
    case CellKind::Text:
        c.U32(cell.index);
        out_.Write(op::kLabelSst, c.Span());
        return;
    case CellKind::Boolean:
    case CellKind::Error:
        c.U8(cell.small).U8(cell.kind == CellKind::Error ? 1 : 0);
        out_.Write(op::kBoolErr, c.Span());
        return;
    case CellKind::Formula: break;
    }
    const auto& f = wb_.formulas_[cell.index];
    Bytes b;
    b.Append(c.Span()).Append(f.cached).U16(f.grbit).U32(0);
    if (f.arrayHost) {
        b.U16(5).U8(0x01).U16(static_cast<std::uint16_t>(cell.row)).U16(col);
    } else {
        b.U16(static_cast<std::uint16_t>(f.tokens.rgce.size())).Append(f.tokens.rgce).Append(f.tokens.rgcb);
    }
    out_.Write(op::kFormula, b.Span());
    if (f.arrayHost && f.extra.size() >= 14) {
        Bytes a;
        a.Append(std::span(f.extra).first(12));
        a.U16(static_cast<std::uint16_t>(f.tokens.rgce.size())).Append(f.tokens.rgce).Append(f.tokens.rgcb);
        out_.Write(op::kArray, a.Span());
    } else if (f.extraOpcode) {
        out_.Write(f.extraOpcode, f.extra);
    }
    if (f.cached[6] == 0xFF && f.cached[7] == 0xFF && f.cached[0] == 0) {
        // A text result over 8,224 bytes continues in CONTINUE records, and
        // its characters continue behind a fresh flag byte there, as readers
        // expect (a plain split would make them read a character as the flag).
        biff::ContinuableWriter s(out_, op::kString);
        s.RichStringEntry({f.cachedText, {}, {}});
        s.Finish();
    }
}

void XlsWriter::WriteEditableSheet() {
    // Cells in row order: a counting sort over rows, filled column by column
    // so that each row's cells come out in column order.
    std::vector<std::uint32_t> start(formula::kMaxRows + 1, 0);
    std::size_t total = 0;
    for (const auto& column : wb_.columns_)
        for (const auto& cell : column.cells) ++start[cell.row + 1], ++total;
    for (std::size_t r = 0; r < formula::kMaxRows; ++r) start[r + 1] += start[r];
    std::vector<std::pair<std::uint16_t, const Cell*>> ordered(total);
    {
        std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
        for (std::uint16_t c = 0; c < formula::kMaxCols; ++c)
            for (const auto& cell : wb_.columns_[c].cells) ordered[fill[cell.row]++] = {c, &cell};
    }
    std::vector<std::uint8_t> hasRowRecord(formula::kMaxRows, 0);
    for (const auto& [r, data] : wb_.rowRecords_)
        if (r < formula::kMaxRows) hasRowRecord[r] = 1;
    std::vector<std::uint32_t> rows;
    for (std::uint32_t r = 0; r < formula::kMaxRows; ++r)
        if (start[r + 1] > start[r] || hasRowRecord[r]) rows.push_back(r);

    std::uint32_t firstCellRow = 0, lastCellRow = 0;
    std::uint16_t firstCol = 0, lastCol = 0;
    bool anyCell = total > 0;
    if (anyCell) {
        firstCellRow = ordered.front().second->row;
        lastCellRow = ordered.back().second->row;
        firstCol = formula::kMaxCols;
        for (std::uint16_t c = 0; c < formula::kMaxCols; ++c) {
            if (wb_.columns_[c].cells.empty()) continue;
            firstCol = std::min(firstCol, c);
            lastCol = c;
        }
    }
    const std::size_t blocks = (rows.size() + 31) / 32;
    std::size_t indexPos = SIZE_MAX, defColWidthPos = 0;
    bool inChart = false;
    const auto writeDimensions = [&] {
        Bytes d;
        d.U32(anyCell ? firstCellRow : 0).U32(anyCell ? lastCellRow + 1 : 0);
        d.U16(anyCell ? firstCol : 0).U16(anyCell ? static_cast<std::uint16_t>(lastCol + 1) : 0).U16(0);
        out_.Write(op::kDimensions, d.Span());
    };
    const auto writeMerges = [&] {
        for (std::size_t i = 0; i < wb_.merges_.size(); i += 1027) {
            const std::size_t n = std::min<std::size_t>(1027, wb_.merges_.size() - i);
            Bytes m;
            m.U16(static_cast<std::uint16_t>(n));
            for (std::size_t k = i; k < i + n; ++k) {
                const auto& a = wb_.merges_[k];
                m.U16(static_cast<std::uint16_t>(a.r1)).U16(static_cast<std::uint16_t>(a.r2)).U16(a.c1).U16(a.c2);
            }
            out_.Write(op::kMergeCells, m.Span());
        }
    };
    for (const auto& rec : wb_.prefix_) {
        if (rec.opcode == op::kBof && &rec != &wb_.prefix_.front()) inChart = true;
        if (inChart) {
            out_.Write(rec.opcode, rec.data);
            if (rec.opcode == op::kEof) inChart = false;
            continue;
        }
        if (rec.opcode == op::kIndex) {
            indexPos = out_.Position();
            std::vector<std::uint8_t> zeros(16 + 4 * blocks, 0);
            out_.Write(op::kIndex, zeros);
        } else if (rec.opcode == op::kDimensions && rec.data.empty()) {
            writeDimensions();
        } else if (rec.opcode == op::kMergeCells && rec.data.empty()) {
            writeMerges();
        } else {
            if (rec.opcode == op::kDefColWidth) defColWidthPos = out_.Position();
            out_.Write(rec.opcode, rec.data);
        }
    }

    std::vector<std::uint32_t> dbCells;
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t first = b * 32, last = std::min(rows.size(), first + 32);
        const std::size_t firstRowPos = out_.Position();
        for (std::size_t i = first; i < last; ++i) {
            const std::uint32_t r = rows[i];
            // A ROW record is 16 bytes: built on the stack, a longer one as read.
            std::uint8_t rowBytes[16];
            std::vector<std::uint8_t> longRow;
            std::span<std::uint8_t> data(rowBytes);
            const auto it = hasRowRecord[r] ? wb_.rowRecords_.find(r) : wb_.rowRecords_.end();
            if (it != wb_.rowRecords_.end() && it->second.size() != sizeof rowBytes) {
                longRow = it->second;
                data = longRow;
            } else if (it != wb_.rowRecords_.end()) {
                std::copy(it->second.begin(), it->second.end(), rowBytes);
            } else {
                // A row that had none keeps the sheet's default: its height,
                // hidden state and borders; no format; bit 8 is always set.
                // Without a default record the height is the font's, which
                // the height's top bit says (12.75 pt for readers that ignore it).
                const auto [flags, height] = wb_.defaultRowHeight_.value_or(std::array<std::uint16_t, 2>{0, 0x80FF});
                const std::uint16_t options =
                    static_cast<std::uint16_t>(0x0100 | ((flags & 0x02) ? 0x20 : 0) | ((flags & 0x01) ? 0x40 : 0));
                const std::uint16_t xfAndBorders = static_cast<std::uint16_t>(
                    kDefaultXf | ((flags & 0x04) ? 0x1000 : 0) | ((flags & 0x08) ? 0x2000 : 0));
                const std::uint16_t fields[8] = {
                    static_cast<std::uint16_t>(r), 0, 0, height, 0, 0, options, xfAndBorders};
                for (int i = 0; i < 8; ++i) PutU16(data.subspan(2 * i), fields[i]);
            }
            std::uint16_t mic = 0, mac = 0;
            if (start[r + 1] > start[r]) {
                mic = ordered[start[r]].first;
                mac = static_cast<std::uint16_t>(ordered[start[r + 1] - 1].first + 1);
            }
            PutU16(data.subspan(0), static_cast<std::uint16_t>(r));
            PutU16(data.subspan(2), mic);
            PutU16(data.subspan(4), mac);
            out_.Write(op::kRow, data);
        }
        const std::size_t rowsEnd = out_.Position();
        Bytes db;
        std::size_t previous = firstRowPos + 20; // end of the first ROW record
        std::vector<std::uint16_t> offsets;
        for (std::size_t i = first; i < last; ++i) {
            const std::uint32_t r = rows[i];
            if (start[r + 1] == start[r]) continue;
            const std::size_t at = out_.Position();
            offsets.push_back(static_cast<std::uint16_t>(at - (offsets.empty() ? previous : previous)));
            previous = at;
            for (std::uint32_t k = start[r]; k < start[r + 1]; ++k) WriteCell(ordered[k].first, *ordered[k].second);
        }
        (void)rowsEnd;
        const std::size_t dbPos = out_.Position();
        db.U32(static_cast<std::uint32_t>(dbPos - firstRowPos));
        for (auto o : offsets) db.U16(o);
        out_.Write(op::kDbCell, db.Span());
        dbCells.push_back(static_cast<std::uint32_t>(dbPos));
    }

    for (const auto& rec : wb_.suffix_) {
        if (rec.opcode == op::kDimensions && rec.data.empty())
            writeDimensions();
        else if (rec.opcode == op::kMergeCells && rec.data.empty())
            writeMerges();
        else
            out_.Write(rec.opcode, rec.data);
    }

    if (indexPos != SIZE_MAX) {
        auto at = std::span(out_.Data()).subspan(indexPos + 4);
        PutU32(at.subspan(0), 0);
        PutU32(at.subspan(4), rows.empty() ? 0 : rows.front());
        PutU32(at.subspan(8), rows.empty() ? 0 : rows.back() + 1);
        PutU32(at.subspan(12), static_cast<std::uint32_t>(defColWidthPos));
        for (std::size_t i = 0; i < dbCells.size(); ++i) PutU32(at.subspan(16 + 4 * i), dbCells[i]);
    }
}

std::vector<std::uint8_t> Workbook::Save() {
    UpdateCachedResults(*this);
    if (keeper_) return keeper_->Save(*this);
    XlsWriter writer(*this);
    return writer.Write();
}

} // namespace vi2zezir::workbook
