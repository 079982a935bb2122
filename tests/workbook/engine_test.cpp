// The engine through its SheetHost interface, with Excel's behaviour for the
// calls the writers make; results are read back from the saved file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "base/failure.h"
#include "support/bytes.h"
#include "support/expect_failure.h"
#include "workbook/engine.h"
#include "workbook/sheet/model.h"
#include "workbook/testing/xls_builder.h"

namespace vi2zezir::workbook {
namespace {

namespace fs = std::filesystem;
using test::BuilderCell;
using test::BuilderOptions;
using test::BuilderSheet;
using test::CondFmt;
using test::Ref8;
using test::Validation;

using ::vi2zezir::test::ReadBytes;
using ::vi2zezir::test::WriteBytes;

EngineOptions WritingTo(const fs::path& output) {
    EngineOptions options;
    options.outputPath = output;
    return options;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vz_engine_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::shared_ptr<sheet::Worksheet> Open(const BuilderOptions& options) {
        templatePath_ = dir_ / "template.xls";
        WriteBytes(templatePath_, test::BuildXls(options));
        EngineOptions engine;
        engine.outputPath = dir_ / "out.xls";
        engine.onSaved = [this](const fs::path& p) { savedTo_ = p; };
        app_ = CreateApplication(engine);
        app_->Workbooks()->Open(templatePath_.u16string(), true);
        return app_->Workbooks()->Item(1)->Worksheets(1);
    }

    // Saves through Visible = true and reads the file back with the engine's
    // own reader.
    std::unique_ptr<Workbook> SaveAndReload() {
        app_->SetVisible(true);
        EXPECT_EQ(savedTo_, dir_ / "out.xls");
        return Workbook::Load(ReadBytes(dir_ / "out.xls"));
    }

    static std::u16string Plain(std::u16string address) {
        std::erase(address, u'$');
        return address;
    }

    fs::path dir_, templatePath_, savedTo_;
    std::shared_ptr<sheet::Application> app_;
};

std::u16string Ascii(int number) {
    const std::string s = std::to_string(number);
    return std::u16string(s.begin(), s.end());
}

BuilderOptions Cells(std::vector<BuilderCell> cells) {
    BuilderOptions o;
    o.sheets[0].cells = std::move(cells);
    return o;
}

TEST_F(EngineTest, FindSearchesByRowsAfterA1AndA1LastAsTheFormulaBarShows) {
    auto ws = Open(Cells({{0, 0, u"&X"}, {0, 1, u"&x here"}, {1, 0, u"&X"}}));
    EXPECT_EQ(ws->Cells()->Find(u"&X")->Address(), u"$B$1");
    ws->Cells()->Replace(u"&x", u""); // B1 becomes "here", A1 and A2 empty
    EXPECT_EQ(ws->Cells()->Find(u"&X"), nullptr);

    auto ws2 = Open(Cells({{0, 0, u"key"}, {1, 0, u"other"}}));
    EXPECT_EQ(ws2->Cells()->Find(u"KEY")->Address(), u"$A$1"); // only A1: found last, case-insensitive
    EXPECT_EQ(ws2->Cells()->Find(u"nothing"), nullptr);

    auto ws3 = Open(Cells({{1, 0, u"a&P"}, {0, 5, u"&p"}, {0, 1, 1234.5}}));
    EXPECT_EQ(ws3->Cells()->Find(u"&P")->Address(), u"$F$1");   // earlier rows before earlier columns
    EXPECT_EQ(ws3->Cells()->Find(u"34.5")->Address(), u"$B$1"); // numbers as the formula bar shows them
    EXPECT_EQ(ws3->Cells()->Find(u"$1,234.50"), nullptr);
}

TEST_F(EngineTest, FoundCellFollowsItsCellWhenInsertMovesIt) {
    auto ws = Open(Cells({{4, 2, u"&DI_Price"}, {4, 3, u"&DI_Qty"}}));
    auto found = ws->Cells()->Find(u"&DI_Price");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Address(), u"$C$5");
    ws->Range(u"C5")->Insert(sheet::xlShiftDown);
    EXPECT_EQ(found->Address(), u"$C$6");
    EXPECT_EQ(ws->Cells()->Find(u"&DI_Price")->Address(), u"$C$6");
    EXPECT_EQ(ws->Cells()->Find(u"&DI_Qty")->Address(), u"$D$5"); // other columns stay
}

TEST_F(EngineTest, InsertShiftsOnlyItsColumnAndCopiesTheFormatAbove) {
    BuilderOptions o = Cells({{3, 1, u"header", 16}, {4, 1, u"&P"}, {6, 1, u"label"}, {6, 0, u"left"}});
    auto ws = Open(o);
    ws->Range(u"B5")->Insert(sheet::xlShiftDown);
    ws->Range(u"B5")->Cells()->SetValue(Value(u"00123")); // B5 took "@" from B4: stays text
    auto wb = SaveAndReload();
    EXPECT_EQ(wb->CellText(4, 1), u"00123");
    EXPECT_EQ(wb->CellAt(4, 1)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellAt(4, 1)->xf, 16);
    EXPECT_EQ(wb->CellText(5, 1), u"&P");
    EXPECT_EQ(wb->CellText(7, 1), u"label");
    EXPECT_EQ(wb->CellText(6, 0), u"left");
}

TEST_F(EngineTest, InsertRefusesToSplitAMergeOrPushCellsOffTheSheet) {
    BuilderOptions o = Cells({{14, 1, u"merged"}, {65535, 3, u"last"}});
    o.sheets[0].merges.push_back({14, 14, 1, 2}); // B15:C15
    o.sheets[0].merges.push_back({20, 21, 4, 4}); // E21:E22, one column
    auto ws = Open(o);
    // A merge straddling column C refuses the insert.
    EXPECT_FAILURE(ws->Range(u"C10")->Insert(sheet::xlShiftDown), 1004, u"");
    ws->Range(u"C16")->Insert(sheet::xlShiftDown); // below the merge: fine
    // D65536 would be pushed off the sheet.
    EXPECT_FAILURE(ws->Range(u"D1")->Insert(sheet::xlShiftDown), 1004,
                   u"push non-empty cells off the end of the worksheet");
    ws->Range(u"E21")->Insert(sheet::xlShiftDown); // a merge wholly in the column moves
    auto wb = SaveAndReload();
    ASSERT_EQ(wb->Merges().size(), 2u);
    EXPECT_EQ(wb->Merges()[1].r1, 21u);
    EXPECT_EQ(wb->Merges()[1].r2, 22u);
}

// A cell shift moves comments, conditional formats, validations and hyperlinks in
// the shifted column with their cells, and rewrites their references to moved
// cells, as it does for formulas; ranges spanning other columns stay.
TEST_F(EngineTest, InsertMovesCommentsFormatsValidationsAndLinksWithTheirCells) {
    BuilderOptions o = Cells({{4, 2, u"&DI_Price"}, {9, 2, 5.0}});
    auto& records = o.sheets[0].records;
    auto add = [&](auto list) { records.insert(records.end(), list.begin(), list.end()); };
    add(CondFmt({{4, 4, 2, 2}}, 4, 2));                       // C5, rule against $C$5
    add(CondFmt({{4, 4, 0, 7}}, 4, 2));                       // A5:H5 spans other columns
    add(CondFmt({{2, 7, 2, 2}, {65535, 65535, 2, 2}}, 3, 3)); // C3:C8 and C65536, rule against $D$4
    add(CondFmt({{65535, 65535, 2, 2}}, 0, 0));               // only C65536
    biff::Bytes dval;
    dval.U16(0).U32(0).U32(0).U32(0xFFFFFFFF).U32(2);
    records.emplace_back(0x01B2, dval.Data());
    records.emplace_back(0x01BE, Validation(9, 2, {4, 6, 2, 2})); // C5:C7, minimum $C$10
    records.emplace_back(0x01BE, Validation(0, 0, {65535, 65535, 2, 2}));
    for (std::uint16_t col : {2, 3}) { // comments on C5 and D5
        biff::Bytes note;
        note.U16(4).U16(col).U16(0).U16(col).UnicodeString(u"Rep").U8(0);
        records.emplace_back(0x001C, note.Data());
    }
    biff::Bytes link;
    link.Append(Ref8(4, 4, 2, 2)).U32(0).U32(0).U32(0).U32(0);
    records.emplace_back(0x01B8, link.Data());

    auto ws = Open(o);
    ws->Range(u"C5")->Insert(sheet::xlShiftDown);
    SaveAndReload();
    const auto saved = test::SubstreamRecords(ReadBytes(dir_ / "out.xls"), 1);
    std::vector<std::vector<std::uint8_t>> condFmts, cfs, dvs, dvals, links, notes;
    for (const auto& [opcode, data] : saved) {
        if (opcode == 0x01B0) condFmts.push_back(data);
        if (opcode == 0x01B1) cfs.push_back(data);
        if (opcode == 0x01BE) dvs.push_back(data);
        if (opcode == 0x01B2) dvals.push_back(data);
        if (opcode == 0x01B8) links.push_back(data);
        if (opcode == 0x001C) notes.push_back(data);
    }
    auto u16 = [](const std::vector<std::uint8_t>& d, std::size_t at) -> std::uint16_t {
        return at + 2 <= d.size() ? biff::GetU16(std::span(d).subspan(at)) : 0xFFFF;
    };
    auto sqref = [&](const std::vector<std::uint8_t>& d, std::size_t at) {
        std::vector<std::array<std::uint16_t, 4>> out;
        for (std::size_t i = 0, n = u16(d, at); i < n; ++i) {
            const std::size_t p = at + 2 + i * 8;
            out.push_back({u16(d, p), u16(d, p + 2), u16(d, p + 4), u16(d, p + 6)});
        }
        return out;
    };
    using Ranges = std::vector<std::array<std::uint16_t, 4>>;

    // Records the insert does not concern come through whole.
    const auto window = std::find_if(saved.begin(), saved.end(), [](const auto& r) { return r.first == 0x023E; });
    ASSERT_NE(window, saved.end());
    EXPECT_EQ(window->second.size(), 18u);
    // The format over C65536 alone left the sheet, with its rule.
    ASSERT_EQ(condFmts.size(), 3u);
    ASSERT_EQ(cfs.size(), 3u);
    EXPECT_EQ(sqref(condFmts[0], 12), (Ranges{{5, 5, 2, 2}}));
    EXPECT_EQ(sqref(condFmts[1], 12), (Ranges{{4, 4, 0, 7}}));
    EXPECT_EQ(sqref(condFmts[2], 12), (Ranges{{2, 8, 2, 2}})); // grew; C65536 went off the sheet
    EXPECT_EQ(Ref8(u16(condFmts[2], 4), u16(condFmts[2], 6), u16(condFmts[2], 8), u16(condFmts[2], 10)),
              Ref8(2, 8, 2, 2)); // the bounding box follows
    // Rules: $C$5 followed its cell in both formats; $D$4 is in another column.
    EXPECT_EQ(u16(cfs[0], cfs[0].size() - 4), 5);
    EXPECT_EQ(u16(cfs[1], cfs[1].size() - 4), 5);
    EXPECT_EQ(u16(cfs[2], cfs[2].size() - 4), 3);

    ASSERT_EQ(dvs.size(), 1u);
    ASSERT_EQ(dvals.size(), 1u);
    EXPECT_EQ(biff::GetU32(std::span(dvals[0]).subspan(14)), 1u); // DVal counts what is left
    EXPECT_EQ(sqref(dvs[0], dvs[0].size() - 10), (Ranges{{5, 7, 2, 2}}));
    EXPECT_EQ(u16(dvs[0], 4 + 4 * 4 + 4 + 1), 10); // minimum $C$10 is now $C$11

    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(u16(notes[0], 0), 5); // C5's comment is C6's now
    EXPECT_EQ(u16(notes[1], 0), 4); // D5's stays

    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(Ref8(u16(links[0], 0), u16(links[0], 2), u16(links[0], 4), u16(links[0], 6)), Ref8(5, 5, 2, 2));
}

// The apostrophe that keeps a replaced value text is the cell's prefix, no
// part of its content: a later replace of the apostrophe-led text reaches only
// cells where it stands behind other text (what the writers rely on).
// A NAME record: flags, shortcut, name length, formula length, sheet, name, formula.
std::vector<std::uint8_t> Name(std::u16string_view name, const std::vector<std::uint8_t>& rgce, bool builtin = false) {
    biff::Bytes b;
    b.U16(builtin ? 0x0020 : 0).U8(0).U8(static_cast<std::uint8_t>(name.size()));
    b.U16(static_cast<std::uint16_t>(rgce.size())).U16(0).U16(builtin ? 1 : 0).U32(0).UnicodeChars(name).Append(rgce);
    return b.Data();
}

// PtgRef3d / PtgArea3d on the first sheet (through the only XTI), absolute.
std::vector<std::uint8_t> Ref3d(std::uint16_t row, std::uint16_t col) {
    biff::Bytes b;
    b.U8(0x3A).U16(0).U16(row).U16(col);
    return b.Data();
}
std::vector<std::uint8_t> Area3d(std::uint16_t r1, std::uint16_t r2, std::uint16_t c1, std::uint16_t c2) {
    biff::Bytes b;
    b.U8(0x3B).U16(0).U16(r1).U16(r2).U16(c1).U16(c2);
    return b.Data();
}

// Names follow an insert by the rule formulas follow, the built-in ones too,
// and a long one whose formula runs on into a CONTINUE record; one whose
// formula is cut off stays as it was.
TEST_F(EngineTest, NamesFollowAnInsertAsFormulasDo) {
    BuilderOptions o = Cells({{1, 1, u"&DI_Item"}, {3, 1, u"Total"}});
    biff::Bytes supBook, externSheet;
    supBook.U16(1).U16(0x0401);
    externSheet.U16(1).U16(0).U16(0).U16(0);
    std::vector<std::uint8_t> split = Ref3d(0, 0); // =Sheet1!$A$1,Sheet1!$B$5
    for (auto b : Ref3d(4, 1)) split.push_back(b);
    split.push_back(0x10);
    const auto splitName = Name(u"Split", split);
    const std::size_t cut = splitName.size() - 6; // inside the second reference
    auto cutOff = Name(u"CutOff", Ref3d(5, 1));
    cutOff.resize(cutOff.size() - 2);
    o.globals = {{0x01AE, supBook.Data()},
                 {0x0017, externSheet.Data()},
                 {0x0018, Name(u"TotalCell", Ref3d(3, 1))},
                 {0x0018, Name(u"\x06", Area3d(1, 9, 1, 1), true)}, // Print_Area B2:B10
                 {0x0018, Name(u"Wide", Area3d(0, 8, 0, 2))},
                 {0x0018, {splitName.begin(), splitName.begin() + static_cast<std::ptrdiff_t>(cut)}},
                 {0x003C, {splitName.begin() + static_cast<std::ptrdiff_t>(cut), splitName.end()}},
                 {0x0018, cutOff}};
    auto ws = Open(o);
    for (int i = 0; i < 3; ++i) ws->Range(u"B2")->Insert(sheet::xlShiftDown);
    SaveAndReload();

    std::vector<std::vector<std::uint8_t>> names;
    for (const auto& [opcode, data] : test::SubstreamRecords(ReadBytes(dir_ / "out.xls"), 0)) {
        if (opcode == 0x0018) names.push_back(data);
        if (opcode == 0x003C && !names.empty()) names.back().insert(names.back().end(), data.begin(), data.end());
    }
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], Name(u"TotalCell", Ref3d(6, 1)));
    EXPECT_EQ(names[1], Name(u"\x06", Area3d(4, 12, 1, 1), true));
    EXPECT_EQ(names[2], Name(u"Wide", Area3d(0, 8, 0, 2))); // spans other columns
    split = Ref3d(0, 0);
    for (auto b : Ref3d(7, 1)) split.push_back(b);
    split.push_back(0x10);
    EXPECT_EQ(names[3], Name(u"Split", split));
    EXPECT_EQ(names[4], cutOff);
}

