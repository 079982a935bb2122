// A tiny BIFF8 workbook builder for the engine tests, the benchmarks and the
// fuzz seeds (never linked into the program): just enough globals (fonts,
// cell formats, sheets, shared strings) and cell records to make a small,
// valid .xls in memory, so tests build their own inputs.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "workbook/xls/biff.h"
#include "workbook/xls/cfb.h"

namespace vi2zezir::workbook::test {

struct BuilderCell {
    std::uint16_t row = 0, col = 0;
    std::variant<double, std::u16string> value;
    std::uint16_t xf = 15;
};

struct BuilderSheet {
    std::u16string name = u"Sheet1";
    std::vector<BuilderCell> cells;
    std::vector<std::array<std::uint16_t, 4>> merges; // r1, r2, c1, c2
    // Written as given after the merges (conditional formats, validations,
    // hyperlinks ...).
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> records;
    // Written as given before DIMENSIONS (DEFAULTROWHEIGHT ...) and after the
    // cells, in the cell table (ROW, FORMULA with SHRFMLA, ARRAY, STRING ...).
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> headRecords;
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> cellRecords;
};

struct BuilderOptions {
    std::vector<BuilderSheet> sheets{BuilderSheet{}};
    bool lieAboutSstCount = false; // claims more strings than it holds
    // XF 16.. : 16 with number format 49 ("@"), 17 with the quote prefix.
    std::uint16_t extraXfs = 1;
    // Written as given after the sheets' BOUNDSHEET records (SUPBOOK,
    // EXTERNSHEET, NAME, FORMAT ...).
    std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> globals;
};

inline std::vector<std::uint8_t> BuildXlsStream(const BuilderOptions& options) {
    namespace op = biff::op;
    biff::StreamWriter out;
    std::vector<std::u16string> strings;
    auto stringIndex = [&](const std::u16string& s) {
        for (std::size_t i = 0; i < strings.size(); ++i)
            if (strings[i] == s) return static_cast<std::uint32_t>(i);
        strings.push_back(s);
        return static_cast<std::uint32_t>(strings.size() - 1);
    };
    for (const auto& sheet : options.sheets)
        for (const auto& c : sheet.cells)
            if (auto s = std::get_if<std::u16string>(&c.value)) stringIndex(*s);

    biff::Bytes bof;
    bof.U16(0x0600).U16(0x0005).U16(0x0DBB).U16(0x07CC).U32(0).U32(0x0006);
    out.Write(op::kBof, bof.Span());
    biff::Bytes codepage;
    codepage.U16(1200);
    out.Write(0x0042, codepage.Span());
    for (int i = 0; i < 5; ++i) {
        biff::Bytes font;
        font.U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0).ShortUnicodeString(u"Arial");
        out.Write(0x0031, font.Span());
    }
    for (int i = 0; i < 16 + options.extraXfs; ++i) {
        biff::Bytes xf;
        const bool style = i < 15;
        const std::uint16_t ifmt = i == 16 ? 49 : 0;
        const std::uint16_t typeProtection = style ? 0xFFF5 : (i == 17 ? 0x0009 : 0x0001);
        xf.U16(0).U16(ifmt).U16(typeProtection).U8(0x20).U8(0).U8(0).U8(style ? 0xF4 : 0);
        xf.U32(0).U32(0).U16(0x20C0);
        out.Write(op::kXf, xf.Span());
    }
    biff::Bytes style;
    style.U16(0x8000).U8(0).U8(0xFF);
    out.Write(0x0293, style.Span());
    std::vector<std::size_t> boundSheetPos;
    for (const auto& sheet : options.sheets) {
        biff::Bytes bs;
        bs.U32(0).U8(0).U8(0).ShortUnicodeString(sheet.name);
        boundSheetPos.push_back(out.Position() + 4);
        out.Write(op::kBoundSheet, bs.Span());
    }
    for (const auto& [opcode, data] : options.globals) out.Write(opcode, data);
    {
        biff::ContinuableWriter sst(out, op::kSst);
        sst.U32(static_cast<std::uint32_t>(strings.size()));
        sst.U32(static_cast<std::uint32_t>(strings.size() + (options.lieAboutSstCount ? 1000 : 0)));
        for (const auto& s : strings) sst.RichStringEntry({s, {}, {}});
    }
    biff::Bytes extsst;
    extsst.U16(8);
    out.Write(op::kExtSst, extsst.Span());
    out.Write(op::kEof, {});

