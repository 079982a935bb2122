// The form end to end over the recording fakes: start-up, the export run with
// its status texts and refusals, the picker, and shut-down.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/utf.h"
#include "fakes/recording_servers.h"
#include "shell/frmTX_To_ExcelLink.h"
#include "shell/modCommandLine.h"
#include "transfer/export_run.h"

namespace vi2zezir {
namespace {

using fakes::Count;
namespace fs = std::filesystem;

class RecordingView final : public shell::FormView {
public:
    void Show() override { log.push_back("Show"); }
    void SetTopMost(bool onTop) override { log.push_back(onTop ? "TopMost" : "NotTopMost"); }
    std::u16string PathText() const override { return path; }
    void SetPathText(const std::u16string& text) override { path = text; }
    void SetStatusText(const std::u16string& text) override { statuses.push_back(text); }
    std::u16string ShowOpenDialog(const shell::OpenDialogOptions& options) override {
        lastDialog = options;
        log.push_back("ShowOpen");
        return dialogAnswer;
    }
    void Close() override { log.push_back("Close"); }

    std::vector<std::string> log;
    std::u16string path;
    std::vector<std::u16string> statuses;
    shell::OpenDialogOptions lastDialog;
    std::u16string dialogAnswer;
};

class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("vz-form-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        templatePath = dir / "quote40.xls";
        std::ofstream(templatePath) << "template";
        services.quoteApp = std::make_shared<fakes::RecordingQuoteApp>(fakes::QuoteData{}, log);
        services.sheet = std::make_shared<fakes::MemorySheet>(log);
    }
    void TearDown() override { fs::remove_all(dir); }

    shell::frmTX_To_ExcelLink MakeForm(std::u16string arguments = {}) {
        return shell::frmTX_To_ExcelLink(view, services, {text::FromPath(dir), std::move(arguments)});
    }

    fs::path dir, templatePath;
    std::shared_ptr<fakes::CallLog> log = std::make_shared<fakes::CallLog>();
    fakes::RecordingServices services{log};
    RecordingView view;
};

TEST_F(FormTest, StartUpShowsTheTopMostWindowWithTheDefaultTemplate) {
    auto form = MakeForm();
    EXPECT_FALSE(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::Form_Load).failure);
    EXPECT_EQ(view.log, (std::vector<std::string>{"Show", "TopMost"}));
    EXPECT_EQ(view.path, text::FromPath(dir / "quote40.xls"));
    EXPECT_TRUE(view.statuses.empty());
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_TRUE(log->empty()); // nothing attached, nothing created
    form.Form_Unload();        // three empty references released without error
}

TEST_F(FormTest, ASuccessfulRunReportsEachStepAndClosesTheWindow) {
    auto form = MakeForm();
    form.Form_Load();
    view.path = u"  " + text::FromPath(templatePath) + u"  ";
    ASSERT_EQ(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::CmdExport2Excel_Click).kind,
              shell::EventOutcome::Kind::Done);
    EXPECT_EQ(view.statuses,
              (std::vector<std::u16string>{u"Creating Tendrix Object", u"Creating Excel Object", u"Opening Excel File",
                                           u"Writing Header Fields", u"Writing Item Fields", u"Writing Macros", u""}));
    EXPECT_EQ(view.log.back(), "Close");
    EXPECT_FALSE(form.IsLoaded());
    // Trimmed path, read-only, first workbook and first sheet, shown at the end.
    EXPECT_EQ(Count(*log, "Workbooks.Open(" + templatePath.string() + ",ReadOnly)"), 1u);
    EXPECT_EQ(Count(*log, "Workbooks(1)"), 1u);
    EXPECT_EQ(Count(*log, "Worksheets(1)"), 1u);
    EXPECT_EQ(log->back(), "Visible=True");
    EXPECT_EQ(Count(*log, "Quit"), 0u);
    EXPECT_EQ(Count(*log, "GetObject(Tendrix.Application)"), 2u);
    EXPECT_EQ(Count(*log, "CreateObject(EXCEL.APPLICATION)"), 1u);
    // The window released every reference when it unloaded.
    EXPECT_FALSE(form.References().quotingApp);
    EXPECT_FALSE(form.References().targetWorksheet);
    EXPECT_FALSE(form.References().spreadsheetApp);
}

TEST_F(FormTest, RefusesWhenTendrixIsNotRunning) {
    services.quoteApp.reset();
    auto form = MakeForm();
    form.Form_Load();
    EXPECT_EQ(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::CmdExport2Excel_Click).kind,
              shell::EventOutcome::Kind::Refused);
    EXPECT_EQ(view.statuses.back(), u"Tendrix is not running. Operation Cancelled");
    EXPECT_EQ(Count(*log, "CreateObject"), 0u);
    EXPECT_FALSE(form.References().quotingApp);
    EXPECT_TRUE(form.IsLoaded());
}

