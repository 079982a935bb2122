// Templates come from many writers. What one holds comes back from a load and
// save unchanged, and a workbook is refused only for what cannot be kept.
#include <gtest/gtest.h>

#include <map>

#include "workbook/sheet/model.h"
#include "workbook/testing/xls_builder.h"

namespace vi2zezir::workbook {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::BuilderOptions;
using test::Formula;
using test::PtgExp;
using test::SharedOrArray;
using test::StringResult;
using test::SubstreamRecords;

constexpr std::uint16_t kShrFmla = 0x04BC;
constexpr std::uint16_t kArray = 0x0221;

const Bytes kOnePlusOne = {0x1E, 1, 0, 0x1E, 1, 0, 0x03};
const Bytes kOnePlusTwo = {0x1E, 1, 0, 0x1E, 2, 0, 0x03};
const Bytes kTwoPlusTwo = {0x1E, 2, 0, 0x1E, 2, 0, 0x03};

// =INFO("directory"): a text only Excel can compute, so what is saved is the
// result that was read.
Bytes InfoDirectory() {
    biff::Bytes b;
    b.U8(0x17).U8(9).U8(0);
    for (char c : std::string("directory")) b.U8(static_cast<std::uint8_t>(c));
    b.U8(0x41).U16(244);
    return b.Data();
}

std::uint32_t Key(std::uint16_t row, std::uint16_t col) { return (std::uint32_t{row} << 16) | col; }

Bytes Bof(std::uint16_t version, std::uint16_t type) {
    biff::Bytes b;
    b.U16(version).U16(type).U16(0x0DBB).U16(0x07CC).U32(0).U32(0x0006);
    return b.Data();
}

Bytes SaveAgain(const Bytes& file) { return Workbook::Load(file)->Save(); }

std::string LoadError(const Bytes& file) {
    try {
        Workbook::Load(file);
    } catch (const Error& e) {
        return e.what();
    }
    return "opened";
}

// A FORMULA's STRING record follows any SHRFMLA or ARRAY record after it, and
// a PtgExp names the anchor of its shared or array formula: ranges of
// different shared formulas may overlap, and an array inside one keeps its
// members.
TEST(XlsFidelity, FormulaGroupsKeepTheirTextResultsAndAnchors) {
    BuilderOptions o;
    auto& r = o.sheets[0].cellRecords;
    r.emplace_back(0x0006, Formula(0, 0, PtgExp(0, 0), u""));
    r.emplace_back(kShrFmla, SharedOrArray(kShrFmla, 0, 1, 0, 0, InfoDirectory()));
    r.emplace_back(0x0207, StringResult(u"Ok."));
    r.emplace_back(0x0006, Formula(0, 1, PtgExp(0, 1), 2.0));
    r.emplace_back(kShrFmla, SharedOrArray(kShrFmla, 0, 3, 1, 2, kOnePlusOne)); // B1:C4, over the array
    r.emplace_back(0x0006, Formula(0, 2, PtgExp(0, 2), 3.0));
    r.emplace_back(kArray, SharedOrArray(kArray, 0, 1, 2, 2, kOnePlusTwo)); // C1:C2
    r.emplace_back(0x0006, Formula(1, 0, PtgExp(0, 0), u""));
    r.emplace_back(0x0207, StringResult(u"Fine"));
    r.emplace_back(0x0006, Formula(1, 1, PtgExp(0, 1), 2.0));
    r.emplace_back(0x0006, Formula(1, 2, PtgExp(0, 2), 3.0));
    r.emplace_back(0x0006, Formula(2, 1, PtgExp(2, 1), 4.0));
    r.emplace_back(kShrFmla, SharedOrArray(kShrFmla, 2, 3, 1, 1, kTwoPlusTwo)); // B3:B4
    r.emplace_back(0x0006, Formula(3, 1, PtgExp(2, 1), 4.0));
    const Bytes file = test::BuildXls(o);

    const auto wb = Workbook::Load(file);
    EXPECT_EQ(wb->CellText(1, 1), u"=1+1");
    EXPECT_EQ(wb->CellText(2, 1), u"=2+2");
    EXPECT_EQ(wb->CellText(3, 1), u"=2+2");

    std::map<std::uint32_t, Bytes> rgce, texts;
    std::uint32_t last = 0;
    bool arrayAfterC1 = false;
    for (const auto& [opcode, data] : SubstreamRecords(wb->Save(), 1)) {
        if (opcode == 0x0006) {
            last = Key(biff::GetU16(data), biff::GetU16(std::span(data).subspan(2)));
            rgce[last].assign(data.begin() + 22, data.end());
        }
        if (opcode == 0x0207) texts[last] = data;
        if (opcode == kArray) arrayAfterC1 = last == Key(0, 2);
    }
    EXPECT_EQ(texts[Key(0, 0)], StringResult(u"Ok."));
    EXPECT_EQ(texts[Key(1, 0)], StringResult(u"Fine"));
    EXPECT_TRUE(arrayAfterC1);
    EXPECT_EQ(rgce[Key(1, 2)], PtgExp(0, 2)); // still a member of the array
}

// Rows the writer lists because they hold cells keep the height they showed:
// the sheet's default for a row that had no ROW record (the default font's
// when the sheet states none), and a ROW record as read but for the column
// bounds.
TEST(XlsFidelity, RowsKeepTheirHeights) {
    struct Case {
        std::optional<std::array<std::uint16_t, 2>> defaultRow; // flags, height
        std::array<std::uint16_t, 3> invented;                  // height, options, xf and borders
    };
    const Case cases[] = {
        {{{0x0001, 1026}}, {1026, 0x0140, 15}},   // set by hand
        {{{0x000E, 300}}, {300, 0x0120, 0x300F}}, // hidden, thick borders above and below
        {std::nullopt, {0x80FF, 0x0100, 15}},     // the font's height
    };
    for (const auto& c : cases) {
        BuilderOptions o;
        o.sheets[0].cells = {{0, 0, 1.0}, {2, 1, 2.0}};
        if (c.defaultRow) {
            biff::Bytes d;
            d.U16((*c.defaultRow)[0]).U16((*c.defaultRow)[1]);
            o.sheets[0].headRecords.emplace_back(0x0225, d.Data());
        }
        biff::Bytes custom; // row 3: 30 pt, hidden, set by hand, columns A:I claimed
        custom.U16(2).U16(0).U16(9).U16(600).U16(0).U16(0).U16(0x0160).U16(15);
        o.sheets[0].cellRecords.emplace_back(0x0208, custom.Data());

        std::map<std::uint16_t, Bytes> rows;
        for (const auto& [opcode, data] : SubstreamRecords(SaveAgain(test::BuildXls(o)), 1))
            if (opcode == 0x0208) rows[biff::GetU16(data)] = data;
        biff::Bytes invented;
        invented.U16(0).U16(0).U16(1).U16(c.invented[0]).U16(0).U16(0).U16(c.invented[1]).U16(c.invented[2]);
        EXPECT_EQ(rows[0], invented.Data());
        Bytes kept = custom.Data();
        biff::PutU16(std::span(kept).subspan(2), 1); // B3 only
        biff::PutU16(std::span(kept).subspan(4), 2);
        EXPECT_EQ(rows[2], kept);
    }
}

// A substream no BOUNDSHEET names, after the last sheet, goes back after the
// sheets as it was.
TEST(XlsFidelity, ASubstreamAfterTheLastSheetIsKept) {
    BuilderOptions o;
    o.sheets[0].cells = {{0, 0, u"a"}};
    Bytes stream = test::BuildXlsStream(o);
    biff::StreamWriter tail;
    tail.Write(biff::op::kBof, Bof(0x0600, 0x0010));
    tail.Write(biff::op::kEof, {});
    stream.insert(stream.end(), tail.Data().begin(), tail.Data().end());

    const auto rest = SubstreamRecords(SaveAgain(test::WrapStream(stream)), 1, true);
    ASSERT_GE(rest.size(), 2u);
    EXPECT_EQ(rest[rest.size() - 2].first, biff::op::kBof);
    EXPECT_EQ(rest[rest.size() - 2].second, Bof(0x0600, 0x0010));
    EXPECT_EQ(rest.back().first, biff::op::kEof);
}

// Some writers keep Excel 97 records in a stream named as Excel 5.0's ("Book",
// "BOOK"): the BOF record tells the format, and the stream keeps its name.
// Excel 5.0 and older stay refused, saying which they are.
TEST(XlsFidelity, TheBofNotTheStreamNameTellsTheFormat) {
    BuilderOptions o;
    o.sheets[0].cells = {{0, 0, u"kept"}};
    const Bytes stream = test::BuildXlsStream(o);
    for (const char16_t* name : {u"Book", u"BOOK"}) {
        const auto saved = SaveAgain(test::WrapStream(stream, name));
        EXPECT_EQ(cfb::Read(saved).entries.at(0).name, name);
        EXPECT_EQ(Workbook::Load(saved)->CellText(0, 0), u"kept");
    }
    Bytes biff5 = stream;
    biff::PutU16(std::span(biff5).subspan(4), 0x0500);
    EXPECT_NE(LoadError(test::WrapStream(biff5, u"Book")).find("Excel 5.0/95"), std::string::npos);
    Bytes biff4 = stream;
    biff::PutU16(biff4, 0x0409);
    EXPECT_NE(LoadError(test::WrapStream(biff4)).find("Excel 4.0 or older"), std::string::npos);
    EXPECT_NE(LoadError(biff4).find("Excel 4.0 or older"), std::string::npos); // no compound file around it
}

// A cell record that ends before its fields do is refused where it is
// read, naming the record; five bytes are short of every one.
TEST(XlsFidelity, CellRecordsCutShortAreRefusedByName) {
    const std::pair<std::uint16_t, const char*> records[] = {
        {0x0208, "ROW"},     {0x0201, "BLANK"},   {0x00BE, "MULBLANK"}, {0x00BD, "MULRK"},
        {0x0203, "NUMBER"},  {0x027E, "RK"},      {0x00FD, "LABELSST"}, {0x0205, "BOOLERR"},
        {0x0006, "FORMULA"}, {0x04BC, "SHRFMLA"}, {0x0221, "ARRAY"},    {0x0236, "TABLE"}};
    for (const auto& [opcode, name] : records) {
        BuilderOptions o;
        o.sheets[0].cellRecords = {{opcode, {0, 0, 0, 0, 15}}};
        EXPECT_NE(LoadError(test::BuildXls(o)).find(std::string("a ") + name + " record of the first worksheet is "),
                  std::string::npos)
            << name;
    }
}

// A FORMAT record whose text runs past its end, an XF record cut short: kept
// byte for byte, the format's number taken, and cells formatted with them
// read as General.
TEST(XlsFidelity, UnreadableFormatsAreKeptAndReadAsGeneral) {
    BuilderOptions o;
    biff::Bytes format;
    format.U16(164).U16(20).U8(0);
    for (char c : std::string("0.000")) format.U8(static_cast<std::uint8_t>(c));
    biff::Bytes xf, shortXf; // XF 17 with number format 164, XF 18 of six bytes
    xf.U16(0).U16(164).U16(0x0001).U8(0x20).U8(0).U8(0).U8(0).U32(0).U32(0).U16(0x20C0);
    shortXf.U16(0).U16(14).U16(0x0001);
    o.globals = {{0x041E, format.Data()}, {biff::op::kXf, xf.Data()}, {biff::op::kXf, shortXf.Data()}};
    o.sheets[0].cells = {{0, 0, 1.5, 17}, {1, 0, 46362.0, 18}};

    const auto wb = Workbook::Load(test::BuildXls(o));
    EXPECT_EQ(wb->CellText(0, 0), u"1.5");
    EXPECT_EQ(wb->CellText(1, 0), u"12/6/2026"); // the short XF's format is there
    EXPECT_NE(wb->CustomFormat(u"0.000"), 164);
    int kept = 0;
    for (const auto& [opcode, data] : SubstreamRecords(wb->Save(), 0))
        kept += (opcode == 0x041E && data == format.Data()) || (opcode == biff::op::kXf && data == shortXf.Data());
    EXPECT_EQ(kept, 2);
}

} // namespace
} // namespace vi2zezir::workbook
