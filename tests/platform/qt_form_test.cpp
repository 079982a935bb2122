// The real form in the Qt window: start-up, the picker through a dialog the
// test answers, and the status line as an export run proceeds, with small
// recording automation fakes behind ObjectServices.
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include "base/failure.h"
#include "platform/posix/qt/qt_form_view.h"
#include "platform/posix/qt/qt_main.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::qtwindow {
namespace {

// A quote whose template holds no placeholders: the writers only look.
class FakeQuote final : public quote::Application {
public:
    Value VersionMajor() override { return u"4"; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { return nullptr; }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { return nullptr; }
    Value GetMacro(std::u16string&) override { return u""; }
};

struct SheetLog {
    std::vector<std::u16string> opened;
    bool visible = false;
    bool quit = false;
    QString statusWhenVisible;
    std::optional<Failure> openFailure;
    std::function<QString()> currentStatus;
};

class FakeRange final : public sheet::Range {
public:
    std::shared_ptr<sheet::Range> Find(const std::u16string&) override { return nullptr; }
    void Replace(const std::u16string&, const std::u16string&) override {}
    std::u16string Address() override { return u"$A$1"; }
    void Insert(std::int32_t) override {}
    std::shared_ptr<sheet::Range> Cells() override { return std::make_shared<FakeRange>(); }
    void SetValue(const Value&) override {}
    void SetFormula(const std::u16string&) override {}
};

class FakeWorksheet final : public sheet::Worksheet {
public:
    std::shared_ptr<sheet::Range> Cells() override { return std::make_shared<FakeRange>(); }
    std::shared_ptr<sheet::Range> Range(const std::u16string&) override { return std::make_shared<FakeRange>(); }
};

class FakeWorkbook final : public sheet::Workbook {
public:
    std::shared_ptr<sheet::Worksheet> Worksheets(std::int16_t) override { return std::make_shared<FakeWorksheet>(); }
};

class FakeWorkbooks final : public sheet::Workbooks {
public:
    explicit FakeWorkbooks(SheetLog& log) : log_(log) {}
    std::shared_ptr<sheet::Workbook> Open(const std::u16string& filename, bool) override {
        log_.opened.push_back(filename);
        if (log_.openFailure) throw *log_.openFailure;
        return std::make_shared<FakeWorkbook>();
    }
    std::shared_ptr<sheet::Workbook> Item(std::int16_t) override { return std::make_shared<FakeWorkbook>(); }

private:
    SheetLog& log_;
};

class FakeSheetApp final : public sheet::Application {
public:
    explicit FakeSheetApp(SheetLog& log) : log_(log) {}
    std::shared_ptr<sheet::Workbooks> Workbooks() override { return std::make_shared<FakeWorkbooks>(log_); }
    void SetVisible(bool visible) override {
        log_.visible = visible;
        if (log_.currentStatus) log_.statusWhenVisible = log_.currentStatus();
    }
    void Quit() override { log_.quit = true; }

private:
    SheetLog& log_;
};

class FakeServices final : public ObjectServices {
public:
    bool quotingAppRunning = true;
    int created = 0;
    SheetLog sheet;

    std::shared_ptr<quote::Application> GetObject(const std::u16string&) override {
        if (!quotingAppRunning) throw Failure(kCannotCreateObject);
        return std::make_shared<FakeQuote>();
    }
    std::shared_ptr<sheet::Application> CreateObject(const std::u16string&) override {
        ++created;
        return std::make_shared<FakeSheetApp>(sheet);
    }
};

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
    }

    shell::Environment Environment(std::u16string arguments = {}) const {
        return {programDir_.path().toStdU16String(), std::move(arguments)};
    }

    // The window as the program builds it, with the form loaded and the
    // status line's every change recorded.
    struct Window {
        QtFormView view;
        shell::frmTX_To_ExcelLink form;
        QStringList statusTexts;
        QStatusBar* sb = nullptr;

