// A transfer without Tendrix and without touching the template: the real
// writers run against a sheet made of the template's cell texts, with a
// quoting application that answers every request with a marker naming the
// field ("⟦DH:DocNo⟧"). What the writers asked for, which template
// characters each placeholder replaced and where every line went is the
// check's evidence; nothing about matching is decided here a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/contents.h"

namespace vi2zezir::check {

enum class Family { Header, Item, Macro };
const char* FamilyName(Family family);

// Two ordinary lines: enough to see where a second line goes when two cells
// match one item placeholder.
inline constexpr std::int16_t kSimulatedLines = 2;

// The values the simulated quote holds. None of them contains "&", so no
// value can be taken for a placeholder later in the run.
std::u16string HeaderMarker(std::u16string_view fieldName);
std::u16string ItemMarker(std::u16string_view fieldName, int line); // line from 1
std::u16string MacroMarker(std::u16string_view placeholder);

// A cell of the template and its formula-bar text, as the engine reads it.
using TemplateCell = workbook::SheetText;

struct CellPos {
    std::uint32_t row = 0;
    std::uint16_t col = 0;
    friend bool operator==(CellPos, CellPos) = default;
};

// Template characters [start, end) of one cell that a placeholder replaced.
struct Claim {
    std::size_t cell = 0; // index into the template cells
    std::size_t start = 0;
    std::size_t end = 0;
    Family writer = Family::Header;
    std::u16string placeholder; // the table entry, as the writer searched for it
    std::u16string replacement;
};

// One line value of an item placeholder, written into the cell inserted
// above the template cell the writer found.
struct LineWrite {
    std::size_t cell = 0; // the template cell the writer found
    std::u16string placeholder;
    int line = 0; // from 1
    CellPos pos;  // where it stands when the run is over
    std::u16string content;
    bool formula = false;
};

struct SimulatedRun {
    std::u16string versionMajor;
    std::vector<Claim> claims;
    std::vector<LineWrite> lines;
    // Per template cell: where it stands after the run. What a cell shows
    // then is its template text, unless the run changed it: changedText, by
    // template cell.
    std::vector<CellPos> finalPos;
    std::map<std::size_t, std::u16string> changedText;
    // The writers' failure, when the run did not reach its end.
    std::optional<std::u16string> failure;
};

// `cells`: the template cells that hold an "&", by rows. The others take no
// part: every text the writers search for holds one (the placeholders begin
// with it, and the markers need no second replace), so no other cell can be
// found or changed, and an insert moves a column's cells alike whether they
// are there or not.
SimulatedRun SimulateTransfer(std::span<const TemplateCell> cells, std::u16string_view versionMajor);

// "C12" for a zero-based position.
std::u16string CellAddress(CellPos pos);

} // namespace vi2zezir::check
