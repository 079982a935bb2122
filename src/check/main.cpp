// vi2zezir-check TEMPLATE.xls|.xlsx [--json]: what a transfer will do with every
// placeholder of a template, without Tendrix and without writing the file.
// Exit status: 0 nothing needs attention, 1 something does, 2 the template
// cannot be read.
#include <cstdio>
#include <cstring>
#include <string>

#include "check/report_text.h"
#include "check/template_check.h"

int main(int argc, char** argv) {
    using namespace vi2zezir::check;
    const char* path = nullptr;
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0 || path) {
            std::fprintf(stderr, "usage: vi2zezir-check TEMPLATE.xls|.xlsx [--json]\n");
            return 2;
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        std::fprintf(stderr, "usage: vi2zezir-check TEMPLATE.xls|.xlsx [--json]\n");
        return 2;
    }
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
