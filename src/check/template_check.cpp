#include "check/template_check.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <span>

#include "base/utf.h"
#include "transfer/placeholder_tables.h"
#include "workbook/contents.h"

namespace vi2zezir::check {
namespace {

namespace tr = vi2zezir::transfer;

constexpr std::u16string_view kMacroPrefixes[] = {u"&APP_", u"&DH_&SalesRep"};

bool StartsWithFolded(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && workbook::Fold(text.substr(0, prefix.size())) == workbook::Fold(prefix);
}

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && workbook::Fold(a) == workbook::Fold(b);
}

bool IsNameChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Every entry of every table and list, with the family whose writer owns it.
const std::vector<std::pair<std::u16string_view, Family>>& KnownNames() {
    static const auto names = [] {
        std::vector<std::pair<std::u16string_view, Family>> all;
        for (auto p : tr::kHeaderPlaceholders) all.emplace_back(p, Family::Header);
        for (auto p : tr::kItemShortList) all.emplace_back(p, Family::Item);
        for (auto p : tr::kItemFullList) all.emplace_back(p, Family::Item);
        for (auto p : tr::kMacroPlaceholders) all.emplace_back(p, Family::Macro);
        return all;
    }();
    return names;
}

std::optional<Family> KnownFamily(std::u16string_view text) {
    for (const auto& [name, family] : KnownNames())
        if (EqualFolded(name, text)) return family;
    return std::nullopt;
}

Family FamilyOf(std::u16string_view text) {
    if (auto family = KnownFamily(text)) return *family;
    if (StartsWithFolded(text, tr::kItemPrefix)) return Family::Item;
    for (auto prefix : kMacroPrefixes)
        if (StartsWithFolded(text, prefix)) return Family::Macro;
    return Family::Header;
}

struct Token {
    std::size_t start = 0, end = 0;
};

// A placeholder-like text: a family prefix in any case, an optional "&"
// (as in "&DH_&SalesRepFullName"), then letters, digits and underscores.
std::vector<Token> Tokens(std::u16string_view text) {
    static constexpr std::u16string_view kPrefixes[] = {u"&DH_", u"&DI_", u"&APP_"};
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t prefix = 0;
        if (text[i] == u'&')
            for (auto p : kPrefixes)
                if (StartsWithFolded(text.substr(i), p)) prefix = p.size();
        if (prefix == 0) {
            ++i;
            continue;
        }
        std::size_t end = i + prefix;
        if (end < text.size() && text[end] == u'&') ++end;
        while (end < text.size() && IsNameChar(text[end])) ++end;
        tokens.push_back({i, end});
        i = end;
    }
    return tokens;
}

std::u16string FieldOf(Family writer, const std::u16string& placeholder) {
    switch (writer) {
    case Family::Header: return tr::FieldName(placeholder, tr::kHeaderPrefix);
    case Family::Item: return tr::FieldName(placeholder, tr::kItemPrefix);
    case Family::Macro: return placeholder;
    }
    return placeholder;
}

// Whether the token's exact spelling is an entry of its writer's table other
// than the one that took it ("&DH_SoldToPoNumber" taken by "&DH_SoldToPONumber").
bool IsOtherEntry(std::u16string_view token, Family writer, const std::u16string& taker) {
    if (token == taker) return false;
    for (const auto& [name, family] : KnownNames())
        if (family == writer && name == token) return true;
    return false;
}

