#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/posix/object_services.h"
#include "servers/failure.h"
#include "standin/quote_document.h"
#include "text/utf.h"

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
    EXPECT_NE(FailureOf(R"({"Header": {"DocNo": {"x": 1}}})").find("Header.DocNo"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Items": [{"LineType": "2"}]})").find("Items[0].LineType"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Items": {}})").find("Items"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Item": []})").find("unknown key \"Item\""), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Header": {"D": {"date": "2026-02-30"}}})").find("not a date"), std::string::npos);
    EXPECT_NE(FailureOf(R"({"Header": {"C": {"currency": "1.23456"}}})").find("currency"), std::string::npos);
    EXPECT_NE(FailureOf("[1]").find("object"), std::string::npos);
    EXPECT_NE(FailureOf(std::string(10000, '[')).find("nested deeper"), std::string::npos);
    EXPECT_NE(FailureOf("{\"Header\": {\"A\": \"\xff\"}}").find("doc.json"), std::string::npos);
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
    try {
        app->VersionMajor();
        FAIL();
    } catch (const Failure& f) {
        EXPECT_NE(text::ToUtf8(f.Description()).find(path.filename().string()), std::string::npos);
    }
    std::filesystem::remove(path);
    EXPECT_THROW(services.CreateObject(u"Word.Application"), Failure);
    EXPECT_TRUE(services.CreateObject(u"Excel.Application"));
}

} // namespace
} // namespace vi2zezir
