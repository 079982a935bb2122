// The Qt window alone: its controls, their places and texts, the tab order,
// the stay-on-top hint, the status line, closing, and the file dialog.
#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <string>

#include <gtest/gtest.h>

#include "base/failure.h"
#include "platform/posix/qt/open_dialog.h"
#include "platform/posix/qt/qt_form_view.h"
#include "shell/form_layout.h"
#include "support/expect_failure.h"

namespace vi2zezir::qtwindow {
namespace {

template <typename Widget = QWidget>
Widget* Control(QWidget& view, const char* name) {
    auto* widget = view.findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

shell::OpenDialogOptions PickerOptions(const QString& initDir) {
    shell::OpenDialogOptions options;
    options.dialogTitle = u"Please select an Excel File";
    options.flags = 0x1004;
    options.filter = u"Excel Files (*.XLS)|*.XLS";
    options.initDir = initDir.toStdU16String();
    return options;
}

TEST(QtFormViewTest, BandIsWhiteAndTheVersionGrey) {
    QtFormView view;
    view.show();
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(540, 2)), QColor(Qt::white));  // the band reaches the right edge
    EXPECT_EQ(QColor(shot.pixel(300, 68)), QColor(Qt::white)); // below the instructions
    EXPECT_EQ(QColor(shot.pixel(300, 72)),
              view.palette().color(QPalette::WindowText));     // the rule
    EXPECT_NE(QColor(shot.pixel(300, 74)), QColor(Qt::white)); // the window below the rule
    EXPECT_EQ(Control<QLabel>(view, "Label4")->palette().color(QPalette::WindowText), QColor(0xAB, 0xAB, 0xAB));
}

// The window is built from the form's layout, which the Win32 window shares
// (and the Wine window probe checks there).
TEST(QtFormViewTest, EveryControlOfTheLayoutAtItsPlaceWithItsText) {
    QtFormView view;
    view.show();
    EXPECT_EQ(view.size(), QSize(shell::kClientWidth, shell::kClientHeight));
    for (const shell::ControlLayout& layout : shell::kFormLayout) {
        const std::string name(layout.name);
        QWidget* control = Control(view, name.c_str());
        if (!control) continue;
        EXPECT_EQ(control->geometry(), QRect(layout.x, layout.y, layout.width, layout.height)) << name;
        EXPECT_EQ(control->focusPolicy() != Qt::NoFocus, shell::IsTabStop(layout.kind)) << name;
        if (const QVariant text = control->property("text"); text.isValid()) {
            EXPECT_EQ(text.toString().toStdU16String(), std::u16string(layout.text)) << name;
        }
    }
}

TEST(QtFormViewTest, LogoAndIconShowTheWhiteXOnGreen) {
    QtFormView view;
    view.show();
    const QImage logo = Control(view, "Picture1")->grab().toImage();
    const QColor centre = logo.pixel(75, 72);
    EXPECT_EQ(centre, QColor(Qt::white));
    const QColor beside = logo.pixel(75, 40); // above the crossing, inside the frame
    EXPECT_GT(beside.green(), beside.red() + 60);

    const QIcon icon = view.windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QImage small = icon.pixmap(QSize(32, 32)).toImage();
    EXPECT_EQ(small.size(), QSize(32, 32));
    EXPECT_EQ(QColor(small.pixel(16, 16)), QColor(Qt::white));
}

TEST(QtFormViewTest, TabGoesPathBoxSendButtonPickerButtonLogo) {
    QtFormView view;
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const char* order[] = {"txtExcelFile", "CmdExport2Excel", "cmdOtherFile", "Picture1", "txtExcelFile"};
    EXPECT_EQ(QApplication::focusWidget(), Control(view, order[0])); // the focus at start
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::fromLatin1(order[i]));
    }
}

TEST(QtFormViewTest, ClickingTheVersionDoesNothing) {
    QtFormView view;
    int events = 0;
    view.SetEvents({[&] { ++events; }, [&] { ++events; }, [&] { ++events; }});
    view.SetPathText(u"/templates/q.xls");
    view.show();
    QTest::mouseClick(Control(view, "Label4"), Qt::LeftButton);
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(view.PathText(), u"/templates/q.xls");
    EXPECT_EQ(Control<QStatusBar>(view, "sb")->currentMessage(), QString());
}