Fate FateIn(const SimulatedRun& run, std::size_t cell, const std::u16string& cellText, Token token) {
    const std::u16string_view text = std::u16string_view(cellText).substr(token.start, token.end - token.start);
    Fate fate;
    fate.finalPos = run.finalPos[cell];
    const auto changed = run.changedText.find(cell);
    fate.cellShows = changed == run.changedText.end() ? cellText : changed->second;
    const Claim* claim = nullptr;
    for (const Claim& c : run.claims) {
        if (c.cell == cell && c.start < token.end && c.end > token.start) {
            claim = &c;
            break;
        }
    }
    if (!claim) {
        fate.kind = KnownFamily(text) ? FateKind::NotProcessed : FateKind::Unknown;
        return fate;
    }
    fate.placeholder = claim->placeholder;
    fate.field = FieldOf(claim->writer, claim->placeholder);
    const bool whole = claim->start == token.start && claim->end == token.end;
    fate.kind = !whole                                                  ? FateKind::Swallowed
                : IsOtherEntry(text, claim->writer, claim->placeholder) ? FateKind::OtherEntry
                                                                        : FateKind::Filled;
    if (claim->writer == Family::Item) {
        for (const LineWrite& line : run.lines) {
            if (line.placeholder != claim->placeholder) continue;
            if (line.cell == cell)
                fate.lines.push_back(line);
            else
                fate.otherLines.push_back(line.pos);
        }
        if (fate.kind == FateKind::Filled && fate.lines.empty() && !fate.otherLines.empty())
            fate.kind = FateKind::ClearedNoLines;
        else if (fate.kind == FateKind::Filled && !fate.otherLines.empty())
            fate.kind = FateKind::LinesSpread;
    }
    return fate;
}

// ---- messages

std::u16string Quoted(std::u16string_view text) { return u"\"" + std::u16string(text) + u"\""; }

std::u16string Number(std::size_t n) {
    const std::string s = std::to_string(n);
    return std::u16string(s.begin(), s.end());
}

std::u16string LineCells(const std::vector<LineWrite>& lines) {
    if (lines.empty()) return {};
    std::u16string text = CellAddress(lines.front().pos);
    if (lines.size() > 1) text += u":" + CellAddress(lines.back().pos);
    return text;
}

std::u16string CellList(const std::vector<CellPos>& cells) {
    std::u16string text;
    for (const CellPos& pos : cells) text += (text.empty() ? u"" : u", ") + CellAddress(pos);
    return text;
}

std::u16string Describe(const Placeholder& p, const Fate& fate) {
    const bool item = !fate.lines.empty() || !fate.otherLines.empty();
    switch (fate.kind) {
    case FateKind::Filled:
        if (item) return u"filled from " + fate.field + u", lines in " + LineCells(fate.lines);
        return u"filled from " + fate.field;
    case FateKind::Swallowed:
        if (item)
            return u"taken by " + fate.placeholder + u": the lines in " + LineCells(fate.lines) + u" get " +
                   fate.field + u", and " + Quoted(fate.cellShows) + u" stays below them";
        return u"taken by " + fate.placeholder + u": the cell will show " + Quoted(fate.cellShows);
    case FateKind::OtherEntry:
        return u"taken by " + fate.placeholder + u": filled from " + fate.field + u", not from " +
               FieldOf(p.family, p.text);
    case FateKind::ClearedNoLines:
        return u"cleared by " + fate.placeholder + u" without a line: the lines go to " + CellList(fate.otherLines);
    case FateKind::LinesSpread:
        return u"gets only " + Number(fate.lines.size()) + u" of the lines of " + fate.placeholder + u" (in " +
               LineCells(fate.lines) + u"); the others go to " + CellList(fate.otherLines);
    case FateKind::NotProcessed: return u"not processed, stays as typed";
    case FateKind::Unknown: return u"unknown: stays as typed";
    case FateKind::NeverFilled: return u"never filled: stays as typed";
    }
    return {};
}

int Severity(FateKind kind) {
    switch (kind) {
    case FateKind::Unknown: return 6;
    case FateKind::Swallowed: return 5;
    case FateKind::OtherEntry: return 4;
    case FateKind::ClearedNoLines:
    case FateKind::LinesSpread: return 3;
    case FateKind::NotProcessed: return 2;
    case FateKind::NeverFilled: return 1;
    case FateKind::Filled: return 0;
    }
    return 0;
}

