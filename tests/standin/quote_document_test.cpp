#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/failure.h"
#include "base/utf.h"
#include "platform/posix/object_services.h"
#include "standin/json_scanner.h"
#include "standin/quote_document.h"
#include "support/expect_failure.h"

namespace vi2zezir {
namespace {

std::string FailureOf(const std::string& json) {
    try {
        standin::ParseQuoteDocument(json, "doc.json");
    } catch (const Failure& f) {
        return text::ToUtf8(f.Description());
    }
    return "";
}

TEST(QuoteDocument, ValuesOfEveryKind) {
    auto doc = standin::ParseQuoteDocument(R"({
      "VersionMajor": 4,
      "Header": {"DocNo": 10442, "Big": 3000000000, "Rate": 0.0825, "Open": true, "Gone": null,
                 "DocDate": {"date": "2026-12-06"}, "Stamp": {"date": "2026-12-06T18:00:00"},
                 "Total": {"currency": "1234.5"}, "Name": "Caf\u00e9"},
      "Items": [{"Description": "a"}, {"LineType": 2}],
      "Macros": {"&APP_LoggedInUserName": "afuller"}})",
                                           "doc.json");
    EXPECT_EQ(doc.versionMajor, Value(std::int32_t{4}));
    EXPECT_EQ(doc.header.at(u"DocNo"), Value(std::int32_t{10442}));
    EXPECT_EQ(doc.header.at(u"Big"), Value(3000000000.0));
    EXPECT_EQ(doc.header.at(u"Open"), Value(true));
    EXPECT_TRUE(doc.header.at(u"Gone").IsNull());
    EXPECT_EQ(ToText(doc.header.at(u"DocDate")), u"12/6/2026");
    EXPECT_EQ(ToText(doc.header.at(u"Stamp")), u"12/6/2026 6:00:00 PM");
    EXPECT_EQ(doc.header.at(u"Total"), Value(Currency{12345000}));
    EXPECT_EQ(doc.header.at(u"Name"), Value(u"Caf\u00e9"));

    auto app = standin::MakeQuoteApplication(std::make_shared<const standin::QuoteDocument>(doc));
    std::int16_t line = 0;
    EXPECT_EQ(app->ItemFunctions()->LineItemGetValue(line, u"LineType"), Value(std::int32_t{0}));
    EXPECT_EQ(app->ItemFunctions()->LineItemGetValue(line, u"Absent"), Value(u""));
    EXPECT_EQ(app->DocFunctions()->GetDocumentHeaderValue(u"docno"), Value(u"")); // exact case
    std::u16string macro = u"&APP_LoggedInUserName";
    EXPECT_EQ(app->GetMacro(macro), Value(u"afuller"));
    line = 2;
    EXPECT_THROW(app->ItemFunctions()->LineItemGetValue(line, u"LineType"), Failure);
}

TEST(QuoteDocument, BreakingTheFormatNamesThePlace) {
    EXPECT_NE(FailureOf("{\n\"Header\": {,}}").find("line 2"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Header": {"DocNo": [1]}})").find("Header.DocNo"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Items": {}})").find("Items"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Item": []})").find("unknown key \"Item\""), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Header": {"D": {"date": "2026-02-30"}}})").find("not a date"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Header": {"C": {"currency": "1.23456"}}})").find("currency"), std::string::npos);
    for (const std::string& f : {FailureOf("{"), FailureOf("")}) EXPECT_NE(f.find("doc.json"), std::string::npos);
}

TEST(PortableServices, TendrixRunsWhileItsDocumentCanBeRead) {
    posix::PortableObjectServices services;
    ::unsetenv(standin::kDocumentVariable);
    EXPECT_THROW(services.GetObject(u"Tendrix.Application"), Failure);
    ::setenv(standin::kDocumentVariable, "/no/such/document.json", 1);
    EXPECT_THROW(services.GetObject(u"Tendrix.Application"), Failure);

    const auto path =
        std::filesystem::temp_directory_path() / ("vz-broken-document-" + std::to_string(::getpid()) + ".json");
    std::ofstream(path) << "{ not json";
    ::setenv(standin::kDocumentVariable, path.c_str(), 1);
    auto app = services.GetObject(u"tendrix.application"); // a running, broken server
    ASSERT_TRUE(app);
    EXPECT_FAILURE(app->VersionMajor(), kAutomationError, text::FromUtf8(path.filename().string()));
    std::filesystem::remove(path);
    EXPECT_THROW(services.CreateObject(u"Word.Application"), Failure);
    EXPECT_TRUE(services.CreateObject(u"Excel.Application"));
}

} // namespace
} // namespace vi2zezir

