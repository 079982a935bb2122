#include "check/simulation.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "base/failure.h"
#include "base/utf.h"
#include "servers/quote_source.h"
#include "servers/sheet_host.h"
#include "transfer/writers.h"
#include "workbook/contents.h"

namespace vi2zezir::check {
namespace {

constexpr std::size_t kNoTemplateCell = std::numeric_limits<std::size_t>::max();
constexpr std::int64_t kNotTemplateText = -1;

// A cell of the simulated sheet that a search can reach. Each character
// remembers where in the template text it came from, so a replacement can be
// traced back to the template characters it took.
struct SimCell {
    std::size_t templateCell = kNoTemplateCell;
    CellPos pos;
    std::u16string text;
    std::u16string folded;            // text without letter case, for the searches
    std::vector<std::int64_t> origin; // per character: template offset or kNotTemplateText
    bool changed = false;             // the run changed the text
    bool formula = false;
    // For a cell the item writer wrote a line into.
    std::size_t lineOf = kNoTemplateCell;
    std::u16string linePlaceholder;
    int line = 0;
};

using CellRef = SimCell*; // cells never move in memory while the sheet lives

class SimSheet;

class SimRange : public sheet::Range {
public:
    // cell == nullptr: all cells of the sheet.
    SimRange(SimSheet& sheet, CellRef cell) : sheet_(sheet), cell_(cell) {}

    std::shared_ptr<sheet::Range> Find(const std::u16string& what) override;
    void Replace(const std::u16string& what, const std::u16string& replacement) override;
    std::u16string Address() override;
    void Insert(std::int32_t shift) override;
    std::shared_ptr<sheet::Range> Cells() override { return std::make_shared<SimRange>(sheet_, cell_); }
    void SetValue(const Value& value) override;
    void SetFormula(const std::u16string& formula) override;

private:
    void RequireCell(const char* source) const {
        if (!cell_) throw Failure(kApplicationDefined, u"A single cell is needed here.", source);
    }

    SimSheet& sheet_;
    CellRef cell_;
};

class SimSheet : public sheet::Worksheet {
public:
    SimSheet(std::span<const TemplateCell> cells, SimulatedRun& run) : templateCells_(cells), run_(run) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            SimCell& cell = cells_.emplace_back();
            cell.templateCell = i;
            cell.pos = {cells[i].row, cells[i].col};
            cell.text = cells[i].text;
            cell.folded = workbook::Fold(cell.text);
            cell.origin.resize(cell.text.size());
            for (std::size_t k = 0; k < cell.origin.size(); ++k) cell.origin[k] = static_cast<std::int64_t>(k);
        }
    }

    void SetWriter(Family writer) { writer_ = writer; }

    std::shared_ptr<sheet::Range> Cells() override { return std::make_shared<SimRange>(*this, nullptr); }

    std::shared_ptr<sheet::Range> Range(const std::u16string& cell1) override {
        const auto pos = ParseAddress(cell1);
        if (!pos) throw Failure(kApplicationDefined, u"'" + cell1 + u"' is not a cell address.", "Worksheet.Range");
        return std::make_shared<SimRange>(*this, CellAt(*pos));
    }

    // The spreadsheet's search: by rows from the cell after A1, A1 last; the
    // text anywhere in the cell, letters without regard to case.
    CellRef Find(const std::u16string& what) {
        lastFindWhat_ = what;
        lastFound_ = nullptr;
        if (what.empty()) return nullptr;
        RequireAmpersand(what);
        const std::u16string needle = workbook::Fold(what);
        const auto key = [](CellPos p) {
            return (p.row == 0 && p.col == 0) ? UINT64_MAX : (std::uint64_t{p.row} << 16) | p.col;
        };
        for (SimCell& cell : cells_) {
            if (cell.folded.size() < needle.size() || cell.folded.find(needle) == std::u16string::npos) continue;
            if (!lastFound_ || key(cell.pos) < key(lastFound_->pos)) lastFound_ = &cell;
        }
        return lastFound_;
    }

    void Replace(const std::u16string& what, const std::u16string& replacement) {
        if (what.empty()) return;
        RequireAmpersand(what);
        const std::u16string needle = workbook::Fold(what);
        for (SimCell& cell : cells_) {
            const std::u16string folded = cell.folded;
            std::size_t at = folded.find(needle);
            if (at == std::u16string::npos) continue;
            std::u16string text;
            std::vector<std::int64_t> origin;
            std::size_t from = 0;
            for (; at != std::u16string::npos; at = folded.find(needle, from)) {
                text.append(cell.text, from, at - from);
                origin.insert(origin.end(), cell.origin.begin() + static_cast<std::ptrdiff_t>(from),
                              cell.origin.begin() + static_cast<std::ptrdiff_t>(at));
                NoteClaims(cell, at, at + needle.size(), what, replacement);
                text.append(replacement);
                origin.insert(origin.end(), replacement.size(), kNotTemplateText);
                from = at + needle.size();
            }
            text.append(cell.text, from);
            origin.insert(origin.end(), cell.origin.begin() + static_cast<std::ptrdiff_t>(from), cell.origin.end());
            cell.text = std::move(text);
            cell.folded = workbook::Fold(cell.text);
            cell.origin = std::move(origin);
            cell.changed = true;
        }
    }

