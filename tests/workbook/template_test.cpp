// The default template examples/quote40.xls: the committed file is what the
// generator writes today, and LibreOffice, reading it as an independent
// program, finds the item row, formulas, formats and merged areas where the
// line-item writer expects them. That every placeholder is one the transfer
// fills, and the notes sheet comes through as it is, the template check and
// the program's end-to-end tests show.
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
}

} // namespace
} // namespace vi2zezir::test
