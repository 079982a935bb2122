// Class identities of the stand-in automation servers. The CLSIDs are our
// own; the class names are the ones the program asks for, registered per
// user (a test's Wine prefix, or a machine without Tendrix or Excel).
#pragma once

#include <windows.h>

namespace vi2zezir::standin {

// {F12DA00F-807A-4434-8E13-4287C0C23703}
inline constexpr CLSID kTendrixStandinClsid = {
    0xf12da00f, 0x807a, 0x4434, {0x8e, 0x13, 0x42, 0x87, 0xc0, 0xc2, 0x37, 0x03}};
// {432E3CD2-3373-44FC-A43D-CD79836687B6}
inline constexpr CLSID kExcelStandinClsid = {
    0x432e3cd2, 0x3373, 0x44fc, {0xa4, 0x3d, 0xcd, 0x79, 0x83, 0x66, 0x87, 0xb6}};

inline constexpr wchar_t kTendrixProgId[] = L"Tendrix.Application";
inline constexpr wchar_t kExcelProgId[] = L"EXCEL.APPLICATION";

// Signalled by "tendrix-standin.exe /quit" to end a running stand-in.
inline constexpr wchar_t kTendrixQuitEvent[] = L"VI2Zezir.TendrixStandin.Quit";

} // namespace vi2zezir::standin