    // Cells down: the cell at pos and every cell below it in its column move
    // one row down.
    void InsertShiftDown(CellPos pos) {
        if (pos.row >= workbook::kSheetRows - 1)
            throw Failure(kApplicationDefined, u"Insert method of Range class failed: the sheet is full.",
                          "Range.Insert");
        for (SimCell& cell : cells_)
            if (cell.pos.col == pos.col && cell.pos.row >= pos.row) ++cell.pos.row;
    }

    void Write(const CellRef& cell, std::u16string content, bool formula) {
        cell->text = std::move(content);
        cell->folded = workbook::Fold(cell->text);
        cell->origin.assign(cell->text.size(), kNotTemplateText);
        cell->changed = true;
        cell->formula = formula;
        if (writer_ == Family::Item && lastFound_ && lastFound_->templateCell != kNoTemplateCell) {
            // The item writer writes the line it has just inserted a cell for,
            // above the placeholder cell it found last.
            cell->lineOf = lastFound_->templateCell;
            cell->linePlaceholder = lastFindWhat_;
            cell->line = ++linesWritten_[lastFindWhat_];
        }
    }

    CellRef CellAt(CellPos pos) {
        for (SimCell& cell : cells_)
            if (cell.pos == pos) return &cell;
        SimCell& cell = cells_.emplace_back();
        cell.pos = pos;
        return &cell;
    }

    void Collect() {
        run_.finalPos.resize(templateCells_.size());
        for (const SimCell& cell : cells_) {
            if (cell.templateCell != kNoTemplateCell) {
                run_.finalPos[cell.templateCell] = cell.pos;
                if (cell.changed) run_.changedText.emplace(cell.templateCell, cell.text);
            }
            if (cell.lineOf == kNoTemplateCell) continue;
            run_.lines.push_back({cell.lineOf, cell.linePlaceholder, cell.line, cell.pos, cell.text, cell.formula});
        }
        std::sort(run_.lines.begin(), run_.lines.end(), [](const LineWrite& a, const LineWrite& b) {
            return a.pos.col != b.pos.col ? a.pos.col < b.pos.col : a.pos.row < b.pos.row;
        });
    }

private:
    // Only cells that hold an "&" are simulated (see SimulateTransfer).
    static void RequireAmpersand(const std::u16string& what) {
        if (what.find(u'&') == std::u16string::npos)
            throw std::logic_error("the simulated sheet holds only cells with \"&\"; it cannot search for \"" +
                                   text::ToUtf8(what) + "\"");
    }

    // The template characters among [from, to) of the cell's text, as runs.
    void NoteClaims(const SimCell& cell, std::size_t from, std::size_t to, const std::u16string& what,
                    const std::u16string& replacement) {
        if (cell.templateCell == kNoTemplateCell) return;
        std::optional<Claim> open;
        for (std::size_t k = from; k < to; ++k) {
            const std::int64_t o = cell.origin[k];
            if (o != kNotTemplateText && open && static_cast<std::int64_t>(open->end) == o) {
                ++open->end;
                continue;
            }
            if (open) run_.claims.push_back(*open), open.reset();
            if (o == kNotTemplateText) continue;
            open = Claim{cell.templateCell, static_cast<std::size_t>(o), static_cast<std::size_t>(o) + 1, writer_, what,
                         replacement};
        }
        if (open) run_.claims.push_back(*open);
    }

    static std::optional<CellPos> ParseAddress(std::u16string_view text) {
        std::size_t i = 0;
        unsigned col = 0, letters = 0;
        while (i < text.size() && letters < 3 &&
               ((text[i] >= u'A' && text[i] <= u'Z') || (text[i] >= u'a' && text[i] <= u'z'))) {
            col = col * 26 + (static_cast<unsigned>(workbook::FoldCase(text[i]) - u'a') + 1);
            ++i, ++letters;
        }
        unsigned long row = 0, digits = 0;
        while (i < text.size() && digits < 7 && text[i] >= u'0' && text[i] <= u'9') {
            row = row * 10 + (text[i] - u'0');
            ++i, ++digits;
        }
        if (letters == 0 || digits == 0 || i != text.size() || row == 0 || row > workbook::kSheetRows ||
            col > workbook::kSheetCols)
            return std::nullopt;
        return CellPos{static_cast<std::uint32_t>(row - 1), static_cast<std::uint16_t>(col - 1)};
    }

