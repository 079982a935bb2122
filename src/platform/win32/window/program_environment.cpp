#include "platform/win32/window/program_environment.h"

#include "platform/win32/com/com_ptr.h"
#include "platform/win32/com/registration.h"

namespace vi2zezir::win32 {

std::u16string ProgramDirectory() {
    std::wstring path = com::ModulePath();
    std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    // A program in a drive's root ("C:\VI2Zezir.exe") has the directory
    // "C:"; the default template then is "C:\quote40.xls".
    return com::FromWide(std::wstring_view(path).substr(0, slash));
}

std::u16string ArgumentText(std::u16string_view commandLine) {
    std::size_t i = 0;
    if (!commandLine.empty() && commandLine[0] == u'"') {
        std::size_t close = commandLine.find(u'"', 1);
        i = close == std::u16string_view::npos ? commandLine.size() : close + 1;
    } else {
        while (i < commandLine.size() && commandLine[i] != u' ' && commandLine[i] != u'\t') ++i;
    }
    while (i < commandLine.size() && (commandLine[i] == u' ' || commandLine[i] == u'\t')) ++i;
    return std::u16string(commandLine.substr(i));
}

} // namespace vi2zezir::win32
