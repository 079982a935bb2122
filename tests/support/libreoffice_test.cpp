// The LibreOffice reader itself, checked on a flat ODF spreadsheet whose
// contents are known exactly: texts that need escaping in XML, a non-ASCII
// text, a formatted number, a formula, a merged bold title, a second sheet.
#include "support/libreoffice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <unistd.h>

namespace vi2zezir::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFlatOds = R"ods(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
  xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
  xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
  xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
  xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
  xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
  xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
  office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
 <office:automatic-styles>
  <number:number-style style:name="N2"><number:number number:decimal-places="2"
    number:min-decimal-places="2" number:min-integer-digits="1" number:grouping="true"/></number:number-style>
  <style:style style:name="money" style:family="table-cell" style:data-style-name="N2"/>
  <style:style style:name="title" style:family="table-cell">
   <style:text-properties fo:font-weight="bold" fo:font-size="14pt"/></style:style>
 </office:automatic-styles>
 <office:body><office:spreadsheet>
  <table:table table:name="First">
   <table:table-row>
    <table:table-cell table:style-name="title" table:number-columns-spanned="2" table:number-rows-spanned="1"
      office:value-type="string"><text:p>Q &amp; A &lt;&amp;DH_DocNo&gt;</text:p></table:table-cell>
    <table:covered-table-cell/>
   </table:table-row>
   <table:table-row>
    <table:table-cell table:style-name="money" office:value-type="float" office:value="1234.5"><text:p>1,234.50</text:p></table:table-cell>
    <table:table-cell office:value-type="string"><text:p>Grüße €</text:p></table:table-cell>
   </table:table-row>
   <table:table-row><table:table-cell office:value-type="float" office:value="2"/></table:table-row>
   <table:table-row>
    <table:table-cell table:formula="of:=SUM([.A2:.A3])" office:value-type="float" office:value="1236.5"/>
   </table:table-row>
  </table:table>
  <table:table table:name="Second">
   <table:table-row><table:table-cell office:value-type="string"><text:p>on sheet two</text:p></table:table-cell></table:table-row>
  </table:table>
 </office:spreadsheet></office:body>
</office:document>
)ods";

// One conversion for all checks: LibreOffice takes seconds to start, and
// every TEST runs in a process of its own under ctest.
TEST(LibreOfficeReader, ReadsWhatTheFileHolds) {
    const fs::path file = fs::temp_directory_path() / ("vz-support-" + std::to_string(::getpid()) + ".fods");
    std::ofstream(file) << kFlatOds;
    std::string whyNot;
    const auto sheets = ReadAllSheetsWithLibreOffice(file, &whyNot);
    fs::remove(file);
    if (!sheets) {
        GTEST_SKIP() << whyNot;
    }
    ASSERT_EQ(sheets->size(), 2u);
    const LoSheet& first = sheets->front();
    const LoSheet& second = (*sheets)[1];

    {
        SCOPED_TRACE("sheet names, in tab order, on every sheet");
        const std::vector<std::string> expected{"First", "Second"};
        EXPECT_EQ(first.sheetNames, expected);
        EXPECT_EQ(second.sheetNames, expected);
        EXPECT_EQ(first.name, "First");
        EXPECT_EQ(second.name, "Second");
        EXPECT_EQ(second.Value("A1"), "on sheet two");
    }
    {
        SCOPED_TRACE("shared strings decoded, UTF-8");
        const LoCell* title = first.At("A1");
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->value, "Q & A <&DH_DocNo>");
        EXPECT_EQ(title->type, "s");
        EXPECT_EQ(first.Value("B2"), "Grüße €");
    }
    {
        SCOPED_TRACE("numbers keep their stored value and format code");
        const LoCell* money = first.At("A2");
        ASSERT_NE(money, nullptr);
        EXPECT_EQ(money->value, "1234.5");
        EXPECT_EQ(money->numberFormat, "#,##0.00");
        EXPECT_EQ(first.At("A3")->numberFormat, "General");
    }
    {
        SCOPED_TRACE("formula text and cached result");
        EXPECT_EQ(first.Formula("A4"), "=SUM(A2:A3)");
        EXPECT_EQ(first.Value("A4"), "1236.5");
        EXPECT_EQ(first.Formula("A2"), "");
    }
    {
        SCOPED_TRACE("merged ranges and fonts");
        EXPECT_NE(std::find(first.merges.begin(), first.merges.end(), "A1:B1"), first.merges.end());
        EXPECT_TRUE(first.At("A1")->bold);
        EXPECT_DOUBLE_EQ(first.At("A1")->fontPoints, 14.0);
        EXPECT_FALSE(first.At("A2")->bold);
    }
    {
        SCOPED_TRACE("absent cells read as empty");
        EXPECT_EQ(first.At("Z99"), nullptr);
        EXPECT_EQ(first.Value("Z99"), "");
        EXPECT_EQ(first.Formula("Z99"), "");
    }
}

TEST(LibreOfficeReader, MissingInputFailsInsteadOfSkipping) {
    std::string whyNot;
    try {
        auto sheet = ReadWithLibreOffice("/nonexistent/vz-nothing.xls", &whyNot);
        if (!sheet) {
            GTEST_SKIP() << whyNot;
        }
        ADD_FAILURE() << "a missing file was read";
    } catch (const LibreOfficeError& e) {
        EXPECT_NE(std::string(e.what()).find("vz-nothing.xls"), std::string::npos) << e.what();
    }
}

TEST(XmlText, EntitiesAndCharacterReferences) {
    EXPECT_EQ(DecodeXmlText("&amp;DH_DocNo"), "&DH_DocNo");
    EXPECT_EQ(DecodeXmlText("&lt;a&gt; &quot;b&quot; &apos;c&apos;"), "<a> \"b\" 'c'");
    EXPECT_EQ(DecodeXmlText("&#65;&#x20AC;&#x1F600;"), "A\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(DecodeXmlText("&unknown; & alone"), "&unknown; & alone");
}

} // namespace
} // namespace vi2zezir::test
