// The in-memory workbook behind the engine. The globals and every sheet but
// the editable one stay the records they were read as; the first worksheet
// is held as cells, stored column by column so that a cells-down insert
// touches only the cells below it in its column, with an index from column to
// the formulas that refer to it and a cache of Find results kept correct
// under inserts and writes.
//
// The seam between the sheet semantics and the file format. The operations
// (Find, Replace, inserts, typed input, recalculation) work on cells,
// formulas as tokens, shared strings and the CellStyles interface
// (sheet/styles.h): number format and quote prefix of a cell format, and new
// formats cloned from one. The .xls reader (xls/reader.cpp) fills the model
// and gives it an xls::XfTable; the writer (xls/writer.cpp) serialises it.
// A second format implements CellStyles the same way.
//
// Not yet behind the seam, and the next step for a second format: what the
// model keeps as BIFF records rather than as cells. globals_ and
// sheetRecords_ hold the globals and the other sheets as RawRecords, and the
// operations still read them directly in three places: SheetTexts reads the
// text cells of other sheets (LABEL, LABELSST, RSTRING), ShiftFormulaSites
// rewrites the rgce of formulas in other sheets and NAME records in place
// (FormulaSite), and Recalculation reads values and NAME formulas from those
// records to evaluate and writes cached results back. Each wants a small
// interface of its own: "the texts of sheet s", "shift the formulas of other
// sheets and names", "the value of a cell of another sheet / what depends on
// this cell".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "workbook/contents.h"
#include "workbook/formula/formula.h"
#include "workbook/sheet/shared_strings.h"
#include "workbook/sheet/styles.h"
#include "workbook/xls/biff.h"
#include "workbook/xls/cfb.h"

