// The template check: what a transfer will do with every placeholder-like
// text of a template ("&DH_", "&DI_" or "&APP_" in any letter case), under
// the short list (Tendrix major version 3) and the full list (any other).
// The verdicts come from simulated transfers through the real writers.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/simulation.h"

namespace vi2zezir::workbook {
struct WorkbookContents;
}

namespace vi2zezir::check {

// The two VersionMajor texts the check simulates: the short list, the full list.
inline constexpr std::array<std::u16string_view, 2> kVersions = {u"3", u"4"};

// A template the check cannot read; the text is the reason.
class CheckError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class FateKind {
    Filled,         // replaced whole by the placeholder of its own name
    Swallowed,      // a shorter placeholder took the start of it
    OtherEntry,     // taken whole, but by an entry with another field name
    ClearedNoLines, // an item placeholder cleared without receiving a line
    LinesSpread,    // some of its lines go to another cell
    NotProcessed,   // a known name the list in force does not hold
    Unknown,        // in no table
    NeverFilled,    // not on the worksheet that is filled
};
const char* FateKey(FateKind kind);

struct Fate {
    FateKind kind = FateKind::Unknown;
    std::u16string placeholder;      // the table entry that took the text
    std::u16string field;            // what Tendrix is asked for
    std::u16string cellShows;        // the template cell's text after the transfer
    CellPos finalPos;                // where the template cell stands then
    std::vector<LineWrite> lines;    // item: the lines written above this cell
    std::vector<CellPos> otherLines; // item: lines of the same placeholder elsewhere
};

struct Placeholder {
    std::size_t sheet = 0;
    CellPos pos;
    std::u16string text;
    Family family = Family::Header;
    std::optional<std::u16string> suggestion; // nearest known name, for names no table holds
    std::array<Fate, kVersions.size()> fates;
};

enum class Category {
    TransferFails,
    Unknown,
    Swallowed,
    OtherEntry,
    LinesElsewhere,
    NotProcessed,
    OutsideItemRow,
    PlainExtendedPrice,
    NeverFilled,
    ExtendedPriceFormula,
    Filled,
};
inline constexpr std::size_t kCategoryCount = 11;
const char* CategoryKey(Category category);
const char* CategoryTitle(Category category);
bool NeedsAttention(Category category);

struct Finding {
    Category category = Category::Filled;
    std::optional<std::size_t> placeholder; // index into Report::placeholders
    std::u16string cell;                    // "F8", or "Notes!A4" off the filled sheet
    std::u16string message;
};

struct Report {
    std::vector<std::u16string> sheetNames;
    std::size_t filledSheet = 0;
    std::vector<Placeholder> placeholders;
    std::vector<Finding> findings;

    bool NeedsAttention() const;
};

// Reads the template (never writing it) and checks it. Throws CheckError.
Report CheckTemplateFile(const std::filesystem::path& path);
Report CheckWorkbook(workbook::WorkbookContents book);

// The nearest name of the tables (edit distance, letters without regard to case).
std::u16string NearestKnownName(std::u16string_view text);

// "F8" on the filled sheet, "Notes!A4" or "'My notes'!A4" on another.
std::u16string FindingCell(const Report& report, std::size_t sheet, CellPos pos);

} // namespace vi2zezir::check
