// The benchmarks' .xlsx templates: the .xls they build, converted by
// LibreOffice as a user's template would have been saved.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vi2zezir::bench {

// Writes the .xlsx beside the .xls and returns its path; empty when
// LibreOffice could not convert it (said on standard error). `profile`
// keeps the LibreOffice user folder apart from other runs.
inline std::filesystem::path ConvertToXlsx(const std::filesystem::path& xls, const std::string& profile) {
    const std::string command = "soffice -env:UserInstallation=file:///tmp/" + profile +
                                " --headless --convert-to xlsx --outdir '" + xls.parent_path().string() + "' '" +
                                xls.string() + "' > /dev/null 2>&1";
    std::filesystem::path xlsx = xls;
    xlsx.replace_extension(".xlsx");
    if (std::system(command.c_str()) != 0 || !std::filesystem::exists(xlsx)) {
        std::fprintf(stderr, "LibreOffice could not convert %s to .xlsx\n", xls.c_str());
        return {};
    }
    return xlsx;
}

} // namespace vi2zezir::bench