TEST_F(EngineTest, AnApostrophePrefixIsNoPartOfTheContent) {
    auto ws = Open(Cells({{0, 1, u"&P"}, {1, 1, u"Phone: &P"}, {2, 1, u" &P"}}));
    ws->Cells()->Replace(u"&P", u"'+49 30 0074321");
    ws->Cells()->Replace(u"'+49 30 0074321", u"+49 30 0074321");
    auto wb = SaveAndReload();
    EXPECT_EQ(wb->CellAt(0, 1)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellText(0, 1), u"+49 30 0074321");
    EXPECT_EQ(wb->CellText(1, 1), u"Phone: +49 30 0074321");
    EXPECT_EQ(wb->CellAt(2, 1)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellText(2, 1), u" +49 30 0074321");
}

// A text entered after an apostrophe keeps the quote prefix in its cell's
// format, as Excel does, and stays text through every later Replace: the
// writers' calls below (the value behind an apostrophe, a second Replace that
// takes the apostrophe out where it shows) cannot complete a formula in a
// cell several placeholders share. A new entry without one clears it.
TEST_F(EngineTest, TheQuotePrefixKeepsACellTextThroughReplace) {
    BuilderOptions o = Cells({{0, 1, u"&A&B"},
                              {1, 1, u"&A&C"},
                              {2, 1, u"&D &E"},
                              {3, 1, u"=&E", 17}, // prefixed in the template
                              {4, 1, u"&A"},
                              {5, 1, u"was text", 17}});
    o.extraXfs = 2;
    auto ws = Open(o);
    const auto replace = [&](const char16_t* what, const char16_t* text) { ws->Cells()->Replace(what, text); };
    replace(u"&A", u"'=");
    replace(u"'=", u"=");
    replace(u"&B", u"HYPERLINK(\"http://evil.example\",\"click\")");
    replace(u"&C", u"1+1");
    replace(u"&D", u"'=1+1");
    replace(u"'=1+1", u"=1+1");
    replace(u"&E", u"x");
    ws->Range(u"A1")->SetValue(Value(u"'12"));
    ws->Range(u"B6")->SetValue(Value(u"12"));
    EXPECT_EQ(ws->Cells()->Find(u"'"), nullptr); // the prefix is no part of any content
    auto wb = SaveAndReload();
    const std::pair<std::uint32_t, std::u16string> texts[] = {
        {0, u"=HYPERLINK(\"http://evil.example\",\"click\")"}, {1, u"=1+1"}, {2, u"=1+1 x"}, {3, u"=x"}, {4, u"="}};
    for (const auto& [row, text] : texts) {
        const Cell* cell = wb->CellAt(row, 1);
        ASSERT_NE(cell, nullptr) << row;
        EXPECT_EQ(cell->kind, CellKind::Text) << row;
        EXPECT_EQ(wb->CellText(row, 1), text) << row;
        EXPECT_TRUE(wb->HasQuotePrefix(cell->xf)) << row;
    }
    // One clone of the default format serves every cell prefixed from it.
    EXPECT_EQ(wb->CellAt(0, 1)->xf, wb->CellAt(2, 1)->xf);
    EXPECT_EQ(wb->CellAt(0, 0)->xf, wb->CellAt(0, 1)->xf);
    EXPECT_EQ(wb->CellAt(0, 0)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellAt(5, 1)->kind, CellKind::Number);
    EXPECT_FALSE(wb->HasQuotePrefix(wb->CellAt(5, 1)->xf));
}

