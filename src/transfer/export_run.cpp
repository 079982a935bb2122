#include "transfer/export_run.h"

#include "base/failure.h"
#include "text/modSTR.h"
#include "transfer/modHelper.h"
#include "transfer/writers.h"

namespace vi2zezir {
namespace transfer {
namespace {

// A half-filled workbook must not stay behind in an invisible spreadsheet
// application: quit it unsaved. The failure that brought us here is the one
// to report, so a failing Quit is not.
void QuitQuietly(const std::shared_ptr<sheet::Application>& app) noexcept {
    if (!app) return;
    try {
        app->Quit();
    } catch (...) {}
}

} // namespace

void References::Release() noexcept {
    quotingApp.reset();
    targetWorksheet.reset();
    spreadsheetApp.reset();
}

RunResult CmdExport2Excel_Click(RunWindow& window, ObjectServices& services, References& refs) {
    const std::u16string templatePath = TrimSpaces(window.PathText());
    window.SetStatusText(kStatusCreatingTendrix);
    if (!modHelper::IsQuotingAppRunning(services)) {
        window.SetStatusText(kStatusTendrixNotRunning);
        return RunResult::Refused;
    }
    refs.quotingApp = services.GetObject(kQuotingAppClass);
    if (!modHelper::FileExists(templatePath)) {
        window.SetStatusText(kStatusFileNotFound);
        return RunResult::Refused;
    }

    window.SetStatusText(kStatusCreatingExcel);
    refs.spreadsheetApp = services.CreateObject(kSpreadsheetAppClass);
    try {
        window.SetStatusText(kStatusOpening);
        refs.spreadsheetApp->Workbooks()->Open(templatePath, true); // the result is released at once
        refs.targetWorksheet = refs.spreadsheetApp->Workbooks()->Item(1)->Worksheets(1);

        window.SetStatusText(kStatusHeader);
        WriteHeaderFields(*refs.quotingApp, *refs.targetWorksheet);
        window.SetStatusText(kStatusItems);
        WriteItemFields(*refs.quotingApp, *refs.targetWorksheet);
        window.SetStatusText(kStatusMacros);
        WriteMacroFields(*refs.quotingApp, *refs.targetWorksheet);

        window.SetStatusText(u"");
        refs.spreadsheetApp->SetVisible(true);
    } catch (...) {
        QuitQuietly(refs.spreadsheetApp);
        throw;
    }
    window.Unload();
    return RunResult::Done;
}

} // namespace transfer
} // namespace vi2zezir
