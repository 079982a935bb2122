#include "platform/win32/window/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <vector>

#include "base/utf.h"
#include "platform/win32/com/com_ptr.h"
#include "platform/win32/resources/resource.h"
#include "shell/form_layout.h"

namespace vi2zezir::win32 {
using com::FromWide;
using com::ToWide;

namespace {

constexpr wchar_t kPictureClass[] = L"VI2ZezirPicture";

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

// Picture1: a focusable box that draws the logo at its top-left corner.
LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
        auto logo = reinterpret_cast<HBITMAP>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (logo) {
            BITMAP info{};
            GetObjectW(logo, sizeof(info), &info);
            HDC memory = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(memory, logo);
            BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            DeleteDC(memory);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_LBUTTONDOWN: SetFocus(hwnd); return 0;
    case WM_GETDLGCODE: return DLGC_STATIC;
    default: return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

shell::ControlColour ColourOf(int id) {
    for (const shell::ControlLayout& layout : shell::kFormLayout) {
        if (static_cast<int>(layout.id) == id) return layout.colour;
    }
    return shell::ControlColour::Default;
}

void RegisterPictureClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PictureProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = kPictureClass;
    RegisterClassExW(&wc);
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance, std::wstring statusLogPath)
    : instance_(instance), statusLogPath_(std::move(statusLogPath)) {}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    if (font_) DeleteObject(font_);
    if (logo_) DeleteObject(logo_);
    if (white_) DeleteObject(white_);
}

void MainWindow::Create() {
    HICON icon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_VI2ZEZIR));
    RegisterWindowClass(instance_, kMainWindowClass, icon, GetSysColorBrush(COLOR_BTNFACE));
    RegisterPictureClass(instance_);

    RECT frame{0, 0, shell::kClientWidth, shell::kClientHeight};
    AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
    CreateWindowExW(kWindowExStyle, kMainWindowClass, ToWide(shell::kWindowTitle).c_str(), kWindowStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_,
                    this);
    if (!hwnd_)
        throw Failure(static_cast<std::int32_t>(HRESULT_FROM_WIN32(GetLastError())), u"Cannot create the window");
    // Set on the window too, so the title bar and task switcher need not
    // fall back to the class.
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    HICON smallIcon =
        static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VI2ZEZIR), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon : icon));
    CreateControls();
}

HWND MainWindow::AddControl(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y,
                            int width, int height, int id) {
    HWND control =
        CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, x, y, width, height,
                        hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
}

void MainWindow::CreateControls() {
    // 8-point MS Shell Dlg at 96 dpi: the sizes of the fixed layout fit it.
    font_ = CreateFontW(-shell::kDialogFontPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                        L"MS Shell Dlg");
    white_ = CreateSolidBrush(RGB(255, 255, 255));
    logo_ = static_cast<HBITMAP>(LoadImageW(instance_, MAKEINTRESOURCEW(IDB_LOGO), IMAGE_BITMAP, 0, 0, 0));

    // The layout lists its controls top first and, among those that take
    // the focus, in tab order: creation order is both Z order (first on
    // top) and tab order.
    for (const shell::ControlLayout& layout : shell::kFormLayout) {
        const wchar_t* className = WC_STATICW;
        DWORD style = 0;
        DWORD exStyle = 0;
        switch (layout.kind) {
        case shell::ControlKind::TextBox:
            className = WC_EDITW;
            style = ES_AUTOHSCROLL | ES_LEFT;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case shell::ControlKind::Button:
            className = WC_BUTTONW;
            style = BS_PUSHBUTTON;
            break;
        case shell::ControlKind::Picture: className = kPictureClass; break;
        case shell::ControlKind::StatusBar:
            // The status bar keeps the layout's size: no parent alignment or resizing.
            className = STATUSCLASSNAMEW;
            style = CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER;
            break;
        case shell::ControlKind::Line: style = SS_BLACKRECT; break;
        case shell::ControlKind::Label: style = SS_LEFT; break;
        }
        if (shell::IsTabStop(layout.kind)) style |= WS_TABSTOP;
        HWND control = AddControl(className, ToWide(layout.text).c_str(), style, exStyle, layout.x, layout.y,
                                  layout.width, layout.height, static_cast<int>(layout.id));
        switch (layout.id) {
        case shell::ControlId::txtExcelFile: txtExcelFile_ = control; break;
        case shell::ControlId::Picture1:
            SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(logo_));
            break;
        case shell::ControlId::sb: statusBar_ = control; break;
        default: break;
        }
    }
    SendMessageW(statusBar_, SB_SIMPLE, TRUE, 0);
    SendMessageW(statusBar_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(L""));
    focus_ = txtExcelFile_;
}