// A Replace never leaves a placeholder behind without a word: a result that
// is no formula is refused with Excel's message and the cell it was in.
TEST_F(EngineTest, AReplaceThatMakesAnInvalidFormulaFailsNamingTheCell) {
    auto ws = Open(Cells({{2, 3, u"=1+&P"}}));
    EXPECT_FAILURE(ws->Cells()->Replace(u"&P", u")"), 1004, u"There's a problem with this formula. (cell $D$3)");
}

TEST_F(EngineTest, ReplaceReentersChangedCellsAsTypedInput) {
    auto ws = Open(Cells({{0, 1, u"&V1"},
                          {1, 1, u"&V2"},
                          {2, 1, u"&V3"},
                          {4, 1, u"&V5"},
                          {5, 1, u"&V6"},
                          {6, 1, u"pre &v7 post"},
                          {8, 1, u"&V9"},
                          {9, 1, u"at &W"}}));
    ws->Cells()->Replace(u"&V1", u"12");
    ws->Cells()->Replace(u"&V2", u"12%");
    ws->Cells()->Replace(u"&V3", u"$12.00");
    ws->Cells()->Replace(u"&V5", u"TRUE");
    ws->Cells()->Replace(u"&V6", u"'=1");
    ws->Cells()->Replace(u"&V7", u"x");
    ws->Cells()->Replace(u"&V9", u"Mar 12, 2026");
    ws->Cells()->Replace(u"&W", u"10:30"); // "at 10:30" is no time
    auto wb = SaveAndReload();
    EXPECT_EQ(wb->CellAt(0, 1)->kind, CellKind::Number);
    EXPECT_EQ(wb->CellAt(0, 1)->number, 12);
    EXPECT_DOUBLE_EQ(wb->CellAt(1, 1)->number, 0.12);
    EXPECT_EQ(wb->NumberFormatOfXf(wb->CellAt(1, 1)->xf), 9);
    EXPECT_EQ(wb->CellAt(2, 1)->number, 12);
    EXPECT_EQ(wb->FormatCode(wb->NumberFormatOfXf(wb->CellAt(2, 1)->xf)), u"\"$\"#,##0.00");
    EXPECT_EQ(wb->CellAt(4, 1)->kind, CellKind::Boolean);
    EXPECT_EQ(wb->CellAt(5, 1)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellText(5, 1), u"=1");
    EXPECT_EQ(wb->CellText(6, 1), u"pre x post");
    EXPECT_EQ(wb->CellAt(8, 1)->number, 46093);
    EXPECT_EQ(wb->CellText(8, 1), u"3/12/2026");
    EXPECT_EQ(wb->CellText(9, 1), u"at 10:30");
}

