// The real form in the Qt window: start-up, the picker through a dialog the
// test answers, and the status line as an export run proceeds, with the
// recording automation fakes behind ObjectServices. The form's own logic is
// tested over a recording view in tests/shell; here, what the Qt window adds.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/recording_servers.h"
#include "platform/posix/qt/qt_form_view.h"
#include "platform/posix/qt/qt_main.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::qtwindow {
namespace {

using fakes::Count;

QtFormView* ShownFormWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* view = qobject_cast<QtFormView*>(widget); view && view->isVisible()) return view;
    }
    return nullptr;
}

class QtFormTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(programDir_.isValid());
        template_ = programDir_.filePath(QStringLiteral("Quote Template.XLS"));
        QFile file(template_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        services_.quoteApp = std::make_shared<fakes::RecordingQuoteApp>(fakes::QuoteData{}, log_);
        services_.sheet = std::make_shared<fakes::MemorySheet>(log_);
    }

    shell::Environment Environment(std::u16string arguments = {}) const {
        return {programDir_.path().toStdU16String(), std::move(arguments)};
    }

    // The window as the program builds it, with the form loaded and the
    // status line's every change recorded, also in the call log, so its order
    // against the automation calls shows.
    struct Window {
        QtFormView view;
        shell::frmTX_To_ExcelLink form;
        QStringList statusTexts;
        QStatusBar* sb = nullptr;

        Window(fakes::RecordingServices& services, shell::Environment env, OpenDialogFunction dialog)
            : view(std::move(dialog)), form(view, services, std::move(env)) {
            ConnectForm(view, form);
            sb = view.findChild<QStatusBar*>(QStringLiteral("sb"));
            QObject::connect(sb, &QStatusBar::messageChanged, [this, log = services.log](const QString& text) {
                statusTexts << text;
                log->push_back("status:" + text.toStdString());
            });
            EXPECT_FALSE(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::Form_Load).failure);
        }
        void Click(const char* name) {
            QTest::mouseClick(view.findChild<QWidget*>(QString::fromLatin1(name)), Qt::LeftButton);
        }
    };

    static std::u16string NoDialog(QWidget*, const shell::OpenDialogOptions&) {
        ADD_FAILURE() << "no dialog expected";
        return {};
    }

    QTemporaryDir programDir_;
    QString template_;
    std::shared_ptr<fakes::CallLog> log_ = std::make_shared<fakes::CallLog>();
    fakes::RecordingServices services_{log_};
};

TEST_F(QtFormTest, StartsOnTopWithTheDefaultPathAndWaitsUntilClosed) {
    bool checked = false;
    QTimer::singleShot(0, [&] {
        QtFormView* view = ShownFormWindow();
        ASSERT_NE(view, nullptr);
        checked = true;
        EXPECT_TRUE(view->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(view->PathText(), programDir_.filePath(QStringLiteral("quote40.xls")).toStdU16String());
        EXPECT_EQ(view->findChild<QStatusBar*>(QStringLiteral("sb"))->currentMessage(), QString());
        view->close(); // the user closes the window: the form unloads, the loop ends
    });
    EXPECT_EQ(RunFormWindow(services_, Environment(), NoDialog), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(Count(*log_, "CreateObject"), 0u);
}

TEST_F(QtFormTest, SuccessfulSwitchTransferEndsWithoutWaiting) {
    // Had the loop started, nothing would end it: a guard fails the test instead.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        ADD_FAILURE() << "the event loop ran after a successful transfer";
        QApplication::quit();
    });
    guard.start(5000);
    // Quoted, as the template's name holds a space.
    const std::u16string arguments = u"/f:\"" + template_.toStdU16String() + u"\"";
    EXPECT_EQ(RunFormWindow(services_, Environment(arguments), NoDialog), 0);
    ASSERT_TRUE(services_.lastApp);
    EXPECT_EQ(services_.lastApp->openedPath, template_.toStdU16String());
    EXPECT_TRUE(services_.lastApp->visible);
    EXPECT_EQ(ShownFormWindow(), nullptr);
}

TEST_F(QtFormTest, StatusLineFollowsASuccessfulRunThenTheWindowCloses) {
    Window window(services_, Environment(), NoDialog);
    window.view.SetPathText(u"  " + template_.toStdU16String() + u" ");
    window.Click("CmdExport2Excel");
    EXPECT_EQ(window.statusTexts, (QStringList{"Creating Tendrix Object", "Creating Excel Object", "Opening Excel File",
                                               "Writing Header Fields", "Writing Item Fields", "Writing Macros", ""}));
    ASSERT_TRUE(services_.lastApp);
    EXPECT_EQ(services_.lastApp->openedPath, template_.toStdU16String());
    // The status line is cleared before the spreadsheet shows.
    const auto cleared = std::find(log_->begin(), log_->end(), "status:");
    EXPECT_LT(cleared, std::find(log_->begin(), log_->end(), "Visible=True"));
    EXPECT_FALSE(window.form.IsLoaded());
    EXPECT_TRUE(window.view.IsClosed());
    EXPECT_FALSE(window.view.isVisible());
}

TEST_F(QtFormTest, CancelledPickerKeepsATypedPath) {
    Window window(services_, Environment(), [](QWidget*, const shell::OpenDialogOptions&) { return std::u16string(); });
    QLineEdit* pathBox = window.view.findChild<QLineEdit*>(QStringLiteral("txtExcelFile"));
    pathBox->clear();
    QTest::keyClicks(pathBox, "/typed/by hand.xls");
    window.Click("cmdOtherFile");
    EXPECT_EQ(window.view.PathText(), u"/typed/by hand.xls");
}

} // namespace
} // namespace vi2zezir::qtwindow
