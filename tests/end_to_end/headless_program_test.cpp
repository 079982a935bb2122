// vi2zezir run as a user runs it without a display: TENDRIX_DOCUMENT names the
// quote, "/f:" the template, VI2ZEZIR_OUTPUT where the filled workbook goes
// (unset: a new file in the temporary folder).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <vector>

#include "support/libreoffice.h"
#include "vi2zezir_version.h"
#include "workbook/xls/biff.h"
#include "workbook/xls/cfb.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

class HeadlessProgram : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            fs::temp_directory_path() / ("vz-e2e-" + std::to_string(::getpid()) + "-" +
                                         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        templatePath = dir / "quote template.xls";
        fs::copy_file(fs::path(VZ_SOURCE_DIR) / "examples/quote40.xls", templatePath);
        output = dir / "filled.xls";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }

    // Runs the program with the environment given (and nothing inherited of
    // ours but what `environment` adds).
    ProgramRun Start(const std::string& document, const std::string& arguments, const std::string& environment = "",
                     const std::string& program = VZ_PROGRAM) {
        std::string command = "cd '" + dir.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM";
        // env takes its -u options before any assignment.
        if (output.empty()) command += " -u VI2ZEZIR_OUTPUT";
        command += document.empty() ? " -u TENDRIX_DOCUMENT" : " TENDRIX_DOCUMENT='" + document + "'";
        // Without an output file the program claims a new one in TMPDIR.
        command += output.empty() ? " TMPDIR='" + dir.string() + "'" : " VI2ZEZIR_OUTPUT='" + output.string() + "'";
        command += " " + environment + " '" + program + "' " + arguments + " > out.txt 2> err.txt";
        ProgramRun run;
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(dir / "out.txt");
        run.err = Slurp(dir / "err.txt");
        return run;
    }

    std::string Example(const std::string& name) { return (fs::path(VZ_SOURCE_DIR) / "examples" / name).string(); }
    std::string Document(const std::string& name, const std::string& json) {
        std::ofstream(dir / name) << json;
        return (dir / name).string();
    }
    std::string Switch() { return "\"/f:" + templatePath.string() + "\""; }

    // The dynamic loader logs every library a run maps (the program's own,
    // and those it opens later) to ld.<pid>.
    std::string LogLibraries() { return "LD_DEBUG=files LD_DEBUG_OUTPUT='" + (dir / "ld").string() + "'"; }
    std::string LibrariesLogged() {
        std::string log;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.path().filename().string().starts_with("ld.")) {
                log += Slurp(entry.path());
                fs::remove(entry.path());
            }
        }
        return log;
    }

    fs::path dir, templatePath, output;
};

TEST_F(HeadlessProgram, FillsTheTemplateAndLeavesItUntouched) {
    const std::string before = Slurp(templatePath);
    ProgramRun run = Start(Example("quote-typical.json"), Switch());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.out,
              "Creating Tendrix Object\nCreating Excel Object\nOpening Excel File\nWriting Header Fields\n"
              "Writing Item Fields\nWriting Macros\nWorkbook written to " +
                  output.string() + "\n");
    EXPECT_EQ(Slurp(templatePath), before);

    std::string whyNot;
    auto sheets = vi2zezir::test::ReadAllSheetsWithLibreOffice(output, &whyNot);
    if (!sheets) GTEST_SKIP() << whyNot;
    const auto& first = sheets->front();
    bool descriptionFound = false, totalFormula = false, phoneAsTyped = false;
    for (const auto& [address, cell] : first.cells) {
        EXPECT_EQ(cell.value.find("&DH_"), std::string::npos) << address << " " << cell.value;
        EXPECT_EQ(cell.value.find("&DI_"), std::string::npos) << address << " " << cell.value;
        EXPECT_EQ(cell.value.find("&APP_"), std::string::npos) << address << " " << cell.value;
        if (cell.value == "Managed switch 48-port PoE+") descriptionFound = true;
        // A "+" value behind a label: kept as text, and no apostrophe shows.
        if (cell.value == "Phone: +49 30 0074321") phoneAsTyped = true;
        // The subtotal's range grew over the 19 lines inserted at its last row.
        if (cell.formula.find("21:D41") != std::string::npos && cell.value == "64363.3") totalFormula = true;
    }
    EXPECT_TRUE(descriptionFound);
    EXPECT_TRUE(phoneAsTyped);
    EXPECT_TRUE(totalFormula);
    // Only the first worksheet is filled; the notes sheet comes through as
    // typed, every cell of it and nothing more.
    ASSERT_GE(sheets->size(), 2u);
    const auto& notes = (*sheets)[1];
    EXPECT_EQ(notes.name, "Notes");
    std::map<std::string, std::string> notesTexts;
    for (const auto& [address, cell] : notes.cells)
        if (!cell.value.empty()) notesTexts[address] = cell.value;
    EXPECT_EQ(notesTexts, (std::map<std::string, std::string>{
                              {"A1", "Internal notes"},
                              {"A3", "This sheet is not filled by the transfer: only the Quote sheet is."}}));
}

