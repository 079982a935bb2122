// The Win32 window of the form frmTX_To_ExcelLink: its controls laid out as
// the form's layout fixes them, and the FormView the form talks to. It holds
// no workflow: clicks go to the form's handlers through shell::RunEvent.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/window/base_window.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::win32 {

inline constexpr wchar_t kMainWindowClass[] = L"VI2ZezirMainWindow";

class MainWindow final : public BaseWindow<MainWindow>, public shell::FormView {
public:
    // statusLogPath: a file each status text is appended to (UTF-8, one line
    // each), for scripts that run the program unattended; empty for none.
    MainWindow(HINSTANCE instance, std::wstring statusLogPath);
    ~MainWindow();

    // Creates the window and its controls, hidden (Form_Load shows it).
    void Create();
    void AttachForm(shell::frmTX_To_ExcelLink* form) noexcept { form_ = form; }

    // 0 when the program ends well; 1 when the last event ended in a refusal
    // or a failure (what the status bar showed last).
    int ExitCode() const noexcept { return exitCode_; }
    // Appends a line to the status log, if there is one.
    void AppendStatusLog(const std::u16string& line);
    // Keyboard navigation between the controls (Tab, Shift+Tab, mnemonics).
    bool PreTranslate(MSG& message);

    // FormView
    void Show() override;
    void SetTopMost(bool onTop) override;
    std::u16string PathText() const override;
    void SetPathText(const std::u16string& text) override;
    void SetStatusText(const std::u16string& text) override;
    std::u16string ShowOpenDialog(const shell::OpenDialogOptions& options) override;
    void Close() override;

    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs one of the form's handlers as the program's top level.
    void RunFormEvent(void (shell::frmTX_To_ExcelLink::*handler)());

private:
    void CreateControls();
    HWND AddControl(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y, int width,
                    int height, int id);

    HINSTANCE instance_;
    std::wstring statusLogPath_;
    shell::frmTX_To_ExcelLink* form_ = nullptr;
    HFONT font_ = nullptr;
    HBITMAP logo_ = nullptr;
    HBRUSH white_ = nullptr;
    HWND txtExcelFile_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND focus_ = nullptr;
    int exitCode_ = 0;
    bool running_ = false;
    bool closePending_ = false;
};

} // namespace vi2zezir::win32