        Window(FakeServices& services, shell::Environment env, OpenDialogFunction dialog)
            : view(std::move(dialog)), form(view, services, std::move(env)) {
            ConnectForm(view, form);
            sb = view.findChild<QStatusBar*>(QStringLiteral("sb"));
            QObject::connect(sb, &QStatusBar::messageChanged, [this](const QString& text) { statusTexts << text; });
            services.sheet.currentStatus = [this] { return sb->currentMessage(); };
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
    FakeServices services_;
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
    EXPECT_EQ(services_.created, 0);
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
    ASSERT_EQ(services_.sheet.opened.size(), 1u);
    EXPECT_EQ(services_.sheet.opened[0], template_.toStdU16String());
    EXPECT_TRUE(services_.sheet.visible);
    EXPECT_EQ(ShownFormWindow(), nullptr);
}

TEST_F(QtFormTest, StatusLineFollowsASuccessfulRunThenTheWindowCloses) {
    Window window(services_, Environment(), NoDialog);
    window.view.SetPathText(u"  " + template_.toStdU16String() + u" ");
    window.Click("CmdExport2Excel");
    EXPECT_EQ(window.statusTexts, (QStringList{"Creating Tendrix Object", "Creating Excel Object", "Opening Excel File",
                                               "Writing Header Fields", "Writing Item Fields", "Writing Macros", ""}));
    EXPECT_TRUE(services_.sheet.visible);
    EXPECT_EQ(services_.sheet.statusWhenVisible, QString()); // cleared before it shows
    EXPECT_EQ(services_.sheet.opened, std::vector<std::u16string>{template_.toStdU16String()});
    EXPECT_FALSE(window.form.IsLoaded());
    EXPECT_TRUE(window.view.IsClosed());
    EXPECT_FALSE(window.view.isVisible());
}

TEST_F(QtFormTest, RefusalsLeaveTheWindowOpenForAnotherTry) {
    Window window(services_, Environment(), NoDialog);
    services_.quotingAppRunning = false;
    window.Click("CmdExport2Excel");
    EXPECT_EQ(window.statusTexts,
              (QStringList{"Creating Tendrix Object", "Tendrix is not running. Operation Cancelled"}));

    services_.quotingAppRunning = true;
    window.statusTexts.clear();
    window.view.SetPathText(programDir_.filePath(QStringLiteral("missing.xls")).toStdU16String());
    window.Click("CmdExport2Excel");
    EXPECT_EQ(window.statusTexts,
              (QStringList{"Creating Tendrix Object", "File cannot be found. Operation Cancelled"}));

    EXPECT_EQ(services_.created, 0);
    EXPECT_TRUE(window.form.IsLoaded());
    EXPECT_TRUE(window.view.isVisible());
}

TEST_F(QtFormTest, AutomationFailureEndsInTheStatusLine) {
    services_.sheet.openFailure = Failure(kApplicationDefined, u"The file could not be opened.");
    Window window(services_, Environment(), NoDialog);
    window.view.SetPathText(template_.toStdU16String());
    window.Click("CmdExport2Excel");
    EXPECT_EQ(window.statusTexts, (QStringList{"Creating Tendrix Object", "Creating Excel Object", "Opening Excel File",
                                               "Error 1004: The file could not be opened."}));
    EXPECT_TRUE(services_.sheet.quit);
    EXPECT_FALSE(services_.sheet.visible);
    EXPECT_TRUE(window.view.isVisible());
    EXPECT_EQ(window.view.PathText(), template_.toStdU16String());
}

TEST_F(QtFormTest, PickerPutsTheChosenPathWithItsCaseIntoThePathBox) {
    std::vector<shell::OpenDialogOptions> asked;
    Window window(services_, Environment(), [&](QWidget*, const shell::OpenDialogOptions& options) {
        asked.push_back(options);
        return std::u16string(u"/Templates/Quote.XLS");
    });
    window.view.SetPathText(u"/elsewhere/other.xls");
    window.Click("cmdOtherFile");
    EXPECT_EQ(window.view.PathText(), u"/Templates/Quote.XLS"); // Linux names keep their case
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].dialogTitle, u"Please select an Excel File");
    EXPECT_EQ(asked[0].filter, u"Excel Files (*.XLS)|*.XLS");
    EXPECT_EQ(asked[0].flags & kFileMustExist, kFileMustExist);
    EXPECT_EQ(asked[0].initDir, programDir_.path().toStdU16String()); // not the path box's folder
    EXPECT_EQ(window.statusTexts, QStringList{});
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
