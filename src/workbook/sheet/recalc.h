// Stored results of the editable sheet's formulas after edits: a formula whose
// inputs did not change keeps the result Excel stored, byte for byte; one that
// reads a changed cell (directly, through other formulas, through a defined
// name or through another sheet) gets the result Excel would compute, or,
// where the evaluator cannot give Excel's answer, keeps its stored result and
// is flagged for the spreadsheet to compute on opening.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vi2zezir::workbook {

class Workbook;

// Brings the cached results of the formulas that depend on changed cells up
// to date before a save.
void UpdateCachedResults(Workbook& wb);

// Evaluates every formula of the editable sheet from the stored results
// around it and compares each with its own stored result: Excel's stored
// results are the oracle for the evaluator. An array formula counts once per
// cell of its range.
struct StoredResultsCheck {
    std::size_t formulas = 0;
    std::size_t agreeing = 0;
    std::size_t declined = 0;
    struct Disagreement {
        std::uint32_t row = 0;
        std::uint16_t col = 0;
        std::u16string formula; // formula-bar text
        std::u16string stored;
        std::u16string computed;
    };
    std::vector<Disagreement> disagreements;
    std::vector<Disagreement> declinedCells; // stored result only
};
StoredResultsCheck CheckStoredResults(Workbook& wb);

} // namespace vi2zezir::workbook