Category CategoryOf(FateKind kind) {
    switch (kind) {
    case FateKind::Unknown: return Category::Unknown;
    case FateKind::Swallowed: return Category::Swallowed;
    case FateKind::OtherEntry: return Category::OtherEntry;
    case FateKind::ClearedNoLines:
    case FateKind::LinesSpread: return Category::LinesElsewhere;
    case FateKind::NotProcessed: return Category::NotProcessed;
    case FateKind::NeverFilled: return Category::NeverFilled;
    case FateKind::Filled: return Category::Filled;
    }
    return Category::Filled;
}

std::u16string SheetPrefix(std::u16string_view name) {
    const bool plain = std::all_of(name.begin(), name.end(), IsNameChar) && !name.empty();
    if (plain) return std::u16string(name) + u"!";
    std::u16string quoted = u"'";
    for (char16_t c : name) quoted += c == u'\'' ? std::u16string(u"''") : std::u16string(1, c);
    return quoted + u"'!";
}

void AddFateFindings(Report& report, std::size_t index) {
    const Placeholder& p = report.placeholders[index];
    const Fate& worst = Severity(p.fates[0].kind) >= Severity(p.fates[1].kind) ? p.fates[0] : p.fates[1];
    std::u16string message;
    if (worst.kind == FateKind::NeverFilled) {
        message = u"on sheet " + Quoted(report.sheetNames[p.sheet]) + u", which is never filled: stays as typed";
    } else {
        const std::u16string first = Describe(p, p.fates[0]);
        const std::u16string second = Describe(p, p.fates[1]);
        if (first == second)
            message = first;
        else
            message = u"version " + std::u16string(kVersions[0]) + u": " + first + u"; version " +
                      std::u16string(kVersions[1]) + u": " + second;
    }
    if (p.suggestion) message += u" (did you mean " + *p.suggestion + u"?)";
    report.findings.push_back({CategoryOf(worst.kind), index, FindingCell(report, p.sheet, p.pos), message});
}

// Item placeholders make one row per line only when they share a row; the
// row most of them stand in is the item row.
void AddItemRowFindings(Report& report) {
    std::map<std::uint32_t, std::size_t> rows;
    std::vector<std::size_t> items;
    for (std::size_t i = 0; i < report.placeholders.size(); ++i) {
        const Placeholder& p = report.placeholders[i];
        if (p.sheet != report.filledSheet || p.family != Family::Item) continue;
        const bool getsLines =
            std::any_of(p.fates.begin(), p.fates.end(), [](const Fate& f) { return !f.lines.empty(); });
        if (!getsLines) continue;
        items.push_back(i);
        ++rows[p.pos.row];
    }
    if (rows.size() < 2) return;
    const auto itemRow = std::max_element(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
                             return a.second < b.second; // the first (topmost) of equals wins
                         })->first;
    for (std::size_t i : items) {
        const Placeholder& p = report.placeholders[i];
        if (p.pos.row == itemRow) continue;
        report.findings.push_back({Category::OutsideItemRow, i, FindingCell(report, p.sheet, p.pos),
                                   u"outside the item row " + Number(itemRow + 1) + u": its lines start in row " +
                                       Number(p.pos.row + 1) + u", not beside the others"});
    }
}

bool TemplateHolds(const std::vector<TemplateCell>& cells, std::u16string_view placeholder) {
    const std::u16string needle = workbook::Fold(placeholder);
    return std::any_of(cells.begin(), cells.end(), [&](const TemplateCell& c) {
        return workbook::Fold(c.text).find(needle) != std::u16string::npos;
    });
}