// Month names and times typed through Range.Value: the value, the built-in
// format a General cell takes (16 d-mmm, 18 h:mm AM/PM, 22 m/d/yyyy h:mm,
// 46 [h]:mm:ss) and the formula-bar text, after a save and reload; a date
// without a year falls in the clock's. Every form is in typed_input_test.
TEST_F(EngineTest, TypedDatesAndTimesTakeExcelsFormats) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    using namespace std::chrono;
    const int year = local.tm_year + 1900;
    const auto thisYearsTwelfthOfMarch =
        static_cast<double>((sys_days{std::chrono::year{year} / 3 / 12} - sys_days{1899y / 12 / 30}).count());
    struct Case {
        const char16_t* typed;
        double value;
        std::uint16_t format;
        std::u16string formulaBar;
    };
    const Case cases[] = {
        {u"12-Mar", thisYearsTwelfthOfMarch, 16, u"3/12/" + Ascii(year)},
        {u"10:30 PM", 22.5 / 24, 18, u"10:30:00 PM"},
        {u"1/2/2026 10:30", 46024 + 10.5 / 24, 22, u"1/2/2026 10:30:00 AM"},
        {u"25:00", 25.0 / 24, 46, u"1/1/1900 1:00:00 AM"},
    };
    auto ws = Open(Cells({}));
    std::uint32_t row = 0;
    for (const auto& c : cases) ws->Range(u"A" + Ascii(++row))->Cells()->SetValue(Value(c.typed));
    auto wb = SaveAndReload();
    row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.formulaBar.begin(), c.formulaBar.end()));
        const Cell* cell = wb->CellAt(row, 0);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->kind, CellKind::Number);
        EXPECT_DOUBLE_EQ(cell->number, c.value);
        EXPECT_EQ(wb->NumberFormatOfXf(cell->xf), c.format);
        EXPECT_EQ(wb->CellText(row++, 0), c.formulaBar);
    }
}

