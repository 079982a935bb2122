#include <gtest/gtest.h>

#include "base/failure.h"
#include "fakes/recording_servers.h"
#include "support/expect_failure.h"
#include "transfer/writers.h"

namespace vi2zezir {
namespace {

using fakes::CallLog;
using fakes::Count;

struct Rig {
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    std::shared_ptr<fakes::RecordingQuoteApp> quote;
    std::shared_ptr<fakes::MemorySheet> sheet = std::make_shared<fakes::MemorySheet>(log);

    explicit Rig(fakes::QuoteData data = {})
        : quote(std::make_shared<fakes::RecordingQuoteApp>(std::move(data), log)) {}
    fakes::QuoteData& Data() { return quote->data; }
};

fakes::QuoteData Lines(std::vector<std::map<std::u16string, Value>> items, Value version = Value(u"4")) {
    fakes::QuoteData data;
    data.versionMajor = std::move(version);
    data.items = std::move(items);
    return data;
}

// ---- header fields ----

TEST(WriteHeaderFields, VersionSelectsHowManyPlaceholdersAreSearched) {
    struct Case {
        Value version;
        std::size_t finds;
    };
    for (const Case& c : {Case{Value(u"3"), 56}, Case{Value(u"3.0"), 56}, Case{Value(std::int32_t{3}), 56},
                          Case{Value(3.0), 56}, Case{Value(Null{}), 56}, Case{Value(u"4"), 112},
                          Case{Value(std::int32_t{2}), 112}, Case{Value(u"3.1"), 112}}) {
        Rig rig;
        rig.Data().versionMajor = c.version;
        transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
        EXPECT_EQ(Count(*rig.log, "VersionMajor"), 2u);
        EXPECT_EQ(Count(*rig.log, "Find"), c.finds) << ToText(c.version.IsNull() ? Value(u"null") : c.version).size();
        EXPECT_EQ(Count(*rig.log, "GetDocumentHeaderValue"), 0u);
    }
}

TEST(WriteHeaderFields, OneValueRequestPerPlaceholderFoundReplacedEverywhere) {
    Rig rig;
    rig.Data().header[u"DocNo"] = Value(std::int32_t{10442});
    rig.sheet->Put("B2", u"Quote No: &DH_DocNo");
    rig.sheet->Put("C9", u"&dh_docno / &DH_DOCNO");
    transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(Count(*rig.log, "GetDocumentHeaderValue(DocNo)"), 1u);
    EXPECT_EQ(Count(*rig.log, "DocFunctions"), 1u);
    EXPECT_EQ(rig.sheet->Text("B2"), u"Quote No: 10442");
    EXPECT_EQ(rig.sheet->Text("C9"), u"10442 / 10442");
}

TEST(WriteHeaderFields, ShorterPlaceholdersSwallowLongerOnes) {
    Rig rig;
    rig.Data().header = {
        {u"SoldToPhone", Value(u"555-0100")}, {u"SoldToPONumber", Value(u"PO-1")}, {u"SalesRep", Value(u"Fuller")}};
    rig.sheet->Put("A3", u"&DH_SoldToPhoneExt");
    rig.sheet->Put("A4", u"&DH_SoldToPoNumber");
    rig.sheet->Put("A5", u"&DH_SalesRepTitle");
    transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("A3"), u"555-0100Ext");
    EXPECT_EQ(rig.sheet->Text("A4"), u"PO-1");
    EXPECT_EQ(rig.sheet->Text("A5"), u"FullerTitle");
    EXPECT_EQ(Count(*rig.log, "GetDocumentHeaderValue(SoldToPhoneExt)"), 0u);
    EXPECT_EQ(Count(*rig.log, "GetDocumentHeaderValue(SoldToPoNumber)"), 0u);
}

TEST(WriteHeaderFields, ShortListLeavesLaterPlaceholdersAsText) {
    Rig rig;
    rig.Data().versionMajor = Value(u"3");
    rig.Data().header = {{u"SoldToCity", Value(u"Berlin")}, {u"SoldToPostalCode", Value(u"12209")}};
    rig.sheet->Put("A1", u"&DH_SoldToCity &DH_SoldToPostalCode");
    transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("A1"), u"Berlin &DH_SoldToPostalCode");
}