bool MainWindow::PreTranslate(MSG& message) { return hwnd_ && IsDialogMessageW(hwnd_, &message); }

void MainWindow::RunFormEvent(void (shell::frmTX_To_ExcelLink::*handler)()) {
    if (!form_ || running_) return;
    // One event at a time: a click that arrives while a transfer runs (the
    // dialog pumps messages) is not a second transfer.
    running_ = true;
    const shell::EventOutcome outcome = shell::RunEvent(*form_, handler);
    running_ = false;
    exitCode_ = outcome.kind == shell::EventOutcome::Kind::Done ? 0 : 1;
    if (closePending_ && hwnd_) {
        closePending_ = false;
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == static_cast<WORD>(shell::ControlId::CmdExport2Excel)) {
                RunFormEvent(&shell::frmTX_To_ExcelLink::CmdExport2Excel_Click);
                return 0;
            }
            if (LOWORD(wParam) == static_cast<WORD>(shell::ControlId::cmdOtherFile)) {
                RunFormEvent(&shell::frmTX_To_ExcelLink::cmdOtherFile_Click);
                return 0;
            }
        }
        break;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const shell::ControlColour colour = ColourOf(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        if (colour == shell::ControlColour::WhiteBackground) {
            SetBkColor(dc, RGB(255, 255, 255));
            return reinterpret_cast<LRESULT>(white_);
        }
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        if (colour == shell::ControlColour::WorkspaceText) SetTextColor(dc, GetSysColor(COLOR_APPWORKSPACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
        // Keep the focused control across deactivation, as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focused = GetFocus();
            if (focused && IsChild(hwnd_, focused)) focus_ = focused;
        } else if (focus_) {
            SetFocus(focus_);
        }
        return 0;
    case WM_SETFOCUS:
        if (focus_) SetFocus(focus_);
        return 0;
    case WM_CLOSE:
        // COM pumps messages while a call is out; a close that arrives in
        // the middle of a run waits for the run's end.
        if (running_) {
            closePending_ = true;
            return 0;
        }
        if (form_ && form_->IsLoaded()) {
            running_ = true;
            shell::RunEvent(*form_, &shell::frmTX_To_ExcelLink::Form_Unload);
            running_ = false;
        }
        DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void MainWindow::Show() {
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(txtExcelFile_);
}

void MainWindow::SetTopMost(bool onTop) {
    // The result is not examined: a window that cannot change layer stays usable.
    SetWindowPos(hwnd_, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

std::u16string MainWindow::PathText() const {
    int length = GetWindowTextLengthW(txtExcelFile_);
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    int got = GetWindowTextW(txtExcelFile_, buffer.data(), length + 1);
    return FromWide(buffer.data(), static_cast<std::size_t>(got));
}

void MainWindow::SetPathText(const std::u16string& text) { SetWindowTextW(txtExcelFile_, ToWide(text).c_str()); }

void MainWindow::SetStatusText(const std::u16string& text) {
    std::wstring wide = ToWide(text);
    SendMessageW(statusBar_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(wide.c_str()));
    // The run processes no window events between its steps; paint the
    // status bar now so each step's text is seen.
    UpdateWindow(statusBar_);
    AppendStatusLog(u"status: " + text);
}

std::u16string MainWindow::ShowOpenDialog(const shell::OpenDialogOptions& options) {
    // "Description|pattern" becomes the dialog's double-null-terminated list.
    std::wstring filter = ToWide(options.filter);
    for (wchar_t& c : filter) {
        if (c == L'|') c = L'\0';
    }
    filter.append(2, L'\0');
    std::wstring title = ToWide(options.dialogTitle);
    std::wstring initDir = ToWide(options.initDir);
    std::vector<wchar_t> file(32768, L'\0');
    std::wstring initial = ToWide(options.fileName);
    initial.copy(file.data(), std::min(initial.size(), file.size() - 1));

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = initDir.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.Flags = options.flags;
    if (GetOpenFileNameW(&ofn)) return FromWide(file.data(), wcslen(file.data()));
    DWORD error = CommDlgExtendedError();
    if (error == 0) return {}; // cancelled: an empty name, no failure
    throw Failure(static_cast<std::int32_t>(error), u"The file dialog could not be shown", "CMDialog.ShowOpen");
}

void MainWindow::Close() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void MainWindow::AppendStatusLog(const std::u16string& line) {
    if (statusLogPath_.empty()) return;
    FILE* file = _wfopen(statusLogPath_.c_str(), L"ab");
    if (!file) return;
    std::string utf8 = text::ToUtf8(line) + "\n";
    fwrite(utf8.data(), 1, utf8.size(), file);
    fclose(file);
}

} // namespace vi2zezir::win32