namespace vi2zezir::workbook {

inline constexpr std::uint32_t kLastRow = formula::kMaxRows - 1;
static_assert(kSheetRows == formula::kMaxRows && kSheetCols == formula::kMaxCols);
static_assert(kMaxWorkbookFileSize == cfb::kMaxFileSize);
inline constexpr std::uint16_t kDefaultXf = 15;

enum class CellKind : std::uint8_t { Blank, Number, Text, Boolean, Error, Formula };

// 24 bytes: a filled sheet holds hundreds of thousands. Only the field of
// the cell's kind is read: number for Number, index for Text and Formula.
struct Cell {
    std::uint32_t row = 0;
    std::uint16_t xf = kDefaultXf;
    CellKind kind = CellKind::Blank;
    std::uint8_t small = 0; // boolean 0/1 or error code
    std::uint64_t sig = 0;  // characters of the formula-bar text (see FindIndex)
    union {
        double number = 0;
        std::uint32_t index; // SST index (Text) or formula id (Formula)
    };
};
static_assert(sizeof(Cell) == 24);

struct Column {
    std::vector<Cell> cells; // ascending rows
    std::uint64_t sigUnion = 0;
    // The lowest row written, or moved or added by an insert, since load.
    std::uint32_t changedFrom = UINT32_MAX;
    void NoteChanged(std::uint32_t row) { changedFrom = row < changedFrom ? row : changedFrom; }
};

struct FormulaCell {
    formula::Tokens tokens;
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    std::uint16_t grbit = 0;
    std::array<std::uint8_t, 8> cached{}; // the record's cached value bytes
    std::u16string cachedText;            // string result (String record)
    // An ARRAY/TABLE record owned by this cell (raw payload), written after it.
    std::uint16_t extraOpcode = 0;
    std::vector<std::uint8_t> extra;
    bool live = true;
    bool arrayHost = false; // tokens came from the ARRAY record; the cell holds PtgExp
    bool expMember = false; // an array member: its tokens are PtgExp to the host
    bool dirty = false;     // written, edited or shifted since load
    bool textValid = false;
    std::u16string text;                // formula-bar text, when textValid
    std::vector<std::uint16_t> columns; // columns of this sheet it refers to
};

struct RawRecord {
    std::uint16_t opcode = 0;
    std::vector<std::uint8_t> data;
};

struct Area {
    std::uint32_t r1 = 0, r2 = 0;
    std::uint16_t c1 = 0, c2 = 0;
};

inline constexpr std::uint16_t kNameSite = 0xFFFF;

// A record of another sheet or of the globals whose formula follows inserts.
struct FormulaSite {
    std::uint16_t sheet = 0;  // index into sheets_ order, or kNameSite for a NAME
    std::uint32_t record = 0; // index in that record list
    std::size_t rgceOffset = 0;
    std::size_t cce = 0;
};

// Content as typed input or an automation value turns into. It is made and
// put within one call, so the text refers to the caller's characters rather
// than copying them (a copy per text cell was a heap block per line).
struct Content {
    CellKind kind = CellKind::Blank;
    double number = 0;
    std::u16string_view text;
    std::uint8_t small = 0;
    formula::Tokens tokens; // Formula
    // Number format the cell takes when its own format is General (or, for
    // dates, is no date format); 0 = keep the cell's format.
    std::uint16_t numberFormat = 0;
    bool onlyWhenNoDateFormat = false;
    // Text entered with a leading apostrophe: the cell keeps Excel's quote
    // prefix, which is no part of the content. Any other entry clears it.
    bool quotePrefix = false;
};

// Positions that follow their cell when an insert moves it (Range objects).
// A tracked position is registered with the workbook while it lives; `slot`
// is its place in the workbook's list, kept by Track and Untrack.
struct TrackedPos {
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    std::size_t slot = 0;
};

class Workbook;

// What a file format other than .xls keeps beside the model: the parts of the
// file the model does not hold. It refuses an insert it could not carry out
// faithfully, follows the inserts the model makes, and writes the file.
class FormatKeeper {
public:
    virtual ~FormatKeeper() = default;
    // Throws Error (RefusedEdit), before anything moves.
    virtual void CheckInsert(const Workbook& wb, std::uint32_t row, std::uint16_t col) const = 0;
    virtual void Inserted(Workbook& wb, const formula::InsertShift& shift) = 0;
    // The file, once the cached results are up to date.
    virtual std::vector<std::uint8_t> Save(Workbook& wb) = 0;
    // The text cells of a sheet the model does not hold, for tools that
    // inspect a template.
    struct Text {
        std::uint32_t row = 0;
        std::uint16_t col = 0;
        std::u16string text;
    };
    virtual std::vector<Text> OtherSheetTexts(const Workbook& wb, std::size_t sheet) const = 0;
};

// A workbook package (.xlsx, .xlsm), read into the model; defined where the
// package layer is built (Error, Unsupported, otherwise).
std::unique_ptr<Workbook> LoadPackage(std::span<const std::uint8_t> fileBytes);
// Whether the bytes begin as a zip file does.
bool IsPackage(std::span<const std::uint8_t> fileBytes) noexcept;

class Workbook : private formula::WorkbookContext {
public:
    // Parses a whole .xls file, or a package (LoadPackage). Throws Error with
    // the reason.
    static std::unique_ptr<Workbook> Load(std::span<const std::uint8_t> fileBytes);
    ~Workbook() override;

    // The new .xls file. Formulas whose inputs changed get fresh cached
    // results (or are flagged for recalculation when they cannot be computed);
    // the others keep the results they were read with.
    std::vector<std::uint8_t> Save();
    // Whether the workbook was read from a package and is written as one.
    bool IsPackageWorkbook() const { return keeper_ != nullptr; }
    // What the package's format keeps beside the model (tests and tools).
    FormatKeeper* Keeper() const { return keeper_.get(); }

    std::size_t SheetCount() const { return sheets_.size(); }
    std::size_t WorksheetCount() const;

    // ---- operations on the editable (first) worksheet; may throw Error (RefusedEdit)
    // Excel's Find with a new instance's settings: formulas, part, by rows,
    // case-insensitive; the search starts after A1 and ends with A1.
    std::optional<TrackedPos> Find(std::u16string_view what);
    // Each changed cell is entered again as typed, or kept text where it has
    // the quote prefix; a result that cannot be entered throws Error (RefusedEdit)
    // naming its cell.
    void Replace(std::u16string_view what, std::u16string_view replacement);
    void InsertShiftDown(std::uint32_t row, std::uint16_t col);
    void PutContent(std::uint32_t row, std::uint16_t col, const Content& content);
    // Typed-input rules (en-US): numbers, percentages, currency, dates (also
    // with month names), times, booleans, "=" formulas, the leading
    // apostrophe. Throws Error (RefusedEdit) for a formula that does not parse.
    Content ParseTypedInput(std::u16string_view text, std::uint32_t row, std::uint16_t col);
    formula::Tokens ParseFormula(std::u16string_view text);
    // The number format of that code, added to the workbook when new.
    std::uint16_t CustomFormat(const std::u16string& code);

