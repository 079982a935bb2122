// The bad-input matrix: hostile templates and quote documents through the
// real export run, the real engine and the stand-in quoting application the
// Linux program uses. Every row must end as tests/data/hostile says, without
// a crash or hang, with the memory it took bounded, the template
// byte-identical afterwards and, unless it was filled, no output file left.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "base/failure.h"
#include "base/utf.h"
#include "platform/posix/object_services.h"
#include "standin/quote_document.h"
#include "support/bytes.h"
#include "support/expect_failure.h"
#include "transfer/export_run.h"
#include "workbook/engine.h"
#include "workbook/xls/biff.h"
#include "workbook/xls/cfb.h"
#include "workbook/xlsx/package.h"

namespace vi2zezir {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::ReadBytes;
using test::WriteBytes;

// Peak memory of a row, over what the process held before it. Generous: the
// sanitizers' quarantine keeps freed memory for a while.
constexpr long kMaxRowMemoryKb = 512 * 1024;

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

const fs::path kHostileDir = fs::path(VZ_SOURCE_DIR) / "tests/data/hostile";

const Bytes& GoodTemplate() {
    static const Bytes bytes = ReadBytes(fs::path(VZ_SOURCE_DIR) / "examples/quote40.xls");
    return bytes;
}

class RecordingWindow final : public transfer::RunWindow {
public:
    explicit RecordingWindow(std::u16string path) : path_(std::move(path)) {}
    std::u16string PathText() const override { return path_; }
    void SetStatusText(const std::u16string& text) override { status_ = text; }
    void Unload() override { unloaded_ = true; }
    const std::u16string& Status() const { return status_; }
    bool Unloaded() const { return unloaded_; }

private:
    std::u16string path_;
    std::u16string status_;
    bool unloaded_ = false;
};

constexpr char kSmallDocument[] = R"({"VersionMajor": 4,
  "Header": {"DocNo": 10442, "CustomMemo01": "memo"},
  "Items": [{"Description": "Managed switch", "QtyTotal": 2, "UnitPrice": {"currency": "899.5"}},
            {"LineType": 2, "Description": "Subtotal"}],
  "Macros": {"&APP_LoggedInUserName": "afuller"}})";

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vz-hostile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        templatePath_ = dir_ / "template.xls";
        documentPath_ = dir_ / "quote.json";
        outputPath_ = dir_ / "filled.xls";
        setenv(standin::kDocumentVariable, documentPath_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(standin::kDocumentVariable);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Runs the transfer over the files in place; the failure it ended in, or
    // nullopt when it filled the template. Checks what every row must hold.
    std::optional<Failure> Run() {
        const Bytes templateBytes = ReadBytes(templatePath_);
        const long before = PeakRssKb();
        RecordingWindow window(templatePath_.u16string());
        posix::PortableObjectServices services({.outputPath = outputPath_, .onSaved = {}, .newFileFolder = {}});
        transfer::References refs;
        std::optional<Failure> failure;
        try {
            transfer::CmdExport2Excel_Click(window, services, refs);
        } catch (const Failure& f) {
            failure = f;
        }
        refs.Release();
        EXPECT_LT(PeakRssKb() - before, kMaxRowMemoryKb) << "the row took too much memory";
        EXPECT_EQ(ReadBytes(templatePath_), templateBytes) << "the template was changed";
        EXPECT_EQ(window.Unloaded(), !failure) << text::ToUtf8(window.Status());
        EXPECT_EQ(fs::exists(outputPath_), !failure) << "an output file, if and only if the run succeeded";
        return failure;
    }

    // Writes the document, and the template unless it is there already.
    std::optional<Failure> RunWithDocument(const std::string& document) {
        if (!fs::exists(templatePath_)) WriteBytes(templatePath_, GoodTemplate());
        std::ofstream(documentPath_, std::ios::binary | std::ios::trunc) << document;
        return Run();
    }

    fs::path dir_, templatePath_, documentPath_, outputPath_;
};

std::string Substituted(std::string text, const std::string& key, const std::string& value) {
    for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
        text.replace(at, key.size(), value);
    return text;
}

// The matrix holds only if the good template and document go through.
TEST_F(BadInput, TheUnmutatedTemplateAndDocumentGoThrough) { EXPECT_FALSE(RunWithDocument(kSmallDocument)); }

