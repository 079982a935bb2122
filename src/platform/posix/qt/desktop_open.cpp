#include "platform/posix/qt/desktop_open.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include "base/failure.h"

namespace vi2zezir {

void OpenWithDesktop(const std::filesystem::path& file) {
    const QString name = QString::fromStdString(file.string());
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(name))) {
        throw Failure(kApplicationDefined, u"The desktop has no application to open " + name.toStdU16String(),
                      "Application.Visible");
    }
}

} // namespace vi2zezir