    // The formula-bar text of a cell ("" when empty), as Find sees it.
    std::u16string CellText(std::uint32_t row, std::uint16_t col);
    const Cell* CellAt(std::uint32_t row, std::uint16_t col) const;
    std::uint16_t NumberFormatOfXf(std::uint16_t xf) const;
    // Whether cells of that format carry the quote prefix: their text stays
    // text through a Replace, and the formula bar shows it after an apostrophe.
    bool HasQuotePrefix(std::uint16_t xf) const;
    std::u16string FormatCode(std::uint16_t ifmt) const;
    std::span<const Area> Merges() const { return merges_; }

    // Registers the position (its row and col set) so that inserts move it;
    // Untrack must be called before it goes away. Both are O(1): the item
    // writer makes several ranges on every line.
    void Track(TrackedPos& pos);
    void Untrack(TrackedPos& pos);

    // ---- read-only view of every sheet, for tools that inspect a template
    using SheetText = workbook::SheetText;
    // Sheets are numbered in workbook order; EditableSheet() is the first
    // worksheet, the one the operations above change.
    std::size_t EditableSheet() const { return editable_; }
    const std::u16string& SheetNameAt(std::size_t sheet) const { return sheets_.at(sheet).name; }
    // The non-empty cells of a sheet, by rows: for the editable sheet the
    // formula-bar text of every cell (what Find searches), for the others the
    // text of their text cells as read. With `containing`, only the texts
    // that hold that character, found without making the others.
    std::vector<SheetText> SheetTexts(std::size_t sheet, std::optional<char16_t> containing = std::nullopt);

private:
    Workbook();
    friend class XlsReader;
    friend class XlsWriter;
    friend class Recalculation;
    friend class XlsxReader;
    friend class XlsxWriter;
    friend class XlsxKeeper;
    friend class SheetHandler;
    friend std::unique_ptr<Workbook> LoadPackage(std::span<const std::uint8_t> fileBytes);

    // formula::WorkbookContext
    std::optional<std::uint16_t> SheetOfIxti(std::uint16_t ixti) const override;
    std::optional<std::pair<std::uint16_t, std::uint16_t>> SheetsOfIxti(std::uint16_t ixti) const override;
    std::optional<std::uint16_t> IxtiOfSheet(std::uint16_t sheet) const override;
    std::optional<std::u16string> SheetName(std::uint16_t sheet) const override;
    std::optional<std::uint16_t> SheetByName(std::u16string_view name) const override;
    std::optional<std::u16string> NameText(std::uint16_t nameIndex) const override;
    std::optional<std::uint16_t> NameByText(std::u16string_view name) const override;

    Cell* FindCell(std::uint16_t col, std::uint32_t row);
    void SetCell(std::uint32_t row, std::uint16_t col, const Content& content);
    void ClearFormula(const Cell& cell);
    std::uint32_t AddFormula(formula::Tokens tokens, std::uint32_t row, std::uint16_t col);
    void IndexFormula(std::uint32_t id);
    std::uint32_t InternString(std::u16string_view text) { return sst_.Intern(text); }
    std::uint16_t XfWithFormat(std::uint16_t xf, std::uint16_t ifmt);
    std::uint16_t XfWithQuotePrefix(std::uint16_t xf, bool prefix);
    bool IsDateXf(std::uint16_t xf) const;
    bool IsTimeXf(std::uint16_t xf) const; // a date format that shows times too
    bool IsTextXf(std::uint16_t xf) const;
    const std::u16string& FormulaText(std::uint32_t id);
    std::u16string TextOf(const Cell& cell);
    std::uint64_t SigOf(const Cell& cell);
    void ShiftFormulaSites(const formula::InsertShift& shift);
    // A site's formula; a long NAME's runs on into the CONTINUE records after it.
    formula::Tokens SiteTokens(const FormulaSite& site) const;

    // Find cache
    struct FindEntry {
        std::u16string needle; // folded
        std::uint64_t sig = 0;
        std::vector<std::pair<std::uint32_t, std::uint16_t>> hits;
        std::uint64_t lastUse = 0;
    };
    FindEntry* LookupNeedle(std::u16string_view what);
    bool Matches(const Cell& cell, std::uint16_t col, const FindEntry& entry);
    void NoteCellChanged(std::uint32_t row, std::uint16_t col);
    void NoteCellChanged(std::uint32_t row, std::uint16_t col, const Cell* cell);

