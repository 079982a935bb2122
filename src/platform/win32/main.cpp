// VI2Zezir.exe: the form's window on Windows, with COM automation of the
// running Tendrix and a new Excel.
//
// Unattended runs: when the environment variable VI2ZEZIR_STATUS_LOG names a
// file, every status text is appended to it as a line "status: <text>" (the
// clearing before Excel is shown gives "status: "), and the program's end as
// "exit: <code>". The exit code is 0 when the program ends well, 1 when the
// last event ended in a refusal or an error (the window shows it and stays
// open until closed). A GUI program has no console to print to, so this is
// how scripts and the Wine tests read what the status bar said.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "base/utf.h"
#include "platform/win32/com/automation_clients.h"
#include "platform/win32/com/message_filter.h"
#include "platform/win32/window/main_window.h"
#include "platform/win32/window/program_environment.h"

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
    DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    DWORD got = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(got);
    return value;
}

class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool Ok() const { return SUCCEEDED(hr_); }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

int RunProgram(HINSTANCE instance) {
    using namespace vi2zezir;
    win32::MainWindow window(instance, EnvironmentValue(L"VI2ZEZIR_STATUS_LOG"));
    com::ComObjectServices services;
    shell::Environment environment{win32::ProgramDirectory(), win32::ArgumentText(com::FromWide(GetCommandLineW()))};
    window.Create();
    // The form lives inside the window's lifetime and releases its
    // references (Form_Unload) before COM is torn down.
    shell::frmTX_To_ExcelLink form(window, services, environment);
    window.AttachForm(&form);
    window.RunFormEvent(&shell::frmTX_To_ExcelLink::Form_Load);

    MSG message;
    while (window.Handle() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window.PreTranslate(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (form.IsLoaded()) form.Form_Unload();
    window.AttachForm(nullptr);
    int exitCode = window.ExitCode();
    window.AppendStatusLog(u"exit: " + text::FromUtf8(std::to_string(exitCode)));
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ComApartment apartment;
    if (!apartment.Ok()) {
        // No COM, no transfer: say why where unattended runs look.
        std::wstring log = EnvironmentValue(L"VI2ZEZIR_STATUS_LOG");
        if (!log.empty()) {
            if (FILE* file = _wfopen(log.c_str(), L"ab")) {
                std::fprintf(file, "failure: CoInitializeEx 0x%08lX\nexit: 2\n",
                             static_cast<unsigned long>(apartment.Result()));
                std::fclose(file);
            }
        }
        return 2;
    }
    vi2zezir::com::ScopedMessageFilter filter;
    try {
        return RunProgram(instance);
    } catch (const std::exception& e) {
        // Only the window's own creation can get here; the form's events are
        // caught by their top level.
        std::wstring log = EnvironmentValue(L"VI2ZEZIR_STATUS_LOG");
        if (!log.empty()) {
            if (FILE* file = _wfopen(log.c_str(), L"ab")) {
                std::fprintf(file, "failure: %s\nexit: 2\n", e.what());
                std::fclose(file);
            }
        } else {
            MessageBoxA(nullptr, e.what(), "VI2Zezir", MB_ICONERROR);
        }
        return 2;
    }
}
