#include "platform/posix/qt/qt_main.h"

#include <cstdlib>
#include <iostream>
#include <optional>

#include <QApplication>

#include "platform/posix/qt/qt_form_view.h"

namespace vi2zezir {

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// One window event at the top level: RunEvent shows a failure in the status
// bar and catches everything that must not cross Qt's event loop; the
// terminal gets the failure too.
shell::EventOutcome RunFormEvent(shell::frmTX_To_ExcelLink& form, void (shell::frmTX_To_ExcelLink::*handler)()) {
    shell::EventOutcome outcome = shell::RunEvent(form, handler);
    if (outcome.failure) {
        std::cerr << "vi2zezir: " << outcome.failure->what() << '\n';
    }
    return outcome;
}

} // namespace

void qtwindow::ConnectForm(QtFormView& view, shell::frmTX_To_ExcelLink& form) {
    using Form = shell::frmTX_To_ExcelLink;
    view.SetEvents({
        .cmdOtherFileClick = [&form] { RunFormEvent(form, &Form::cmdOtherFile_Click); },
        .cmdExport2ExcelClick = [&form] { RunFormEvent(form, &Form::CmdExport2Excel_Click); },
        .formUnload = [&form] { RunFormEvent(form, &Form::Form_Unload); },
    });
}

bool QtDisplayAvailable() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"); }

int RunQtWindow(int argc, char** argv, ObjectServices& services, const shell::Environment& env) {
    QApplication application(argc, argv);
    return RunFormWindow(services, env);
}

int RunFormWindow(ObjectServices& services, const shell::Environment& env, qtwindow::OpenDialogFunction openDialog) {
    qtwindow::QtFormView view(std::move(openDialog));
    shell::frmTX_To_ExcelLink form(view, services, env);
    qtwindow::ConnectForm(view, form);
    using Form = shell::frmTX_To_ExcelLink;

    const shell::EventOutcome load = RunFormEvent(form, &Form::Form_Load);
    if (view.IsClosed() || !form.IsLoaded()) {
        // A "/f:" transfer succeeded and unloaded the form: the program ends
        // without waiting for the user.
        return load.kind == shell::EventOutcome::Kind::Done ? 0 : 1;
    }
    // A failed load leaves the window open with the failure in its status
    // bar, so the user can read it, correct the path and try again.
    QApplication::exec();
    if (form.IsLoaded()) {
        RunFormEvent(form, &Form::Form_Unload); // the loop ended another way
    }
    return 0;
}

} // namespace vi2zezir
