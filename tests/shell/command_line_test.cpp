#include <gtest/gtest.h>

#include "shell/modCommandLine.h"

namespace vi2zezir {
namespace {

struct SwitchCase {
    std::u16string commandLine;
    bool found;
    std::u16string value;
};

class SwitchLookup : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchLookup, FindsTheFirstArgumentCarryingTheSwitch) {
    const SwitchCase& c = GetParam();
    modCommandLine::ParseCommandLine(c.commandLine);
    std::u16string value = u"stale";
    EXPECT_EQ(modCommandLine::GetSwitchValue(u"/f", value), c.found);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchLookup,
    ::testing::Values(SwitchCase{u"", false, u""},
                      SwitchCase{u"/f:C:\\Templates\\Quote.xls", true, u"C:\\Templates\\Quote.xls"},
                      SwitchCase{u"/F:C:\\Templates\\Quote.xls", true, u"C:\\Templates\\Quote.xls"},
                      SwitchCase{u"/f:\"C:\\My Templates\\Quote.xls\"", true, u"C:\\My Templates\\Quote.xls"},
                      SwitchCase{u"/f:C:\\My Templates\\Quote.xls", true, u"C:\\My"},
                      SwitchCase{u"\"/f:C:\\My Templates\\Quote.xls\"", false, u""}, SwitchCase{u"/f", true, u""},
                      SwitchCase{u"/f:", true, u""}, SwitchCase{u"/f C:\\Templates\\Quote.xls", true, u""},
                      SwitchCase{u"/fC:\\Templates\\Quote.xls", false, u""}, SwitchCase{u"/fx", false, u""},
                      SwitchCase{u"/x /f:a.xls", true, u"a.xls"}, SwitchCase{u"/f:a.xls /f:b.xls", true, u"a.xls"},
                      SwitchCase{u"/f:a\"b\"c.xls", true, u"abc.xls"}, SwitchCase{u"  /f:a.xls  ", true, u"a.xls"},
                      SwitchCase{u"x\"y /f:a.xls", false, u""}, SwitchCase{u"/fx /f:a.xls", true, u"a.xls"}));

TEST(SplitArguments, KeepsQuotesAndEmptyPieces) {
    std::vector<std::u16string> table;
    modCommandLine::SplitArguments(u" a  \"b c\"\td ", u" ", table);
    EXPECT_EQ(table, (std::vector<std::u16string>{u"", u"", u"a", u"", u"\"b c\"\td", u""}));
    modCommandLine::SplitArguments(u"", u" ", table);
    EXPECT_EQ(table, (std::vector<std::u16string>{u""}));
}

} // namespace
} // namespace vi2zezir