    std::unique_ptr<cfb::CompoundFile> file_; // the other streams, passed on unchanged
    std::unique_ptr<FormatKeeper> keeper_;    // a package's parts; null for .xls
    // The format of a cell that has none of its own (.xls: the first cell
    // format after the style formats; a package: its first).
    std::uint16_t defaultXf_ = kDefaultXf;
    std::u16string streamName_; // of the workbook stream, kept as read

    // ---- globals
    std::vector<RawRecord> globals_; // SST and EXTSST appear as empty markers
    SharedStrings sst_;
    std::uint32_t otherSheetsSstRefs_ = 0;
    std::unique_ptr<CellStyles> styles_; // an xls::XfTable for a workbook read from .xls
    std::unordered_map<std::uint32_t, std::uint16_t> xfWithFormat_;
    std::unordered_map<std::uint32_t, std::uint16_t> xfWithQuotePrefix_; // (xf << 1 | prefix) -> xf
    std::unordered_map<std::uint16_t, std::u16string> formats_;          // custom FORMAT records
    std::vector<std::pair<std::uint16_t, std::u16string>> addedFormats_;
    struct SheetInfo {
        std::u16string name;
        std::uint8_t type = 0; // BoundSheet dt: 0 worksheet, 2 chart, 6 VB module
        std::size_t boundSheetRecord = 0;
        std::uint32_t originalOffset = 0;
    };
    std::vector<SheetInfo> sheets_;
    std::uint16_t editable_ = 0;
    struct Xti {
        std::uint16_t supBook = 0;
        std::int16_t first = 0, last = 0;
    };
    std::vector<Xti> xti_;
    std::optional<std::uint16_t> internalSupBook_;
    std::vector<std::u16string> names_; // by one-based index - 1
    // Some formula result could not be computed: the file asks Excel to
    // recalculate every formula on opening.
    bool recalcOnOpen_ = false;

    // ---- other sheets, raw (index by sheets_ order; the editable one empty)
    std::vector<std::vector<RawRecord>> sheetRecords_;
    std::vector<std::uint8_t> trailing_; // the stream's bytes after the last sheet
    std::vector<FormulaSite> sites_;
    std::array<std::vector<std::uint32_t>, formula::kMaxCols> sitesByColumn_;

    // ---- the editable sheet
    std::vector<RawRecord> prefix_; // up to the cell table (INDEX/DIMENSIONS markers)
    std::vector<RawRecord> suffix_; // after it (MERGECELLS marker)
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> rowRecords_;
    std::optional<std::array<std::uint16_t, 2>> defaultRowHeight_; // DEFAULTROWHEIGHT's flags and height
    std::array<Column, formula::kMaxCols> columns_;
    std::vector<FormulaCell> formulas_;
    std::array<std::vector<std::uint32_t>, formula::kMaxCols> formulasByColumn_;
    std::vector<Area> merges_;
    std::vector<Area> arrays_;
    std::array<std::vector<TrackedPos*>, formula::kMaxCols> tracked_;
    std::vector<FindEntry> findCache_;
    std::size_t lastFound_ = 0; // the entry LookupNeedle returned last
    std::uint64_t findClock_ = 0;
};

// FoldCase and Fold, for comparisons without regard to case, are in contents.h.
// A 64-bit set of the (folded) characters of a text: a cheap pre-test for
// "contains".
std::uint64_t CharSig(std::u16string_view text) noexcept;

// Number text as the formula bar shows it in General format.
std::u16string GeneralNumberText(double value);
// Whether Excel shows the serial as a date: 0 (the day before 1 January
// 1900) up to 31 December 9999. False for NaN.
bool InDateRange(double serial);
// m/d/yyyy for a date serial (1900 date system); outside InDateRange the
// number in General.
std::u16string DateSerialText(double serial);
// The formula-bar text of a number in a date or time format: m/d/yyyy, with
// " h:mm:ss AM/PM" when it has a time part or the format shows one, the time
// alone under one day.
std::u16string DateTimeText(double serial, bool formatHasTime);
bool IsDateFormatCode(std::u16string_view code);
bool IsTimeFormatCode(std::u16string_view code);

} // namespace vi2zezir::workbook
