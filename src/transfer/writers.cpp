#include "transfer/writers.h"

#include <span>
#include <string>

#include "base/failure.h"
#include "text/modSTR.h"
#include "transfer/cell_text.h"
#include "transfer/placeholder_tables.h"

namespace vi2zezir::transfer {
namespace {

constexpr std::int16_t kCellTextLimit = 255;

// VersionMajor is read twice, once per comparison, and compared as text; a
// null makes neither comparison true, which selects the short list.
bool EqualsAsText(const Value& value, std::u16string_view text) { return value.IsNull() || ToText(value) == text; }

bool UsesShortList(quote::Application& quotingApp) {
    const bool is30 = EqualsAsText(quotingApp.VersionMajor(), u"3.0");
    const bool is3 = EqualsAsText(quotingApp.VersionMajor(), u"3");
    return is30 || is3;
}

// LineType compared as a number: null is never equal; text that is not a
// number fails with 13 "Type mismatch".
bool EqualsNumber(const Value& value, double number) {
    double n = 0;
    return ToNumber(value, n) && n == number;
}

std::u16string WithoutDollars(std::u16string address) {
    std::erase(address, u'$');
    return address;
}

// The row number before `rowText`, in decimal digits.
std::u16string RowAbove(const std::u16string& rowText) {
    long long row = 0;
    for (char16_t c : rowText) {
        if (c < u'0' || c > u'9' || row > 1'000'000'000) throw Failure(kTypeMismatch, "WriteItemFields");
        row = row * 10 + (c - u'0');
    }
    if (rowText.empty()) throw Failure(kTypeMismatch, "WriteItemFields");
    const std::string digits = std::to_string(row - 1);
    return std::u16string(digits.begin(), digits.end());
}

// A formula-like value goes in with the apostrophe that keeps it text. Where
// the placeholder began a cell the apostrophe is the cell's hidden prefix;
// where other text stood before it the apostrophe would show, and a second
// replace takes it out there. The prefix is no part of a cell's content, so
// that second replace cannot reach the cells it protects.
void ReplaceWithText(sheet::Worksheet& sheet, const std::u16string& what, const std::u16string& text) {
    const std::u16string kept = KeepAsText(text);
    sheet.Cells()->Replace(what, kept);
    if (kept != text) sheet.Cells()->Replace(kept, text);
}

} // namespace

void WriteHeaderFields(quote::Application& quotingApp, sheet::Worksheet& sheet) {
    const std::size_t last = UsesShortList(quotingApp) ? kHeaderShortLast : kHeaderFullLast;
    for (std::size_t i = 0; i <= last; ++i) {
        const std::u16string placeholder(kHeaderPlaceholders[i]);
        if (!sheet.Cells()->Find(placeholder)) continue;
        std::u16string text =
            ToText(quotingApp.DocFunctions()->GetDocumentHeaderValue(FieldName(placeholder, kHeaderPrefix)));
        if (!IsMemoPlaceholder(placeholder)) text = FitCellText(std::move(text), kCellTextLimit);
        ReplaceWithText(sheet, placeholder, text);
    }
}

void WriteItemFields(quote::Application& quotingApp, sheet::Worksheet& sheet) {
    const bool shortList = UsesShortList(quotingApp);
    const std::span<const std::u16string_view> table = shortList ? std::span<const std::u16string_view>(kItemShortList)
                                                                 : std::span<const std::u16string_view>(kItemFullList);

    // Both columns are taken once, before any cell moves.
    std::u16string unitPriceColumn, quantityColumn;
    if (auto cell = sheet.Cells()->Find(std::u16string(kUnitPricePlaceholder)))
        unitPriceColumn = modSTR::GetDelimitedField(cell->Address(), 2, u"$");
    if (auto cell = sheet.Cells()->Find(std::u16string(kQuantityPlaceholder)))
        quantityColumn = modSTR::GetDelimitedField(cell->Address(), 2, u"$");
    const bool priceFormula = !unitPriceColumn.empty() && !quantityColumn.empty();

    for (const std::u16string_view entry : table) {
        const std::u16string placeholder(entry);
        if (!sheet.Cells()->Find(placeholder)) continue;

        // The line count is a 16-bit counter: a document of more than 32,767
        // lines fails here, before a single cell has moved.
        const std::int16_t lineCount = ToInt16(quotingApp.ItemFunctions()->LineItemCount());
        const std::u16string fieldName = FieldName(placeholder, kItemPrefix);

        for (std::int16_t line = 0; line < lineCount; ++line) {
            // The placeholder's cell, one row lower with every line inserted
            // above it.
            std::shared_ptr<sheet::Range> placeholderCell = sheet.Cells()->Find(placeholder);
            if (!placeholderCell) throw Failure(kObjectNotSet, "WriteItemFields");
            const std::u16string lineCell = WithoutDollars(placeholderCell->Address());
            sheet.Range(lineCell)->Insert(sheet::xlShiftDown);

            std::int16_t lineIndex = line;
            const bool type2 = EqualsNumber(quotingApp.ItemFunctions()->LineItemGetValue(lineIndex, u"LineType"), 2);
            const bool type4 =
                !type2 && EqualsNumber(quotingApp.ItemFunctions()->LineItemGetValue(lineIndex, u"LineType"), 4);

            if (type2 || type4) {
                if (type2 ? !WrittenOnType2Line(placeholder) : !WrittenOnType4Line(placeholder))
                    continue; // the cell stays empty so the rows of all columns stay aligned
                const Value value = quotingApp.ItemFunctions()->LineItemGetValue(lineIndex, fieldName);
                sheet.Range(lineCell)->Cells()->SetValue(Value(KeepAsText(FitCellText(ToText(value), kCellTextLimit))));
            } else if (placeholder == kExtendedPricePlaceholder && priceFormula) {
                // The row is read from the placeholder's cell, now just below
                // the line's cell. Rows pass 32,767 on long quotes, so this is
                // not a 16-bit counter.
                const std::u16string rowText = modSTR::GetDelimitedField(placeholderCell->Address(), 3, u"$");
                const std::u16string row = RowAbove(rowText);
                sheet.Range(lineCell)->Cells()->SetFormula(u"=" + unitPriceColumn + row + u" * " + quantityColumn +
                                                           row);
            } else {
                sheet.Range(lineCell)->Cells()->SetValue(
                    KeepAsText(quotingApp.ItemFunctions()->LineItemGetValue(lineIndex, fieldName)));
            }
        }
        sheet.Cells()->Replace(placeholder, u"");
    }
}

void WriteMacroFields(quote::Application& quotingApp, sheet::Worksheet& sheet) {
    for (const std::u16string_view entry : kMacroPlaceholders) {
        std::u16string placeholder(entry);
        if (!sheet.Cells()->Find(placeholder)) continue;
        // The same variable goes to GetMacro (by reference) and to Replace.
        const std::u16string text = FitCellText(ToText(quotingApp.GetMacro(placeholder)), kCellTextLimit);
        ReplaceWithText(sheet, placeholder, text);
    }
}

} // namespace vi2zezir::transfer
