#include <gtest/gtest.h>

#include <cmath>

#include "base/failure.h"
#include "base/utf.h"
#include "servers/value.h"
#include "text/modSTR.h"

namespace vi2zezir {
namespace {

using namespace modSTR;

int FailureCode(auto&& f) {
    try {
        f();
    } catch (const Failure& failure) {
        return failure.Code();
    }
    return 0;
}

TEST(FitCellText, TrimsShortensAndCutsAtTheFirstLineBreak) {
    EXPECT_EQ(FitCellText(u"  Widget  ", 255), u"Widget");
    EXPECT_EQ(FitCellText(std::u16string(300, u'a'), 255), std::u16string(252, u'a') + u"...");
    EXPECT_EQ(FitCellText(u"first\r\nsecond", 255), u"first...");
    EXPECT_EQ(FitCellText(u"first...\r\nsecond", 255), u"first...");
    EXPECT_EQ(FitCellText(u"\r\nsecond", 255), u"...");
    EXPECT_EQ(FitCellText(u"", 255), u"");
    // A bare CR or LF is no line break; tabs are not trimmed.
    EXPECT_EQ(FitCellText(u"a\rb\nc\t", 255), u"a\rb\nc\t");
    // Spaces before the break stay in front of the ellipsis.
    EXPECT_EQ(FitCellText(u"a  \r\nb", 255), u"a  ...");
}

TEST(FitCellText, SmallLimitsGiveTheEmptyText) {
    for (std::int16_t limit : {2, 1, 0, -1, -32768}) EXPECT_EQ(FitCellText(u"Widget", limit), u"") << limit;
}

TEST(FitCellText, ALineOfExactlyTheLimitGrowsByTheEllipsis) {
    EXPECT_EQ(FitCellText(std::u16string(255, u'x') + u"\r\nmore", 255).size(), 258u);
    EXPECT_EQ(FitCellText(std::u16string(253, u'x') + u"\r\nmore", 255).size(), 256u);
}

TEST(FitCellText, NeverSplitsASurrogatePair) {
    // 251 letters, then a character outside the BMP straddling the cut.
    std::u16string text = std::u16string(251, u'a') + u"\U0001F600" + std::u16string(10, u'b');
    std::u16string fitted = FitCellText(text, 255);
    EXPECT_EQ(fitted, std::u16string(251, u'a') + u"...");
    EXPECT_EQ(text::FromUtf8(text::ToUtf8(fitted)), fitted); // well-formed
}

TEST(FitCellText, ALineBreakBeyond32767Overflows) {
    std::u16string longLine(40000, u'a');
    EXPECT_EQ(FitCellText(longLine, 255).size(), 255u); // no break: only shortened
    EXPECT_EQ(FailureCode([&] { FitCellText(longLine + u"\r\nb", 255); }), kOverflow);
}

TEST(DelimitedFields, AddressesSplitAtDollar) {
    EXPECT_EQ(CountDelimiters(u"$C$5", u"$"), 2);
    EXPECT_EQ(CountDelimiters(u"", u"$"), 0);
    EXPECT_EQ(CountDelimiters(u"aaa", u"aa"), 2); // overlapping occurrences
    EXPECT_EQ(GetDelimitedField(u"$C$5", 1, u"$"), u"");
    EXPECT_EQ(GetDelimitedField(u"$C$5", 2, u"$"), u"C");
    EXPECT_EQ(GetDelimitedField(u"$C$5", 3, u"$"), u"5");
    EXPECT_EQ(GetDelimitedField(u"$C$5", 4, u"$"), u"");
    EXPECT_EQ(GetDelimitedField(u"$AB$123", 2, u"$"), u"AB");
    EXPECT_EQ(GetDelimitedField(u"a$", 2, u"$"), u"");
    EXPECT_EQ(GetDelimitedField(u"whole", 1, u"$"), u"whole");
    EXPECT_EQ(GetDelimitedField(u"x$y$z", 0, u"$"), u"z");
    EXPECT_EQ(GetDelimitedField(u"x$y$z", -3, u"$"), u"z");
}

TEST(DelimitedFields, LimitsAndBadArguments) {
    EXPECT_EQ(FailureCode([] { CountDelimiters(u"a$b", u""); }), kInvalidProcedureCall);
    EXPECT_EQ(FailureCode([] { CountDelimiters(std::u16string(32768, u'a'), u"$"); }), kOverflow);
    EXPECT_EQ(CountDelimiters(std::u16string(32767, u'$'), u"$"), 32767);
    // 32,767 delimiters make 32,768 fields: one more than a 16-bit count holds.
    EXPECT_EQ(FailureCode([] { GetDelimitedField(std::u16string(32767, u'$'), 1, u"$"); }), kOverflow);
    std::u16string text = u"abc";
    EXPECT_EQ(FailureCode([&] { TakeLeadingField(text, 1, -1); }), kInvalidProcedureCall);
}

TEST(TakeLeadingField, KeepsAndCuts) {
    std::u16string text = u"C$5";
    EXPECT_EQ(TakeLeadingField(text, 2, 1), u"C");
    EXPECT_EQ(text, u"5");
    EXPECT_EQ(TakeLeadingField(text, 5, 9), u"5");
    EXPECT_EQ(text, u"");
}

TEST(DropLeadingChars, DropsOrEmpties) {
    EXPECT_EQ(DropLeadingChars(u"/f:path", 3), u"path");
    EXPECT_EQ(DropLeadingChars(u"abc", 3), u"");
    EXPECT_EQ(DropLeadingChars(u"abc", 7), u"");
    EXPECT_EQ(DropLeadingChars(u"abc", 0), u"abc");
    EXPECT_EQ(DropLeadingChars(u"abc", -2), u"abc");
    EXPECT_EQ(DropLeadingChars(u"", 1), u"");
}

TEST(ValueToText, FollowsTheLateBoundConversion) {
    EXPECT_EQ(ToText(Value()), u"");
    EXPECT_EQ(ToText(Value(true)), u"True");
    EXPECT_EQ(ToText(Value(false)), u"False");
    EXPECT_EQ(ToText(Value(std::int16_t{-7})), u"-7");
    EXPECT_EQ(ToText(Value(std::int32_t{10442})), u"10442");
    EXPECT_EQ(ToText(Value(1e20)), u"1E+20");
    EXPECT_EQ(ToText(Value(1e15)), u"1E+15");
    EXPECT_EQ(ToText(Value(123456789012345.0)), u"123456789012345");
    EXPECT_EQ(ToText(Value(0.1 + 0.2)), u"0.3");
    EXPECT_EQ(ToText(Value(0.0001)), u"0.0001");
    EXPECT_EQ(ToText(Value(0.00001)), u"1E-05");
    EXPECT_EQ(ToText(Value(-0.0)), u"0");
    EXPECT_EQ(ToText(Value(12.5)), u"12.5");
    EXPECT_EQ(ToText(Value(Currency{125000})), u"12.5");
    EXPECT_EQ(ToText(Value(Currency{-12345678})), u"-1234.5678");
    EXPECT_EQ(ToText(Value(Currency{INT64_MIN})), u"-922337203685477.5808");
    EXPECT_EQ(ToText(Value(Date{46362})), u"12/6/2026");
    EXPECT_EQ(ToText(Value(Date{46362.75})), u"12/6/2026 6:00:00 PM");
    EXPECT_EQ(ToText(Value(Date{0.5})), u"12:00:00 PM");
    EXPECT_EQ(ToText(Value(Date{0})), u"12/30/1899");
    EXPECT_EQ(ToText(Value(Date{-657434})), u"1/1/100");
    EXPECT_EQ(FailureCode([] { ToText(Value(Date{1e300})); }), kOverflow);
    EXPECT_EQ(FailureCode([] { ToText(Value(Date{std::nan("")})); }), kOverflow);
    EXPECT_EQ(ToText(Value(u"text")), u"text");
    EXPECT_EQ(FailureCode([] { ToText(Value(Null{})); }), kInvalidUseOfNull);
}

TEST(ValueToNumber, ComparisonsWithNumbers) {
    double n = 0;
    EXPECT_TRUE(ToNumber(Value(u" 2 "), n));
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(ToNumber(Value(u"1,234.5"), n));
    EXPECT_EQ(n, 1234.5);
    EXPECT_FALSE(ToNumber(Value(Null{}), n));
    EXPECT_EQ(FailureCode([&] { ToNumber(Value(u"two"), n); }), kTypeMismatch);
    EXPECT_EQ(FailureCode([&] { ToNumber(Value(u"inf"), n); }), kTypeMismatch);
    EXPECT_EQ(ToInt16(Value(2.5)), 2); // round half to even
    EXPECT_EQ(ToInt16(Value(3.5)), 4);
    EXPECT_EQ(ToInt16(Value(std::int32_t{32767})), 32767);
    EXPECT_EQ(FailureCode([] { ToInt16(Value(std::int32_t{32768})); }), kOverflow);
}

TEST(Utf8, IllFormedInputBecomesReplacementCharacters) {
    EXPECT_EQ(text::FromUtf8("a\xC3\xA9"), u"a\u00E9");
    EXPECT_EQ(text::FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(text::FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong
    EXPECT_EQ(text::FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // a surrogate
    EXPECT_EQ(text::FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");           // truncated
    EXPECT_EQ(text::ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

} // namespace
} // namespace vi2zezir
