// Typed input's numbers, dates and times as plain functions, and the
// formula-bar text of the dates and times they make. The engine tests check
// the same rules through Range.Value and Find.
#include <gtest/gtest.h>

#include <string>

#include "workbook/sheet/model.h"
#include "workbook/sheet/typed_input.h"

namespace vi2zezir::workbook {
namespace {

namespace fmt = builtin_format;

// Dates without a year fall in this one: not today's, so a test that passes
// cannot be reading the clock.
constexpr int kThisYear = 2031;

std::string Utf8(std::u16string_view s) { return std::string(s.begin(), s.end()); } // ASCII cases only

struct Typed {
    const char16_t* text;
    double value;
    std::uint16_t format;
};

void ExpectTyped(const Typed& c) {
    SCOPED_TRACE(Utf8(c.text));
    const auto n = ParseTypedNumber(c.text, kThisYear);
    ASSERT_TRUE(n.has_value());
    EXPECT_DOUBLE_EQ(n->value, c.value);
    EXPECT_EQ(n->numberFormat, c.format);
    EXPECT_TRUE(n->dateOrTime);
    EXPECT_FALSE(n->currency);
}

TEST(TypedInput, MonthNameDatesGiveTheSerialAndExcelsFormat) {
    const Typed cases[] = {
        {u"12-Mar-2026", 46093, fmt::kDayMonthYear},
        {u"12-Mar-26", 46093, fmt::kDayMonthYear},
        {u"12 Mar 2026", 46093, fmt::kDayMonthYear},
        {u"Mar 12, 2026", 46093, fmt::kDayMonthYear},
        {u"March 12, 2026", 46093, fmt::kDayMonthYear},
        {u"12-March-2026", 46093, fmt::kDayMonthYear},
        {u"12/mar/2026", 46093, fmt::kDayMonthYear},
        {u" MARCH 12 2026 ", 46093, fmt::kDayMonthYear},
        {u"5 Sept 2026", 46270, fmt::kDayMonthYear},
        {u"31-Dec-99", 36525, fmt::kDayMonthYear}, // 30-99: the 1900s
        {u"1-Jan-29", 47119, fmt::kDayMonthYear},  // 00-29: the 2000s
        {u"1-Jan-30", 10959, fmt::kDayMonthYear},
        {u"Mar-2026", 46082, fmt::kMonthYear},
        {u"March 2026", 46082, fmt::kMonthYear},
        {u"Mar 45", 16497, fmt::kMonthYear}, // no day of March: a year
        {u"Feb 30", 10990, fmt::kMonthYear},
        {u"12-Mar", 47919, fmt::kDayMonth},
        {u"Mar 12", 47919, fmt::kDayMonth},
        {u"OCT8", 48129, fmt::kDayMonth},
        {u"8oct", 48129, fmt::kDayMonth},
        {u"28 Feb", 47907, fmt::kDayMonth},
        // A month and one other number: a day of this year, or else a year.
        {u"3/12", 47919, fmt::kDayMonth},
        {u"3-12", 47919, fmt::kDayMonth},
        {u"10-15", 48136, fmt::kDayMonth}, // a part number as Excel reads it
        {u"3/45", 16497, fmt::kMonthYear},
        {u"3/2026", 46082, fmt::kMonthYear},
        {u"2/30", 10990, fmt::kMonthYear},
    };
    for (const auto& c : cases) ExpectTyped(c);
}

TEST(TypedInput, TimesAreFractionsOfADay) {
    const Typed cases[] = {
        {u"10:30", 10.5 / 24, fmt::kTime},
        {u"0:00", 0, fmt::kTime},
        {u"23:59:59", 86399.0 / 86400, fmt::kTimeSeconds},
        {u"10:30:15", 37815.0 / 86400, fmt::kTimeSeconds},
        {u"10:30 AM", 10.5 / 24, fmt::kTime12},
        {u"10:30 pm", 22.5 / 24, fmt::kTime12},
        {u"10:30pm", 22.5 / 24, fmt::kTime12},
        {u"10 AM", 10.0 / 24, fmt::kTime12},
        {u"12 AM", 0, fmt::kTime12},
        {u"12:15 PM", 12.25 / 24, fmt::kTime12},
        {u"9:05:07 p", (21 * 3600 + 5 * 60 + 7) / 86400.0, fmt::kTime12Seconds},
        // Hours from 24 on are a duration.
        {u"25:00", 25.0 / 24, fmt::kElapsed},
        {u"100:30:00", 100.5 / 24, fmt::kElapsed},
        // A date and a time of day.
        {u"1/2/2026 10:30", 46024 + 10.5 / 24, fmt::kDateTime},
        {u"1/2/2026  10:30 PM", 46024 + 22.5 / 24, fmt::kDateTime},
        {u"Mar 12, 2026 6:00", 46093.25, fmt::kDateTime},
        {u"12-Mar 6 am", 47919.25, fmt::kDateTime},
    };
    for (const auto& c : cases) ExpectTyped(c);
}

TEST(TypedInput, NearMissesStayText) {
    const auto expectText = [](const char16_t* text) {
        SCOPED_TRACE(Utf8(text));
        EXPECT_FALSE(ParseTypedNumber(text, kThisYear).has_value());
    };
    const char16_t* const monthNames[] = {
        u"Mar",          u"March",         u"12 Marchx 2026", u"31-Feb-2026",   u"29-Feb-2031", u"Order 12 Mar",
        u"12 Mar Order", u"Mar 12 2026 x", u"Mar-12-2026-1",  u"12 Mar 26 Apr", u"Mar 12,",     u", Mar 12",
        u"12,Mar 2026",  u"Mar, 2026",     u"Mar 2026 12",    u"12 Mar 926",    u"123 Mar",     u"Mar 12345",
        u"12--Mar-2026", u"12.Mar.2026",   u"Mär 12"};
    for (const char16_t* text : monthNames) expectText(text);
    const char16_t* const timesAndSigns[] = {
        u"13:61",  u"10:60",        u"10:30:60",    u"13 PM",    u"10:30 AMX",      u"10:30 M",
        u"10:",    u":30",          u"10:30:15:01", u"10000:00", u"1/2/2026 25:00", u"1/2/2026 10:30 x",
        u"-10:30", u"$12-Mar-2026", u"12-Mar-2026%"};
    for (const char16_t* text : timesAndSigns) expectText(text);
    const char16_t* const numeric[] = {u"-Mar 12", u"13/2", u"0/5",  u"1/123", u"1/20265", u"123/4",
                                       u"1/2/",    u"/1/2", u"1/-2", u"1 /2",  u"1/2x"};
    for (const char16_t* text : numeric) expectText(text);
}

// The forms handled before month names and times keep their meaning.
TEST(TypedInput, NumbersAndNumericDatesAreUnchanged) {
    struct Case {
        const char16_t* text;
        double value;
        std::uint16_t format;
        bool currency, dateOrTime;
    };
    const Case cases[] = {
        {u"00123", 123, 0, false, false},       {u"1,234.50", 1234.5, 4, false, false},
        {u"-1,234", -1234, 3, false, false},    {u"12%", 0.12, 9, false, false},
        {u"$-12.00", -12, 0, true, false},      {u"1e3", 1000, 0, false, false},
        {u"12/6/2026", 46362, 14, false, true}, {u"2026-12-6", 46362, 14, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        const auto n = ParseTypedNumber(c.text, kThisYear);
        ASSERT_TRUE(n.has_value());
        EXPECT_DOUBLE_EQ(n->value, c.value);
        EXPECT_EQ(n->numberFormat, c.format);
        EXPECT_EQ(n->currency, c.currency);
        EXPECT_EQ(n->dateOrTime, c.dateOrTime);
    }
}

TEST(TypedInput, FormulaBarTextShowsTheTimePartWhereExcelDoes) {
    struct Case {
        double serial;
        bool formatHasTime;
        const char16_t* text;
    };
    const Case cases[] = {
        {46093, false, u"3/12/2026"},
        {46024 + 10.5 / 24, true, u"1/2/2026 10:30:00 AM"},
        {46024 + 10.5 / 24, false, u"1/2/2026 10:30:00 AM"}, // a date format still shows the time part
        {10.5 / 24, true, u"10:30:00 AM"},
        {22.5 / 24, true, u"10:30:00 PM"},
        {0, true, u"12:00:00 AM"},
        {0.5, true, u"12:00:00 PM"},
        {25.0 / 24, true, u"1/1/1900 1:00:00 AM"}, // a typed duration
        {1, true, u"1/1/1900 12:00:00 AM"},
        {46093, true, u"3/12/2026 12:00:00 AM"},
        {46093.9999999, true, u"3/13/2026 12:00:00 AM"}, // rounds to whole seconds
        {37815.0 / 86400, true, u"10:30:15 AM"},
        // Outside Excel's dates the formula bar shows the number.
        {-1, false, u"-1"},
        {2958466, true, u"2958466"},
        {1e300, false, u"1E+300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serial);
        EXPECT_EQ(DateTimeText(c.serial, c.formatHasTime), c.text);
    }
}

TEST(TypedInput, TimeFormatCodesAreToldFromDateOnlyOnes) {
    for (const char16_t* code :
         {u"h:mm", u"m/d/yyyy h:mm", u"[h]:mm:ss", u"[mm]:ss", u"mm:ss.0", u"HH:MM AM/PM", u"[$-409]h:mm:ss AM/PM;@"}) {
        SCOPED_TRACE(Utf8(code));
        EXPECT_TRUE(IsTimeFormatCode(code));
    }
    for (const char16_t* code : {u"m/d/yyyy", u"d-mmm-yy", u"mmm-yy", u"[Magenta]d-mmm", u"[$-409]dddd, mmmm d",
                                 u"d \"hours\" mmm", u"yyyy\\hmm", u"d-mmm;h:mm", u"General"}) {
        SCOPED_TRACE(Utf8(code));
        EXPECT_FALSE(IsTimeFormatCode(code));
    }
}

} // namespace
} // namespace vi2zezir::workbook
