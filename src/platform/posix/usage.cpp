#include "platform/posix/usage.h"

#include <cstdio>
#include <string_view>

#include "vi2zezir_version.h"

namespace vi2zezir::posix {

namespace {

constexpr const char kUsage[] = R"(Usage: vi2zezir [/f:TEMPLATE]
       vi2zezir --help | --version

Copies the quote open in Tendrix into an Excel template (.xls) and hands the
filled workbook to the spreadsheet application.

  /f:TEMPLATE  fill TEMPLATE at once; the program ends when the transfer
               succeeds. Without it the window proposes quote40.xls beside
               the program; with no display that template is filled at once.
               Every other argument is ignored.
  --help       print this help and exit
  --version    print the version and exit

Environment:
  TENDRIX_DOCUMENT   the quote document (JSON) that stands in for Tendrix;
                     unset, Tendrix counts as not running
  VI2ZEZIR_OUTPUT    where the filled workbook is written; unset, a new file,
                     named after the template, in TMPDIR (else /tmp)
  VI2ZEZIR_HEADLESS  1: no window even on a desktop

The window needs a display (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM) and
the Qt window module (vi2zezir-qt.so); without them the program runs
headless: progress on standard output, failures on standard error.

Exit status without a window:
  0  the filled workbook was written
  1  a refusal ("Tendrix is not running. Operation Cancelled", "File cannot be
     found. Operation Cancelled") or a failure ("Error <code>: <description>")
)";

// Standard output may be a closed pipe or a full disk: that is a failure too.
int Print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

} // namespace

std::optional<int> AnswerHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") return Print(kUsage);
        if (argument == "--version") return Print("vi2zezir " VI2ZEZIR_VERSION "\n");
    }
    return std::nullopt;
}

} // namespace vi2zezir::posix
