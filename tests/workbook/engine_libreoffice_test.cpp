// Round trips through an independent reader: the engine fills a template it
// built in the test, saves it, and LibreOffice reads values, formula text and
// formats back. Skips cleanly where LibreOffice is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "support/libreoffice.h"
#include "workbook/engine.h"
#include "workbook/testing/xls_builder.h"

namespace vi2zezir::workbook {
namespace {

namespace fs = std::filesystem;

// Each test builds its template, fills it through the engine and saves it,
// in a folder of its own.
class EngineLibreOffice : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vz_engine_lo_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::shared_ptr<sheet::Worksheet> Open(const test::BuilderOptions& options) {
        const auto templ = dir_ / "t.xls";
        const auto bytes = test::BuildXls(options);
        std::ofstream(templ, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        app_ = CreateApplication({Filled(), {}, {}});
        app_->Workbooks()->Open(templ.u16string(), true);
        return app_->Workbooks()->Item(1)->Worksheets(1);
    }
    fs::path Filled() const { return dir_ / "filled.xls"; }

    fs::path dir_;
    std::shared_ptr<sheet::Application> app_;
};

TEST_F(EngineLibreOffice, FilledItemRowsFormulasAndFormatsReadBack) {
    test::BuilderOptions o;
    o.sheets[0].cells = {
        {0, 1, u"Quote &DH_DocNo"},   {3, 1, u"&DI_Description"}, {3, 2, u"&DI_UnitPrice"}, {3, 3, u"&DI_QtyTotal"},
        {3, 4, u"&DI_ExtendedPrice"}, {5, 0, u"label stays"},     {5, 3, u"Total"}};
    test::BuilderSheet notes;
    notes.name = u"Notes";
    notes.cells = {{0, 0, u"notes sheet"}};
    o.sheets.push_back(notes);
    auto ws = Open(o);
    // A range that starts at the insertion row would move; one that starts
    // above it (at the heading) grows with each inserted line.
    ws->Range(u"E6")->SetFormula(u"=SUM(E3:E4)");
    ws->Cells()->Replace(u"&DH_DocNo", u"Q-7");
    const char16_t* placeholders[] = {u"&DI_Description", u"&DI_UnitPrice", u"&DI_QtyTotal", u"&DI_ExtendedPrice"};
    for (const char16_t* p : placeholders) {
        for (int line = 0; line < 3; ++line) {
            std::u16string address = ws->Cells()->Find(p)->Address();
            const std::u16string row = address.substr(address.rfind(u'$') + 1);
            std::erase(address, u'$');
            ws->Range(address)->Insert(sheet::xlShiftDown);
            auto cell = ws->Range(address)->Cells();
            if (p == placeholders[0]) cell->SetValue(Value(u"Widget"));
            if (p == placeholders[1]) cell->SetValue(Value(Currency{(line + 1) * 25000})); // 2.5, 5, 7.5
            if (p == placeholders[2]) cell->SetValue(Value(std::int16_t(line + 1)));
            if (p == placeholders[3]) cell->SetFormula(u"=C" + row + u" * D" + row);
        }
        ws->Cells()->Replace(p, u"");
    }
    app_->SetVisible(true);

    std::string whyNot;
    auto sheets = vi2zezir::test::ReadAllSheetsWithLibreOffice(Filled(), &whyNot);
    if (!sheets) GTEST_SKIP() << whyNot;
    ASSERT_EQ(sheets->size(), 2u);
    const auto& s = (*sheets)[0];
    EXPECT_EQ(s.Value("B1"), "Quote Q-7");
    EXPECT_EQ(s.Value("B4"), "Widget");
    EXPECT_EQ(s.Value("C5"), "5");
    EXPECT_EQ(s.Value("D6"), "3");
    EXPECT_EQ(s.Formula("E4"), "=C4*D4");
    EXPECT_EQ(s.Value("E6"), "22.5");
    EXPECT_EQ(s.Formula("E9"), "=SUM(E3:E7)"); // moved and grew with the three inserts
    EXPECT_EQ(s.Value("E9"), "35");
    EXPECT_EQ(s.Value("A6"), "label stays");
    EXPECT_EQ(s.Value("D9"), "Total");
    EXPECT_NE(s.At("C4")->numberFormat.find("$"), std::string::npos);
    EXPECT_EQ(s.Value("B7"), ""); // the cleared placeholder cell
    EXPECT_EQ((*sheets)[1].Value("A1"), "notes sheet");
}

// Text the quote prefix keeps (a cell two placeholders share, a template
// cell with the prefix, a Value put) reads back as text showing what was
// entered, never as a formula.
TEST_F(EngineLibreOffice, QuotePrefixedTextReadsBackAsText) {
    test::BuilderOptions o;
    o.sheets[0].cells = {{0, 0, u"&A&B"}, {1, 0, u"&C &D"}, {2, 0, u"=&D", 17}};
    o.extraXfs = 2;
    auto ws = Open(o);
    ws->Cells()->Replace(u"&A", u"'=");
    ws->Cells()->Replace(u"'=", u"=");
    ws->Cells()->Replace(u"&B", u"HYPERLINK(\"http://evil.example\",\"click\")");
    ws->Cells()->Replace(u"&C", u"'=1+1");
    ws->Cells()->Replace(u"'=1+1", u"=1+1");
    ws->Cells()->Replace(u"&D", u"x");
    ws->Range(u"A4")->SetValue(Value(u"'=1+1"));
    app_->SetVisible(true);

    std::string whyNot;
    auto sheet = vi2zezir::test::ReadWithLibreOffice(Filled(), &whyNot);
    if (!sheet) GTEST_SKIP() << whyNot;
    const std::pair<const char*, const char*> texts[] = {
        {"A1", "=HYPERLINK(\"http://evil.example\",\"click\")"}, {"A2", "=1+1 x"}, {"A3", "=x"}, {"A4", "=1+1"}};
    for (const auto& [address, text] : texts) {
        const vi2zezir::test::LoCell* cell = sheet->At(address);
        ASSERT_NE(cell, nullptr) << address;
        EXPECT_EQ(cell->type, "s") << address;
        EXPECT_EQ(cell->value, text) << address;
        EXPECT_EQ(cell->formula, "") << address;
    }
}

// Conditional formats and validations the engine moved are still read as
// such by another program, over the cells they moved to.
TEST_F(EngineLibreOffice, MovedConditionalFormatsAndValidationsReadBack) {
    test::BuilderOptions o;
    o.sheets[0].cells = {{4, 2, u"&DI_UnitPrice"}, {9, 2, 5.0}};
    auto& records = o.sheets[0].records;
    for (auto r : test::CondFmt({{4, 4, 2, 2}}, 9, 2)) records.push_back(r); // C5
    for (auto r : test::CondFmt({{2, 7, 3, 3}}, 9, 2)) records.push_back(r); // D3:D8, another column
    biff::Bytes dval;
    dval.U16(0).U32(0).U32(0).U32(0xFFFFFFFF).U32(1);
    records.emplace_back(0x01B2, dval.Data());
    records.emplace_back(0x01BE, test::Validation(9, 2, {3, 6, 2, 2})); // C4:C7
    auto ws = Open(o);
    ws->Range(u"C5")->Insert(sheet::xlShiftDown);
    ws->Range(u"C5")->Insert(sheet::xlShiftDown);
    app_->SetVisible(true);

    std::string whyNot;
    auto sheet = vi2zezir::test::ReadWithLibreOffice(Filled(), &whyNot);
    if (!sheet) GTEST_SKIP() << whyNot;
    EXPECT_EQ(sheet->Value("C12"), "5");
    std::vector<std::string> formats = sheet->conditionalFormats;
    std::sort(formats.begin(), formats.end());
    EXPECT_EQ(formats, (std::vector<std::string>{"C7", "D3:D8"}));
    EXPECT_EQ(sheet->validations, (std::vector<std::string>{"C4:C9"})); // grew by both lines
}

// Typed dates and times as another program reads them: the serial and a
// format of the same kind (LibreOffice spells the built-in codes its own way).
TEST_F(EngineLibreOffice, TypedDatesAndTimesReadBack) {
    test::BuilderOptions o;
    o.sheets[0].cells = {{0, 0, u"&D"}};
    auto ws = Open(o);
    ws->Cells()->Replace(u"&D", u"Mar 12, 2026");
    ws->Range(u"A2")->SetValue(Value(u"Mar-2026"));
    ws->Range(u"A3")->SetValue(Value(u"10:30 PM"));
    ws->Range(u"A4")->SetValue(Value(u"1/2/2026 10:30"));
    ws->Range(u"A5")->SetValue(Value(u"25:00"));
    app_->SetVisible(true);

    std::string whyNot;
    auto sheet = vi2zezir::test::ReadWithLibreOffice(Filled(), &whyNot);
    if (!sheet) GTEST_SKIP() << whyNot;
    const auto upper = [&](const char* address) {
        std::string code = sheet->At(address) ? sheet->At(address)->numberFormat : "";
        for (auto& ch : code) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return code;
    };
    EXPECT_EQ(sheet->Value("A1"), "46093");
    EXPECT_NE(upper("A1").find("MMM"), std::string::npos) << upper("A1");
    EXPECT_NE(upper("A1").find("D"), std::string::npos) << upper("A1");
    EXPECT_EQ(sheet->Value("A2"), "46082");
    EXPECT_NE(upper("A2").find("MMM"), std::string::npos) << upper("A2");
    EXPECT_EQ(upper("A2").find("D"), std::string::npos) << upper("A2");
    EXPECT_EQ(sheet->Value("A3"), "0.9375");
    EXPECT_NE(upper("A3").find("AM/PM"), std::string::npos) << upper("A3");
    EXPECT_EQ(sheet->Value("A4"), "46024.4375");
    EXPECT_NE(upper("A4").find("YY"), std::string::npos) << upper("A4");
    EXPECT_NE(upper("A4").find("H"), std::string::npos) << upper("A4");
    EXPECT_NEAR(std::stod(sheet->Value("A5")), 25.0 / 24, 1e-9);
    EXPECT_NE(upper("A5").find("[H"), std::string::npos) << upper("A5");
}

} // namespace
} // namespace vi2zezir::workbook
