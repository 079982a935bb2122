// libFuzzer target for the command-line splitter: the input is the argument
// text as UTF-16LE. Splitting and looking up "/f" must never fail, and the
// parts must account for every character of the text but the separators.
// The same input, cut at U+0000 into arguments, must join into a text that
// splits back into them.
#include "shell/modCommandLine.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/failure.h"
#include "fuzz_check.h"

namespace {

using vi2zezir::fuzz::Check;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vi2zezir;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

    std::vector<std::u16string> table;
    modCommandLine::SplitArguments(text, u" ", table);
    Check(!table.empty() && table[0].empty(), "element 0 is not the empty text");
    std::size_t characters = 0;
    for (const auto& part : table) characters += part.size();
    std::size_t spaces = 0;
    for (char16_t c : text) spaces += c == u' ';
    Check(characters + spaces >= text.size(), "characters were lost");
    Check(characters <= text.size(), "characters were made up");

    modCommandLine::ParseCommandLine(text);
    std::u16string value;
    for (const char16_t* name : {u"/f", u"/F", u"/fx", u""}) {
        try {
            if (modCommandLine::GetSwitchValue(name, value))
                Check(value.find(u'"') == std::u16string::npos, "a switch value kept a double quote");
        } catch (const Failure&) {
            // An argument longer than 32,767 characters overflows the 16-bit
            // length, as it did in the original.
        }
    }

    // Read as arguments split already (at U+0000), as a POSIX shell hands
    // them: the text they are joined into splits back into them.
    std::vector<std::u16string> arguments(1);
    for (char16_t c : text) {
        if (c == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(c);
    }
    modCommandLine::SplitArguments(modCommandLine::JoinArguments(arguments), u" ", table);
    Check(table.size() == arguments.size() + 1, "joined arguments split into another count");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::u16string piece = table[i + 1], argument = arguments[i];
        std::erase(piece, u'"');
        std::erase(argument, u'"');
        Check(piece == argument, "a joined argument split back into other characters");
    }
    return 0;
}