TEST(WriteHeaderFields, MemosGoWholeOthersAreFitted) {
    Rig rig;
    rig.Data().header = {{u"CustomMemo01", Value(u"line one\r\nline two")},
                         {u"ClosingNotes", Value(u"  valid 30 days\r\nthanks")},
                         {u"&AlternateCurrencySymbol", Value(u"EUR")}};
    rig.sheet->Put("A1", u"&DH_CustomMemo01");
    rig.sheet->Put("A2", u"&DH_ClosingNotes");
    rig.sheet->Put("A3", u"&DH_&AlternateCurrencySymbol");
    transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("A1"), u"line one\r\nline two");
    EXPECT_EQ(rig.sheet->Text("A2"), u"valid 30 days...");
    EXPECT_EQ(rig.sheet->Text("A3"), u"EUR");
}

TEST(WriteHeaderFields, ANullValueFailsAndKeepsEarlierReplacements) {
    Rig rig;
    rig.Data().header = {{u"SoldToCompany", Value(u"Northwind")}, {u"DocNo", Value(Null{})}};
    rig.sheet->Put("A1", u"&DH_SoldToCompany");
    rig.sheet->Put("A2", u"&DH_DocNo");
    EXPECT_FAILURE(transfer::WriteHeaderFields(*rig.quote, *rig.sheet), kInvalidUseOfNull, u"Invalid use of Null");
    EXPECT_EQ(rig.sheet->Text("A1"), u"Northwind");
    EXPECT_EQ(rig.sheet->Text("A2"), u"&DH_DocNo");
}

TEST(Writers, DocumentTextNeverBecomesALiveFormula) {
    Rig rig(Lines({{{u"Description", Value(u"=HYPERLINK(\"http://x\")")}, {u"Notes", Value(u"-5")}},
                   {{u"LineType", Value(std::int32_t{2})}, {u"Description", Value(u"@SUM(A1)")}}}));
    rig.Data().header = {{u"DocName", Value(u"+1 555 0100")}, {u"DocNo", Value(u"-42")}};
    rig.Data().macros = {{u"&APP_LoggedInUserName", Value(u"=cmd|' /c calc'!A0")}};
    rig.sheet->Put("A1", u"&DH_DocName");
    rig.sheet->Put("A2", u"&DH_DocNo");
    rig.sheet->Put("A3", u"&APP_LoggedInUserName");
    rig.sheet->Put("A4", u"Phone: &DH_DocName");
    rig.sheet->Put("B5", u"&DI_Description");
    rig.sheet->Put("C5", u"&DI_Notes");
    transfer::WriteHeaderFields(*rig.quote, *rig.sheet);
    transfer::WriteItemFields(*rig.quote, *rig.sheet);
    transfer::WriteMacroFields(*rig.quote, *rig.sheet);
    auto isProtectedText = [&](const std::string& address, const std::u16string& text) {
        const fakes::MemoryCell* cell = rig.sheet->At(address);
        return cell && cell->prefixed && cell->formula.empty() && cell->Content() == text;
    };
    EXPECT_TRUE(isProtectedText("A1", u"+1 555 0100"));
    EXPECT_TRUE(isProtectedText("A3", u"=cmd|' /c calc'!A0"));
    EXPECT_TRUE(isProtectedText("B5", u"=HYPERLINK(\"http://x\")"));
    EXPECT_TRUE(isProtectedText("B6", u"@SUM(A1)"));
    // Behind other text the value cannot become a formula: no apostrophe shows there.
    EXPECT_EQ(rig.sheet->Text("A4"), u"Phone: +1 555 0100");
    EXPECT_EQ(rig.sheet->Text("A2"), u"-42");
    EXPECT_EQ(rig.sheet->Text("C5"), u"-5");
}

// ---- line items ----

std::map<std::u16string, Value> Line(int type, std::u16string description, double price, double qty) {
    return {{u"LineType", Value(std::int32_t{type})},
            {u"Description", Value(std::move(description))},
            {u"UnitPrice", Value(price)},
            {u"QtyTotal", Value(qty)},
            {u"ExtendedPrice", Value(price * qty)}};
}

void PutItemRow(fakes::MemorySheet& sheet) {
    sheet.Put("B5", u"&DI_Description");
    sheet.Put("C5", u"&DI_UnitPrice");
    sheet.Put("D5", u"&DI_QtyTotal");
    sheet.Put("E5", u"&DI_ExtendedPrice");
    sheet.Put("B7", u"Label");
    sheet.Put("A6", u"left alone");
}