// Two placeholders in one cell: a formula-like first value keeps the whole
// cell text, whatever the values after it make of it.
TEST_F(HeadlessProgram, DocumentTextNeverBecomesALiveFormula) {
    // examples/quote40.xls with H1 "&DH_DocType&DH_DocNo", H2
    // "&DH_DocType&APP_LoggedInUserName", H3 "&DH_CustomText01 &DH_CustomText02".
    fs::copy_file(fs::path(VZ_SOURCE_DIR) / "tests/data/templates/placeholders-sharing-cells.xls", templatePath,
                  fs::copy_options::overwrite_existing);
    ProgramRun run = Start(Document("q.json", R"json({"VersionMajor": "4",
        "Header": {"DocType": "=", "DocNo": "HYPERLINK(\"http://evil.example\",\"click\")",
                   "CustomText01": "=1+1", "CustomText02": "x"},
        "Macros": {"&APP_LoggedInUserName": "1+1"}})json"),
                           Switch());
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

    std::string whyNot;
    auto sheet = vi2zezir::test::ReadWithLibreOffice(output, &whyNot);
    if (!sheet) GTEST_SKIP() << whyNot;
    for (const auto& [address, text] : std::map<std::string, std::string>{
             {"H1", R"x(=HYPERLINK("http://evil.example","click"))x"}, {"H2", "=1+1"}, {"H3", "=1+1 x"}}) {
        const vi2zezir::test::LoCell* cell = sheet->At(address);
        ASSERT_NE(cell, nullptr) << address;
        EXPECT_EQ(cell->type, "s") << address;
        EXPECT_EQ(cell->value, text) << address;
        EXPECT_EQ(cell->formula, "") << address;
    }
}

// Without VI2ZEZIR_OUTPUT, transfers at the same moment each claim a new file
// named after the template, never one that exists.
TEST_F(HeadlessProgram, TransfersAtOnceEachClaimANewFile) {
    std::ofstream(dir / "quote template-filled-1.xls") << "someone else's";
    std::string command = "cd '" + dir.string() + "' && for i in 1 2 3 4 5 6; do env -u DISPLAY -u WAYLAND_DISPLAY" +
                          " -u QT_QPA_PLATFORM -u VI2ZEZIR_OUTPUT TMPDIR='" + dir.string() + "' TENDRIX_DOCUMENT='" +
                          Example("quote-typical.json") + "' '" VZ_PROGRAM "' " + Switch() +
                          " > out$i.txt 2>&1 & done; wait";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::set<std::string> written;
    for (int i = 1; i <= 6; ++i) {
        const std::string out = Slurp(dir / ("out" + std::to_string(i) + ".txt"));
        const auto at = out.find("Workbook written to ");
        ASSERT_NE(at, std::string::npos) << out;
        written.insert(out.substr(at + 20, out.find('\n', at) - at - 20));
    }
    std::set<std::string> expected;
    for (int n = 2; n <= 7; ++n)
        expected.insert((dir / ("quote template-filled-" + std::to_string(n) + ".xls")).string());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(Slurp(dir / "quote template-filled-1.xls"), "someone else's");
}

// One argument that carries its own double quotes, as a launcher or a script
// written for Windows passes it.
TEST_F(HeadlessProgram, ASwitchArgumentWithItsOwnQuotes) {
    ProgramRun run = Start(Example("quote-empty.json"), "'/f:\"" + templatePath.string() + "\"'");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(fs::exists(output));
}

TEST_F(HeadlessProgram, RefusesWithoutTendrix) {
    ProgramRun run = Start("", Switch());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Creating Tendrix Object\nTendrix is not running. Operation Cancelled\n");
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(HeadlessProgram, AFailureIsReportedWithItsCodeAndNothingIsWritten) {
    const std::string before = Slurp(templatePath);
    ProgramRun run =
        Start(Document("null.json", R"({"VersionMajor": "4", "Macros": {"&APP_OurLocationCompany": null}})"), Switch());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Error 94: Invalid use of Null\n");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(Slurp(templatePath), before);
}

TEST_F(HeadlessProgram, ThirtyTwoThousandSevenHundredSixtyEightLinesOverflow) {
    std::string json = R"({"VersionMajor": "4", "Items": [)";
    for (int i = 0; i < 32768; ++i) json += i ? ",{}" : "{}";
    json += "]}";
    ProgramRun run = Start(Document("huge.json", json), Switch());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Error 6: Overflow\n");
    EXPECT_FALSE(fs::exists(output));
}

// The FILEPASS payload of a workbook's globals, empty when it has none.
std::vector<std::uint8_t> FilePass(const fs::path& workbook) {
    const std::string bytes = Slurp(workbook);
    const auto file =
        vi2zezir::workbook::cfb::Read(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    const auto* stream = file.FindStream(u"Workbook");
    if (!stream) return {};
    vi2zezir::workbook::biff::RecordReader reader(stream->data);
    while (reader.Next() && reader.Current().opcode != vi2zezir::workbook::biff::op::kEof) {
        const auto& rec = reader.Current();
        if (rec.opcode == vi2zezir::workbook::biff::op::kFilePass) return {rec.data.begin(), rec.data.end()};
    }
    return {};
}

// A template encrypted under Excel's default password opens, fills and saves
// encrypted as it came: LibreOffice reads every cell of the output as it
// reads the template, and the output's FILEPASS is the template's.
TEST_F(HeadlessProgram, EncryptedTemplatesAreSavedEncryptedAsTheyCame) {
    for (const char* name : {"50833.xls", "pwtest3.xls"}) {
        SCOPED_TRACE(name);
        fs::copy_file(fs::path(VZ_SOURCE_DIR) / "tests/data/corpus/encrypted" / name, templatePath,
                      fs::copy_options::overwrite_existing);
        fs::remove(output);
        ProgramRun run = Start(Example("quote-typical.json"), Switch());
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_FALSE(FilePass(templatePath).empty());
        EXPECT_EQ(FilePass(output), FilePass(templatePath));

        std::string whyNot;
        const auto before = vi2zezir::test::ReadAllSheetsWithLibreOffice(templatePath, &whyNot);
        if (!before) GTEST_SKIP() << whyNot;
        const auto after = vi2zezir::test::ReadAllSheetsWithLibreOffice(output);
        ASSERT_TRUE(after);
        ASSERT_EQ(after->size(), before->size());
        std::size_t cells = 0;
        for (std::size_t s = 0; s < before->size(); ++s) {
            const auto& a = (*before)[s];
            const auto& b = (*after)[s];
            EXPECT_EQ(b.name, a.name);
            EXPECT_EQ(b.cells.size(), a.cells.size()) << a.name;
            for (const auto& [address, cell] : a.cells) {
                const auto* other = b.At(address);
                ASSERT_NE(other, nullptr) << a.name << "!" << address;
                EXPECT_EQ(other->value, cell.value) << a.name << "!" << address;
                EXPECT_EQ(other->formula, cell.formula) << a.name << "!" << address;
                EXPECT_EQ(other->numberFormat, cell.numberFormat) << a.name << "!" << address;
                cells += !cell.value.empty();
            }
        }
        EXPECT_GT(cells, 0u); // LibreOffice decrypted the template, not an empty reading
    }
}

// Without "/f:" the default template beside the program is filled, and the
// run says so, also when other arguments (ignored) stand where the switch
// would. Without a display no Qt library is mapped.
TEST_F(HeadlessProgram, WithoutTheSwitchTheDefaultTemplateBesideTheProgramIsUsed) {
    const std::string notice =
        "; filling the default template " + (fs::path(VZ_PROGRAM).parent_path() / "quote40.xls").string() + "\n";
    for (const auto& [arguments, why] :
         {std::pair{"", "no /f:TEMPLATE argument"},
          std::pair{"quote.xls -f", "no /f:TEMPLATE among the arguments, which are ignored"}}) {
        fs::remove(output);
        ProgramRun run = Start(Example("quote-empty.json"), arguments, LogLibraries());
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_EQ(run.err, "vi2zezir: " + std::string(why) + notice);
        EXPECT_TRUE(fs::exists(output));
        const std::string libraries = LibrariesLogged();
        EXPECT_NE(libraries.find("libstdc++"), std::string::npos); // the log is there
        EXPECT_EQ(libraries.find("libQt"), std::string::npos);
    }
}

// A user's and a script's conventions come before the transfer: nothing is
// read or written, whatever else the command line holds.
TEST_F(HeadlessProgram, HelpAndVersionAnswerWithoutATransfer) {
    for (const auto& [argument, start] : {std::pair{"--help", "Usage: vi2zezir [/f:TEMPLATE]\n"},
                                          std::pair{"--version", "vi2zezir " VI2ZEZIR_VERSION "\n"}}) {
        ProgramRun run = Start(Example("quote-typical.json"), Switch() + " " + argument);
        EXPECT_EQ(run.exitCode, 0) << argument;
        EXPECT_TRUE(run.out.starts_with(start)) << run.out;
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(fs::exists(output));
    }
}

#ifdef VZ_QT_MODULE
// On a desktop the window comes from its module, loaded then and only then;
// a program whose module is missing says so and runs without a window.
TEST_F(HeadlessProgram, ADesktopLoadsTheQtWindowModuleAndManagesWithoutIt) {
    const std::string desktop = "QT_QPA_PLATFORM=offscreen " + LogLibraries();
    ProgramRun run = Start(Example("quote-typical.json"), Switch(), desktop);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::exists(output));
    EXPECT_NE(LibrariesLogged().find(VZ_QT_MODULE), std::string::npos);
    EXPECT_EQ(run.out.find("Writing Macros"), std::string::npos) << run.out; // in the status bar

    fs::copy_file(VZ_PROGRAM, dir / "vi2zezir");
    fs::remove(output);
    run = Start(Example("quote-typical.json"), Switch(), desktop, (dir / "vi2zezir").string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("vi2zezir: the Qt window module " VZ_QT_MODULE " is neither beside the program nor in"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find("Writing Macros"), std::string::npos) << run.out;
    EXPECT_TRUE(fs::exists(output));
    EXPECT_EQ(LibrariesLogged().find("libQt"), std::string::npos);
}
#endif

} // namespace

// The output keeps the template's format: a package template gives a package
// named like it, and an output path naming the other format is refused
// before a cell changes.
TEST_F(HeadlessProgram, TheOutputKeepsTheTemplatesFormat) {
    struct Case {
        const char* templateName;
        const char* outputName; // "" for a new file claimed in the folder
        const char* written;    // "" when refused
    };
    const Case cases[] = {
        {"q.xlsx", "", "q-filled-1.xlsx"},  {"q.xlsm", "", "q-filled-1.xlsm"}, {"q.xls", "", "q-filled-1.xls"},
        {"q.xlsx", "out.xls", ""},          {"q.xlsx", "out.xlsm", ""},        {"q.xls", "out.xlsx", ""},
        {"q.xlsx", "out.XLSX", "out.XLSX"}, {"q.xlsx", "out.tmp", "out.tmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.templateName) + " -> " + c.outputName);
        fs::remove_all(dir / "run");
        fs::create_directories(dir / "run");
        templatePath = dir / "run" / c.templateName;
        const bool package = !std::string(c.templateName).ends_with(".xls");
        fs::copy_file(fs::path(VZ_SOURCE_DIR) / (package ? "tests/data/xlsx/quote40.xlsx" : "examples/quote40.xls"),
                      templatePath);
        output = *c.outputName ? dir / "run" / c.outputName : fs::path();
        const auto saved = dir;
        dir = dir / "run";
        ProgramRun run = Start(Example("quote-typical.json"), Switch());
        dir = saved;
        if (!*c.written) {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_NE(run.out.find("so the output must end in"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("Writing Header Fields"), std::string::npos) << run.out;
            EXPECT_FALSE(fs::exists(output));
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        const std::string bytes = Slurp(dir / "run" / c.written);
        EXPECT_EQ(bytes.substr(0, 2), package ? "PK" : "\xD0\xCF");
    }
}
