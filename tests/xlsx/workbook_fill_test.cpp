// An .xlsx template filled through the engine's operations as the item
// writer fills one, its output read part by part: what an insert moves (cells,
// formulas, merged cells, conditional formats, validations, hyperlinks,
// names), what a put adds (shared strings, a quote-prefixed format), what
// goes (the calculation chain) and what passes through byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "workbook/sheet/model.h"
#include "workbook/xlsx/package.h"

namespace {

using namespace vi2zezir::workbook;
namespace fs = std::filesystem;

constexpr char kSheet[] =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\r\n"
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><dimension ref="A1:C6"/>)"
    R"(<sheetData><row r="1"><c r="A1" t="s"><v>0</v></c></row>)"
    R"(<row r="2" ht="20" customHeight="1"><c r="B2"><v>1</v></c><c r="C2"><f>SUM(B2:B4)</f><v>6</v></c></row>)"
    R"(<row r="3"><c r="B3" t="inlineStr"><is><t>&amp;DI_Qty</t></is></c></row>)"
    R"(<row r="4"><c r="B4"><v>5</v></c><c r="C4"><f>B4*2</f><v>10</v></c></row>)"
    R"(<row r="5"><c r="B5" s="1"/><c r="C5" t="str"><f>_xlfn.CONCAT(A1,"x")</f><v>QUOTATIONx</v></c></row>)"
    R"(</sheetData><mergeCells count="1"><mergeCell ref="B5:B6"/></mergeCells>)"
    R"(<conditionalFormatting sqref="B4 C1:C2"><cfRule type="cellIs" dxfId="0" priority="1" operator="greaterThan">)"
    R"(<formula>3</formula></cfRule></conditionalFormatting>)"
    R"(<dataValidations count="1"><dataValidation type="whole" sqref="B3:B4"><formula1>0</formula1>)"
    R"(</dataValidation></dataValidations><hyperlinks><hyperlink ref="B4" location="Quote!A1"/></hyperlinks>)"
    R"(</worksheet>)";