namespace vi2zezir {
namespace {

using Json = nlohmann::json;

// nlohmann's own DOM builder, behind the SAX interface the scanner talks to.
class DomBuilder final : public nlohmann::json_sax<Json> {
public:
    explicit DomBuilder(Json& dom) : dom_(dom, false) {}
    bool null() override { return dom_.null(); }
    bool boolean(bool b) override { return dom_.boolean(b); }
    bool number_integer(number_integer_t i) override { return dom_.number_integer(i); }
    bool number_unsigned(number_unsigned_t u) override { return dom_.number_unsigned(u); }
    bool number_float(number_float_t d, const string_t& s) override { return dom_.number_float(d, s); }
    bool string(string_t& s) override { return dom_.string(s); }
    bool binary(binary_t& b) override { return dom_.binary(b); }
    bool start_object(std::size_t n) override { return dom_.start_object(n); }
    bool key(string_t& k) override { return dom_.key(k); }
    bool end_object() override { return dom_.end_object(); }
    bool start_array(std::size_t n) override { return dom_.start_array(n); }
    bool end_array() override { return dom_.end_array(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    nlohmann::detail::json_sax_dom_parser<Json> dom_;
};

// The scanner's reading of a text, in pieces of `pieceSize` bytes, as a DOM.
Json Scanned(const std::string& text, std::size_t pieceSize, standin::ScanResult& result) {
    Json dom;
    DomBuilder builder(dom);
    std::istringstream stream(text);
    standin::JsonInput input(stream, text.size(), pieceSize);
    result = standin::ScanJson(input, builder);
    return dom;
}

TEST(JsonScanner, ReadsWhatNlohmannReadsInPiecesOfAnySize) {
    const std::string accepted[] = {
        R"({"a": "x\"y\\z\/\b\f\n\r\t", "b": "\u00e9\uD83D\uDE00", "c": "caf)"
        "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"}",
        R"([0, -0, 7, -7, 1.5, -2.5e-3, 1E+2, 2147483648, -2147483649, 18446744073709551615])",
        R"([18446744073709551616, -9223372036854775809, 0.1, 123456789012345678901234567890])",
        " \t\r\n{\"\": {}, \"e\": [], \"n\": [null, true, false, [[{}]]]} \n",
        "\xEF\xBB\xBF{\"bom\": 1}",
        R"("top")",
    };
    for (const std::string& text : accepted) {
        SCOPED_TRACE(text);
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{7}, text.size()}) {
            standin::ScanResult result;
            EXPECT_EQ(Scanned(text, piece, result), Json::parse(text));
            EXPECT_EQ(result, standin::ScanResult::Done);
        }
    }
    const auto expectGaveUp = [](const std::string& text) {
        SCOPED_TRACE(text);
        standin::ScanResult result;
        Scanned(text, 3, result);
        EXPECT_EQ(result, standin::ScanResult::GaveUp);
    };
    for (const char* text : {"", "{", "[1,]", "{\"a\" 1}", "01", "1.", "-", "+1", ".5"}) expectGaveUp(text);
    for (const char* text : {"\"\x01\"", "\"\\x\"", "\"\\uDC00\"", "\"\\uD800x\"", "\"\xC0\x80\"", "\"\xED\xA0\x80\"",
                             "\"\xF4\x90\x80\x80\"", "\"\xE2\x82\""})
        expectGaveUp(text);
    for (const char* text : {"\xEF\xBB{}", "tru", "nulls", "{} {}"}) expectGaveUp(text);
    // Left to nlohmann: an underflow it takes, an overflow it refuses,
    // nesting deeper than the scanner recurses.
    for (const std::string& text :
         {std::string("1e-400"), std::string("1e400"), std::string(100, '[') + std::string(100, ']')})
        expectGaveUp(text);
}

TEST(QuoteDocument, LinesKeepTheirFieldsInAnyOrderAcrossBlocks) {
    // More lines than one block holds; fields in two orders, one field on
    // every third line only, one first given after the first block, and one
    // given twice on a line (the last counts).
    std::string json = R"({"Items": [)";
    for (int i = 0; i < 5000; ++i) {
        const std::string n = std::to_string(i);
        json += i ? "," : "";
        json += i % 2 ? R"({"Qty": )" + n + R"(, "Description": "line )" + n + "\""
                      : R"({"Description": "line )" + n + R"(", "Qty": )" + n;
        if (i % 3 == 0) json += R"(, "Memo": "m)" + n + "\"";
        if (i >= 4500) json += R"(, "Late": "x", "Late": "late )" + n + "\"";
        json += "}";
    }
    json += "]}";
    const auto doc = std::make_shared<const standin::QuoteDocument>(standin::ParseQuoteDocument(json, "doc.json"));
    ASSERT_EQ(doc->items.size(), 5000u);
    auto items = standin::MakeQuoteApplication(doc)->ItemFunctions();
    for (std::int16_t i : {0, 1, 2, 3, 4095, 4096, 4097, 4499, 4500, 4999}) {
        SCOPED_TRACE(i);
        const std::u16string n = text::FromUtf8(std::to_string(i));
        EXPECT_EQ(items->LineItemGetValue(i, u"Description"), Value(u"line " + n));
        EXPECT_EQ(items->LineItemGetValue(i, u"Qty"), Value(std::int32_t{i}));
        EXPECT_EQ(items->LineItemGetValue(i, u"Memo"), Value(i % 3 == 0 ? u"m" + n : u""));
        EXPECT_EQ(items->LineItemGetValue(i, u"Late"), Value(i >= 4500 ? u"late " + n : u""));
        EXPECT_EQ(items->LineItemGetValue(i, u"LineType"), Value(std::int32_t{0}));
    }
}

TEST(PortableServices, TendrixIsOneServerThatReadsItsDocumentOnce) {
    const auto path =
        std::filesystem::temp_directory_path() / ("vz-one-server-" + std::to_string(::getpid()) + ".json");
    std::ofstream(path) << R"({"VersionMajor": 4})";
    ::setenv(standin::kDocumentVariable, path.c_str(), 1);
    posix::PortableObjectServices services;
    const auto first = services.GetObject(u"Tendrix.Application");
    std::ofstream(path) << R"({"VersionMajor": 3})";
    EXPECT_EQ(services.GetObject(u"Tendrix.Application"), first);
    EXPECT_EQ(first->VersionMajor(), Value(std::int32_t{4}));
    std::filesystem::remove(path);
    ::unsetenv(standin::kDocumentVariable);
}

} // namespace
} // namespace vi2zezir