void AddExtendedPriceFindings(Report& report, const std::vector<TemplateCell>& cells) {
    for (std::size_t i = 0; i < report.placeholders.size(); ++i) {
        const Placeholder& p = report.placeholders[i];
        bool anyFormula = false, anyValue = false;
        std::u16string formula;
        for (const Fate& fate : p.fates) {
            if (fate.placeholder != tr::kExtendedPricePlaceholder || fate.lines.empty()) continue;
            for (const LineWrite& line : fate.lines) {
                if (line.formula) {
                    anyFormula = true;
                    if (formula.empty()) formula = line.content;
                } else {
                    anyValue = true;
                }
            }
        }
        if (!anyFormula && !anyValue) continue;
        const std::u16string cell = FindingCell(report, p.sheet, p.pos);
        if (anyValue) {
            std::u16string missing;
            for (auto needed : {tr::kUnitPricePlaceholder, tr::kQuantityPlaceholder})
                if (!TemplateHolds(cells, needed))
                    missing += (missing.empty() ? u"no " : u" and no ") + std::u16string(needed);
            report.findings.push_back({Category::PlainExtendedPrice, i, cell,
                                       u"extended prices as plain values, not formulas" +
                                           (missing.empty() ? std::u16string() : u": " + missing + u" in the sheet")});
        } else {
            report.findings.push_back({Category::ExtendedPriceFormula, i, cell,
                                       u"extended price as a formula on ordinary lines: " + formula});
        }
    }
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw CheckError("no such file");
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) throw CheckError("cannot read it: " + ec.message());
    if (size == 0) throw CheckError("the file is empty");
    if (size > workbook::kMaxWorkbookFileSize) throw CheckError("the file is too large");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw CheckError("cannot read it");
    return bytes;
}

} // namespace

const char* FateKey(FateKind kind) {
    switch (kind) {
    case FateKind::Filled: return "filled";
    case FateKind::Swallowed: return "swallowed";
    case FateKind::OtherEntry: return "other-entry";
    case FateKind::ClearedNoLines: return "cleared-without-lines";
    case FateKind::LinesSpread: return "lines-spread";
    case FateKind::NotProcessed: return "not-processed";
    case FateKind::Unknown: return "unknown";
    case FateKind::NeverFilled: return "never-filled";
    }
    return "";
}

const char* CategoryKey(Category category) {
    switch (category) {
    case Category::TransferFails: return "transfer-fails";
    case Category::Unknown: return "unknown";
    case Category::Swallowed: return "swallowed";
    case Category::OtherEntry: return "other-entry";
    case Category::LinesElsewhere: return "lines-elsewhere";
    case Category::NotProcessed: return "not-processed";
    case Category::OutsideItemRow: return "outside-item-row";
    case Category::PlainExtendedPrice: return "plain-extended-price";
    case Category::NeverFilled: return "never-filled";
    case Category::ExtendedPriceFormula: return "extended-price-formula";
    case Category::Filled: return "filled";
    }
    return "";
}

const char* CategoryTitle(Category category) {
    switch (category) {
    case Category::TransferFails: return "The transfer stops with an error";
    case Category::Unknown: return "Unknown placeholders";
    case Category::Swallowed: return "Swallowed by a shorter placeholder";
    case Category::OtherEntry: return "Filled from another field";
    case Category::LinesElsewhere: return "Item lines go to another cell";
    case Category::NotProcessed: return "Not processed under the short list (Tendrix version 3)";
    case Category::OutsideItemRow: return "Item placeholders outside the row of the others";
    case Category::PlainExtendedPrice: return "Extended price without formula";
    case Category::NeverFilled: return "On a worksheet that is never filled";
    case Category::ExtendedPriceFormula: return "Extended price formula";
    case Category::Filled: return "Filled";
    }
    return "";
}

bool NeedsAttention(Category category) {
    return category != Category::Filled && category != Category::ExtendedPriceFormula;
}

bool Report::NeedsAttention() const {
    return std::any_of(findings.begin(), findings.end(),
                       [](const Finding& f) { return check::NeedsAttention(f.category); });
}

