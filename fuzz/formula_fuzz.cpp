// Fuzzes the formula library from both ends: the input as rgce bytes (as a
// hostile .xls would hand them over) and as formula text (as Replace would).
// Text that parses must print, and the printed form must be a fixed point:
// printing what it parses to gives the same text again.
#include "fuzz_check.h"
#include "workbook/contents.h"
#include "workbook/formula/formula.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace vi2zezir::workbook::formula;
using vi2zezir::workbook::Fold;

class FuzzWorkbook : public WorkbookContext {
public:
    std::optional<std::uint16_t> SheetOfIxti(std::uint16_t ixti) const override {
        return ixti < 3 ? std::optional<std::uint16_t>(ixti) : std::nullopt;
    }
    std::optional<std::uint16_t> IxtiOfSheet(std::uint16_t sheet) const override {
        return sheet < 3 ? std::optional<std::uint16_t>(sheet) : std::nullopt;
    }
    std::optional<std::u16string> SheetName(std::uint16_t sheet) const override {
        static const char16_t* names[] = {u"Sheet1", u"My Sheet", u"R1C1"};
        return sheet < 3 ? std::optional<std::u16string>(names[sheet]) : std::nullopt;
    }
    std::optional<std::uint16_t> SheetByName(std::u16string_view name) const override {
        for (std::uint16_t i = 0; i < 3; ++i)
            if (Fold(*SheetName(i)) == Fold(name)) return i;
        return std::nullopt;
    }
    std::optional<std::u16string> NameText(std::uint16_t index) const override {
        return index == 1 ? std::optional<std::u16string>(u"Rate") : std::nullopt;
    }
    std::optional<std::uint16_t> NameByText(std::u16string_view name) const override {
        return Fold(name) == u"rate" ? std::optional<std::uint16_t>(1) : std::nullopt;
    }
};

class FuzzCells : public EvalContext {
public:
    std::optional<CellValue> Cell(std::uint16_t sheet, CellPos pos) override {
        if (sheet == 2) return std::nullopt;
        switch ((pos.row + pos.col) % 4) {
        case 0: return CellValue{Blank{}};
        case 1: return CellValue{static_cast<double>(pos.row)};
        case 2: return CellValue{std::u16string(u"7")};
        default: return CellValue{true};
        }
    }
};

using vi2zezir::fuzz::Check;

void FromText(const std::u16string& text, const FuzzWorkbook& book) {
    Tokens tokens;
    try {
        tokens = Parse(text, book);
    } catch (const vi2zezir::workbook::Error&) {
        return;
    }
    const std::u16string printed = ToText(tokens, {}, book); // must not throw
    const Tokens again = Parse(printed, book);               // nor this
    Check(ToText(again, {}, book) == printed, "printed text is not a fixed point");
    FuzzCells cells;
    (void)Evaluate(tokens, 0, CellPos{3, 3}, book, cells);
}

void FromTokens(const std::uint8_t* data, std::size_t size, const FuzzWorkbook& book) {
    // The first byte splits the rest into rgce and rgcb.
    if (size == 0) return;
    const std::size_t split = std::min<std::size_t>(data[0], size - 1);
    Tokens tokens{{data + 1, data + size}, {}};
    tokens.rgcb.assign(tokens.rgce.begin() + static_cast<std::ptrdiff_t>(split), tokens.rgce.end());
    tokens.rgce.resize(split);
    try {
        const std::u16string text = ToText(tokens, CellPos{7, 7}, book);
        try {
            Parse(text, book);
        } catch (const vi2zezir::workbook::Error&) {}
    } catch (const vi2zezir::workbook::Error&) {}
    FuzzCells cells;
    (void)Evaluate(tokens, 0, CellPos{7, 7}, book, cells);
    try {
        (void)Unshare(tokens, CellPos{65535, 255});
        (void)ShiftForInsert(tokens, 0, InsertShift{0, 3, 1, 65535}, book);
        std::vector<std::pair<std::uint16_t, std::uint16_t>> columns;
        CollectReferencedColumns(tokens, 0, book, columns);
    } catch (const vi2zezir::workbook::Error&) {}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const FuzzWorkbook book;
    FromTokens(data, size, book);

    std::u16string narrow = u"="; // bytes as Latin-1 / ASCII text
    for (std::size_t i = 0; i < size; ++i) narrow.push_back(data[i]);
    FromText(narrow, book);

    std::u16string wide; // bytes as UTF-16LE
    for (std::size_t i = 0; i + 1 < size; i += 2) wide.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    FromText(wide, book);
    return 0;
}
