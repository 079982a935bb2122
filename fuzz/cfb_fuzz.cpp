// libFuzzer target for the compound-file reader: any input either reads or
// throws Error; whatever reads must survive a write and read back whole.
#include "workbook/xls/cfb.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace cfb = vi2zezir::workbook::cfb;
    cfb::CompoundFile file;
    try {
        file = cfb::Read({data, size});
    } catch (const vi2zezir::workbook::Error&) {
        return 0;
    }
    // A tree the reader accepted is one the writer must accept, and the
    // reader must accept the writer's output.
    const auto written = cfb::Write(file);
    const auto again = cfb::Read(written);
    if (again.entries.size() != file.entries.size()) std::abort();
    return 0;
}
