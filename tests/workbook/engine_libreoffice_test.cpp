// Round trips through an independent reader: the engine fills a template it
// built in the test, saves it, and LibreOffice reads moved conditional
// formats, validations and typed dates back. Filled values, formulas and
// quote-prefixed text are read back from the whole program's output in
// tests/end_to_end. Skips cleanly where LibreOffice is not installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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
