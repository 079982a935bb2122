// vi2zezir on Linux: the Qt window on a desktop, the headless window without
// one. Either way the same form runs the same transfer.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/utf.h"
#include "platform/posix/headless_view.h"
#include "platform/posix/object_services.h"
#include "platform/posix/usage.h"
#include "shell/frmTX_To_ExcelLink.h"
#include "shell/modCommandLine.h"

#ifdef VI2ZEZIR_QT_MODULE
#include "platform/posix/qt_window_module.h"
#endif

namespace {

using namespace vi2zezir;

std::u16string ProgramDirectory(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return text::FromUtf8(exe.parent_path().string());
}

// The shell has already split the arguments and removed its quotes; they
// are written back as the argument text that splits into them again.
std::u16string ArgumentText(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(text::FromUtf8(argv[i]));
    return modCommandLine::JoinArguments(arguments);
}

bool HasDisplay() {
    const char* headless = std::getenv("VI2ZEZIR_HEADLESS");
    if (headless && *headless && std::string(headless) != "0") return false;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

void PrintSaved(const std::filesystem::path& path) {
    std::printf("Workbook written to %s\n", path.string().c_str());
    std::fflush(stdout);
}

// Where the filled workbook goes: the file VI2ZEZIR_OUTPUT names, or a new
// one in the temporary folder.
workbook::EngineOptions EngineOutput(std::function<void(const std::filesystem::path&)> onSaved) {
    workbook::EngineOptions options;
    if (const char* output = std::getenv("VI2ZEZIR_OUTPUT"); output && *output) options.outputPath = output;
    std::error_code ec;
    options.newFileFolder = std::filesystem::temp_directory_path(ec);
    options.onSaved = std::move(onSaved);
    return options;
}

int RunHeadless(const shell::Environment& environment) {
    posix::HeadlessView view;
    posix::PortableObjectServices services(EngineOutput(PrintSaved));
    shell::frmTX_To_ExcelLink form(view, services, environment);

    shell::EventOutcome outcome = shell::RunEvent(form, &shell::frmTX_To_ExcelLink::Form_Load);
    std::u16string ignored;
    // Without "/f:" a window would wait for a click on "Send To Excel"; with no
    // display there is no one to click, so the headless window presses it
    // once, with the path box as start-up left it.
    if (outcome.kind == shell::EventOutcome::Kind::Done && form.IsLoaded() &&
        !modCommandLine::GetSwitchValue(u"/f", ignored)) {
        // Nothing on the command line named that template: say which it is.
        std::fprintf(stderr, "vi2zezir: %s; filling the default template %s\n",
                     environment.argumentText.empty() ? "no /f:TEMPLATE argument"
                                                      : "no /f:TEMPLATE among the arguments, which are ignored",
                     text::ToUtf8(view.PathText()).c_str());
        outcome = shell::RunEvent(form, &shell::frmTX_To_ExcelLink::CmdExport2Excel_Click);
    }

    switch (outcome.kind) {
    case shell::EventOutcome::Kind::Done: return 0;
    case shell::EventOutcome::Kind::Refused: // the window would wait for another try
        std::fprintf(stderr, "%s\n", text::ToUtf8(view.StatusText()).c_str());
        return 1;
    case shell::EventOutcome::Kind::Failed: std::fprintf(stderr, "%s\n", outcome.failure->what()); return 1;
    }
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (const std::optional<int> status = posix::AnswerHelpOrVersion(argc, argv)) return *status;
    shell::Environment environment{ProgramDirectory(argv[0]), ArgumentText(argc, argv)};
#ifdef VI2ZEZIR_QT_MODULE
    if (HasDisplay()) {
        posix::QtWindowRequest request{argc, argv, environment, EngineOutput(PrintSaved)};
        if (const std::optional<int> status = posix::RunQtWindowModule(request)) return *status;
    }
#else
    (void)HasDisplay;
#endif
    return RunHeadless(environment);
}
