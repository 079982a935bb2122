// The template picker's file-open dialog on Qt: the common dialog's
// properties (title, flags, "description|pattern" filter, start directory,
// cancel behaviour) mapped onto a QFileDialog.
#pragma once

#include <functional>
#include <string>

#include <QStringList>

#include "shell/form_view.h"

class QFileDialog;
class QWidget;

namespace vi2zezir::qtwindow {

// Shows a file-open dialog and returns the chosen name, or the empty text when
// cancelled. The window takes one of these so tests can choose or cancel
// without a real dialog.
using OpenDialogFunction = std::function<std::u16string(QWidget* parent, const shell::OpenDialogOptions& options)>;

// Common-dialog flag: the chosen file must exist.
inline constexpr unsigned kFileMustExist = 0x1000;

// "Excel Files (*.XLS)|*.XLS" → {"Excel Files (*.XLS)"}: each description
// shown as it is, with its patterns appended in brackets only when the
// description does not already show them (Qt reads the patterns from there).
QStringList NameFiltersFrom(const std::u16string& commonDialogFilter);

// A filter that offers .xls offers .xlsx and .xlsm too:
// "Excel Files (*.XLS)" -> "Excel Files (*.XLS *.XLSX *.XLSM)".
QStringList WithWorkbookPackages(QStringList filters);

// Sets the dialog up as the options ask; separate from showing it so tests
// can look at a configured dialog.
void ConfigureOpenDialog(QFileDialog& dialog, const shell::OpenDialogOptions& options);

// The real dialog, modal over `parent`.
std::u16string ShowOpenFileDialog(QWidget* parent, const shell::OpenDialogOptions& options);

} // namespace vi2zezir::qtwindow
