#include "shell/frmTX_To_ExcelLink.h"

#include <filesystem>
#include <new>

#include "base/utf.h"
#include "shell/modCommandLine.h"
#include "text/case.h"
#include "transfer/modHelper.h"

namespace vi2zezir {
namespace shell {
namespace {

// Lower-casing a chosen path is harmless only where the file system ignores
// case; elsewhere it would name another file.
#ifdef _WIN32
constexpr bool kFileSystemIgnoresCase = true;
#else
constexpr bool kFileSystemIgnoresCase = false;
#endif

} // namespace

frmTX_To_ExcelLink::frmTX_To_ExcelLink(FormView& view, ObjectServices& services, Environment environment)
    : view_(view), services_(services), environment_(std::move(environment)) {}

void frmTX_To_ExcelLink::Form_Load() {
    loaded_ = true;
    view_.Show();
    modHelper::SetWindowTopMost(view_, true);
    const char16_t separator = static_cast<char16_t>(std::filesystem::path::preferred_separator);
    view_.SetPathText(environment_.programDirectory + separator + kDefaultTemplateName);
    modCommandLine::ParseCommandLine(environment_.argumentText);
    modCommandLine::ApplyCommandLine(*this);
}

void frmTX_To_ExcelLink::Form_Unload() {
    refs_.Release();
    loaded_ = false;
}

void frmTX_To_ExcelLink::cmdOtherFile_Click() {
    OpenDialogOptions options;
    options.dialogTitle = u"Please select an Excel File";
    options.flags = 0x1004;
    options.filter = u"Excel Files (*.XLS)|*.XLS";
    options.cancelError = false;
    options.initDir = environment_.programDirectory;
    options.fileName.clear();
    std::u16string fileName = view_.ShowOpenDialog(options);
    if (kFileSystemIgnoresCase) fileName = text::LowerCase(fileName);
    if (!fileName.empty()) view_.SetPathText(fileName);
}

void frmTX_To_ExcelLink::CmdExport2Excel_Click() {
    if (transfer::CmdExport2Excel_Click(*this, services_, refs_) == transfer::RunResult::Refused) refused_ = true;
}

std::u16string frmTX_To_ExcelLink::PathText() const { return view_.PathText(); }

void frmTX_To_ExcelLink::SetStatusText(const std::u16string& text) { view_.SetStatusText(text); }

void frmTX_To_ExcelLink::Unload() {
    Form_Unload();
    view_.Close();
}

EventOutcome RunEvent(frmTX_To_ExcelLink& form, void (frmTX_To_ExcelLink::*handler)()) {
    std::optional<Failure> failure;
    form.refused_ = false;
    try {
        (form.*handler)();
    } catch (const Failure& f) {
        failure = f;
    } catch (const std::bad_alloc&) {
        failure.emplace(kOutOfMemory);
    } catch (const std::exception& e) {
        failure.emplace(kInternalError, StandardDescription(kInternalError) + u": " + text::FromUtf8(e.what()));
    }
    if (failure) {
        form.View().SetStatusText(FailureText(*failure));
        return {EventOutcome::Kind::Failed, std::move(failure)};
    }
    return {form.refused_ ? EventOutcome::Kind::Refused : EventOutcome::Kind::Done, std::nullopt};
}

} // namespace shell
} // namespace vi2zezir
