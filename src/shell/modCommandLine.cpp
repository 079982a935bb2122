#include "shell/modCommandLine.h"

#include <algorithm>

#include "shell/frmTX_To_ExcelLink.h"
#include "text/case.h"
#include "text/modSTR.h"

namespace vi2zezir::modCommandLine {
namespace {

std::vector<std::u16string>& Table() {
    static std::vector<std::u16string> table{std::u16string()};
    return table;
}

} // namespace

const std::vector<std::u16string>& ArgumentTable() { return Table(); }

void ParseCommandLine(const std::u16string& argumentText) { SplitArguments(argumentText, u" ", Table()); }

void SplitArguments(const std::u16string& text, const std::u16string& separator, std::vector<std::u16string>& table) {
    table.assign(1, std::u16string());
    std::size_t current = 1;
    long long quotes = 0;
    for (char16_t c : text) {
        if (c == u'"') ++quotes;
        bool dropped = false;
        if (separator.size() == 1 && c == separator[0] && quotes % 2 == 0) {
            ++current;
            table.resize(std::max(table.size(), current + 1));
            table[current].clear();
            dropped = true;
        }
        if (table.size() < current + 1) table.resize(current + 1);
        if (!dropped) table[current].push_back(c);
    }
}

std::u16string JoinArguments(const std::vector<std::u16string>& arguments) {
    std::u16string text;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0) text += u' ';
        if (arguments[i].empty()) {
            text += u"\"\"";
            continue;
        }
        // Every argument leaves the count of quotes even, so the space after
        // it splits; inside it, a space splits nothing where the count is odd.
        bool quoted = false;
        for (char16_t c : arguments[i]) {
            if (c == u'"') quoted = !quoted;
            if (c == u' ' && !quoted)
                text += u"\" \"";
            else
                text += c;
        }
        if (quoted) text += u'"';
    }
    return text;
}

bool GetSwitchValue(const std::u16string& switchName, std::u16string& value) {
    value.clear();
    bool found = false;
    const std::u16string name = text::LowerCase(switchName);
    const std::size_t length = CheckedInt16(static_cast<long long>(switchName.size()));
    const auto& table = Table();
    for (std::size_t i = 1; i < table.size(); ++i) {
        const std::u16string& argument = table[i];
        if (text::LowerCase(argument.substr(0, length)) != name) continue;
        if (argument.size() == length) {
            found = true;
            break;
        }
        if (argument.size() == length + 1) {
            if (argument.back() == u':') {
                found = true;
                break;
            }
            continue;
        }
        if (text::LowerCase(argument.substr(0, length + 1)) == name + u":") {
            found = true;
            value = modSTR::DropLeadingChars(argument, CheckedInt16(static_cast<long long>(length) + 1));
            break;
        }
    }
    std::erase(value, u'"');
    return found;
}

void ApplyCommandLine(shell::frmTX_To_ExcelLink& form) {
    std::u16string value;
    if (!GetSwitchValue(u"/f", value)) return;
    form.View().SetPathText(value);
    form.CmdExport2Excel_Click();
}

} // namespace vi2zezir::modCommandLine
