#include "quote_template.h"

#include "biff_records.h"
#include "workbook/xls/cfb.h"

#include <string>
#include <utility>

namespace vi2zezir::tools::quote_template {

namespace {

using biff::Cell;
using biff::CellFormat;
using biff::Formula;
using biff::HAlign;
using biff::Line;
using biff::VAlign;
namespace colour = biff::colour;

constexpr std::uint16_t kColA = 0, kColB = 1, kColC = 2, kColD = 3, kColE = 4, kColF = 5;

// Zero-based row of an A1 row number, so the layout below reads like the sheet.
constexpr std::uint16_t Row(int a1Row) { return static_cast<std::uint16_t>(a1Row - 1); }

// Fonts beyond the four defaults.
enum FontId : std::uint16_t { kFontBold = 4, kFontItalic, kFontTitle, kFontCompany, kFontHeader };

constexpr std::uint16_t kCustomTotalFormat = 164;
constexpr std::uint16_t kFormatMoney = 4;    // built-in "#,##0.00"
constexpr std::uint16_t kFormatPercent = 10; // built-in "0.00%"

// Cell formats, in the order they are added below.
enum FormatId : std::uint16_t {
    kText,
    kTitle,
    kCompany,
    kLabel,
    kValue,
    kBlockHeader,
    kTableHeader,
    kTableHeaderRight,
    kItemText,
    kItemCentre,
    kItemMoney,
    kTotalLabel,
    kTotalMoney,
    kTaxRateFormat,
    kGrandLabel,
    kGrandMoney,
    kNotesHeader,
    kItalic,
    kSheetHeading,
};

class Builder {
public:
    explicit Builder(biff::Sheet& sheet) : sheet_(sheet) {}