// tests/data/hostile/<name>.xls (or .xlsx) is a template run with a small good document,
// <name>.json a document run with the good template. <name>.expected says
// "filled", or gives the failure's code on its first line and on each other
// a text its description must hold, {template} and {document} standing for
// the files' paths.
TEST_F(BadInput, EveryHostileFileEndsAsExpected) {
    std::set<fs::path> inputs;
    for (const auto& entry : fs::directory_iterator(kHostileDir))
        if (entry.path().extension() != ".expected" && entry.is_regular_file() &&
            entry.path().filename() != "README.md")
            inputs.insert(entry.path());
    ASSERT_GT(inputs.size(), 20u);
    for (const fs::path& input : inputs) {
        SCOPED_TRACE(input.filename().string());
        std::ifstream expected(fs::path(input).replace_extension(".expected"));
        std::string code;
        ASSERT_TRUE(std::getline(expected, code)) << "no .expected beside it";
        fs::remove(templatePath_);
        // The template and the output keep the input's format.
        const std::string format = input.extension() == ".json" ? ".xls" : input.extension().string();
        templatePath_ = dir_ / ("template" + format);
        outputPath_ = dir_ / ("filled" + format);
        std::string document = kSmallDocument;
        if (input.extension() != ".json") {
            fs::copy_file(input, templatePath_);
        } else {
            const Bytes bytes = ReadBytes(input);
            document.assign(bytes.begin(), bytes.end());
        }
        const std::optional<Failure> failure = RunWithDocument(document);
        if (code == "filled") {
            EXPECT_FALSE(failure) << text::ToUtf8(failure->Description());
            EXPECT_NO_THROW(workbook::CreateApplication()->Workbooks()->Open(outputPath_.u16string(), true));
            fs::remove(outputPath_);
            continue;
        }
        ASSERT_TRUE(failure) << "the run did not fail";
        for (std::string text; std::getline(expected, text);) {
            text = Substituted(Substituted(text, "{template}", templatePath_.string()), "{document}",
                               documentPath_.string());
            test::ExpectFailureOf(*failure, std::stoi(code), text::FromUtf8(text));
        }
    }
}

// Documents made as the test runs: too large to keep.

TEST_F(BadInput, DocumentNestedTooDeeply) {
    // Deep enough to exhaust the stack of a recursive reader.
    const std::optional<Failure> failure =
        RunWithDocument(R"({"Header": {"DocNo": )" + std::string(200000, '[') + std::string(200000, ']') + "}}");
    ASSERT_TRUE(failure);
    test::ExpectFailureOf(*failure, kAutomationError,
                          text::FromUtf8("nested deeper than " + std::to_string(standin::kMaxNesting) + " levels"));
}

TEST_F(BadInput, DocumentWithA100MegabyteTextValue) {
    // Written in pieces, so the test itself holds none of it: the document
    // is refused by its size before it is read.
    WriteBytes(templatePath_, GoodTemplate());
    {
        std::ofstream out(documentPath_, std::ios::binary | std::ios::trunc);
        out << R"({"Header": {"CustomMemo01": ")";
        const std::string chunk(1 << 20, 'm');
        for (int i = 0; i < 100; ++i) out << chunk;
        out << "\"}}";
    }
    const auto size = fs::file_size(documentPath_);
    const std::optional<Failure> failure = Run();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Code(), kAutomationError);
    EXPECT_EQ(text::ToUtf8(failure->Description()),
              "quote document '" + documentPath_.string() + "': is " + std::to_string(size) +
                  " bytes; a quote document may have at most " + std::to_string(standin::kMaxDocumentBytes) + " bytes");
}

TEST_F(BadInput, FormulasThatEachReadTheCellBelowAreFilled) {
    // J1 = J2, J2 = J3, ... 20,000 deep: evaluated one inside the other, the
    // chain would overflow the stack. Made here: the workbook is a megabyte.
    {
        WriteBytes(dir_ / "base.xls", GoodTemplate());
        workbook::EngineOptions options;
        options.outputPath = templatePath_;
        auto app = workbook::CreateApplication(options);
        auto sheet = app->Workbooks()->Open((dir_ / "base.xls").u16string(), true)->Worksheets(1);
        constexpr int kDepth = 20000;
        for (int r = 1; r < kDepth; ++r)
            sheet->Range(text::FromUtf8("J" + std::to_string(r)))
                ->SetFormula(text::FromUtf8("=J" + std::to_string(r + 1)));
        sheet->Range(text::FromUtf8("J" + std::to_string(kDepth)))->SetValue(Value(std::int32_t{7}));
        app->SetVisible(true);
        app->Quit();
    }
    EXPECT_FALSE(RunWithDocument(kSmallDocument));
}

} // namespace
} // namespace vi2zezir
