// The Qt window over the real Linux services: the quote-document stand-in
// and the embedded spreadsheet engine fill the example template.
#include <QFileInfo>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "platform/posix/object_services.h"
#include "platform/posix/qt/qt_form_view.h"
#include "platform/posix/qt/qt_main.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::qtwindow {
namespace {

TEST(QtEndToEndTest, SendToExcelFillsTheExampleTemplateAndClosesTheWindow) {
    const QString examples = QStringLiteral(VI2ZEZIR_SOURCE_DIR "/examples");
    QTemporaryDir output;
    ASSERT_TRUE(output.isValid());
    const QString filled = output.filePath(QStringLiteral("filled.xls"));
    qputenv("TENDRIX_DOCUMENT", (examples + QStringLiteral("/quote-typical.json")).toUtf8());

    std::vector<std::filesystem::path> handedOver;
    posix::PortableObjectServices services(
        {.outputPath = filled.toStdU16String(),
         .onSaved = [&](const std::filesystem::path& path) { handedOver.push_back(path); },
         .newFileFolder = {}});
    QtFormView view([](QWidget*, const shell::OpenDialogOptions&) { return std::u16string(); });
    shell::frmTX_To_ExcelLink form(view, services, {examples.toStdU16String(), u""});
    ConnectForm(view, form);
    QStringList statusTexts;
    QObject::connect(view.findChild<QStatusBar*>(QStringLiteral("sb")), &QStatusBar::messageChanged,
                     [&](const QString& text) { statusTexts << text; });

    ASSERT_FALSE(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::Form_Load).failure);
    EXPECT_EQ(view.PathText(), (examples + QStringLiteral("/quote40.xls")).toStdU16String());
    QTest::mouseClick(view.findChild<QWidget*>(QStringLiteral("CmdExport2Excel")), Qt::LeftButton);

    EXPECT_EQ(statusTexts, (QStringList{"Creating Tendrix Object", "Creating Excel Object", "Opening Excel File",
                                        "Writing Header Fields", "Writing Item Fields", "Writing Macros", ""}));
    EXPECT_TRUE(view.IsClosed());
    EXPECT_FALSE(form.IsLoaded());
    ASSERT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(QFileInfo(QString::fromStdString(handedOver[0].string())).canonicalFilePath(),
              QFileInfo(filled).canonicalFilePath());
    EXPECT_GT(QFileInfo(filled).size(), 0);

    qunsetenv("TENDRIX_DOCUMENT");
}

} // namespace
} // namespace vi2zezir::qtwindow