TEST_F(EngineTest, ACellThatShowsDatesOrTextKeepsItsFormat) {
    auto ws = Open(Cells({{0, 1, u"&T", 16}}));     // B1 is formatted "@"
    ws->Range(u"A1")->SetValue(Value(Date{46000})); // m/d/yyyy
    ws->Range(u"A1")->SetValue(Value(u"Mar 12, 2026"));
    ws->Range(u"A2")->SetValue(Value(u"10:30")); // h:mm
    ws->Range(u"A2")->SetValue(Value(u"12-Mar-2026 6:00 PM"));
    ws->Range(u"A3")->SetValue(Value(u"12-Mar-2026"));
    ws->Range(u"A3")->SetValue(Value(u"10:30")); // d-mmm-yy stays: the time shows in the formula bar
    ws->Range(u"B1")->SetValue(Value(u"12-Mar-2026"));
    auto wb = SaveAndReload();
    EXPECT_EQ(wb->NumberFormatOfXf(wb->CellAt(0, 0)->xf), 14);
    EXPECT_EQ(wb->CellText(0, 0), u"3/12/2026");
    EXPECT_EQ(wb->NumberFormatOfXf(wb->CellAt(1, 0)->xf), 20);
    EXPECT_EQ(wb->CellText(1, 0), u"3/12/2026 6:00:00 PM");
    EXPECT_EQ(wb->NumberFormatOfXf(wb->CellAt(2, 0)->xf), 15);
    EXPECT_EQ(wb->CellText(2, 0), u"10:30:00 AM");
    EXPECT_EQ(wb->CellAt(0, 1)->kind, CellKind::Text);
    EXPECT_EQ(wb->CellText(0, 1), u"12-Mar-2026");
}

