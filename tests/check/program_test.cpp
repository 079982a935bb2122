// The program as a script sees it: output, --json and the exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "check/check_templates.h"
#include "vi2zezir_version.h"

namespace vi2zezir::test {
namespace {

using testing::HasSubstr;

struct Outcome {
    int status = -1;
    std::string out;
};

// The output is standard output and, unless told otherwise, standard error.
Outcome RunCheck(const std::string& arguments, const std::string& errors = "2>&1") {
    Outcome run;
    const std::string command = std::string(VZ_CHECK_PROGRAM) + " " + arguments + " " + errors;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

TEST(Program, CleanTemplatesExitZero) {
    for (const fs::path& path : {kClean, kQuote40}) {
        const auto before = fs::last_write_time(path);
        const Outcome run = RunCheck(Quoted(path));
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_THAT(run.out, HasSubstr("nothing needs attention"));
        EXPECT_EQ(fs::last_write_time(path), before); // read, never written
    }
}

// The LibreOffice conversion of the example template reads as the example:
// every placeholder of every sheet, the same findings.
TEST(Program, AnXlsxTemplateReadsAsItsXlsOriginal) {
    const Outcome xls = RunCheck(Quoted(kQuote40));
    const Outcome xlsx = RunCheck(Quoted(fs::path(VZ_SOURCE_DIR) / "tests/data/xlsx/quote40.xlsx"));
    EXPECT_EQ(xlsx.status, xls.status) << xlsx.out;
    const auto body = [](const std::string& out) { return out.substr(out.find('\n')); };
    EXPECT_EQ(body(xlsx.out), body(xls.out));
}

TEST(Program, FindingsExitOneAndStartWithTheCell) {
    const Outcome run = RunCheck(Quoted(kMistakes));
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.out, testing::ContainsRegex("\n  H4 +&DH_SoldToPhoneExt +header +taken by &DH_SoldToPhone:"));
    EXPECT_THAT(run.out, HasSubstr("Notes!A4"));
}

TEST(Program, JsonCarriesBothVersions) {
    const Outcome run = RunCheck(Quoted(kMistakes) + " --json");
    ASSERT_EQ(run.status, 1);
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_TRUE(json["needsAttention"].get<bool>());
    bool seen = false;
    for (const auto& p : json["placeholders"]) {
        if (p["text"] != "&DI_Notes") continue;
        seen = true;
        EXPECT_EQ(p["cell"], "G22");
        EXPECT_EQ(p["versions"]["3"]["fate"], "not-processed");
        EXPECT_EQ(p["versions"]["4"]["fate"], "filled");
        EXPECT_EQ(p["versions"]["4"]["lines"][0]["content"], "⟦DI:Notes·1⟧");
    }
    EXPECT_TRUE(seen);
}

TEST(Program, UnreadableTemplateExitsTwoWithTheReason) {
    const fs::path notXls = TempFile("not-a-workbook.xls");
    std::ofstream(notXls) << "plain text, not a workbook";
    Outcome run = RunCheck(Quoted(notXls));
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.out, HasSubstr("not an Excel workbook"));
    fs::remove(notXls);

    run = RunCheck(Quoted(TempFile("missing.xls")));
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.out, HasSubstr("no such file"));
}

TEST(Program, HelpAndVersionGoToStandardOutput) {
    for (const auto& [argument, start] : {std::pair{"--help", "Usage: vi2zezir-check TEMPLATE.xls [--json]\n"},
                                          std::pair{"--version", "vi2zezir-check " VI2ZEZIR_VERSION "\n"}}) {
        const Outcome run = RunCheck(Quoted(kQuote40) + " " + argument, "2>/dev/null");
        EXPECT_EQ(run.status, 0) << argument;
        EXPECT_THAT(run.out, testing::StartsWith(start));
    }
}

} // namespace
} // namespace vi2zezir::test