    for (std::size_t s = 0; s < options.sheets.size(); ++s) {
        const auto& sheet = options.sheets[s];
        out.PatchU32(boundSheetPos[s], static_cast<std::uint32_t>(out.Position()));
        biff::Bytes sbof;
        sbof.U16(0x0600).U16(0x0010).U16(0x0DBB).U16(0x07CC).U32(0).U32(0x0006);
        out.Write(op::kBof, sbof.Span());
        biff::Bytes index;
        index.U32(0).U32(0).U32(0).U32(0);
        out.Write(op::kIndex, index.Span());
        biff::Bytes defcol;
        defcol.U16(8);
        out.Write(op::kDefColWidth, defcol.Span());
        for (const auto& [opcode, data] : sheet.headRecords) out.Write(opcode, data);
        biff::Bytes dims;
        dims.U32(0).U32(0).U16(0).U16(0).U16(0);
        out.Write(op::kDimensions, dims.Span());
        for (const auto& c : sheet.cells) {
            biff::Bytes b;
            b.U16(c.row).U16(c.col).U16(c.xf);
            if (auto d = std::get_if<double>(&c.value)) {
                b.F64(*d);
                out.Write(op::kNumber, b.Span());
            } else {
                b.U32(stringIndex(std::get<std::u16string>(c.value)));
                out.Write(op::kLabelSst, b.Span());
            }
        }
        for (const auto& [opcode, data] : sheet.cellRecords) out.Write(opcode, data);
        biff::Bytes window;
        window.U16(0x06B6).U16(0).U16(0).U16(0x40).U16(0).U16(0).U16(0).U16(0).U16(0);
        out.Write(0x023E, window.Span());
        if (!sheet.merges.empty()) {
            biff::Bytes m;
            m.U16(static_cast<std::uint16_t>(sheet.merges.size()));
            for (auto a : sheet.merges) m.U16(a[0]).U16(a[1]).U16(a[2]).U16(a[3]);
            out.Write(op::kMergeCells, m.Span());
        }
        for (const auto& [opcode, data] : sheet.records) out.Write(opcode, data);
        out.Write(op::kEof, {});
    }
    return out.Data();
}

// Sheet records for BuilderSheet::records.
inline std::vector<std::uint8_t> Ref8(std::uint16_t r1, std::uint16_t r2, std::uint16_t c1, std::uint16_t c2) {
    biff::Bytes b;
    b.U16(r1).U16(r2).U16(c1).U16(c2);
    return b.Data();
}

// A conditional format over the ranges, with one rule comparing against the
// absolute reference (row, col).
inline std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>> CondFmt(
    std::vector<std::array<std::uint16_t, 4>> ranges, std::uint16_t row, std::uint16_t col) {
    biff::Bytes condFmt;
    condFmt.U16(1).U16(0x0002);
    std::array<std::uint16_t, 4> box{0xFFFF, 0, 0xFFFF, 0};
    for (auto r : ranges) {
        box[0] = std::min(box[0], r[0]), box[1] = std::max(box[1], r[1]);
        box[2] = std::min(box[2], r[2]), box[3] = std::max(box[3], r[3]);
    }
    condFmt.Append(Ref8(box[0], box[1], box[2], box[3])).U16(static_cast<std::uint16_t>(ranges.size()));
    for (auto r : ranges) condFmt.Append(Ref8(r[0], r[1], r[2], r[3]));
    biff::Bytes cf; // cell value greater than the referenced cell; a format changing nothing
    cf.U8(1).U8(5).U16(5).U16(0).U32(0x003FFFFF).U16(0).U8(0x44).U16(row).U16(col);
    return {{0x01B0, condFmt.Data()}, {0x01B1, cf.Data()}};
}