TEST_F(FormTest, RefusesAMissingTemplateButStaysAttached) {
    for (const std::u16string& path :
         std::vector<std::u16string>{u"", u"   ", u"/no/such/quote.xls", text::FromPath(dir)}) {
        auto form = MakeForm();
        form.Form_Load();
        view.path = path;
        EXPECT_EQ(shell::RunEvent(form, &shell::frmTX_To_ExcelLink::CmdExport2Excel_Click).kind,
                  shell::EventOutcome::Kind::Refused);
        EXPECT_EQ(view.statuses.back(), u"File cannot be found. Operation Cancelled") << text::ToUtf8(path);
        EXPECT_TRUE(form.References().quotingApp);
        EXPECT_EQ(Count(*log, "CreateObject"), 0u);
    }
}

TEST_F(FormTest, AZeroLengthTemplateGoesOnToTheOpen) {
    std::ofstream(templatePath, std::ios::trunc).close();
    auto form = MakeForm();
    form.Form_Load();
    view.path = text::FromPath(templatePath);
    form.CmdExport2Excel_Click();
    EXPECT_EQ(Count(*log, "Workbooks.Open"), 1u);
}

TEST_F(FormTest, ASecondStartAfterARefusalHoldsOneReference) {
    auto form = MakeForm();
    form.Form_Load();
    view.path = u"/no/such.xls";
    form.CmdExport2Excel_Click();
    form.CmdExport2Excel_Click();
    EXPECT_EQ(Count(*log, "GetObject"), 4u);
    // The fakes share one application; only the window's field and ours hold it.
    EXPECT_EQ(services.quoteApp.use_count(), 2);
}

TEST_F(FormTest, AFailureMidRunQuitsTheSpreadsheetAndIsShownWithItsCode) {
    services.quoteApp->data.macros[u"&APP_LoggedInUserName"] = Value(Null{});
    services.sheet->Put("A1", u"&APP_LoggedInUserName");
    auto form = MakeForm(u"/f:" + text::FromPath(templatePath));
    std::optional<Failure> failure = shell::RunEvent(form, &shell::frmTX_To_ExcelLink::Form_Load).failure;
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), 94);
    EXPECT_EQ(view.statuses.back(), u"Error 94: Invalid use of Null");
    EXPECT_EQ(Count(*log, "Quit"), 1u);
    EXPECT_EQ(Count(*log, "Visible=True"), 0u);
    EXPECT_TRUE(form.IsLoaded()); // the window stays for another try
}

TEST_F(FormTest, TheSwitchRunsTheTransferAtStartUp) {
    auto form = MakeForm(u"/x \"/F:" + text::FromPath(templatePath) + u"\"");
    // The quote before the switch makes it no switch: nothing runs.
    form.Form_Load();
    EXPECT_TRUE(log->empty());

    auto form2 = MakeForm(u"/x /F:\"" + text::FromPath(templatePath) + u"\"");
    form2.Form_Load();
    EXPECT_FALSE(form2.IsLoaded());
    EXPECT_EQ(Count(*log, "Visible=True"), 1u);
}

TEST_F(FormTest, AnEmptySwitchEmptiesThePathAndRefuses) {
    auto form = MakeForm(u"/f:");
    form.Form_Load();
    EXPECT_EQ(view.path, u"");
    EXPECT_EQ(view.statuses.back(), u"File cannot be found. Operation Cancelled");
}

TEST_F(FormTest, ThePickerAsksForAnExistingXlsInTheProgramDirectory) {
    auto form = MakeForm();
    form.Form_Load();
    view.path = u"/typed/by/hand.xls";
    form.cmdOtherFile_Click(); // cancelled
    EXPECT_EQ(view.path, u"/typed/by/hand.xls");
    EXPECT_EQ(view.lastDialog.dialogTitle, u"Please select an Excel File");
    EXPECT_EQ(view.lastDialog.flags, 0x1004u);
    EXPECT_EQ(view.lastDialog.filter, u"Excel Files (*.XLS)|*.XLS");
    EXPECT_EQ(view.lastDialog.initDir, text::FromPath(dir));
    EXPECT_FALSE(view.lastDialog.cancelError);

    view.dialogAnswer = u"/Templates/Quote.XLS";
    form.cmdOtherFile_Click();
#ifdef _WIN32
    EXPECT_EQ(view.path, u"/templates/quote.xls");
#else
    EXPECT_EQ(view.path, u"/Templates/Quote.XLS"); // case matters on this file system
#endif
}

} // namespace
} // namespace vi2zezir
