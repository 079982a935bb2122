// Round trips through an independent reader: the engine fills a template it
// built in the test, saves it, and LibreOffice reads values, formula text and
// formats back. Skips cleanly where LibreOffice is not installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/libreoffice.h"
#include "workbook/engine.h"
#include "workbook/xls_builder.h"

namespace vi2zezir::workbook {
namespace {

namespace fs = std::filesystem;

TEST(EngineLibreOffice, FilledItemRowsFormulasAndFormatsReadBack) {
    const fs::path dir = fs::temp_directory_path() / "vz_engine_lo_roundtrip";
    fs::remove_all(dir);
    fs::create_directories(dir);
    test::BuilderOptions o;
    o.sheets[0].cells = {{0, 1, u"Quote &DH_DocNo"},   {3, 1, u"&DI_Description"}, {3, 2, u"&DI_UnitPrice"},
                         {3, 3, u"&DI_QtyTotal"},      {3, 4, u"&DI_ExtendedPrice"}, {5, 0, u"label stays"},
                         {5, 3, u"Total"}};
    test::BuilderSheet notes;
    notes.name = u"Notes";
    notes.cells = {{0, 0, u"notes sheet"}};
    o.sheets.push_back(notes);
    const auto templ = dir / "t.xls";
    const auto bytes = test::BuildXls(o);
    std::ofstream(templ, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 static_cast<std::streamsize>(bytes.size()));

    auto app = CreateApplication({dir / "filled.xls", {}});
    app->Workbooks()->Open(templ.u16string(), true);
    auto ws = app->Workbooks()->Item(1)->Worksheets(1);
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
            if (p == placeholders[1]) cell->SetValue(Value(Currency{(line + 1) * 25000}));  // 2.5, 5, 7.5
            if (p == placeholders[2]) cell->SetValue(Value(std::int16_t(line + 1)));
            if (p == placeholders[3]) cell->SetFormula(u"=C" + row + u" * D" + row);
        }
        ws->Cells()->Replace(p, u"");
    }
    app->SetVisible(true);

    std::string whyNot;
    auto sheets = vi2zezir::test::ReadAllSheetsWithLibreOffice(dir / "filled.xls", &whyNot);
    if (!sheets) GTEST_SKIP() << whyNot;
    ASSERT_EQ(sheets->size(), 2u);
    const auto& s = (*sheets)[0];
    EXPECT_EQ(s.Value("B1"), "Quote Q-7");
    EXPECT_EQ(s.Value("B4"), "Widget");
    EXPECT_EQ(s.Value("C5"), "5");
    EXPECT_EQ(s.Value("D6"), "3");
    EXPECT_EQ(s.Formula("E4"), "=C4*D4");
    EXPECT_EQ(s.Value("E6"), "22.5");
    EXPECT_EQ(s.Formula("E9"), "=SUM(E3:E7)");  // moved and grew with the three inserts
    EXPECT_EQ(s.Value("E9"), "35");
    EXPECT_EQ(s.Value("A6"), "label stays");
    EXPECT_EQ(s.Value("D9"), "Total");
    EXPECT_NE(s.At("C4")->numberFormat.find("$"), std::string::npos);
    EXPECT_EQ(s.Value("B7"), "");  // the cleared placeholder cell
    EXPECT_EQ((*sheets)[1].Value("A1"), "notes sheet");
    fs::remove_all(dir);
}

} // namespace
} // namespace vi2zezir::workbook