TEST(WriteItemFields, TheWorkedExample) {
    Rig rig(Lines({Line(1, u"Switch", 899.5, 2), Line(2, u"Section\r\ncontinued", 1, 1), Line(1, u"Cable", 6.4, 24)}));
    PutItemRow(*rig.sheet);
    transfer::WriteItemFields(*rig.quote, *rig.sheet);

    EXPECT_EQ(rig.sheet->Text("B5"), u"Switch");
    EXPECT_EQ(rig.sheet->Text("B6"), u"Section...");
    EXPECT_EQ(rig.sheet->Text("B7"), u"Cable");
    EXPECT_EQ(rig.sheet->Text("B8"), u"");
    EXPECT_EQ(rig.sheet->Text("B10"), u"Label");
    EXPECT_EQ(rig.sheet->Text("C5"), u"899.5");
    EXPECT_EQ(rig.sheet->At("C6"), nullptr);
    EXPECT_EQ(rig.sheet->Text("C7"), u"6.4");
    EXPECT_EQ(rig.sheet->Text("D7"), u"24");
    EXPECT_EQ(rig.sheet->Text("E5"), u"=C5 * D5");
    EXPECT_EQ(rig.sheet->At("E6"), nullptr);
    EXPECT_EQ(rig.sheet->Text("E7"), u"=C7 * D7");
    EXPECT_EQ(rig.sheet->Text("E8"), u"");
    EXPECT_EQ(rig.sheet->Text("A6"), u"left alone");
    // Ordinary lines get the value exactly as returned, not as text.
    EXPECT_EQ(rig.sheet->At("C5")->value.GetKind(), Value::Kind::Double);
}

TEST(WriteItemFields, TypeFourLinesGetTheirExtendedPriceAsFittedText) {
    Rig rig(Lines({Line(1, u"Switch", 10, 2), Line(4, u"Subtotal", 0, 0), Line(1, u"Cable", 1, 1)}));
    rig.Data().items[1][u"ExtendedPrice"] = Value(Currency{123456700});
    PutItemRow(*rig.sheet);
    transfer::WriteItemFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("B6"), u"Subtotal");
    EXPECT_EQ(rig.sheet->Text("E6"), u"12345.67");
    EXPECT_EQ(rig.sheet->At("E6")->value.GetKind(), Value::Kind::Text);
    EXPECT_EQ(rig.sheet->At("C6"), nullptr);
    EXPECT_EQ(rig.sheet->At("D6"), nullptr);
    EXPECT_EQ(rig.sheet->Text("E7"), u"=C7 * D7");
}

TEST(WriteItemFields, CallsPerLineAreTheOnesThePatternNeeds) {
    Rig rig(Lines({Line(1, u"a", 1, 1), Line(2, u"b", 1, 1), Line(4, u"c", 1, 1)}));
    rig.sheet->Put("B5", u"&DI_Description");
    transfer::WriteItemFields(*rig.quote, *rig.sheet);
    const CallLog& log = *rig.log;
    EXPECT_EQ(Count(log, "VersionMajor"), 2u);
    EXPECT_EQ(Count(log, "LineItemCount"), 1u);
    // LineType: once for a type-2 line, twice for the others.
    EXPECT_EQ(Count(log, "LineItemGetValue(0,LineType)"), 2u);
    EXPECT_EQ(Count(log, "LineItemGetValue(1,LineType)"), 1u);
    EXPECT_EQ(Count(log, "LineItemGetValue(2,LineType)"), 2u);
    EXPECT_EQ(Count(log, "LineItemGetValue(0,Description)"), 1u);
    // ItemFunctions is asked anew before every item request.
    EXPECT_EQ(Count(log, "ItemFunctions"), Count(log, "LineItemCount") + Count(log, "LineItemGetValue"));
    EXPECT_EQ(Count(log, "Insert(-4121)"), 3u);
    EXPECT_EQ(Count(log, "Replace(&DI_Description,)"), 1u);
    // Two column lookups, then per placeholder one find plus one per line.
    EXPECT_EQ(Count(log, "Find(&DI_Description)"), 4u);
}

TEST(WriteItemFields, WithoutAQuantityColumnTheExtendedPriceIsAValue) {
    Rig rig(Lines({Line(1, u"a", 2, 3)}));
    rig.sheet->Put("C5", u"&DI_UnitPrice");
    rig.sheet->Put("E5", u"&DI_ExtendedPrice");
    transfer::WriteItemFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("E5"), u"6");
    EXPECT_EQ(Count(*rig.log, "Formula"), 0u);
}

