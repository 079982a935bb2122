// One transfer of the open quote into a template: the run behind "Send To
// Excel" and "/f:".
#pragma once

#include <memory>
#include <string>

#include "servers/object_services.h"

namespace vi2zezir::transfer {

// The three counted references the main window owns. Storing into a field
// releases what it held; Release() drops them in the window's unload order.
struct References {
    std::shared_ptr<quote::Application> quotingApp;
    std::shared_ptr<sheet::Worksheet> targetWorksheet;
    std::shared_ptr<sheet::Application> spreadsheetApp;

    void Release() noexcept;
};

// What the run needs of the window it belongs to.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    virtual std::u16string PathText() const = 0;
    virtual void SetStatusText(const std::u16string& text) = 0;
    virtual void Unload() = 0;
};

// Status texts, exactly as the user sees them.
inline constexpr char16_t kStatusCreatingTendrix[] = u"Creating Tendrix Object";
inline constexpr char16_t kStatusTendrixNotRunning[] = u"Tendrix is not running. Operation Cancelled";
inline constexpr char16_t kStatusFileNotFound[] = u"File cannot be found. Operation Cancelled";
inline constexpr char16_t kStatusCreatingExcel[] = u"Creating Excel Object";
inline constexpr char16_t kStatusOpening[] = u"Opening Excel File";
inline constexpr char16_t kStatusHeader[] = u"Writing Header Fields";
inline constexpr char16_t kStatusItems[] = u"Writing Item Fields";
inline constexpr char16_t kStatusMacros[] = u"Writing Macros";

// How a run that raised no failure ended: the filled workbook shown and the
// window unloaded, or refused (no quoting application, no template) with
// the refusal in the status bar and the window left for another try.
enum class RunResult { Done, Refused };

// The export run. Any failure leaves it as Failure, after a spreadsheet
// application it started has been quit unsaved.
RunResult CmdExport2Excel_Click(RunWindow& window, ObjectServices& services, References& refs);

} // namespace vi2zezir::transfer