// Find looks in the formula-bar text: a date as m/d/yyyy (never the month
// name typed), a time with seconds and AM/PM.
TEST_F(EngineTest, FindSeesDatesAndTimesAsTheFormulaBarShowsThem) {
    auto ws = Open(Cells({{0, 0, u"title"}}));
    EXPECT_EQ(ws->Cells()->Find(u"PM"), nullptr); // a cached search that later puts must update
    ws->Range(u"B2")->SetValue(Value(u"10:30"));
    ws->Range(u"B3")->SetValue(Value(u"1/2/2026 10:30 PM"));
    ws->Range(u"B4")->SetValue(Value(u"12-Mar-2026"));
    EXPECT_EQ(ws->Cells()->Find(u"10:30:00 am")->Address(), u"$B$2");
    EXPECT_EQ(ws->Cells()->Find(u"PM")->Address(), u"$B$3");
    EXPECT_EQ(ws->Cells()->Find(u"1/2/2026 10:30:00 PM")->Address(), u"$B$3");
    EXPECT_EQ(ws->Cells()->Find(u"3/12/2026")->Address(), u"$B$4");
    EXPECT_EQ(ws->Cells()->Find(u"Mar"), nullptr);
    EXPECT_EQ(ws->Cells()->Find(u"10:30 PM"), nullptr); // the seconds stand in between
}

