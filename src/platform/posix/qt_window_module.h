// The Qt window is a module, vi2zezir-qt.so, that the program loads only when
// there is a display: a run without one maps no Qt library at all. The module
// runs the program's own form, shell and services (the program exports its
// symbols to it), so one copy of them serves the window and the headless run.
#pragma once

#include <optional>

#include "shell/frmTX_To_ExcelLink.h"
#include "workbook/engine.h"

namespace vi2zezir::posix {

// What the program hands the window: its arguments (Qt takes its own, such
// as -platform), the form's environment and where the engine writes.
struct QtWindowRequest {
    int argc;
    char** argv;
    const shell::Environment& environment;
    workbook::EngineOptions engineOptions;
};

// Loads the module from beside the program, else from where an installation
// puts it, and runs the window until it closes; returns the exit status.
// When no module loads, says why on standard error and returns nothing: the
// program then runs without a window.
std::optional<int> RunQtWindowModule(QtWindowRequest& request);

} // namespace vi2zezir::posix

// The module's two symbols, found by name.
extern "C" {
// The window, from QApplication to the end of its event loop.
int vi2zezir_qt_window(vi2zezir::posix::QtWindowRequest& request);
// The version the module was built as; the program loads no other than its own.
extern const char vi2zezir_qt_window_version[];
}
