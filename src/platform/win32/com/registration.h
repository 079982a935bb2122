// Per-user class registration of the stand-in servers (HKCU\Software\Classes),
// so a test prefix, or a user trying the program, needs no administrator.
#pragma once

#include <windows.h>

#include <string>

namespace vi2zezir::com {

struct ClassRegistration {
    const wchar_t* progId;      // "Tendrix.Application"
    const wchar_t* description; // the class's friendly name
    CLSID clsid;
    // The local server's command line; empty for a class only ever found in
    // the running object table.
    std::wstring localServer;
};

void RegisterServerClass(const ClassRegistration& registration);
void UnregisterServerClass(const ClassRegistration& registration);

// The full path of this executable.
std::wstring ModulePath();

std::wstring GuidText(const GUID& guid);

} // namespace vi2zezir::com
