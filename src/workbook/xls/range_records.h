// Sheet records after the cell table that name cells of their own:
// hyperlinks, comments, conditional formats and data validations. When an
// insert pushes cells down, these follow their cells by the rule formulas follow:
// a range lying wholly in the shifted column moves when it starts at or
// below the insertion row and grows when that row lies strictly inside it;
// ranges that span other columns stay as they are.
#pragma once

#include <vector>

#include "workbook/formula/formula.h"
#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

// Applies the insert to every range and formula of RECORDS (the editable
// sheet's records after its cell table). Records too short for what they
// claim are left as they are; a conditional format or validation whose every
// range is pushed off the sheet is dropped with its rules.
void ShiftRangeRecords(std::vector<RawRecord>& records, const formula::InsertShift& shift,
                       const formula::WorkbookContext& context);

} // namespace vi2zezir::workbook
