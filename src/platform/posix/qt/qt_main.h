// The Linux program with a desktop: the form in a Qt window.
#pragma once

#include "platform/posix/qt/open_dialog.h"
#include "servers/object_services.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir {

// True when Qt can reach a display: DISPLAY or WAYLAND_DISPLAY is set, or
// QT_QPA_PLATFORM names a platform (offscreen, vnc ...). Without one the
// program runs headless.
bool QtDisplayAvailable();

// Creates the application and the window, loads the form (a "/f:" switch runs
// the transfer inside the load) and runs the event loop unless the form has
// already unloaded. Returns the program's exit code: 0 when the window closed
// normally or a transfer succeeded, 1 when loading the form failed and the
// window was closed without another event.
int RunQtWindow(int argc, char** argv, ObjectServices& services, const shell::Environment& env);

namespace qtwindow {
class QtFormView;
// Lets the window's buttons and close box run the form's handlers, each as
// one top-level event (a failure ends in the status bar and on stderr).
void ConnectForm(QtFormView& view, shell::frmTX_To_ExcelLink& form);
} // namespace qtwindow

// RunQtWindow without creating the application: for a program (or a test)
// that has its QApplication already. The dialog is replaceable for tests.
int RunFormWindow(ObjectServices& services, const shell::Environment& env,
                  qtwindow::OpenDialogFunction openDialog = qtwindow::ShowOpenFileDialog);

} // namespace vi2zezir