TEST(WriteItemFields, VersionListsAndNamesInsideNames) {
    auto line = Line(1, u"d", 1, 1);
    line[u"ManufacturerPartNo"] = Value(u"MPN-short");
    line[u"ManufacturerPartNumber"] = Value(u"MPN-long");
    line[u"Manufacturer"] = Value(u"Contoso");
    line[u"Notes"] = Value(u"note");
    line[u"UnitofMeasure"] = Value(u"EA");

    Rig shortRig(Lines({line}, Value(u"3.0")));
    shortRig.sheet->Put("A5", u"&DI_ManufacturerPartNo");
    shortRig.sheet->Put("B5", u"&DI_Notes");
    transfer::WriteItemFields(*shortRig.quote, *shortRig.sheet);
    EXPECT_EQ(shortRig.sheet->Text("A5"), u"MPN-short");
    EXPECT_EQ(shortRig.sheet->Text("B5"), u"&DI_Notes");

    Rig fullRig(Lines({line}, Value(std::int32_t{4})));
    fullRig.sheet->Put("A5", u"&DI_ManufacturerPartNo");
    fullRig.sheet->Put("B5", u"&di_notes");
    fullRig.sheet->Put("C5", u"&DI_UnitofMeasureFactor");
    transfer::WriteItemFields(*fullRig.quote, *fullRig.sheet);
    EXPECT_EQ(fullRig.sheet->Text("A5"), u"Contoso");
    EXPECT_EQ(fullRig.sheet->Text("A6"), u"PartNo");
    EXPECT_EQ(fullRig.sheet->Text("B5"), u"note");
    EXPECT_EQ(fullRig.sheet->Text("C5"), u"EA");
    EXPECT_EQ(fullRig.sheet->Text("C6"), u"Factor");
}

TEST(WriteItemFields, NoLinesClearsEveryPlaceholder) {
    Rig rig(Lines({}));
    PutItemRow(*rig.sheet);
    transfer::WriteItemFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(rig.sheet->Text("B5"), u"");
    EXPECT_EQ(rig.sheet->Text("E5"), u"");
    EXPECT_EQ(rig.sheet->Text("B7"), u"Label");
    EXPECT_EQ(Count(*rig.log, "LineItemGetValue"), 0u);
    EXPECT_EQ(Count(*rig.log, "Insert"), 0u);
}

TEST(WriteItemFields, ALineTypeThatIsNoNumberFails) {
    Rig rig(Lines({{{u"LineType", Value(u"two")}}}));
    rig.sheet->Put("B5", u"&DI_Description");
    EXPECT_FAILURE(transfer::WriteItemFields(*rig.quote, *rig.sheet), kTypeMismatch, u"");
}

// ---- macros ----

TEST(WriteMacroFields, FortyFindsAndCollisionsByIndex) {
    Rig rig;
    rig.Data().versionMajor = Value(u"3");
    rig.Data().macros = {{u"&DH_&SalesRepAddress", Value(u"Main St")},
                         {u"&APP_LoggedInUserPhone", Value(u"555")},
                         {u"&APP_&LoggedInUserAddress", Value(u"Home")},
                         {u"&APP_LoggedInUserAddress1", Value(u"Flat 1")},
                         {u"&APP_OurLocationEmail", Value(u"a@b.example\r\nsecond line")}};
    rig.sheet->Put("A1", u"&DH_&SalesRepAddress1");
    rig.sheet->Put("A2", u"&APP_LoggedInUserPhoneExt");
    rig.sheet->Put("A3", u"&APP_&LoggedInUserAddress / &APP_LoggedInUserAddress1");
    rig.sheet->Put("A4", u"Mail: &APP_OurLocationEmail");
    transfer::WriteMacroFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(Count(*rig.log, "Find"), 40u);
    EXPECT_EQ(Count(*rig.log, "VersionMajor"), 0u);
    EXPECT_EQ(rig.sheet->Text("A1"), u"Main St1");
    EXPECT_EQ(rig.sheet->Text("A2"), u"555Ext");
    EXPECT_EQ(rig.sheet->Text("A3"), u"Home / Flat 1");
    EXPECT_EQ(rig.sheet->Text("A4"), u"Mail: a@b.example...");
    EXPECT_EQ(Count(*rig.log, "GetMacro(&DH_&SalesRepAddress1)"), 0u);
}

TEST(WriteMacroFields, NothingAskedWithoutPlaceholders) {
    Rig rig;
    rig.sheet->Put("A1", u"plain text");
    transfer::WriteMacroFields(*rig.quote, *rig.sheet);
    EXPECT_EQ(Count(*rig.log, "Find"), 40u);
    EXPECT_EQ(Count(*rig.log, "GetMacro"), 0u);
    EXPECT_EQ(rig.sheet->Text("A1"), u"plain text");
}

} // namespace
} // namespace vi2zezir
