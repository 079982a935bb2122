// Builds without the package layer (the Windows stand-in, where Excel itself
// opens .xlsx) refuse packages with a reason.
#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

std::unique_ptr<Workbook> LoadPackage(std::span<const std::uint8_t>) {
    throw Error(ErrorKind::Unsupported, "it is an .xlsx workbook, which this build of the engine does not read");
}

} // namespace vi2zezir::workbook
