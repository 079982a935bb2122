// window-probe.exe: reads a running VI2Zezir window back through Win32, from
// another process, and checks it against the form's fixed layout.
//
//   window-probe.exe check [SECONDS]   wait for the window, check it; exit 0 when all holds
//   window-probe.exe close [SECONDS]   ask the window to close (WM_CLOSE)
//   window-probe.exe version FILE      check the version record, icon and logo of FILE
//   window-probe.exe picker FILE       use the template picker: cancel it, then choose FILE
//
// Each check prints "ok ..." or "FAIL ..." so a failing run says what differs.
#include <windows.h>

#include <dlgs.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kClass[] = L"VI2ZezirMainWindow";
constexpr wchar_t kTitle[] = L"Tendrix -> Excel Template";
constexpr wchar_t kInstructions[] =
    L"This utility will transfer fields from the open Tendrix document to an Excel file. Please select the Tendrix  "
    L"Excel Template that you would like to use. To transfer the fields to Excel, press the 'Send to Excel' Button. "
    L"This utility will close when finished.";

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// WM_GETTEXT is marshalled across processes; GetWindowText would only give
// the creation text of another process's edit control.
std::wstring TextOf(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"<no answer>";
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        5000, &got);
    return std::wstring(buffer.data(), got);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// Start-up shows the window, makes it top-most, then fills the path box: a
// filled path box means start-up has got past the layer change.
HWND WaitForWindow(int seconds, bool startedUp) {
    for (int i = 0; i < seconds * 10; ++i) {
        HWND hwnd = FindWindowW(kClass, kTitle);
        if (hwnd && IsWindowVisible(hwnd) && (!startedUp || !TextOf(GetDlgItem(hwnd, 1001)).empty())) return hwnd;
        Sleep(100);
    }
    return nullptr;
}

struct Expected {
    int id;
    const wchar_t* className;
    const wchar_t* text; // nullptr: not checked here
    int x, y, width, height;
    bool tabStop;
};

const Expected kControls[] = {
    {1001, L"Edit", nullptr, 168, 96, 337, 19, true},
    {1002, L"Button", L"Send To Excel", 384, 120, 137, 25, true},
    {1003, L"Button", L"..", 504, 96, 17, 19, true},
    {1004, L"VI2ZezirPicture", L"", 0, 0, 153, 145, true},
    {1005, L"Static", L"Excel File:", 168, 80, 65, 17, false},
    {1006, L"Static", L"", 144, 0, 401, 73, false},
    {1007, L"Static", kInstructions, 160, 8, 369, 57, false},
    {1008, L"Static", L"Version 1.95", 168, 136, 89, 17, false},
    {1009, L"Static", L"", 152, 72, 392, 1, false},
    {1010, L"msctls_statusbar32", nullptr, 0, 148, 541, 17, false},
};

int CheckWindow(int seconds) {
    HWND window = WaitForWindow(seconds, true);
    Check(window != nullptr, "a visible window of class VI2ZezirMainWindow titled \"Tendrix -> Excel Template\"");
    if (!window) return 1;

    RECT client;
    GetClientRect(window, &client);
    Check(client.right == 541 && client.bottom == 165,
          "client area 541 x 165 (is " + std::to_string(client.right) + " x " + std::to_string(client.bottom) + ")");
    Check((GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "top-most (WS_EX_TOPMOST)");
    std::vector<int> tabOrder;
    for (const Expected& e : kControls) {
        HWND control = GetDlgItem(window, e.id);
        std::string name = "control " + std::to_string(e.id) + " (" + Utf8(e.className) + ")";
        Check(control != nullptr, name + " exists");
        if (!control) continue;
        Check(_wcsicmp(ClassOf(control).c_str(), e.className) == 0, name + " class is " + Utf8(ClassOf(control)));
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
        char where[128];
        std::snprintf(where, sizeof where, " at %ld,%ld size %ld x %ld", r.left, r.top, r.right - r.left,
                      r.bottom - r.top);
        Check(r.left == e.x && r.top == e.y && r.right - r.left == e.width && r.bottom - r.top == e.height,
              name + where);
        if (e.text) {
            std::wstring text = TextOf(control);
            Check(text == e.text, name + " text \"" + Utf8(text) + "\"");
        }
        Check(((GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP) != 0) == e.tabStop,
              name + (e.tabStop ? " takes the focus by Tab" : " is not a tab stop"));
    }
    // Dialog navigation follows the sibling order of WS_TABSTOP controls.
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) tabOrder.push_back(GetDlgCtrlID(child));
    }
    Check(tabOrder == std::vector<int>{1001, 1002, 1003, 1004},
          "tab order txtExcelFile, CmdExport2Excel, cmdOtherFile, Picture1");

    std::wstring path = TextOf(GetDlgItem(window, 1001));
    const std::wstring suffix = L"\\quote40.xls";
    Check(path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0,
          "path box proposes the default template: \"" + Utf8(path) + "\"");

    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    bool focused = GetGUIThreadInfo(thread, &info) && info.hwndFocus == GetDlgItem(window, 1001);
    Check(focused, "the path box has the focus");
    return g_failures == 0 ? 0 : 1;
}

