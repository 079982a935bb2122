// The check reports the mistakes template authors make, each as the
// transfer would really treat it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/utf.h"
#include "check/check_templates.h"
#include "check/template_check.h"

namespace vi2zezir::test {
namespace {

using check::Category;
using check::FateKind;
using testing::HasSubstr;

class Findings : public testing::Test {
protected:
    static void SetUpTestSuite() { report_ = new check::Report(check::CheckTemplateFile(kMistakes)); }
    static void TearDownTestSuite() { delete report_; }

    static const check::Placeholder& At(const std::u16string& cell, const std::u16string& text) {
        for (const auto& p : report_->placeholders)
            if (check::FindingCell(*report_, p.sheet, p.pos) == cell && p.text == text) return p;
        throw std::runtime_error("no placeholder " + text::ToUtf8(text) + " in " + text::ToUtf8(cell));
    }
    static std::vector<const check::Finding*> FindingsAt(const std::u16string& cell) {
        std::vector<const check::Finding*> found;
        for (const auto& f : report_->findings)
            if (f.cell == cell) found.push_back(&f);
        return found;
    }
    static bool Has(const std::u16string& cell, Category category) {
        for (const auto* f : FindingsAt(cell))
            if (f->category == category) return true;
        return false;
    }

    static check::Report* report_;
};
check::Report* Findings::report_ = nullptr;

TEST_F(Findings, MisspeltPlaceholderIsUnknownWithTheNearestName) {
    const auto& p = At(u"H3", u"&DH_SoldToCompnay");
    EXPECT_EQ(p.fates[0].kind, FateKind::Unknown);
    EXPECT_EQ(p.fates[1].kind, FateKind::Unknown);
    EXPECT_EQ(p.suggestion, u"&DH_SoldToCompany");
    EXPECT_TRUE(Has(u"H3", Category::Unknown));
}

TEST_F(Findings, ShorterPlaceholderSwallowsTheLongerOne) {
    const auto& p = At(u"H4", u"&DH_SoldToPhoneExt");
    for (const auto& fate : p.fates) {
        EXPECT_EQ(fate.kind, FateKind::Swallowed);
        EXPECT_EQ(fate.placeholder, u"&DH_SoldToPhone");
        EXPECT_EQ(fate.cellShows, u"Phone: ⟦DH:SoldToPhone⟧Ext");
    }
    ASSERT_TRUE(Has(u"H4", Category::Swallowed));
    EXPECT_THAT(text::ToUtf8(FindingsAt(u"H4").front()->message), HasSubstr("Ext"));
}

TEST_F(Findings, EntryReachedOnlyThroughAnotherSpellingIsFilledFromThatField) {
    // "&DH_SoldToPONumber" comes first and matches regardless of case.
    const auto& p = At(u"H5", u"&DH_SoldToPoNumber");
    EXPECT_EQ(p.fates[1].kind, FateKind::OtherEntry);
    EXPECT_EQ(p.fates[1].field, u"SoldToPONumber");
    EXPECT_TRUE(Has(u"H5", Category::OtherEntry));
}

TEST_F(Findings, FullListItemIsLeftAloneUnderVersion3) {
    const auto& p = At(u"G22", u"&DI_Notes");
    EXPECT_EQ(p.fates[0].kind, FateKind::NotProcessed);
    EXPECT_EQ(p.fates[0].cellShows, u"&DI_Notes");
    EXPECT_EQ(p.fates[1].kind, FateKind::Filled);
    EXPECT_EQ(p.fates[1].field, u"Notes");
    EXPECT_TRUE(Has(u"G22", Category::NotProcessed));
}

TEST_F(Findings, PartNumberOfTheOtherListGoesToTheManufacturerColumn) {
    const auto& p = At(u"C22", u"&DI_ManufacturerPartNumber");
    EXPECT_EQ(p.fates[0].kind, FateKind::Swallowed);
    EXPECT_EQ(p.fates[0].placeholder, u"&DI_Manufacturer");
    EXPECT_EQ(p.fates[0].cellShows, u"PartNumber");
    ASSERT_EQ(p.fates[0].lines.size(), 2u);
    EXPECT_EQ(p.fates[0].lines[0].content, u"⟦DI:Manufacturer·1⟧");
    EXPECT_EQ(p.fates[1].kind, FateKind::Filled);
}

TEST_F(Findings, ExtendedPriceWithoutQuantityGetsValues) {
    const auto& p = At(u"F22", u"&DI_ExtendedPrice");
    ASSERT_EQ(p.fates[1].lines.size(), 2u);
    EXPECT_FALSE(p.fates[1].lines[0].formula);
    ASSERT_TRUE(Has(u"F22", Category::PlainExtendedPrice));
    for (const auto* f : FindingsAt(u"F22")) {
        if (f->category == Category::PlainExtendedPrice) {
            EXPECT_THAT(text::ToUtf8(f->message), HasSubstr("no &DI_QtyTotal"));
        }
    }
}

TEST_F(Findings, ItemPlaceholderOutsideTheItemRow) {
    EXPECT_TRUE(Has(u"H30", Category::OutsideItemRow));
    EXPECT_FALSE(Has(u"B22", Category::OutsideItemRow));
    EXPECT_FALSE(Has(u"G22", Category::OutsideItemRow));
}

TEST_F(Findings, PlaceholderOnASecondWorksheetIsNeverFilled) {
    const auto& p = At(u"Notes!A4", u"&DH_DocNo");
    EXPECT_EQ(p.fates[0].kind, FateKind::NeverFilled);
    EXPECT_TRUE(Has(u"Notes!A4", Category::NeverFilled));
    EXPECT_TRUE(report_->NeedsAttention());
}

TEST(FindingsOfOneColumnPair, ShorterItemNameSpreadsItsLinesOverTwoCells) {
    // Under the full list "&DI_UnitofMeasure" also matches the factor's cell,
    // which comes first in row 22 once the first line has pushed its own
    // cell down.
    const auto report = check::CheckTemplateFile(kSpread);
    for (const auto& p : report.placeholders) {
        if (p.text == u"&DI_UnitofMeasure") {
            EXPECT_EQ(p.fates[0].kind, FateKind::NotProcessed);
            EXPECT_EQ(p.fates[1].kind, FateKind::LinesSpread);
            ASSERT_EQ(p.fates[1].otherLines.size(), 1u);
            EXPECT_EQ(check::CellAddress(p.fates[1].otherLines[0]), u"H22");
        }
        if (p.text == u"&DI_Vendor") {
            // A1 is searched last: under the full list both lines go to the
            // part-number cell, which "&DI_Vendor" also matches.
            EXPECT_EQ(p.fates[0].kind, FateKind::Filled);
            EXPECT_EQ(p.fates[1].kind, FateKind::ClearedNoLines);
        }
        if (p.text == u"&DI_UnitofMeasureFactor") {
            EXPECT_EQ(p.fates[1].kind, FateKind::Swallowed);
            EXPECT_EQ(p.fates[1].cellShows, u"Factor");
        }
    }
}

TEST(CleanTemplate, NeedsNoAttentionAndKeepsTheFormula) {
    const auto report = check::CheckTemplateFile(kClean);
    for (const auto& f : report.findings) {
        EXPECT_FALSE(check::NeedsAttention(f.category)) << text::ToUtf8(f.cell + u" " + f.message);
    }
    bool formula = false;
    for (const auto& f : report.findings) {
        if (f.category == Category::ExtendedPriceFormula) {
            formula = true;
            EXPECT_THAT(text::ToUtf8(f.message), HasSubstr("=E22 * D22"));
        }
    }
    EXPECT_TRUE(formula);
}

TEST(NearestKnownName, IgnoresLetterCase) {
    EXPECT_EQ(check::NearestKnownName(u"&di_descripton"), u"&DI_Description");
    EXPECT_EQ(check::NearestKnownName(u"&APP_LoggedInUserMail"), u"&APP_LoggedInUserEmail");
}

} // namespace
} // namespace vi2zezir::test