inline std::vector<std::uint8_t> Validation(std::uint16_t refRow, std::uint16_t refCol,
                                            std::array<std::uint16_t, 4> range) {
    biff::Bytes dv;
    dv.U32(0x00600101);                                // a whole number at least the minimum; blanks allowed
    for (int i = 0; i < 4; ++i) dv.U16(1).U8(0).U8(0); // empty titles and messages
    dv.U16(5).U16(0).U8(0x44).U16(refRow).U16(refCol); // minimum: the referenced cell
    dv.U16(0).U16(0);
    dv.U16(1).Append(Ref8(range[0], range[1], range[2], range[3]));
    return dv.Data();
}

// A FORMULA record with its cached result: a number, or a text whose STRING
// record the caller adds (after any SHRFMLA or ARRAY).
inline std::vector<std::uint8_t> Formula(std::uint16_t row, std::uint16_t col, std::vector<std::uint8_t> rgce,
                                         std::variant<double, std::u16string> cached = 0.0) {
    biff::Bytes b;
    b.U16(row).U16(col).U16(15);
    if (auto d = std::get_if<double>(&cached))
        b.F64(*d);
    else
        b.U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U16(0xFFFF);
    b.U16(0).U32(0).U16(static_cast<std::uint16_t>(rgce.size())).Append(rgce);
    return b.Data();
}

// PtgExp naming the anchor of a shared or array formula.
inline std::vector<std::uint8_t> PtgExp(std::uint16_t row, std::uint16_t col) {
    biff::Bytes b;
    b.U8(0x01).U16(row).U16(col);
    return b.Data();
}

// SHRFMLA (0x04BC) or ARRAY (0x0221) over r1:r2, c1:c2.
inline std::vector<std::uint8_t> SharedOrArray(std::uint16_t opcode, std::uint16_t r1, std::uint16_t r2,
                                               std::uint8_t c1, std::uint8_t c2, std::vector<std::uint8_t> rgce) {
    biff::Bytes b;
    b.U16(r1).U16(r2).U8(c1).U8(c2);
    if (opcode == 0x0221)
        b.U16(0).U32(0);
    else
        b.U8(0).U8(static_cast<std::uint8_t>((r2 - r1 + 1) * (c2 - c1 + 1)));
    b.U16(static_cast<std::uint16_t>(rgce.size())).Append(rgce);
    return b.Data();
}

inline std::vector<std::uint8_t> StringResult(std::u16string_view text) {
    biff::Bytes b;
    b.UnicodeString(text);
    return b.Data();
}

// The stream in a compound file of its own, under the name given.
inline std::vector<std::uint8_t> WrapStream(std::vector<std::uint8_t> stream, std::u16string name = u"Workbook") {
    cfb::CompoundFile file;
    cfb::Entry entry;
    entry.name = std::move(name);
    entry.data = std::move(stream);
    file.entries.push_back(std::move(entry));
    return cfb::Write(file);
}

inline std::vector<std::uint8_t> BuildXls(const BuilderOptions& options) { return WrapStream(BuildXlsStream(options)); }

using Records = std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>;

// The records of a file's n-th substream (0: the globals, 1: the first sheet)
// in order, or of everything after the n-th when `rest`.
inline Records SubstreamRecords(const std::vector<std::uint8_t>& file, int n, bool rest = false,
                                std::u16string_view streamName = u"Workbook") {
    const cfb::CompoundFile compound = cfb::Read(file);
    const cfb::Entry* stream = compound.FindStream(streamName);
    Records records;
    if (!stream) return records;
    biff::RecordReader reader(stream->data);
    int substream = -1, depth = 0;
    while (reader.Next()) {
        const biff::Record& r = reader.Current();
        if (r.opcode == biff::op::kBof && depth++ == 0) ++substream;
        if (substream == n || (rest && substream > n))
            records.emplace_back(r.opcode, std::vector<std::uint8_t>(r.data.begin(), r.data.end()));
        if (r.opcode == biff::op::kEof && --depth == 0 && substream == n && !rest) break;
    }
    return records;
}

} // namespace vi2zezir::workbook::test