TEST_F(EngineTest, ReplaceWithNothingClearsTheCellButKeepsItsFormat) {
    auto ws = Open(Cells({{2, 2, u"&P", 16}, {3, 2, u"&P"}}));
    ws->Cells()->Replace(u"&p", u"");
    auto wb = SaveAndReload();
    ASSERT_NE(wb->CellAt(2, 2), nullptr);
    EXPECT_EQ(wb->CellAt(2, 2)->kind, CellKind::Blank);
    EXPECT_EQ(wb->CellAt(2, 2)->xf, 16);
    EXPECT_EQ(wb->CellAt(3, 2), nullptr);
}

TEST_F(EngineTest, ValuePutsStoreEachKindAsExcelDoes) {
    auto ws = Open(Cells({{0, 0, u"keep"}}));
    const auto put = [&](const char16_t* a, Value v) { ws->Range(a)->Cells()->SetValue(v); };
    put(u"A2", Value(std::int16_t{7}));
    put(u"A3", Value(std::int32_t{-70000}));
    put(u"A4", Value(2.5));
    put(u"A5", Value(true));
    put(u"A6", Value(Currency{123456})); // 12.3456
    put(u"A7", Value(Date{46362}));
    put(u"A8", Value(u"hello"));
    put(u"A1", Value()); // clears
    put(u"A9", Value(u"'123"));
    auto wb = SaveAndReload();
    EXPECT_EQ(wb->CellAt(0, 0), nullptr);
    EXPECT_EQ(wb->CellAt(1, 0)->number, 7);
    EXPECT_EQ(wb->CellAt(2, 0)->number, -70000);
    EXPECT_EQ(wb->CellAt(3, 0)->number, 2.5);
    EXPECT_EQ(wb->CellText(4, 0), u"TRUE");
    EXPECT_DOUBLE_EQ(wb->CellAt(5, 0)->number, 12.3456);
    EXPECT_EQ(wb->FormatCode(wb->NumberFormatOfXf(wb->CellAt(5, 0)->xf)), u"\"$\"#,##0.00");
    EXPECT_EQ(wb->NumberFormatOfXf(wb->CellAt(6, 0)->xf), 14);
    EXPECT_EQ(wb->CellText(6, 0), u"12/6/2026");
    EXPECT_EQ(wb->CellText(7, 0), u"hello");
    EXPECT_EQ(wb->CellText(8, 0), u"123");
    EXPECT_EQ(wb->CellAt(8, 0)->kind, CellKind::Text);
}

