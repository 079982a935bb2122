// Templates for the check's tests, each holding the mistakes a template
// author makes, and the real transfer the check's predictions are held to.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "check/simulation.h"

namespace vi2zezir::test {

namespace fs = std::filesystem;

const fs::path kQuote40 = fs::path(VZ_SOURCE_DIR) / "examples" / "quote40.xls";

// A file name of its own in the temporary directory.
fs::path TempFile(const std::string& name);

// Cells to put into a template: (A1 address, text).
using CellEdits = std::vector<std::pair<std::u16string, std::u16string>>;

// examples/quote40.xls opened with the engine, the cells put in through
// SheetHost, saved by making the application visible. An empty text clears
// the cell. A cell of another sheet ("Notes!A4"), which the engine does not
// change, is written into the generator's workbook first.
fs::path EditedQuote40(const std::string& name, const CellEdits& cells);

// The mistakes a template author makes, as cells put into quote40. Its item
// row 22: B description, C manufacturer, D quantity, E unit price, F extended
// price. The manufacturer becomes the full list's part number; the quantity
// goes, so the extended price loses its formula.
inline const CellEdits kMistakes = {
    {u"H3", u"&DH_SoldToCompnay"},  {u"H4", u"Phone: &DH_SoldToPhoneExt"},
    {u"H5", u"&DH_SoldToPoNumber"}, {u"C22", u"&DI_ManufacturerPartNumber"},
    {u"G22", u"&DI_Notes"},         {u"D22", u""},
    {u"H30", u"&DI_CustomText01"},  {u"Notes!A4", u"Quote reference: &DH_DocNo"},
};

// The generator's quote, every placeholder of it one that both version lists
// fill, without its notes sheet and with its item description in lower case.
fs::path CleanTemplate(const std::string& name);

// The filled workbook of a real transfer: the engine, the three writers and
// a quoting application answering the check's marker values, two ordinary
// lines. Texts of the filled sheet by position, and of every sheet by name.
struct FilledWorkbook {
    std::map<std::pair<std::uint32_t, std::uint16_t>, std::u16string> filled;
    std::map<std::u16string, std::map<std::pair<std::uint32_t, std::uint16_t>, std::u16string>> sheets;
    std::u16string At(check::CellPos pos) const;
};
FilledWorkbook RealTransfer(const fs::path& templatePath, std::u16string_view versionMajor);

} // namespace vi2zezir::test
