// libFuzzer target for the BIFF8 workbook reader: any input either loads or
// throws the engine's Error; a workbook that loaded must answer the engine's
// read-only questions, save, and load again from what it saved. It drives the
// model directly, below the automation layer, so it includes the internal
// header.
#include "fuzz_check.h"
#include "workbook/sheet/model.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using vi2zezir::fuzz::Check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace wb = vi2zezir::workbook;
    std::unique_ptr<wb::Workbook> book;
    try {
        book = wb::Workbook::Load({data, size});
    } catch (const wb::Error&) {
        return 0; // the engine's Open reports it as "cannot be opened"
    }
    (void)book->WorksheetCount();
    (void)book->Find(u"&DH_");
    for (std::uint16_t col = 0; col < 4; ++col)
        for (std::uint32_t row = 0; row < 40; ++row) (void)book->CellText(row, col);

    std::vector<std::uint8_t> saved;
    try {
        saved = book->Save();
    } catch (const wb::Error&) {
        return 0; // a workbook too large to write again is refused, not crashed on
    }
    // What the engine wrote it must read back, with as many sheets.
    const auto again = wb::Workbook::Load(saved);
    Check(again->SheetCount() == book->SheetCount(), "sheet count changed through save");
    return 0;
}