TEST_F(EngineTest, RangeAddressesAndIndexesAreCheckedLikeExcel) {
    auto ws = Open(Cells({{0, 0, u"x"}}));
    EXPECT_EQ(ws->Range(u"iv65536")->Address(), u"$IV$65536");
    for (const char16_t* bad : {u"", u"A0", u"IW1", u"A65537", u"1A", u"A1:B2"})
        EXPECT_FAILURE(ws->Range(bad), 1004, u"");
    EXPECT_THROW(app_->Workbooks()->Item(2), Failure);
    EXPECT_FAILURE(app_->Workbooks()->Item(1)->Worksheets(3), 9, u"");
}

TEST_F(EngineTest, TheTemplateIsNeverWritten) {
    auto ws = Open(Cells({{0, 1, u"&P"}}));
    const auto before = ReadBytes(templatePath_);
    ws->Range(u"B1")->Insert(sheet::xlShiftDown);
    ws->Range(u"B1")->SetValue(Value(1.0));
    app_->SetVisible(true);
    EXPECT_EQ(ReadBytes(templatePath_), before);
    app_->Quit();
    EXPECT_EQ(ReadBytes(templatePath_), before);

    auto ws2 = Open(Cells({{0, 1, u"&P"}}));
    ws2->Range(u"B1")->SetValue(Value(2.0));
    fs::remove(dir_ / "out.xls");
    app_->Quit();
    EXPECT_FALSE(fs::exists(dir_ / "out.xls")); // Quit writes nothing
    EXPECT_EQ(ReadBytes(templatePath_), before);
}

// An output that is the template's file, by its own name, another spelling
// or a link, is refused when the template opens, before any cell changes;
// a link made after that is refused when the workbook would be written.
TEST_F(EngineTest, AnOutputThatIsTheTemplateIsRefused) {
    Open(Cells({{0, 1, u"&P"}}));
    const auto before = ReadBytes(templatePath_);
    fs::create_symlink(templatePath_, dir_ / "link.xls");
    fs::create_hard_link(templatePath_, dir_ / "hard.xls");
    for (const fs::path& output : {templatePath_, dir_ / "." / "template.xls", dir_ / "link.xls", dir_ / "hard.xls"}) {
        SCOPED_TRACE(output);
        auto app = CreateApplication(WritingTo(output));
        EXPECT_FAILURE(app->Workbooks()->Open(templatePath_.u16string(), true), 1004, u"template");
    }
    auto app = CreateApplication(WritingTo(dir_ / "later.xls"));
    app->Workbooks()->Open(templatePath_.u16string(), true)->Worksheets(1)->Range(u"B1")->SetValue(Value(1.0));
    fs::create_hard_link(templatePath_, dir_ / "later.xls");
    EXPECT_THROW(app->SetVisible(true), Failure);
    EXPECT_EQ(ReadBytes(templatePath_), before);
}

// A write that fails half-way (at the file-size limit here) leaves the file
// it would have replaced as it was, and no temporary file beside it; a name
// claimed for the workbook is given back.
TEST_F(EngineTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    auto ws = Open(Cells({{0, 1, u"&P"}}));
    ws->Range(u"B1")->SetValue(Value(u"filled"));
    const std::vector<std::uint8_t> old{'o', 'l', 'd'};
    WriteBytes(dir_ / "out.xls", old);
    EngineOptions claiming;
    claiming.newFileFolder = dir_;
    auto claimingApp = CreateApplication(claiming);
    claimingApp->Workbooks()->Open(templatePath_.u16string(), true);

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit saved = limit;
    limit.rlim_cur = 1024; // the smallest workbook is larger
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::vector<Failure> failures;
    for (auto* app : {app_.get(), claimingApp.get()}) {
        try {
            app->SetVisible(true);
        } catch (const Failure& f) {
            failures.push_back(f);
        }
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].Code(), 1004);
    EXPECT_NE(failures[0].Description().find(u"out.xls' cannot be written"), std::u16string::npos);
    EXPECT_EQ(ReadBytes(dir_ / "out.xls"), old);
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<fs::path>{"out.xls", "template.xls"}));
}

// Broken templates are walked by the hostile-input suite; a missing one never
// reaches it, the program refusing first.
TEST_F(EngineTest, AMissingTemplateIsError1004) {
    EXPECT_FAILURE(CreateApplication()->Workbooks()->Open((dir_ / "missing.xls").u16string(), true), 1004,
                   u"could not be found");
}

} // namespace
} // namespace vi2zezir::workbook
