#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/utf.h"
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

std::u16string WithoutQuotes(std::u16string text) {
    std::erase(text, u'"');
    return text;
}

// Arguments handed over already split, as a POSIX shell hands them, are
// written as an argument text that splits into the same arguments: the same
// count, the same characters but for quotes, and unchanged where they were
// written as on Windows already. A "/f:" among them gives its value.
TEST(JoinArguments, SplitsBackIntoTheSameArguments) {
    std::mt19937 random(20260117);
    const std::u16string alphabet = u"ab \"/:";
    const auto randomText = [&](std::size_t maxLength) {
        std::u16string text(random() % (maxLength + 1), u'a');
        for (auto& c : text) c = alphabet[random() % alphabet.size()];
        return text;
    };
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::u16string> arguments(random() % 5);
        for (auto& argument : arguments) argument = randomText(6);
        const bool withSwitch = round % 2 == 0;
        const std::u16string value = randomText(8);
        std::size_t at = 0;
        if (withSwitch) {
            for (auto& argument : arguments)
                if (argument.starts_with(u"/")) argument.front() = u'x';
            at = random() % (arguments.size() + 1);
            arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(at), u"/f:" + value);
        }
        const std::u16string text = modCommandLine::JoinArguments(arguments);
        std::vector<std::u16string> table;
        modCommandLine::SplitArguments(text, u" ", table);
        ASSERT_EQ(table.size(), arguments.size() + 1) << text::ToUtf8(text);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            const std::u16string& argument = arguments[i];
            const std::u16string& piece = table[i + 1];
            ASSERT_EQ(WithoutQuotes(piece), WithoutQuotes(argument)) << text::ToUtf8(text);
            std::size_t quotes = 0;
            bool asOnWindows = !argument.empty();
            for (char16_t c : argument) {
                quotes += c == u'"';
                asOnWindows = asOnWindows && (c != u' ' || quotes % 2 == 1);
            }
            if (asOnWindows && quotes % 2 == 0) {
                ASSERT_EQ(piece, argument) << text::ToUtf8(text);
            }
        }
        modCommandLine::ParseCommandLine(text);
        std::u16string found;
        ASSERT_EQ(modCommandLine::GetSwitchValue(u"/f", found), withSwitch) << text::ToUtf8(text);
        ASSERT_EQ(found, withSwitch ? WithoutQuotes(value) : u"") << text::ToUtf8(text);
    }
}

TEST(SplitArguments, KeepsQuotesAndEmptyPieces) {
    std::vector<std::u16string> table;
    modCommandLine::SplitArguments(u" a  \"b c\"\td ", u" ", table);
    EXPECT_EQ(table, (std::vector<std::u16string>{u"", u"", u"a", u"", u"\"b c\"\td", u""}));
    modCommandLine::SplitArguments(u"", u" ", table);
    EXPECT_EQ(table, (std::vector<std::u16string>{u""}));
}

} // namespace
} // namespace vi2zezir