std::vector<std::uint8_t> Template() {
    std::ifstream in(fs::path(VZ_TEST_DATA_DIR) / "xlsx/quote40.xlsx", std::ios::binary);
    auto package = xlsx::Package::Open({std::istreambuf_iterator<char>(in), {}});
    package.Write("xl/worksheets/sheet1.xml", kSheet);
    std::string workbook = package.Read("xl/workbook.xml");
    workbook.insert(workbook.find("</sheets>") + 9,
                    "<definedNames><definedName name=\"Qty\">Quote!$B$3:$B$4"
                    "</definedName><definedName name=\"Top\">Quote!$C$1"
                    "</definedName></definedNames>");
    package.Write("xl/workbook.xml", workbook);
    package.Write("xl/calcChain.xml",
                  "<calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                  "<c r=\"C2\" i=\"1\"/></calcChain>",
                  "application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml");
    package.Write("xl/comments1.xml",
                  "<comments xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><authors><author>A"
                  "</author></authors><commentList><comment ref=\"D2\" authorId=\"0\"><text><t>note</t></text>"
                  "</comment></commentList></comments>",
                  "application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml");
    auto sheetRels = package.ReadRelationships("xl/worksheets/sheet1.xml");
    sheetRels.Add(xlsx::RelationshipType("comments"), "xl/comments1.xml");
    package.WriteRelationships(sheetRels);
    auto rels = package.ReadRelationships("xl/workbook.xml");
    rels.Add(xlsx::RelationshipType("calcChain"), "xl/calcChain.xml");
    package.WriteRelationships(rels);
    return package.Save();
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

TEST(XlsxFill, AnInsertAndPutsMoveWhatExcelMovesAndKeepTheRest) {
    const auto bytes = Template();
    auto wb = Workbook::Load(bytes);
    const auto found = wb->Find(u"&DI_Qty");
    ASSERT_TRUE(found);
    ASSERT_EQ(found->row, 2u);
    wb->InsertShiftDown(found->row, found->col);
    wb->PutContent(2, 1, wb->ParseTypedInput(u"'0042", 2, 1));
    wb->Replace(u"&DI_Qty", u"7");
    const auto out = xlsx::Package::Open(wb->Save());
    const std::string sheet = out.Read("xl/worksheets/sheet1.xml");

    // Cells no edit reached are copied as read; moved and edited ones written anew.
    EXPECT_TRUE(Has(sheet, R"(<c r="A1" t="s"><v>0</v></c>)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<row r="2" ht="20" customHeight="1">)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<c r="C5" t="str"><f>_xlfn.CONCAT(A1,"x")</f><v>QUOTATIONx</v></c>)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<c r="B5"><v>5</v></c>)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<c r="C4"><f>B5*2</f><v>10</v></c>)")) << sheet; // follows B5, stays in C4
    EXPECT_TRUE(Has(sheet, R"(<c r="B4"><v>7</v></c>)")) << sheet;
    // The sum reads the text "0042" as nothing: 1 + 7 + 5.
    EXPECT_TRUE(Has(sheet, R"(<c r="C2"><f>SUM(B2:B5)</f><v>13</v></c>)")) << sheet;
    // Ranges in the inserted column follow; others stay.
    EXPECT_TRUE(Has(sheet, R"(<mergeCell ref="B6:B7"/>)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<conditionalFormatting sqref="B5 C1:C2">)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<dataValidation type="whole" sqref="B4:B5">)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<hyperlink ref="B5" location="Quote!A1"/>)")) << sheet;
    EXPECT_TRUE(Has(sheet, R"(<dimension ref="A1:C6"/>)")) << sheet; // B6 is the last cell

    // The quote prefix: a new shared string, a new cell format that has it.
    EXPECT_TRUE(Has(sheet, R"(<c r="B3" s="18" t="s"><v>53</v></c>)")) << sheet;
    const std::string strings = out.Read("xl/sharedStrings.xml");
    EXPECT_TRUE(Has(strings, R"(count="54" uniqueCount="54")")) << strings.substr(0, 200);
    EXPECT_TRUE(strings.ends_with("<si><t>0042</t></si></sst>")) << strings.substr(strings.size() - 100);
    const std::string styles = out.Read("xl/styles.xml");
    EXPECT_TRUE(Has(styles, R"(<cellXfs count="19">)"));
    const auto last = styles.rfind("<xf ", styles.find("</cellXfs>"));
    EXPECT_TRUE(Has(styles.substr(last, styles.find('>', last) - last), R"(quotePrefix="1")"));

    // Names follow; the calculation chain goes with its relationship and type.
    const std::string workbook = out.Read("xl/workbook.xml");
    EXPECT_TRUE(Has(workbook, R"(<definedName name="Qty">Quote!$B$4:$B$5</definedName>)")) << workbook;
    EXPECT_TRUE(Has(workbook, R"(<definedName name="Top">Quote!$C$1</definedName>)")) << workbook;
    EXPECT_FALSE(out.Has("xl/calcChain.xml"));
    EXPECT_TRUE(out.ReadRelationships("xl/workbook.xml").OfType("calcChain").empty());
    EXPECT_FALSE(Has(out.Read("[Content_Types].xml"), "calcChain"));
    // The second sheet and the rest pass through.
    const auto in = xlsx::Package::Open(bytes);
    EXPECT_EQ(in.Read("xl/worksheets/sheet2.xml"), out.Read("xl/worksheets/sheet2.xml"));
}

// What the engine holds only as written it cannot move: a formula the parser
// does not take, and the cells another part names.
TEST(XlsxFill, InsertsThatWouldMoveWhatIsKeptAsWrittenAreRefused) {
    auto wb = Workbook::Load(Template());
    const struct {
        std::uint32_t row;
        std::uint16_t col;
        const char* reason; // "" when it goes through
    } cases[] = {
        {0, 0, "refers to cells there"}, // C5's formula reads column A
        {1, 2, "only as written"},       // and sits in C
        {0, 3, "a cell comment there"},  // the comment on D2
        {5, 2, ""},                      // below the formula
        {2, 3, ""},                      // below the comment
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.col));
        try {
            wb->InsertShiftDown(c.row, c.col);
            EXPECT_STREQ(c.reason, "");
        } catch (const Error& e) {
            EXPECT_TRUE(*c.reason && Has(e.what(), c.reason)) << e.what();
        }
    }
}

} // namespace
