// The default template examples/quote40.xls: the committed file is what the
// generator writes today, and LibreOffice, reading it as an independent
// program, finds every placeholder, formula, format and merged area where
// the line-item writer and the user expect them.
#include "quote_template.h"
#include "support/libreoffice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

namespace vi2zezir::test {
namespace {

namespace fs = std::filesystem;
namespace qt = vi2zezir::tools::quote_template;

const fs::path kTemplate = fs::path(VZ_SOURCE_DIR) / "examples" / "quote40.xls";

// "B22" -> column index 1, row index 21.
std::pair<int, int> ColumnAndRow(const std::string& address) {
    std::size_t i = 0;
    int col = 0;
    while (i < address.size() && address[i] >= 'A' && address[i] <= 'Z') {
        col = col * 26 + (address[i] - 'A' + 1);
        ++i;
    }
    return {col - 1, std::stoi(address.substr(i)) - 1};
}

std::string A1(int col, int row) { return std::string(1, static_cast<char>('A' + col)) + std::to_string(row + 1); }

TEST(QuoteTemplate, CommittedFileIsTheGeneratorsOutput) {
    std::ifstream in(kTemplate, std::ios::binary);
    ASSERT_TRUE(in) << kTemplate;
    const std::vector<std::uint8_t> committed{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(committed, qt::WriteQuoteTemplateFile())
        << "examples/quote40.xls is stale: cmake --build <dir> --target quote40_xls";
}

// One conversion serves every check: LibreOffice takes seconds to start.
TEST(QuoteTemplate, LibreOfficeReadsTheLayoutTheWritersExpect) {
    std::string whyNot;
    const auto sheets = ReadAllSheetsWithLibreOffice(kTemplate, &whyNot);
    if (!sheets) {
        GTEST_SKIP() << whyNot;
    }
    ASSERT_EQ(sheets->size(), 2u);
    const LoSheet& quote = sheets->front();
    const LoSheet& notes = (*sheets)[1];

    {
        SCOPED_TRACE("two sheets; the quote is the first, the one that is filled");
        EXPECT_EQ(quote.sheetNames, (std::vector<std::string>{"Quote", "Notes"}));
    }
    {
        SCOPED_TRACE("title: large, bold, merged across the table's width");
        const LoCell* title = quote.At("B1");
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->value, "QUOTATION");
        EXPECT_TRUE(title->bold);
        EXPECT_GE(title->fontPoints, 18.0);
        EXPECT_NE(std::find(quote.merges.begin(), quote.merges.end(), "B1:F1"), quote.merges.end());
    }
    {
        SCOPED_TRACE("header and macro placeholders, each where the form shows it");
        const std::pair<const char*, const char*> expected[] = {
            {"B3", "&APP_OurLocationCompany"},
            {"B4", "&APP_&OurLocationFullAddress"},
            {"B5", "Phone: &APP_OurLocationPhoneNumber"},
            {"B6", "Email: &APP_OurLocationEmail"},
            {"E3", "Quote No:"},
            {"F3", "&DH_DocNo"},
            {"F4", "&DH_DocDate"},
            {"F5", "&DH_&SalesRepFullName"},
            {"F6", "&DH_Terms"},
            {"F7", "&DH_FOB"},
            {"B11", "&DH_SoldToCompany"},
            {"C11", "&DH_ShipToCompany"},
            {"B12", "Attn: &DH_SoldToContact"},
            {"B13", "&DH_SoldToAddress1"},
            {"C13", "&DH_ShipToAddress1"},
            {"B15", "&DH_SoldToCity, &DH_SoldToState"},
            {"C15", "&DH_ShipToAddress3"},
            {"B17", "Phone: &DH_SoldToPhone"},
            {"C17", "Phone: &DH_ShipToPhone"},
            {"B18", "Customer PO: &DH_SoldToPONumber"},
            {"B28", "&DH_ClosingNotes"},
            {"B31", "Prepared by: &APP_LoggedInUserFullName"},
            {"B32", "Email: &APP_LoggedInUserEmail"},
        };
        for (const auto& [address, text] : expected) {
            EXPECT_EQ(quote.Value(address), text) << address;
        }
    }
    {
        SCOPED_TRACE("one row of item placeholders under a bold header row");
        const int itemRow = qt::kItemRow;
        const std::pair<int, const char*> items[] = {
            {qt::kDescriptionCol, "&DI_Description"}, {qt::kManufacturerCol, "&DI_Manufacturer"},
            {qt::kQuantityCol, "&DI_QtyTotal"},       {qt::kUnitPriceCol, "&DI_UnitPrice"},
            {qt::kExtendedCol, "&DI_ExtendedPrice"},
        };
        for (const auto& [col, text] : items) {
            EXPECT_EQ(quote.Value(A1(col, itemRow)), text) << A1(col, itemRow);
            const LoCell* header = quote.At(A1(col, qt::kTableHeaderRow));
            ASSERT_NE(header, nullptr) << A1(col, qt::kTableHeaderRow);
            EXPECT_TRUE(header->bold);
        }
        EXPECT_EQ(quote.Value("C20"), "Manufacturer");
        EXPECT_EQ(quote.Value("E20"), "Unit Price");
        for (const char* price : {"E22", "F22"}) {
            ASSERT_NE(quote.At(price), nullptr);
            EXPECT_EQ(quote.At(price)->numberFormat, "#,##0.00") << price;
        }
    }
    {
        SCOPED_TRACE("an inserted line copies the format above it: the spacer row carries the item formats");
        for (int col = qt::kDescriptionCol; col <= qt::kExtendedCol; ++col) {
            const LoCell* spacer = quote.At(A1(col, qt::kSpacerRow));
            const LoCell* item = quote.At(A1(col, qt::kItemRow));
            ASSERT_NE(spacer, nullptr) << A1(col, qt::kSpacerRow);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(spacer->value, "") << A1(col, qt::kSpacerRow);
            EXPECT_EQ(spacer->numberFormat, item->numberFormat) << A1(col, qt::kSpacerRow);
            EXPECT_EQ(spacer->bold, item->bold) << A1(col, qt::kSpacerRow);
        }
    }
    {
        SCOPED_TRACE("totals: quantity x price from the spacer row to the placeholder row, tax and total over it");
        EXPECT_EQ(quote.Formula("F23"), "=SUMPRODUCT(D21:D22,E21:E22)");
        EXPECT_EQ(quote.Formula("F24"), "=ROUND(F23*D24,2)");
        EXPECT_EQ(quote.Formula("F25"), "=F23+F24");
        for (const char* total : {"F23", "F24", "F25"}) {
            EXPECT_EQ(quote.Value(total), "0") << total;
        }
        EXPECT_EQ(quote.Value("D24"), "0.0825");
        EXPECT_EQ(quote.At("D24")->numberFormat, "0.00%");
        EXPECT_EQ(quote.At("F23")->numberFormat, "#,##0.00");
        EXPECT_EQ(quote.Value("E23"), "Subtotal");
        EXPECT_EQ(quote.Value("E25"), "TOTAL");
    }
    {
        SCOPED_TRACE("below the header only item columns hold cells, and no merge reaches there");
        for (const auto& [address, cell] : quote.cells) {
            const auto [col, row] = ColumnAndRow(address);
            if (row >= qt::kSpacerRow) {
                EXPECT_TRUE(col >= qt::kDescriptionCol && col <= qt::kExtendedCol) << address;
            }
        }
        for (const std::string& merge : quote.merges) {
            const auto [col, lastRow] = ColumnAndRow(merge.substr(merge.find(':') + 1));
            EXPECT_LT(lastRow, qt::kTableHeaderRow) << merge;
        }
    }
    {
        SCOPED_TRACE("the second sheet holds plain text, no placeholder");
        EXPECT_EQ(notes.name, "Notes");
        EXPECT_EQ(notes.Value("A3"), "This sheet is not filled by the transfer: only the Quote sheet is.");
        for (const auto& [address, cell] : notes.cells) {
            EXPECT_EQ(cell.value.find('&'), std::string::npos) << address;
        }
    }
}

} // namespace
} // namespace vi2zezir::test
