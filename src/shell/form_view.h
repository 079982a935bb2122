// The window behind the form: what the form's logic needs of a view. The
// Win32, Qt and headless windows implement it and hold no workflow.
#pragma once

#include <string>

namespace vi2zezir::shell {

// What the template picker asks of the platform's file-open dialog.
struct OpenDialogOptions {
    std::u16string dialogTitle; // "Please select an Excel File"
    unsigned flags = 0;         // 0x1004: file must exist, read-only box hidden
    std::u16string filter;      // "Excel Files (*.XLS)|*.XLS"
    bool cancelError = false;
    std::u16string initDir;  // the program's directory
    std::u16string fileName; // cleared before showing
};

class FormView {
public:
    virtual ~FormView() = default;
    virtual void Show() = 0;
    // The window's layer: above all others or not (SetWindowTopMost).
    virtual void SetTopMost(bool onTop) = 0;
    virtual std::u16string PathText() const = 0; // txtExcelFile
    virtual void SetPathText(const std::u16string& text) = 0;
    virtual void SetStatusText(const std::u16string& text) = 0; // sb.SimpleText
    // ShowOpen: the chosen file name, or the empty text when cancelled.
    virtual std::u16string ShowOpenDialog(const OpenDialogOptions& options) = 0;
    // The form unloads; the view closes its window (the program then ends).
    virtual void Close() = 0;
};

} // namespace vi2zezir::shell