int CloseWindow(int seconds) {
    HWND window = WaitForWindow(seconds, false);
    if (!window) {
        std::printf("FAIL no window to close\n");
        return 1;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
}

// The common file dialog is a top-level "#32770" window owned by the form.
HWND WaitForFileDialog(HWND owner, int seconds) {
    struct Search {
        HWND owner, found;
    } search{owner, nullptr};
    for (int i = 0; i < seconds * 10 && !search.found; ++i) {
        EnumWindows(
            [](HWND hwnd, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                if (ClassOf(hwnd) == L"#32770" && GetWindow(hwnd, GW_OWNER) == s->owner && IsWindowVisible(hwnd)) {
                    s->found = hwnd;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(100);
    }
    return search.found;
}

bool WaitUntilGone(HWND hwnd, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (!IsWindow(hwnd)) return true;
        Sleep(100);
    }
    return false;
}

// Presses a dialog button the way a click does; posted, because the dialog
// runs its own modal loop in the other process.
void Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The picker as a person uses it: ".." opens the file dialog over the form;
// Cancel leaves the path box as it was; choosing a file puts its name there,
// in lower case as the form keeps names on a case-blind file system.
int CheckPicker(const wchar_t* file, int seconds) {
    HWND window = WaitForWindow(seconds, true);
    Check(window != nullptr, "the window is up");
    if (!window) return 1;
    HWND pathBox = GetDlgItem(window, 1001);
    const std::wstring before = TextOf(pathBox);

    PostMessageW(GetDlgItem(window, 1003), BM_CLICK, 0, 0);
    HWND dialog = WaitForFileDialog(window, 30);
    Check(dialog != nullptr, "\"..\" opens a file dialog owned by the window");
    if (!dialog) return 1;
    std::wstring title = TextOf(dialog);
    Check(title == L"Please select an Excel File", "dialog title \"" + Utf8(title) + "\"");
    // A drop-down list's window text is its selected entry.
    std::wstring filter = TextOf(GetDlgItem(dialog, cmb1));
    Check(filter == L"Excel Files (*.XLS)", "file type \"" + Utf8(filter) + "\"");
    std::wstring folder = TextOf(GetDlgItem(dialog, cmb2));
    Check(_wcsicmp(folder.c_str(), L"bin") == 0, "starts in the program's folder (shows \"" + Utf8(folder) + "\")");
    Press(dialog, IDCANCEL);
    Check(WaitUntilGone(dialog, 30), "Cancel closes the dialog");
    Check(TextOf(pathBox) == before, "Cancel leaves the path box as it was");

    PostMessageW(GetDlgItem(window, 1003), BM_CLICK, 0, 0);
    dialog = WaitForFileDialog(window, 30);
    Check(dialog != nullptr, "\"..\" opens the dialog again");
    if (!dialog) return 1;
    HWND name = GetDlgItem(dialog, edt1);
    if (!name) name = GetDlgItem(dialog, cmb13);
    Check(name != nullptr, "the dialog has a file name box");
    if (!name) return 1;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(file), SMTO_ABORTIFHUNG, 5000, &ignored);
    Press(dialog, IDOK);
    Check(WaitUntilGone(dialog, 30), "Open closes the dialog");
    std::wstring expected = file;
    CharLowerW(expected.data());
    std::wstring chosen = TextOf(pathBox);
    Check(chosen == expected, "the chosen file is in the path box: \"" + Utf8(chosen) + "\"");
    return g_failures == 0 ? 0 : 1;
}

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInRes;
    WORD id;
};
#pragma pack(pop)

// The program file's icon (first icon group) and the logo bitmap.
int CheckArtwork(const wchar_t* file) {
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Check(module != nullptr, "resources readable");
    if (!module) return 1;
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    bool icon32 = false;
    if (group) {
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
        WORD count = data ? *reinterpret_cast<const WORD*>(data + 4) : 0;
        for (WORD i = 0; i < count; ++i) {
            IconDirectoryEntry entry;
            std::memcpy(&entry, data + 6 + i * sizeof(IconDirectoryEntry), sizeof(entry));
            if (entry.width == 32 && entry.height == 32 && entry.bitCount <= 8) icon32 = true;
        }
    }
    Check(icon32, "file and window icon: 32 x 32, 256 colours");
    HRSRC logo = FindResourceW(module, MAKEINTRESOURCEW(101), RT_BITMAP);
    bool logoSize = false;
    if (logo) {
        const auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, logo)));
        logoSize = header && header->biWidth == 150 && std::abs(header->biHeight) == 144;
    }
    Check(logoSize, "Picture1's logo: 150 x 144");
    FreeLibrary(module);
    return g_failures == 0 ? 0 : 1;
}