    void Text(int a1Row, std::uint16_t col, std::u16string text, std::uint16_t format) {
        sheet_.cells.push_back(Cell{Row(a1Row), col, format, std::move(text)});
    }
    void Number(int a1Row, std::uint16_t col, double value, std::uint16_t format) {
        sheet_.cells.push_back(Cell{Row(a1Row), col, format, value});
    }
    void Blank(int a1Row, std::uint16_t col, std::uint16_t format) {
        sheet_.cells.push_back(Cell{Row(a1Row), col, format, std::monostate{}});
    }
    void Formula(int a1Row, std::uint16_t col, const biff::ptg::Rgce& rgce, std::uint16_t format) {
        sheet_.cells.push_back(Cell{Row(a1Row), col, format, biff::Formula{rgce.Bytes(), 0.0}});
    }
    void Merge(int a1RowFirst, int a1RowLast, std::uint16_t colFirst, std::uint16_t colLast) {
        sheet_.merges.push_back({Row(a1RowFirst), Row(a1RowLast), colFirst, colLast});
    }

private:
    biff::Sheet& sheet_;
};

void AddFonts(biff::Workbook& book) {
    book.fonts.push_back({u"Arial", 200, true, false, colour::kAutomatic}); // bold
    book.fonts.push_back({u"Arial", 200, false, true, colour::kGrey50});    // italic, grey
    book.fonts.push_back({u"Arial", 440, true, false, colour::kDarkTeal});  // title, 22 pt
    book.fonts.push_back({u"Arial", 280, true, false, colour::kAutomatic}); // company, 14 pt
    book.fonts.push_back({u"Arial", 200, true, false, colour::kWhite});     // table header
}

void AddCellFormats(biff::Workbook& book) {
    auto& f = book.cellFormats;
    const std::uint8_t grid = colour::kGrey25;

    f.push_back({}); // kText
    f.push_back({.font = kFontTitle,
                 .horizontal = HAlign::Center,
                 .vertical = VAlign::Center,
                 .bottom = Line::Medium,
                 .borderColour = colour::kDarkTeal});              // kTitle
    f.push_back({.font = kFontCompany});                           // kCompany
    f.push_back({.font = kFontBold, .horizontal = HAlign::Right}); // kLabel
    f.push_back({.horizontal = HAlign::Left, .indent = 1});        // kValue
    f.push_back(
        {.font = kFontHeader, .horizontal = HAlign::Left, .indent = 1, .fill = colour::kDarkTeal}); // kBlockHeader
    f.push_back({.font = kFontHeader,
                 .horizontal = HAlign::Left,
                 .vertical = VAlign::Center,
                 .indent = 1,
                 .left = Line::Thin,
                 .right = Line::Thin,
                 .top = Line::Thin,
                 .bottom = Line::Thin,
                 .fill = colour::kDarkTeal}); // kTableHeader
    f.push_back({.font = kFontHeader,
                 .horizontal = HAlign::Right,
                 .vertical = VAlign::Center,
                 .left = Line::Thin,
                 .right = Line::Thin,
                 .top = Line::Thin,
                 .bottom = Line::Thin,
                 .fill = colour::kDarkTeal}); // kTableHeaderRight
    f.push_back({.horizontal = HAlign::Left, .indent = 1, .bottom = Line::Hair, .borderColour = grid}); // kItemText
    f.push_back({.horizontal = HAlign::Right, .bottom = Line::Hair, .borderColour = grid});             // kItemCentre
    f.push_back({.numberFormat = kFormatMoney,
                 .horizontal = HAlign::Right,
                 .bottom = Line::Hair,
                 .borderColour = grid});                                                             // kItemMoney
    f.push_back({.font = kFontBold, .horizontal = HAlign::Right});                                   // kTotalLabel
    f.push_back({.numberFormat = kFormatMoney, .horizontal = HAlign::Right});                        // kTotalMoney
    f.push_back({.font = kFontItalic, .numberFormat = kFormatPercent, .horizontal = HAlign::Right}); // kTaxRateFormat
    f.push_back({.font = kFontBold,
                 .horizontal = HAlign::Right,
                 .top = Line::Thin,
                 .bottom = Line::Double,
                 .fill = colour::kPaleBlue}); // kGrandLabel
    f.push_back({.font = kFontBold,
                 .numberFormat = kCustomTotalFormat,
                 .horizontal = HAlign::Right,
                 .top = Line::Thin,
                 .bottom = Line::Double,
                 .fill = colour::kPaleBlue});                                                  // kGrandMoney
    f.push_back({.font = kFontBold, .bottom = Line::Thin, .borderColour = colour::kDarkTeal}); // kNotesHeader
    f.push_back({.font = kFontItalic});                                                        // kItalic
    f.push_back({.font = kFontCompany});                                                       // kSheetHeading
}

biff::Sheet QuoteSheet() {
    biff::Sheet sheet;
    sheet.name = u"Quote";
    sheet.showGridlines = false;
    sheet.fitToPageWidth = true;
    // Widths in 1/256 of a character: a narrow margin, then the item table.
    sheet.columnWidths = {{kColA, 2 * 256},  {kColB, 52 * 256}, {kColC, 28 * 256},
                          {kColD, 12 * 256}, {kColE, 13 * 256}, {kColF, 22 * 256}};
    // Only rows above the item table get heights of their own: row heights
    // stay with their rows when item cells are inserted, so every row from
    // the item row down keeps the default height and the new lines look alike.
    sheet.rowHeights = {{Row(1), 640}, {Row(2), 120}, {Row(3), 380}, {Row(10), 300}, {Row(20), 340}, {Row(21), 45}};

    Builder b(sheet);

    // Title across the table's width.
    b.Text(1, kColB, u"QUOTATION", kTitle);
    for (std::uint16_t col = kColC; col <= kColF; ++col) {
        b.Blank(1, col, kTitle);
    }
    b.Merge(1, 1, kColB, kColF);

    // Our company, expanded by the quoting application's macros.
    b.Text(3, kColB, u"&APP_OurLocationCompany", kCompany);
    b.Text(4, kColB, u"&APP_&OurLocationFullAddress", kText);
    b.Text(5, kColB, u"Phone: &APP_OurLocationPhoneNumber", kText);
    b.Text(6, kColB, u"Email: &APP_OurLocationEmail", kText);

    // Document data. Every placeholder of this template is one that both
    // version lists fill: a template that works only with the full list
    // would show raw placeholder text to a version 3 user. So no ship-via
    // line, which only the full list knows.
    const std::pair<const char16_t*, const char16_t*> documentData[] = {
        {u"Quote No:", u"&DH_DocNo"}, {u"Date:", u"&DH_DocDate"}, {u"Sales Rep:", u"&DH_&SalesRepFullName"},
        {u"Terms:", u"&DH_Terms"},    {u"FOB:", u"&DH_FOB"},
    };
    int row = 3;
    for (const auto& [label, placeholder] : documentData) {
        b.Text(row, kColE, label, kLabel);
        b.Text(row, kColF, placeholder, kValue);
        ++row;
    }

    // Sold-to and ship-to blocks.
    b.Text(10, kColB, u"SOLD TO", kBlockHeader);
    b.Text(10, kColC, u"SHIP TO", kBlockHeader);
    for (std::uint16_t col = kColD; col <= kColF; ++col) {
        b.Blank(10, col, kBlockHeader);
    }
    b.Merge(10, 10, kColC, kColF);
    // The short list has the sold-to city and state but no postal code, and
    // nothing of the ship-to place: the ship-to block gives the third address
    // line the row where the sold-to block has city and state, so both blocks
    // keep country and phone side by side.
    const std::pair<const char16_t*, const char16_t*> address[] = {
        {u"&DH_SoldToCompany", u"&DH_ShipToCompany"},
        {u"Attn: &DH_SoldToContact", u"Attn: &DH_ShipToContact"},
        {u"&DH_SoldToAddress1", u"&DH_ShipToAddress1"},
        {u"&DH_SoldToAddress2", u"&DH_ShipToAddress2"},
        {u"&DH_SoldToCity, &DH_SoldToState", u"&DH_ShipToAddress3"},
        {u"&DH_SoldToCountry", u"&DH_ShipToCountry"},
        {u"Phone: &DH_SoldToPhone", u"Phone: &DH_ShipToPhone"},
    };
    row = 11;
    for (const auto& [soldTo, shipTo] : address) {
        b.Text(row, kColB, soldTo, kValue);
        b.Text(row, kColC, shipTo, kValue);
        ++row;
    }
    b.Text(row, kColB, u"Customer PO: &DH_SoldToPONumber", kValue);

    // Item table. Everything from the item row down sits in the item columns
    // B to F only: the line-item writer inserts cells in each placeholder's
    // column separately, so a cell in another column below the items would
    // stay behind while the totals move down. For the same reason no merged
    // area lies below the header row; a merge across two shifted columns
    // would block the insert.
    const int headerRow = kTableHeaderRow + 1;
    b.Text(headerRow, kDescriptionCol, u"Description", kTableHeader);
    b.Text(headerRow, kManufacturerCol, u"Manufacturer", kTableHeader);
    b.Text(headerRow, kQuantityCol, u"Qty", kTableHeaderRight);
    b.Text(headerRow, kUnitPriceCol, u"Unit Price", kTableHeaderRight);
    b.Text(headerRow, kExtendedCol, u"Extended Price", kTableHeaderRight);

    // A thin spacer row between header and placeholders, formatted like an
    // item. An inserted cell takes the format of the cell above it, so the
    // first line would inherit the header's white bold text on teal; with the
    // spacer every line inherits the item formats (and price formats).
    const int spacerRow = kSpacerRow + 1;
    const std::uint16_t itemFormats[] = {kItemText, kItemText, kItemCentre, kItemMoney, kItemMoney};
    for (std::uint16_t col = kDescriptionCol; col <= kExtendedCol; ++col) {
        b.Blank(spacerRow, col, itemFormats[col - kDescriptionCol]);
    }

    const int itemRow = kItemRow + 1;
    b.Text(itemRow, kDescriptionCol, u"&DI_Description", kItemText);
    // No part number: the two lists spell it differently (ManufacturerPartNo,
    // ManufacturerPartNumber), and each list lacks the other's spelling, so
    // "&DI_Manufacturer", which begins both, takes the cell and leaves the
    // rest of the name behind. The manufacturer alone is filled by both.
    b.Text(itemRow, kManufacturerCol, u"&DI_Manufacturer", kItemText);
    b.Text(itemRow, kQuantityCol, u"&DI_QtyTotal", kItemCentre);
    b.Text(itemRow, kUnitPriceCol, u"&DI_UnitPrice", kItemMoney);
    b.Text(itemRow, kExtendedCol, u"&DI_ExtendedPrice", kItemMoney);

    // Subtotal = SUMPRODUCT(D21:D22,E21:E22), quantity times unit price over
    // the item rows. Not SUM(F...): a subtotal line (type 4) puts its amount
    // in the extended-price column as text, which the spreadsheet re-reads as
    // a number, so a SUM over that column would count every section twice;
    // such lines, like comment lines (type 2), leave quantity and unit price
    // empty and add nothing here. Each ordinary line's =E*D is counted once.
    //
    // Both ranges run from the spacer row to the placeholder row. A
    // cells-down insert grows a range only when the insertion row lies
    // inside it below its first row; an insert at the first row just moves
    // the whole range. The line-item writer inserts every line at the
    // placeholder's current row (22, 23, ... 21+N), which is always the last
    // row of the range and never its first, so after N lines each range is
    // 21:(22+N): the empty spacer, all N lines and the cleared placeholder.
    // A one-row range D22:D22 would instead move down with the placeholder
    // and end up covering only the emptied cell below the last line. The two
    // columns are shifted one after the other, so between the two the ranges
    // differ in size; the formula is consistent again once both are done.
    const int subtotalRow = kSubtotalRow + 1;
    const int taxRow = kTaxRow + 1;
    const int totalRow = kTotalRow + 1;
    b.Text(subtotalRow, kUnitPriceCol, u"Subtotal", kTotalLabel);
    b.Formula(subtotalRow, kExtendedCol,
              biff::ptg::Rgce{}
                  .ArrayArea(kSpacerRow, kItemRow, kQuantityCol)
                  .ArrayArea(kSpacerRow, kItemRow, kUnitPriceCol)
                  .FuncVar(biff::ptg::kFuncSumProduct, 2),
              kTotalMoney);
    // Tax = ROUND(F23*D24, 2), the rate in its own cell so a user can change it.
    b.Number(taxRow, kQuantityCol, kTaxRate, kTaxRateFormat);
    b.Text(taxRow, kUnitPriceCol, u"Sales Tax", kTotalLabel);
    b.Formula(taxRow, kExtendedCol,
              biff::ptg::Rgce{}
                  .Ref(kSubtotalRow, kExtendedCol)
                  .Ref(kTaxRow, kQuantityCol)
                  .Multiply()
                  .Integer(2)
                  .Func(biff::ptg::kFuncRound),
              kTotalMoney);
    // Total = F23+F24.
    b.Text(totalRow, kUnitPriceCol, u"TOTAL", kGrandLabel);
    b.Formula(totalRow, kExtendedCol,
              biff::ptg::Rgce{}.Ref(kSubtotalRow, kExtendedCol).Ref(kTaxRow, kExtendedCol).Add(), kGrandMoney);

    // Notes and signature, in the description column so they move with it.
    b.Text(totalRow + 2, kColB, u"Notes", kNotesHeader);
    b.Text(totalRow + 3, kColB, u"&DH_ClosingNotes", kText);
    b.Text(totalRow + 5, kColB, u"Prices are valid for 30 days from the quote date.", kItalic);
    b.Text(totalRow + 6, kColB, u"Prepared by: &APP_LoggedInUserFullName", kText);
    b.Text(totalRow + 7, kColB, u"Email: &APP_LoggedInUserEmail", kText);
    b.Text(totalRow + 9, kColB, u"Thank you for your business!", kItalic);
    return sheet;
}

biff::Sheet NotesSheet() {
    biff::Sheet sheet;
    sheet.name = u"Notes";
    sheet.columnWidths = {{kColA, 90 * 256}};
    Builder b(sheet);
    b.Text(1, kColA, u"Internal notes", kSheetHeading);
    // Plain text only: the transfer fills the first worksheet alone, so a
    // placeholder here would stay as typed in every filled quote.
    b.Text(3, kColA, u"This sheet is not filled by the transfer: only the Quote sheet is.", kText);
    return sheet;
}

} // namespace

biff::Workbook BuildQuoteTemplate() {
    biff::Workbook book;
    AddFonts(book);
    book.formats[kCustomTotalFormat] = u"#,##0.00_);[Red]\\(#,##0.00\\)";
    AddCellFormats(book);
    book.sheets.push_back(QuoteSheet());
    book.sheets.push_back(NotesSheet());
    return book;
}

std::vector<std::uint8_t> WriteQuoteTemplateFile() {
    workbook::cfb::CompoundFile file;
    workbook::cfb::Entry stream;
    stream.name = u"Workbook";
    stream.type = workbook::cfb::Entry::Type::Stream;
    stream.data = biff::WriteWorkbookStream(BuildQuoteTemplate());
    file.entries.push_back(std::move(stream));
    return workbook::cfb::Write(file);
}

} // namespace vi2zezir::tools::quote_template