TEST(QtFormViewTest, ButtonsStartTheirEventsOnly) {
    QtFormView view;
    int picker = 0, run = 0, unload = 0;
    view.SetEvents({[&] { ++picker; }, [&] { ++run; }, [&] { ++unload; }});
    view.show();
    QTest::mouseClick(Control(view, "cmdOtherFile"), Qt::LeftButton);
    QTest::mouseClick(Control(view, "CmdExport2Excel"), Qt::LeftButton);
    QTest::mouseClick(Control(view, "CmdExport2Excel"), Qt::LeftButton);
    EXPECT_EQ(picker, 1);
    EXPECT_EQ(run, 2);
    EXPECT_EQ(unload, 0);
}

TEST(QtFormViewTest, StaysOnTopBeforeAndAfterItIsShown) {
    QtFormView early;
    early.SetTopMost(true);
    early.show();
    EXPECT_TRUE(early.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(early.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));

    // The form shows the window first, then raises its layer: that must not
    // hide the window.
    QtFormView view;
    view.Show();
    view.SetTopMost(true);
    EXPECT_TRUE(view.isVisible());
    EXPECT_TRUE(view.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(view.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    view.SetTopMost(false);
    EXPECT_FALSE(view.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(view.isVisible());
}

TEST(QtFormViewTest, StatusLineHoldsOneTextAndClears) {
    QtFormView view;
    view.show();
    auto* sb = Control<QStatusBar>(view, "sb");
    view.SetStatusText(u"Creating Tendrix Object");
    view.SetStatusText(u"Écriture – \u00e9t\u00e9");
    EXPECT_EQ(sb->currentMessage(), QStringLiteral("Écriture – été"));
    view.SetStatusText(u"");
    EXPECT_EQ(sb->currentMessage(), QString());
}

TEST(QtFormViewTest, PathTextRoundTripsUtf16) {
    QtFormView view;
    const std::u16string path = u"/home/j\u00fcrgen/\U0001F4C4 Vorlagen/Quote.XLS";
    view.SetPathText(path);
    EXPECT_EQ(view.PathText(), path);
    QTest::keyClicks(Control(view, "txtExcelFile"), "x");
    EXPECT_EQ(view.PathText(), path + u"x");
}

TEST(QtFormViewTest, UserClosingUnloadsTheFormOnce) {
    QtFormView view;
    int unloads = 0;
    view.SetEvents({{}, {}, [&] {
                        ++unloads;
                        view.Close(); // the form may close its view while unloading
                    }});
    view.show();
    EXPECT_TRUE(view.close());
    EXPECT_EQ(unloads, 1);
    EXPECT_TRUE(view.IsClosed());
    EXPECT_FALSE(view.isVisible());
}

TEST(QtFormViewTest, FormClosingItsViewDoesNotUnloadAgain) {
    QtFormView view;
    int unloads = 0;
    view.SetEvents({{}, {}, [&] { ++unloads; }});
    view.show();
    view.Close();
    EXPECT_EQ(unloads, 0);
    EXPECT_TRUE(view.IsClosed());
    EXPECT_FALSE(view.isVisible());
}

TEST(QtFormViewTest, PickerGoesThroughTheInjectedDialog) {
    std::vector<shell::OpenDialogOptions> asked;
    QWidget* parentSeen = nullptr;
    QtFormView view([&](QWidget* parent, const shell::OpenDialogOptions& options) {
        parentSeen = parent;
        asked.push_back(options);
        return std::u16string(u"/t/Quote.XLS");
    });
    const shell::OpenDialogOptions options = PickerOptions(QStringLiteral("/opt/vi2zezir"));
    EXPECT_EQ(view.ShowOpenDialog(options), u"/t/Quote.XLS");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].initDir, u"/opt/vi2zezir");
    EXPECT_EQ(parentSeen, &view);
}

TEST(OpenDialogTest, CommonDialogFilterBecomesQtNameFilters) {
    EXPECT_EQ(NameFiltersFrom(u"Excel Files (*.XLS)|*.XLS"), QStringList{"Excel Files (*.XLS)"});
    EXPECT_EQ(NameFiltersFrom(u"Tables|*.csv;*.txt|All|*.*"), (QStringList{"Tables (*.csv *.txt)", "All (*.*)"}));
    EXPECT_EQ(NameFiltersFrom(u""), QStringList{});
}

TEST(OpenDialogTest, DialogIsConfiguredAsThePickerAsks) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFileDialog dialog;
    ConfigureOpenDialog(dialog, PickerOptions(dir.path()));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Please select an Excel File"));
    EXPECT_EQ(dialog.nameFilters(), QStringList{"Excel Files (*.XLS *.XLSX *.XLSM)"});
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(QDir(dialog.directory()).canonicalPath(), QDir(dir.path()).canonicalPath());

    shell::OpenDialogOptions anyFile = PickerOptions(dir.path());
    anyFile.flags = 0;
    ConfigureOpenDialog(dialog, anyFile);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
}

