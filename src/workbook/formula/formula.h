// BIFF8 formulas: A1 text to tokens and back, reference shifting for a
// cells-down insert, and evaluation of cached results. Tokens are the raw
// rgce bytes of a FORMULA/NAME record; rgcb (array constants) travels beside.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "workbook/error.h"

namespace vi2zezir::workbook::formula {

struct Tokens {
    std::vector<std::uint8_t> rgce;
    std::vector<std::uint8_t> rgcb;
    friend bool operator==(const Tokens&, const Tokens&) = default;
};

// Zero-based cell position; BIFF8 has 65,536 rows and 256 columns.
struct CellPos {
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    friend bool operator==(CellPos, CellPos) = default;
};

inline constexpr std::uint32_t kMaxRows = 65536;
inline constexpr std::uint16_t kMaxCols = 256;

// What the workbook around a formula knows: sheets by EXTERNSHEET index
// (ixti) and defined names by one-based index.
class WorkbookContext {
public:
    virtual ~WorkbookContext() = default;
    // Zero-based sheet index an ixti refers to (first sheet of its range), or
    // nullopt for external or deleted references.
    virtual std::optional<std::uint16_t> SheetOfIxti(std::uint16_t ixti) const = 0;
    // First and last sheet of a 3-D reference's range ("Sheet1:Sheet3!A1").
    virtual std::optional<std::pair<std::uint16_t, std::uint16_t>> SheetsOfIxti(std::uint16_t ixti) const {
        const auto sheet = SheetOfIxti(ixti);
        if (!sheet) return std::nullopt;
        return std::pair{*sheet, *sheet};
    }
    virtual std::optional<std::uint16_t> IxtiOfSheet(std::uint16_t sheet) const = 0;
    virtual std::optional<std::u16string> SheetName(std::uint16_t sheet) const = 0;
    virtual std::optional<std::uint16_t> SheetByName(std::u16string_view name) const = 0;
    virtual std::optional<std::u16string> NameText(std::uint16_t nameIndex) const = 0;
    virtual std::optional<std::uint16_t> NameByText(std::u16string_view name) const = 0;
};

// "=C5 * D5" (leading "=" required) to tokens of value class, with the
// spaces kept as PtgAttrSpace; references and function names in any case.
// Throws Error (BadFormula) for text that is not a formula we can store.
Tokens Parse(std::u16string_view text, const WorkbookContext& context);

// Tokens back to formula-bar text ("=C5 * D5"), upper-case, en-US syntax.
// host is the cell the formula belongs to (for relative PtgRefN/PtgAreaN).
// Throws Error (BadFormula) for malformed tokens, unknown defined names and external
// names. Placeholders that Parse refuses: "=_SHARED(C5)" for PtgExp,
// "=_TABLE(C5)" for PtgTbl, "_FUNCn(...)" for an unknown function number n,
// "#REF!A1" for a 3-D reference to a sheet the workbook does not know.
std::u16string ToText(const Tokens& tokens, CellPos host, const WorkbookContext& context);

// A shared formula's tokens (PtgRefN/PtgAreaN) as an ordinary formula of the
// cell at host.
Tokens Unshare(const Tokens& shared, CellPos host);

// Inserting `count` cells at (row, col) of sheet `sheet`, shifting down.
// A single-column reference to col at or below row moves; an area within that
// one column grows when row lies strictly inside it and moves when it starts
// at or below row. Refs pushed past the last row become #REF!. formulaSheet is
// the sheet the formula lives on (for refs without a sheet). Returns the new
// tokens when anything changed. An area whose start stays on the sheet keeps
// its end at the last row; PtgRefN/PtgAreaN are left alone (unshare first).
// Throws Error (BadFormula) for malformed tokens.
struct InsertShift {
    std::uint16_t sheet = 0;
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    std::uint32_t count = 1;
};
std::optional<Tokens> ShiftForInsert(const Tokens& tokens, std::uint16_t formulaSheet, const InsertShift& shift,
                                     const WorkbookContext& context);

// True when any reference of the formula points into the shifted band (for
// cheap indexing by the model): the columns each reference touches. Appends
// (sorted, without duplicates among this call's entries); skips PtgRefN/AreaN
// and 3-D references to sheets the workbook does not know.
void CollectReferencedColumns(const Tokens& tokens, std::uint16_t formulaSheet, const WorkbookContext& context,
                              std::vector<std::pair<std::uint16_t, std::uint16_t>>& sheetAndCol);

// Every cell a formula can read, for dependency tracking: the areas of its
// references (a 3-D one over its sheets), the defined names it uses, and
// whether it can reach cells its tokens do not name (OFFSET, INDIRECT, a
// data table, a name with relative references...). Relative tokens are
// resolved against host. References to other workbooks are left out.
struct Reference {
    std::uint16_t sheetFirst = 0;
    std::uint16_t sheetLast = 0;
    std::uint32_t rowFirst = 0;
    std::uint32_t rowLast = 0;
    std::uint16_t colFirst = 0;
    std::uint16_t colLast = 0;
};
struct References {
    std::vector<Reference> areas;
    std::vector<std::uint16_t> names; // one-based
    bool anywhere = false;
};
// inName: the tokens are a defined name's, whose relative references move
// with the cell that uses the name.
void CollectReferences(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host, const WorkbookContext& context,
                       bool inName, References& out);

// A cell's value as a formula sees it.
struct ErrorValue {
    std::uint8_t code = 0; // 0x00 #NULL!, 0x07 #DIV/0!, 0x0F #VALUE!, 0x17 #REF!, 0x1D #NAME?, 0x24 #NUM!, 0x2A #N/A
    friend bool operator==(ErrorValue, ErrorValue) = default;
};
struct Blank {
    friend bool operator==(Blank, Blank) = default;
};
using CellValue = std::variant<Blank, double, std::u16string, bool, ErrorValue>;

class EvalContext {
public:
    virtual ~EvalContext() = default;
    // The value of a cell (a formula cell's current result). nullopt when it
    // cannot be known (another sheet the engine does not read, a cycle).
    virtual std::optional<CellValue> Cell(std::uint16_t sheet, CellPos pos) = 0;
    // The tokens of a defined name (one-based), or nullopt when unknown.
    virtual std::optional<Tokens> NameTokens(std::uint16_t /*nameIndex*/) { return std::nullopt; }
};

// Computes the formula's result, or nullopt when a token or function is
// beyond the evaluator (the caller then flags the cell for recalculation).
// Malformed tokens also give nullopt.
std::optional<CellValue> Evaluate(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host,
                                  const WorkbookContext& context, EvalContext& cells);

// An array formula over rows x cols cells with host at the top left: the
// values of its cells row by row, as Excel spreads the result over the range
// (a single row or column repeated, #N/A beyond a smaller result), or nullopt
// as for Evaluate.
std::optional<std::vector<CellValue>> EvaluateArray(const Tokens& tokens, std::uint16_t formulaSheet, CellPos host,
                                                    std::uint32_t rows, std::uint16_t cols,
                                                    const WorkbookContext& context, EvalContext& cells);

} // namespace vi2zezir::workbook::formula