std::wstring VersionString(const std::vector<BYTE>& data, const wchar_t* name) {
    std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), key.c_str(), &value, &length) || !value) return L"<missing>";
    return std::wstring(static_cast<const wchar_t*>(value), length ? length - 1 : 0);
}

int CheckVersion(const wchar_t* file) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file, &handle);
    Check(size != 0, "version resource present");
    if (!size) return 1;
    std::vector<BYTE> data(size);
    GetFileVersionInfoW(file, 0, size, data.data());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length);
    Check(fixed && fixed->dwFileVersionMS == MAKELONG(5, 1) && fixed->dwFileVersionLS == MAKELONG(16, 0) &&
              fixed->dwProductVersionMS == MAKELONG(5, 1) && fixed->dwProductVersionLS == MAKELONG(16, 0),
          "numeric file and product version 1.5.0.16");
    const std::pair<const wchar_t*, const wchar_t*> fields[] = {
        {L"FileVersion", L"1.05.0016"}, {L"ProductVersion", L"1.05.0016"},      {L"ProductName", L"VI2Zezir"},
        {L"InternalName", L"VI2Zezir"}, {L"OriginalFilename", L"VI2Zezir.exe"},
    };
    for (const auto& [name, expected] : fields) {
        std::wstring value = VersionString(data, name);
        Check(value == expected, Utf8(name) + " = \"" + Utf8(value) + "\"");
    }
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length);
    Check(translation && translation->language == 0x0409 && translation->codePage == 0x04B0,
          "language U.S. English (0x0409), code page Unicode (0x04B0)");
    return CheckArtwork(file);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc >= 2 ? argv[1] : L"";
    int seconds = argc >= 3 ? _wtoi(argv[2]) : 30;
    if (mode == L"check") return CheckWindow(seconds > 0 ? seconds : 30);
    if (mode == L"close") return CloseWindow(seconds > 0 ? seconds : 30);
    if (mode == L"version" && argc >= 3) return CheckVersion(argv[2]);
    if (mode == L"picker" && argc >= 3) return CheckPicker(argv[2], 60);
    std::fprintf(stderr, "usage: window-probe.exe check|close [SECONDS] | version FILE | picker FILE\n");
    return 2;
}