TEST(OpenDialogTest, FilterMatchesWorkbooksInEitherCase) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name :
         {"lower.xls", "UPPER.XLS", "Mixed.Xls", "notes.txt", "book.xlsx", "macros.XLSM", "old.xlt"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QFileDialog dialog;
    ConfigureOpenDialog(dialog, PickerOptions(dir.path()));
    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    dialog.show();
    const QModelIndex root = model->index(dir.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(root) >= 5; }));
    QTest::qWait(50); // let a late entry arrive before listing

    QStringList shown;
    for (int row = 0; row < model->rowCount(root); ++row) {
        shown << model->index(row, 0, root).data().toString();
    }
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"Mixed.Xls", "UPPER.XLS", "book.xlsx", "lower.xls", "macros.XLSM"}));
}

// The real dialog, answered from inside its own modal loop.
std::u16string AnswerDialog(const shell::OpenDialogOptions& options, const std::function<void(QFileDialog&)>& answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
        if (dialog->isVisible()) dialog->reject(); // never leave the test hanging
    });
    return ShowOpenFileDialog(nullptr, options);
}

TEST(OpenDialogTest, ChoosingReturnsThePathWithItsCase) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString chosen = dir.filePath(QStringLiteral("Quote.XLS"));
    QFile file(chosen);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    const std::u16string result = AnswerDialog(PickerOptions(dir.path()), [&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Please select an Excel File"));
        dialog.selectFile(chosen);
        static_cast<QDialog&>(dialog).accept(); // QFileDialog::accept, as the Open button
    });
    EXPECT_EQ(QFileInfo(QString::fromStdU16String(result)).canonicalFilePath(), QFileInfo(chosen).canonicalFilePath());
    EXPECT_TRUE(QString::fromStdU16String(result).endsWith(QStringLiteral("/Quote.XLS")));
}

TEST(OpenDialogTest, CancelAndMissingFilesGiveTheEmptyText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(AnswerDialog(PickerOptions(dir.path()), [](QFileDialog& dialog) { dialog.reject(); }), u"");

    // A name of no existing file: the dialog itself refuses it with a message
    // of its own and stays open.
    bool stayedOpen = false;
    QString refusal;
    const std::u16string result = AnswerDialog(PickerOptions(dir.path()), [&](QFileDialog& dialog) {
        dialog.selectFile(dir.filePath(QStringLiteral("missing.xls")));
        QTimer::singleShot(0, [&refusal] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                refusal = box->text();
                box->reject();
            }
        });
        static_cast<QDialog&>(dialog).accept(); // QFileDialog::accept, as the Open button
        stayedOpen = dialog.isVisible();
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(refusal.contains(QStringLiteral("missing.xls"))) << refusal.toStdString();
    EXPECT_EQ(result, u"");
}

TEST(OpenDialogTest, CancelWithCancelErrorIsAFailure) {
    QTemporaryDir dir;
    shell::OpenDialogOptions options = PickerOptions(dir.path());
    options.cancelError = true;
    EXPECT_FAILURE(AnswerDialog(options, [](QFileDialog& dialog) { dialog.reject(); }), 32755, u"Cancel was selected.");
}

} // namespace
} // namespace vi2zezir::qtwindow
