// The main window on Qt: the controls of frmTX_To_ExcelLink at the places
// the form's layout fixes, behind the FormView interface. It holds no
// workflow: its buttons and its close box only start the form's events.
#pragma once

#include <functional>
#include <string>

#include <QWidget>

#include "platform/posix/qt/open_dialog.h"
#include "shell/form_view.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace vi2zezir::qtwindow {

// The form's events the window starts; each runs as one top-level event.
struct FormEvents {
    std::function<void()> cmdOtherFileClick;
    std::function<void()> cmdExport2ExcelClick;
    std::function<void()> formUnload; // the user closes the window
};

class QtFormView final : public QWidget, public shell::FormView {
    Q_OBJECT

public:
    explicit QtFormView(OpenDialogFunction openDialog = ShowOpenFileDialog, QWidget* parent = nullptr);

    void SetEvents(FormEvents events);
    // True once the form has unloaded or the user has closed the window.
    bool IsClosed() const noexcept { return closed_; }

    void Show() override;
    void SetTopMost(bool onTop) override;
    std::u16string PathText() const override;
    void SetPathText(const std::u16string& text) override;
    void SetStatusText(const std::u16string& text) override;
    std::u16string ShowOpenDialog(const shell::OpenDialogOptions& options) override;
    void Close() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    OpenDialogFunction openDialog_;
    FormEvents events_;
    QLineEdit* txtExcelFile_ = nullptr;
    QPushButton* cmdOtherFile_ = nullptr;
    QPushButton* cmdExport2Excel_ = nullptr;
    QStatusBar* sb_ = nullptr;
    bool closed_ = false;
};

} // namespace vi2zezir::qtwindow
