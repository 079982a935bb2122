// The main window's form: start-up, the template picker, the export run's
// button and shut-down. Views (Win32, Qt, headless) drive it through its
// event handlers and show what it sets through FormView.
#pragma once

#include <optional>
#include <string>

#include "base/failure.h"
#include "servers/object_services.h"
#include "shell/form_view.h"
#include "transfer/export_run.h"

namespace vi2zezir::shell {

struct Environment {
    std::u16string programDirectory; // no trailing separator
    std::u16string argumentText;     // the command line less the program's path
};

inline constexpr char16_t kWindowTitle[] = u"Tendrix -> Excel Template";
inline constexpr char16_t kDefaultTemplateName[] = u"quote40.xls";

// How a window event ended: Refused when an export run in it was refused,
// Failed with the failure that left the handler.
struct EventOutcome {
    enum class Kind { Done, Refused, Failed };
    Kind kind = Kind::Done;
    std::optional<Failure> failure;
};

class frmTX_To_ExcelLink;
EventOutcome RunEvent(frmTX_To_ExcelLink& form, void (frmTX_To_ExcelLink::*handler)());

class frmTX_To_ExcelLink final : private transfer::RunWindow {
public:
    frmTX_To_ExcelLink(FormView& view, ObjectServices& services, Environment environment);

    void Form_Load();
    void Form_Unload();
    void cmdOtherFile_Click();
    void CmdExport2Excel_Click();

    bool IsLoaded() const noexcept { return loaded_; }
    FormView& View() noexcept { return view_; }
    const Environment& GetEnvironment() const noexcept { return environment_; }
    const transfer::References& References() const noexcept { return refs_; }

private:
    friend EventOutcome RunEvent(frmTX_To_ExcelLink&, void (frmTX_To_ExcelLink::*)());

    std::u16string PathText() const override;
    void SetStatusText(const std::u16string& text) override;
    void Unload() override;

    FormView& view_;
    ObjectServices& services_;
    Environment environment_;
    transfer::References refs_;
    bool loaded_ = false;
    bool refused_ = false; // an export run in the current event was refused
};

// The program's top level for one window event (declared above): runs the
// handler and, when a failure leaves it, shows "Error <code>: <description>"
// in the status bar and returns it in the outcome so the view can report it
// further.

} // namespace vi2zezir::shell