    std::span<const TemplateCell> templateCells_;
    SimulatedRun& run_;
    std::deque<SimCell> cells_; // the template cells, then those the run made
    Family writer_ = Family::Header;
    std::u16string lastFindWhat_;
    CellRef lastFound_ = nullptr;
    std::map<std::u16string, int> linesWritten_;
};

std::shared_ptr<sheet::Range> SimRange::Find(const std::u16string& what) {
    if (cell_) throw Failure(kApplicationDefined, u"Find is used on the worksheet's Cells only.", "Range.Find");
    const CellRef found = sheet_.Find(what);
    return found ? std::make_shared<SimRange>(sheet_, found) : nullptr;
}

void SimRange::Replace(const std::u16string& what, const std::u16string& replacement) {
    if (cell_) throw Failure(kApplicationDefined, u"Replace is used on the worksheet's Cells only.", "Range.Replace");
    sheet_.Replace(what, replacement);
}

std::u16string SimRange::Address() {
    RequireCell("Range.Address");
    const std::u16string a1 = CellAddress(cell_->pos);
    const auto digit = a1.find_first_of(u"0123456789");
    return u"$" + a1.substr(0, digit) + u"$" + a1.substr(digit);
}

void SimRange::Insert(std::int32_t shift) {
    RequireCell("Range.Insert");
    if (shift != sheet::xlShiftDown)
        throw Failure(kApplicationDefined, u"Only Shift:=xlDown is simulated.", "Range.Insert");
    const CellPos at = cell_->pos;
    sheet_.InsertShiftDown(at);
    // The range stands for the cell at its address, which is a new one now.
    cell_ = sheet_.CellAt(at);
}

void SimRange::SetValue(const Value& value) {
    RequireCell("Range.Value");
    sheet_.Write(cell_, ToText(value), false);
}

void SimRange::SetFormula(const std::u16string& formula) {
    RequireCell("Range.Formula");
    sheet_.Write(cell_, formula, true);
}

// ---- the quoting application: every value a marker

class MarkerDocFunctions : public quote::DocFunctions {
public:
    Value GetDocumentHeaderValue(const std::u16string& fieldName) override { return HeaderMarker(fieldName); }
};

class MarkerItemFunctions : public quote::ItemFunctions {
public:
    Value LineItemCount() override { return kSimulatedLines; }
    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        if (fieldName == u"LineType") return std::int16_t{0}; // every line ordinary
        return ItemMarker(fieldName, lineIndex + 1);
    }
};

class MarkerQuote : public quote::Application {
public:
    explicit MarkerQuote(std::u16string versionMajor) : version_(std::move(versionMajor)) {}
    Value VersionMajor() override { return version_; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { return std::make_shared<MarkerDocFunctions>(); }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { return std::make_shared<MarkerItemFunctions>(); }
    Value GetMacro(std::u16string& placeholder) override { return MacroMarker(placeholder); }

private:
    std::u16string version_;
};

} // namespace

const char* FamilyName(Family family) {
    switch (family) {
    case Family::Header: return "header";
    case Family::Item: return "item";
    case Family::Macro: return "macro";
    }
    return "";
}

std::u16string HeaderMarker(std::u16string_view fieldName) { return u"⟦DH:" + std::u16string(fieldName) + u"⟧"; }

std::u16string ItemMarker(std::u16string_view fieldName, int line) {
    const std::string n = std::to_string(line);
    return u"⟦DI:" + std::u16string(fieldName) + u"·" + std::u16string(n.begin(), n.end()) + u"⟧";
}

std::u16string MacroMarker(std::u16string_view placeholder) {
    // Without its leading "&": the rest ("DH_&SalesRepPhone") contains no
    // placeholder of any table.
    if (!placeholder.empty() && placeholder.front() == u'&') placeholder.remove_prefix(1);
    return u"⟦" + std::u16string(placeholder) + u"⟧";
}

std::u16string CellAddress(CellPos pos) {
    std::u16string letters;
    for (unsigned n = pos.col + 1u; n > 0; n = (n - 1) / 26)
        letters.insert(letters.begin(), static_cast<char16_t>(u'A' + (n - 1) % 26));
    const std::string row = std::to_string(std::uint64_t{pos.row} + 1);
    return letters + std::u16string(row.begin(), row.end());
}

SimulatedRun SimulateTransfer(std::span<const TemplateCell> cells, std::u16string_view versionMajor) {
    SimulatedRun run;
    run.versionMajor = versionMajor;
    SimSheet sheet(cells, run);
    MarkerQuote quote{std::u16string(versionMajor)};
    try {
        sheet.SetWriter(Family::Header);
        transfer::WriteHeaderFields(quote, sheet);
        sheet.SetWriter(Family::Item);
        transfer::WriteItemFields(quote, sheet);
        sheet.SetWriter(Family::Macro);
        transfer::WriteMacroFields(quote, sheet);
    } catch (const Failure& failure) {
        run.failure = failure.Description();
    }
    sheet.Collect();
    return run;
}

} // namespace vi2zezir::check
