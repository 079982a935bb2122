// Every prediction of the check, held against a real transfer of the same
// template: the engine, the writers and a quoting application answering
// marker values, the filled workbook read back from its file.
#include <gtest/gtest.h>

#include <algorithm>

#include "base/utf.h"
#include "check/check_templates.h"
#include "check/template_check.h"

namespace vi2zezir::test {
namespace {

using check::FateKind;

std::u16string WithoutSpaces(std::u16string text) {
    std::erase(text, u' ');
    return text;
}

void ExpectTransferAgrees(const fs::path& templatePath) {
    const check::Report report = check::CheckTemplateFile(templatePath);
    ASSERT_FALSE(report.placeholders.empty());
    for (std::size_t v = 0; v < check::kVersions.size(); ++v) {
        SCOPED_TRACE("VersionMajor " + text::ToUtf8(check::kVersions[v]));
        const FilledWorkbook filled = RealTransfer(templatePath, check::kVersions[v]);
        for (const check::Placeholder& p : report.placeholders) {
            const check::Fate& fate = p.fates[v];
            SCOPED_TRACE(text::ToUtf8(check::FindingCell(report, p.sheet, p.pos) + u" " + p.text + u" " +
                                      text::FromUtf8(check::FateKey(fate.kind))));
            if (p.sheet != report.filledSheet) {
                ASSERT_EQ(fate.kind, FateKind::NeverFilled);
                const auto& sheet = filled.sheets.at(report.sheetNames[p.sheet]);
                const auto it = sheet.find({p.pos.row, p.pos.col});
                ASSERT_NE(it, sheet.end());
                EXPECT_NE(it->second.find(p.text), std::u16string::npos);
                continue;
            }
            const std::u16string shows = filled.At(fate.finalPos);
            EXPECT_EQ(shows, fate.cellShows) << "at " << text::ToUtf8(check::CellAddress(fate.finalPos));
            for (const check::LineWrite& line : fate.lines) {
                const std::u16string content = filled.At(line.pos);
                if (line.formula) {
                    EXPECT_EQ(WithoutSpaces(content), WithoutSpaces(line.content));
                } else {
                    EXPECT_EQ(content, line.content);
                }
            }
            switch (fate.kind) {
            case FateKind::NotProcessed:
            case FateKind::Unknown: EXPECT_NE(shows.find(p.text), std::u16string::npos); break;
            case FateKind::Filled:
                if (p.family == check::Family::Item) {
                    EXPECT_EQ(fate.lines.size(), static_cast<std::size_t>(check::kSimulatedLines));
                    EXPECT_EQ(shows.find(p.text), std::u16string::npos);
                } else {
                    const auto marker = p.family == check::Family::Header ? check::HeaderMarker(fate.field)
                                                                          : check::MacroMarker(fate.field);
                    EXPECT_NE(shows.find(marker), std::u16string::npos);
                }
                break;
            case FateKind::Swallowed:
                // The rest of the longer name stays in the cell.
                EXPECT_FALSE(shows.empty());
                break;
            default: break;
            }
        }
    }
}

TEST(TransferAgrees, WithEveryTemplate) {
    for (const fs::path& path : {kMistakes, kSpread, kClean, kQuote40}) {
        SCOPED_TRACE(path.filename().string());
        ExpectTransferAgrees(path);
    }
}

} // namespace
} // namespace vi2zezir::test