std::u16string FindingCell(const Report& report, std::size_t sheet, CellPos pos) {
    if (sheet == report.filledSheet) return CellAddress(pos);
    return SheetPrefix(report.sheetNames[sheet]) + CellAddress(pos);
}

std::u16string NearestKnownName(std::u16string_view text) {
    const std::u16string folded = workbook::Fold(text);
    std::u16string_view best;
    std::size_t bestDistance = SIZE_MAX;
    std::vector<std::size_t> previous, current;
    for (const auto& [name, family] : KnownNames()) {
        const std::u16string candidate = workbook::Fold(name);
        previous.resize(candidate.size() + 1);
        current.resize(candidate.size() + 1);
        for (std::size_t j = 0; j <= candidate.size(); ++j) previous[j] = j;
        for (std::size_t i = 1; i <= folded.size(); ++i) {
            current[0] = i;
            for (std::size_t j = 1; j <= candidate.size(); ++j)
                current[j] = std::min({previous[j] + 1, current[j - 1] + 1,
                                       previous[j - 1] + (folded[i - 1] == candidate[j - 1] ? 0 : 1)});
            std::swap(previous, current);
        }
        if (previous[candidate.size()] < bestDistance) {
            bestDistance = previous[candidate.size()];
            best = name;
        }
    }
    return std::u16string(best);
}

Report CheckWorkbook(workbook::WorkbookContents book) {
    Report report;
    for (const auto& sheet : book.sheets) report.sheetNames.push_back(sheet.name);
    report.filledSheet = book.editableSheet;

    const std::vector<TemplateCell> cells = std::move(book.sheets[report.filledSheet].texts);
    std::array<SimulatedRun, kVersions.size()> runs;
    for (std::size_t v = 0; v < kVersions.size(); ++v) runs[v] = SimulateTransfer(cells, kVersions[v]);

    for (std::size_t s = 0; s < book.sheets.size(); ++s) {
        const std::vector<TemplateCell>& sheetCells = s == report.filledSheet ? cells : book.sheets[s].texts;
        for (std::size_t c = 0; c < sheetCells.size(); ++c) {
            for (const Token token : Tokens(sheetCells[c].text)) {
                Placeholder p;
                p.sheet = s;
                p.pos = {sheetCells[c].row, sheetCells[c].col};
                p.text = sheetCells[c].text.substr(token.start, token.end - token.start);
                p.family = FamilyOf(p.text);
                if (!KnownFamily(p.text)) p.suggestion = NearestKnownName(p.text);
                for (std::size_t v = 0; v < kVersions.size(); ++v) {
                    if (s == report.filledSheet) {
                        p.fates[v] = FateIn(runs[v], c, sheetCells[c].text, token);
                    } else {
                        p.fates[v].kind = FateKind::NeverFilled;
                        p.fates[v].finalPos = p.pos;
                        p.fates[v].cellShows = sheetCells[c].text;
                    }
                }
                report.placeholders.push_back(std::move(p));
                AddFateFindings(report, report.placeholders.size() - 1);
            }
        }
    }
    for (std::size_t v = 0; v < kVersions.size(); ++v) {
        if (runs[v].failure)
            report.findings.push_back({Category::TransferFails, std::nullopt, u"",
                                       u"version " + std::u16string(kVersions[v]) + u": " + *runs[v].failure});
    }
    AddItemRowFindings(report);
    AddExtendedPriceFindings(report, cells);
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.category < b.category; });
    return report;
}

Report CheckTemplateFile(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = ReadFile(path);
    workbook::WorkbookContents book;
    try {
        // Placeholders begin with "&": the cells without one play no part, and
        // on a filled workbook they are nearly all.
        book = workbook::ReadContents(bytes, u'&');
    } catch (const workbook::Error& e) {
        throw CheckError(e.what());
    } catch (const std::bad_alloc&) {
        throw CheckError("it needs more memory than is available");
    }
    return CheckWorkbook(std::move(book));
}

} // namespace vi2zezir::check
