// vi2zezir-check TEMPLATE.xls|.xlsx [--json]: what a transfer will do with every
// placeholder of a template, without Tendrix and without writing the file.
// Exit status: 0 nothing needs attention, 1 something does, 2 the template
// cannot be read.
#include <cstdio>
#include <cstring>
#include <string>

#include "check/report_text.h"
#include "check/template_check.h"
#include "vi2zezir_version.h"

namespace {

constexpr const char kUsage[] = R"(Usage: vi2zezir-check TEMPLATE.xls [--json]
       vi2zezir-check --help | --version

Tells what a transfer will do with every placeholder of TEMPLATE, under both
Tendrix version lists, without Tendrix and without changing the template.

  --json     the same report as JSON, for scripts
  --help     print this help and exit
  --version  print the version and exit

Exit status: 0 nothing needs attention, 1 something does, 2 the template
cannot be read (or the command line is wrong).
)";

int Print(const char* text) {
    std::fputs(text, stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

int UsageError() {
    std::fprintf(stderr, "usage: vi2zezir-check TEMPLATE.xls [--json] (vi2zezir-check --help tells more)\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vi2zezir::check;
    const char* path = nullptr;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return Print(kUsage);
        if (std::strcmp(argv[i], "--version") == 0) return Print("vi2zezir-check " VI2ZEZIR_VERSION "\n");
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (path) {
            return UsageError();
        } else {
            path = argv[i];
        }
    }
    if (!path) return UsageError();
    try {
        const Report report = CheckTemplateFile(path);
        const std::string out = json ? FormatJson(report, path) : FormatForPeople(report, path);
        std::fwrite(out.data(), 1, out.size(), stdout);
        return report.NeedsAttention() ? 1 : 0;
    } catch (const CheckError& e) {
        std::fprintf(stderr, "vi2zezir-check: cannot read template '%s': %s\n", path, e.what());
        return 2;
    }
}
