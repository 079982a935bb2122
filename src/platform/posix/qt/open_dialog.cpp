#include "platform/posix/qt/open_dialog.h"

#include <algorithm>

#include <QDir>
#include <QFileDialog>

#include "base/failure.h"

namespace vi2zezir::qtwindow {

QStringList NameFiltersFrom(const std::u16string& commonDialogFilter) {
    const QStringList parts = QString::fromStdU16String(commonDialogFilter).split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        // The common dialog separates patterns with ';', Qt with spaces.
        const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
        if (description.endsWith(u'(' + patterns + u')')) {
            filters << description;
        } else {
            filters << description + QStringLiteral(" (") + patterns + u')';
        }
    }
    if (parts.size() % 2 == 1 && !parts.back().trimmed().isEmpty()) {
        filters << parts.back().trimmed(); // a lone entry is both text and pattern
    }
    return filters;
}

QStringList WithWorkbookPackages(QStringList filters) {
    for (QString& filter : filters) {
        const qsizetype open = filter.lastIndexOf(u'('), close = filter.lastIndexOf(u')');
        if (open < 0 || close < open) continue;
        QStringList patterns = filter.mid(open + 1, close - open - 1).split(u' ', Qt::SkipEmptyParts);
        const auto xls = std::find_if(patterns.begin(), patterns.end(), [](const QString& p) {
            return p.compare(QStringLiteral("*.xls"), Qt::CaseInsensitive) == 0;
        });
        if (xls == patterns.end()) continue;
        const bool upper = *xls == QStringLiteral("*.XLS"); // in the spelling of the pattern it extends
        for (QString more : {QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm")})
            if (!patterns.contains(more, Qt::CaseInsensitive)) patterns << (upper ? more.toUpper() : more);
        filter = filter.left(open + 1) + patterns.join(u' ') + filter.mid(close);
    }
    return filters;
}

void ConfigureOpenDialog(QFileDialog& dialog, const shell::OpenDialogOptions& options) {
    // Qt's own dialog rather than the desktop's: its pattern matching can be
    // told to ignore case, and it behaves the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowTitle(QString::fromStdU16String(options.dialogTitle));
    dialog.setFileMode((options.flags & kFileMustExist) != 0 ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The engine here opens .xlsx and .xlsm as well as .xls; the window's
    // filter names the formats Excel opened when it was written.
    dialog.setNameFilters(WithWorkbookPackages(NameFiltersFrom(options.filter)));
    // The filter text keeps the Windows spelling "*.XLS", but templates on a
    // Linux disk are mostly "*.xls": the patterns must match regardless of
    // case, as they do on Windows. The dialog's file model compares names
    // case-insensitively unless QDir::CaseSensitive is set; clearing it here
    // keeps that true whatever defaults the dialog starts with.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setDirectory(QString::fromStdU16String(options.initDir));
    dialog.selectFile(QString::fromStdU16String(options.fileName));
}

std::u16string ShowOpenFileDialog(QWidget* parent, const shell::OpenDialogOptions& options) {
    QFileDialog dialog(parent);
    ConfigureOpenDialog(dialog, options);
    if (dialog.exec() == QDialog::Accepted) {
        const QStringList chosen = dialog.selectedFiles();
        if (!chosen.isEmpty()) {
            return QDir::toNativeSeparators(chosen.front()).toStdU16String();
        }
    }
    if (options.cancelError) {
        throw Failure(kCancelSelected, "CMDialog.ShowOpen");
    }
    return {};
}

} // namespace vi2zezir::qtwindow
