#include "check/report_text.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/utf.h"

namespace vi2zezir::check {
namespace {

using text::ToUtf8;

// Columns line up by characters, not bytes.
std::size_t Width(const std::string& utf8) {
    return static_cast<std::size_t>(
        std::count_if(utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& utf8, std::size_t width) {
    const std::size_t w = Width(utf8);
    return utf8 + std::string(w < width ? width - w : 0, ' ');
}

nlohmann::json CellJson(CellPos pos) { return ToUtf8(CellAddress(pos)); }

nlohmann::json FateJson(const Fate& fate) {
    nlohmann::json j = {{"fate", FateKey(fate.kind)}};
    if (!fate.placeholder.empty()) {
        j["placeholder"] = ToUtf8(fate.placeholder);
        j["field"] = ToUtf8(fate.field);
    }
    j["cell"] = CellJson(fate.finalPos);
    j["cellShows"] = ToUtf8(fate.cellShows);
    if (!fate.lines.empty() || !fate.otherLines.empty()) {
        auto& lines = j["lines"] = nlohmann::json::array();
        for (const LineWrite& line : fate.lines)
            lines.push_back({{"line", line.line},
                             {"cell", CellJson(line.pos)},
                             {"content", ToUtf8(line.content)},
                             {"formula", line.formula}});
        auto& elsewhere = j["linesElsewhere"] = nlohmann::json::array();
        for (CellPos pos : fate.otherLines) elsewhere.push_back(CellJson(pos));
    }
    return j;
}

} // namespace

std::string FormatForPeople(const Report& report, const std::string& templateName) {
    std::string out =
        templateName + ": the first worksheet \"" + ToUtf8(report.sheetNames[report.filledSheet]) + "\" is filled";
    if (report.sheetNames.size() > 1) {
        out += "; never filled:";
        for (std::size_t s = 0; s < report.sheetNames.size(); ++s)
            if (s != report.filledSheet) out += " \"" + ToUtf8(report.sheetNames[s]) + "\"";
    }
    out += "\n";

    std::size_t attention = 0;
    for (std::size_t c = 0; c < kCategoryCount; ++c) {
        const auto category = static_cast<Category>(c);
        std::vector<const Finding*> group;
        for (const Finding& f : report.findings)
            if (f.category == category) group.push_back(&f);
        if (group.empty()) continue;
        if (NeedsAttention(category)) attention += group.size();
        std::size_t cellWidth = 0, textWidth = 0;
        for (const Finding* f : group) {
            cellWidth = std::max(cellWidth, Width(ToUtf8(f->cell)));
            if (f->placeholder)
                textWidth = std::max(textWidth, Width(ToUtf8(report.placeholders[*f->placeholder].text)));
        }
        // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on
        // a chain that starts with a literal.
        out.append("\n")
            .append(CategoryTitle(category))
            .append(" (")
            .append(std::to_string(group.size()))
            .append(")\n");
        for (const Finding* f : group) {
            std::string line = "  " + Pad(ToUtf8(f->cell), cellWidth) + "  ";
            if (f->placeholder) {
                const Placeholder& p = report.placeholders[*f->placeholder];
                line += Pad(ToUtf8(p.text), textWidth) + "  " + Pad(FamilyName(p.family), 6) + "  ";
            }
            out += line + ToUtf8(f->message) + "\n";
        }
    }
    out.append("\n").append(std::to_string(report.placeholders.size())).append(" placeholder");
    out.append(report.placeholders.size() == 1 ? "; " : "s; ");
    out += attention == 0
               ? std::string("nothing needs attention.\n")
               : std::to_string(attention) + (attention == 1 ? " finding needs" : " findings need") + " attention.\n";
    return out;
}

std::string FormatJson(const Report& report, const std::string& templateName) {
    nlohmann::json j;
    j["template"] = templateName;
    j["filledSheet"] = ToUtf8(report.sheetNames[report.filledSheet]);
    j["sheets"] = nlohmann::json::array();
    for (const auto& name : report.sheetNames) j["sheets"].push_back(ToUtf8(name));
    j["needsAttention"] = report.NeedsAttention();
    auto& placeholders = j["placeholders"] = nlohmann::json::array();
    for (const Placeholder& p : report.placeholders) {
        nlohmann::json entry = {{"sheet", ToUtf8(report.sheetNames[p.sheet])},
                                {"cell", CellJson(p.pos)},
                                {"text", ToUtf8(p.text)},
                                {"family", FamilyName(p.family)}};
        if (p.suggestion) entry["suggestion"] = ToUtf8(*p.suggestion);
        for (std::size_t v = 0; v < kVersions.size(); ++v)
            entry["versions"][ToUtf8(kVersions[v])] = FateJson(p.fates[v]);
        placeholders.push_back(std::move(entry));
    }
    auto& findings = j["findings"] = nlohmann::json::array();
    for (const Finding& f : report.findings) {
        nlohmann::json entry = {{"category", CategoryKey(f.category)},
                                {"attention", NeedsAttention(f.category)},
                                {"cell", ToUtf8(f.cell)},
                                {"message", ToUtf8(f.message)}};
        if (f.placeholder) {
            const Placeholder& p = report.placeholders[*f.placeholder];
            entry["sheet"] = ToUtf8(report.sheetNames[p.sheet]);
            entry["text"] = ToUtf8(p.text);
            entry["family"] = FamilyName(p.family);
        }
        findings.push_back(std::move(entry));
    }
    return j.dump(2) + "\n";
}

} // namespace vi2zezir::check
