// libFuzzer target for the .xlsx workbook reader and writer: any package
// either loads or throws Error; one that loaded is filled a little as the
// item writer fills (a Find, an insert, typed input, a Replace), saved, and
// must load again from what was saved with as many sheets.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_check.h"
#include "workbook/sheet/model.h"

namespace {

using vi2zezir::fuzz::Check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace wb = vi2zezir::workbook;
    std::unique_ptr<wb::Workbook> book;
    try {
        book = wb::Workbook::Load({data, size});
    } catch (const wb::Error&) {
        return 0;
    }
    if (!book->IsPackageWorkbook()) return 0; // the .xls reader has a target of its own
    try {
        if (const auto found = book->Find(u"&DI_")) {
            book->InsertShiftDown(found->row, found->col);
            book->PutContent(found->row, found->col, book->ParseTypedInput(u"=A1+1", found->row, found->col));
        }
        book->InsertShiftDown(2, 1);
        book->PutContent(2, 1, book->ParseTypedInput(u"'0042", 2, 1));
        book->Replace(u"&DH_", u"12.5%");
    } catch (const wb::Error&) {
        // Excel's refusals (merged cells, arrays, formulas kept as written).
    }
    std::vector<std::uint8_t> saved;
    try {
        saved = book->Save();
    } catch (const wb::Error&) {
        return 0;
    }
    const auto again = wb::Workbook::Load(saved);
    Check(again->SheetCount() == book->SheetCount(), "sheet count changed through save");
    return 0;
}
