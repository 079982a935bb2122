// The XML layer: what the reader refuses, what the writer escapes, that a
// rewritten part keeps its namespaces, and Excel's _xHHHH_ texts.
#include <gtest/gtest.h>

#include "workbook/xlsx/xml.h"

namespace {

using namespace vi2zezir::workbook::xlsx;
using vi2zezir::workbook::Error;

std::string Refusal(std::string_view document, xml::Limits limits = {}) {
    try {
        xml::ParseDocument(document, limits);
    } catch (const Error& e) {
        return e.what();
    }
    return "accepted";
}

TEST(Xml, RefusesDoctypesAndUnboundedStructure) {
    const char* doctypes[] = {
        "<!DOCTYPE a [<!ENTITY x \"xx\"><!ENTITY y \"&x;&x;&x;&x;\">]><a>&y;</a>",
        "<!DOCTYPE a SYSTEM \"http://example.com/a.dtd\"><a/>",
        "<!DOCTYPE a [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><a/>",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE a><a/>",
    };
    for (const char* doc : doctypes)
        EXPECT_NE(Refusal(doc).find("a document type declaration (DOCTYPE) is not allowed"), std::string::npos) << doc;
    EXPECT_NE(Refusal("<a>&x;</a>").find("undefined entity"), std::string::npos);

    xml::Limits tight;
    tight.maxDepth = 3;
    tight.maxAttributes = 2;
    EXPECT_EQ(Refusal("<a><b><c/></b></a>", tight), "accepted");
    EXPECT_EQ(Refusal("<a><b><c><d/></c></b></a>", tight), "line 1, column 10: elements nest deeper than 3 levels");
    EXPECT_EQ(Refusal("<a x='1' y='2' z='3'/>", tight), "line 1, column 1: element <a> has more than 2 attributes");
    EXPECT_EQ(Refusal("<a><b></a>"), "line 1, column 9: mismatched tag");
}

TEST(Xml, HandlerExceptionsReachTheCaller) {
    struct Throwing : xml::Handler {
        void StartElement(std::string_view name, xml::Attributes) override {
            if (name == "c") throw std::runtime_error("bad cell");
        }
        void EndElement(std::string_view) override {}
    } handler;
    EXPECT_THROW(xml::Parse("<a><b/><c/></a>", handler), std::runtime_error);
}

TEST(Xml, RewrittenPartsKeepNamespacesAndIgnorables) {
    const std::string part =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" mc:Ignorable=\"x14ac xr\" "
        "xmlns:x14ac=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac\" "
        "xmlns:xr=\"http://schemas.microsoft.com/office/spreadsheetml/2014/revision\" xr:uid=\"{00}\">"
        "<x:sheetFormatPr x14ac:dyDescent=\"0.25\"/><!-- kept --><?pi data?>"
        "<x:c><x:v>a &amp; b &lt; c</x:v></x:c></x:worksheet>";
    EXPECT_EQ(xml::Serialize(xml::ParseDocument(part)), part);

    // Namespaces resolve a prefix in scope, whatever the prefix is.
    struct Finder : xml::Handler {
        void StartElement(std::string_view name, xml::Attributes attributes) override {
            scope.Enter(attributes);
            if (xml::LocalName(name) == "sheetFormatPr") {
                element = scope.OfElement(name);
                attribute = scope.OfAttribute(attributes[0].name);
            }
        }
        void EndElement(std::string_view) override { scope.Leave(); }
        xml::Namespaces scope;
        std::string element, attribute;
    } finder;
    xml::Parse(part, finder);
    EXPECT_EQ(finder.element, "http://schemas.openxmlformats.org/spreadsheetml/2006/main");
    EXPECT_EQ(finder.attribute, "http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac");
}

TEST(Xml, WriterEscapesAndRefusesWhatXmlCannotCarry) {
    xml::Writer writer;
    writer.StartElement("t");
    writer.Attribute("v", "a\"b<c>&\t\r\n'");
    writer.Text("x<y & z>w\r\n\t\"'\xC3\xA9\xF0\x9F\x98\x80");
    writer.StartElement("e");
    writer.EndElement();
    writer.EndElement();
    EXPECT_EQ(writer.Finish(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
              "<t v=\"a&quot;b&lt;c&gt;&amp;&#9;&#13;&#10;'\">x&lt;y &amp; z&gt;w&#13;\n\t\"'\xC3\xA9\xF0\x9F\x98\x80"
              "<e/></t>");

    for (const char* bad : {"\x01", "\x1F", "\xEF\xBF\xBE", "\xC3", "\xED\xA0\x80", "\xC0\xAF"}) {
        xml::Writer w;
        w.StartElement("t");
        EXPECT_THROW(w.Text(bad), Error) << bad;
        EXPECT_THROW(w.Attribute("a", bad), Error) << bad;
    }
}

TEST(Xml, ExcelEscapesInTexts) {
    struct Row {
        std::u16string text;
        std::string stored;
    } rows[] = {
        {u"plain", "plain"},
        {u"a\u0001b", "a_x0001_b"},
        {u"line\r\nbreak\ttab", "line_x000D_\nbreak\ttab"},
        {u"_x0041_", "_x005F_x0041_"},
        {u"_x00_", "_x00_"},
        {u"\uFFFE\uFFFF", "_xFFFE__xFFFF_"},
        {std::u16string(1, char16_t(0xD800)) + u"x", "_xD800_x"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        EXPECT_EQ(xml::EncodeXstring(row.text), row.stored);
        EXPECT_EQ(xml::DecodeXstring(row.stored), row.text);
    }
    EXPECT_EQ(xml::DecodeXstring("_x000d__X0041_"), u"\r_X0041_"); // hex digits in either case, but "_x"
}

} // namespace
