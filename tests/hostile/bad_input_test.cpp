// The bad-input matrix: hostile templates and quote documents through the
// real export run, the real engine and the stand-in quoting application the
// Linux program uses. Every row must end in one clear failure (its code and
// description checked), without a crash or hang, with the memory it took
// bounded, the template byte-identical afterwards and no output file left.
// The hostile templates are the generator's examples/quote40.xls mutated at
// the compound-file or the record level.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "export/export_run.h"
#include "platform/posix/object_services.h"
#include "servers/failure.h"
#include "standin/quote_document.h"
#include "text/utf.h"
#include "workbook/engine.h"
#include "workbook/xls/biff.h"
#include "workbook/xls/cfb.h"
#include "workbook/xlsx/package.h"

namespace vi2zezir {
namespace {

namespace fs = std::filesystem;
namespace cfb = workbook::cfb;
using Bytes = std::vector<std::uint8_t>;

// Peak memory of a row, over what the process held before it. Generous: the
// sanitizers' quarantine keeps freed memory for a while.
constexpr long kMaxRowMemoryKb = 512 * 1024;

Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The good template, its compound file and its Workbook stream.
const Bytes& GoodTemplate() {
    static const Bytes bytes = ReadBytes(fs::path(VZ_SOURCE_DIR) / "examples/quote40.xls");
    return bytes;
}

// ---- compound-file level: offsets in a version 3 file (512-byte sectors)

std::size_t SectorOffset(std::uint32_t sector) { return (static_cast<std::size_t>(sector) + 1) * 512; }

// Offset of the directory entry of that name (ASCII), in the first
// directory sector, which is all a small file has.
std::size_t DirEntryOffset(const Bytes& file, std::u16string_view name) {
    const std::size_t dir = SectorOffset(Get32(file, 0x30));
    for (std::size_t e = dir; e + 128 <= dir + 512; e += 128) {
        std::u16string entryName;
        for (std::size_t i = 0; i < 64; i += 2) {
            const char16_t c = static_cast<char16_t>(file[e + i] | file[e + i + 1] << 8);
            if (c == 0) break;
            entryName += c;
        }
        if (entryName == name) return e;
    }
    ADD_FAILURE() << "no directory entry for the stream";
    return dir;
}

// The FAT entry's offset for a sector (the FAT of a small file is one sector).
std::size_t FatEntryOffset(const Bytes& file, std::uint32_t sector) {
    return SectorOffset(Get32(file, 0x4C)) + 4 * static_cast<std::size_t>(sector);
}

// ---- record level: the Workbook stream mutated, then written as a new file

Bytes WithWorkbookStream(const std::function<void(Bytes&)>& mutate) {
    cfb::CompoundFile file = cfb::Read(GoodTemplate());
    cfb::Entry* stream = file.FindStream(u"Workbook");
    mutate(stream->data);
    return cfb::Write(file);
}

// Offset of the nth (0-based) record with that opcode at or after `from`.
std::size_t FindRecord(const Bytes& stream, std::uint16_t opcode, std::size_t from = 0, int nth = 0) {
    std::size_t at = 0;
    while (at + 4 <= stream.size()) {
        const std::uint16_t op = static_cast<std::uint16_t>(stream[at] | stream[at + 1] << 8);
        const std::size_t length = static_cast<std::size_t>(stream[at + 2] | stream[at + 3] << 8);
        if (at >= from && op == opcode && nth-- == 0) return at;
        at += 4 + length;
    }
    ADD_FAILURE() << "no record " << opcode;
    return 0;
}

// The first worksheet's BOF: the second BOF of the stream.
std::size_t FirstSheet(const Bytes& stream) { return FindRecord(stream, workbook::biff::op::kBof, 0, 1); }

// ---- the run

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

    // Runs the transfer of `document` into `templateBytes` and returns the
    // failure it ended in, after checking what every row must hold.
    Failure RunExpectingFailure(const Bytes& templateBytes, const std::string& document = kSmallDocument) {
        WriteBytes(templatePath_, templateBytes);
        {
            std::ofstream out(documentPath_, std::ios::binary | std::ios::trunc);
            out << document;
        }
        return RunOnFiles(templateBytes);
    }

    Failure RunOnFiles(const Bytes& templateBytes) {
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
        EXPECT_FALSE(fs::exists(outputPath_)) << "an output file was left behind";
        EXPECT_FALSE(window.Unloaded());
        if (!failure) {
            ADD_FAILURE() << "the run did not fail; status: " << text::ToUtf8(window.Status());
            return Failure(0, u"");
        }
        return *failure;
    }

    // A template the engine must refuse: 1004, "'<path>' cannot be opened:
    // <reason>.", the reason containing `reason`.
    void ExpectRefusedTemplate(const Bytes& templateBytes, const std::string& reason) {
        const Failure f = RunExpectingFailure(templateBytes);
        EXPECT_EQ(f.Code(), kApplicationDefined);
        const std::string description = text::ToUtf8(f.Description());
        const std::string prefix = "'" + templatePath_.string() + "' cannot be opened: ";
        EXPECT_EQ(description.substr(0, prefix.size()), prefix) << description;
        EXPECT_NE(description.find(reason), std::string::npos) << description;
        EXPECT_TRUE(description.ends_with(".")) << description;
    }

    // A document the stand-in must refuse: every request fails with 440 and
    // "quote document '<path>': <reason>".
    void ExpectRefusedDocument(const std::string& document, const std::string& reason) {
        const Failure f = RunExpectingFailure(GoodTemplate(), document);
        EXPECT_EQ(f.Code(), kAutomationError);
        const std::string description = text::ToUtf8(f.Description());
        const std::string prefix = "quote document '" + documentPath_.string() + "': ";
        EXPECT_EQ(description.substr(0, prefix.size()), prefix) << description;
        EXPECT_NE(description.find(reason), std::string::npos) << description;
    }

    fs::path dir_, templatePath_, documentPath_, outputPath_;
};

// The matrix holds only if the good template and document go through.
TEST_F(BadInput, TheUnmutatedTemplateAndDocumentGoThrough) {
    WriteBytes(templatePath_, GoodTemplate());
    std::ofstream(documentPath_) << kSmallDocument;
    RecordingWindow window(templatePath_.u16string());
    posix::PortableObjectServices services({.outputPath = outputPath_, .onSaved = {}, .newFileFolder = {}});
    transfer::References refs;
    transfer::CmdExport2Excel_Click(window, services, refs);
    refs.Release();
    EXPECT_TRUE(window.Unloaded());
    EXPECT_TRUE(fs::exists(outputPath_));
    EXPECT_EQ(ReadBytes(templatePath_), GoodTemplate());
}

// ---------------------------------------------------------------- files

TEST_F(BadInput, FilesThatAreNoWorkbook) {
    {
        SCOPED_TRACE("truncated to the first 3,000 bytes");
        ExpectRefusedTemplate(Bytes(GoodTemplate().begin(), GoodTemplate().begin() + 3000),
                              "stream 'Workbook' claims 5526 bytes, more than the file's 2560 bytes of sectors can "
                              "hold");
    }
    {
        SCOPED_TRACE("zero-length file");
        ExpectRefusedTemplate({}, "the file is empty");
    }
    {
        SCOPED_TRACE("a text file renamed .xls");
        const std::string text = "Quote 10442\r\nManaged switch\t2\t899.50\r\n";
        ExpectRefusedTemplate(Bytes(text.begin(), text.end()), "not a compound file (bad signature)");
    }
    {
        SCOPED_TRACE("only the header survived");
        ExpectRefusedTemplate(Bytes(GoodTemplate().begin(), GoodTemplate().begin() + 512),
                              "header claims 1 FAT sectors, but the file holds only 0 sectors");
    }
}

// Only workbooks encrypted under Excel's default password open.
// .xlsx templates, each a sound zip with one part made hostile.
TEST_F(BadInput, HostilePackages) {
    templatePath_ = dir_ / "template.xlsx";
    outputPath_ = dir_ / "filled.xlsx";
    const Bytes good = ReadBytes(fs::path(VZ_SOURCE_DIR) / "tests/data/xlsx/quote40.xlsx");
    const std::string sheet = "xl/worksheets/sheet1.xml";
    const std::string original = workbook::xlsx::Package::Open(good).Read(sheet);
    const std::string body = original.substr(original.find("<worksheet"));
    const auto with = [&](const std::string& part, std::string content) {
        auto package = workbook::xlsx::Package::Open(good);
        package.Write(part, std::move(content));
        return package.Save();
    };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = original;
        text.replace(text.find(from), from.size(), to);
        return with(sheet, text);
    };
    const struct {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"a document type declaration with an entity",
         with(sheet, "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"&DH_DocNo\">]>" + body),
         "document type declaration"},
        {"a zip bomb: a sheet of 16 MB of spaces", with(sheet, original + std::string(16u << 20, ' ')), "zip bomb"},
        {"a sheet cut off", with(sheet, original.substr(0, original.size() / 2)), "sheet1.xml: line 2"},
        {"a cell format far beyond any workbook's", replaced("<c r=\"B1\" s=\"", "<c r=\"B1\" s=\"999999"),
         "cell format"},
        {"a row number beyond the grid", replaced("<row r=\"1\"", "<row r=\"4294967297\""), "row numbered"},
        {"a shared string the table lacks", replaced("<v>0</v>", "<v>4000000000</v>"), "shared string"},
        {"a part name that climbs out of the package",
         [&] {
             auto package = workbook::xlsx::Package::Open(good);
             std::string rels = package.Read("xl/_rels/workbook.xml.rels");
             rels.replace(rels.find("worksheets/sheet1.xml"), 21, "../../../etc/passwd");
             package.Write("xl/_rels/workbook.xml.rels", rels);
             return package.Save();
         }(),
         "etc/passwd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefusedTemplate(c.bytes, c.reason);
    }
}

TEST_F(BadInput, EncryptedWorkbooksThatCannotBeOpened) {
    {
        SCOPED_TRACE("a real password to open");
        ExpectRefusedTemplate(ReadBytes(fs::path(VZ_SOURCE_DIR) / "tests/data/refused/poi-35897-type4.xls"),
                              "the workbook is protected with a password to open");
    }
    // The template with a FILEPASS record of that payload after its BOF.
    const auto withFilePass = [](const Bytes& payload) {
        return WithWorkbookStream([&](Bytes& s) {
            Bytes record{0x2F, 0x00, static_cast<std::uint8_t>(payload.size()), 0x00};
            record.insert(record.end(), payload.begin(), payload.end());
            s.insert(s.begin() + 4 + (s[2] | s[3] << 8), record.begin(), record.end());
        });
    };
    // RC4 CryptoAPI: version 4.2, flags, a 32-byte header, then the verifier.
    const auto cryptoApi = [](std::uint32_t headerSize, std::uint32_t keyBits) {
        Bytes b{1, 0, 4, 0, 2, 0};
        const auto u32 = [&](std::uint32_t v) {
            for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        for (std::uint32_t v : {0x0Cu, headerSize, 0x0Cu, 0u, 0x6801u, 0x8004u, keyBits, 1u, 0u, 0u}) u32(v);
        u32(16);
        b.insert(b.end(), 32, 0xA5); // salt, verifier
        u32(20);
        b.insert(b.end(), 20, 0x5A); // verifier hash
        return b;
    };
    const struct {
        const char* what;
        Bytes payload;
        const char* reason;
    } kRows[] = {
        {"XOR obfuscation", {0, 0, 0x34, 0x12, 0x78, 0x56}, "protected with a password to open (XOR obfuscation)"},
        {"an unknown method", {2, 0}, "encrypted with an unknown method (0x2)"},
        {"RC4 with its verifier cut off",
         {1, 0, 1, 0, 1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
         "cut off inside the RC4 encryption header"},
        {"a CryptoAPI header that claims 4 GB", cryptoApi(0xFFFFFFF0u, 128),
         "cut off inside the RC4 CryptoAPI encryption header"},
        {"a 256-bit key", cryptoApi(32, 256), "encryption key size of 256 bits is out of range"},
    };
    for (const auto& row : kRows) {
        SCOPED_TRACE(row.what);
        ExpectRefusedTemplate(withFilePass(row.payload), row.reason);
    }
}

// ---------------------------------------------------------------- compound file

TEST_F(BadInput, SectorChainThatLoops) {
    Bytes file = GoodTemplate();
    const std::uint32_t start = Get32(file, DirEntryOffset(file, u"Workbook") + 0x74);
    Put32(file, FatEntryOffset(file, start), start); // the first sector follows itself
    ExpectRefusedTemplate(file, "sector chain of stream 'Workbook' loops at sector " + std::to_string(start));
}

TEST_F(BadInput, SizesThatClaimGigabytes) {
    {
        SCOPED_TRACE("the Workbook stream claims 3 GB");
        Bytes file = GoodTemplate();
        Put32(file, DirEntryOffset(file, u"Workbook") + 0x78, 0xC0000000u);
        ExpectRefusedTemplate(file, "claims 3221225472 bytes, more than the file's");
    }
    {
        SCOPED_TRACE("the root entry (the mini stream) claims 3 GB");
        // The template with a small second stream, so that the mini stream
        // is in use (quote40.xls has none).
        cfb::CompoundFile withSmall = cfb::Read(GoodTemplate());
        cfb::Entry summary;
        summary.name = u"\u0005SummaryInformation";
        summary.data.assign(300, 0x5A);
        withSmall.entries.push_back(summary);
        Bytes file = cfb::Write(withSmall);
        Put32(file, DirEntryOffset(file, u"Root Entry") + 0x78, 0xC0000000u);
        ExpectRefusedTemplate(file, "claims 3221225472 bytes");
    }
    {
        SCOPED_TRACE("the header claims 2^31 FAT sectors");
        Bytes file = GoodTemplate();
        Put32(file, 0x2C, 0x80000000u);
        ExpectRefusedTemplate(file, "FAT sectors, but the file holds only");
    }
}

// ---------------------------------------------------------------- records

TEST_F(BadInput, SharedStringCountThatLies) {
    // Fewer strings claimed than the cells use: the cells that refer past
    // the claimed count are refused.
    const Bytes fewer = WithWorkbookStream([](Bytes& s) { Put32(s, FindRecord(s, workbook::biff::op::kSst) + 8, 3); });
    ExpectRefusedTemplate(fewer, "a cell refers to shared string 3 of 3");
}

TEST_F(BadInput, RecordsThatRunPastTheirStream) {
    {
        SCOPED_TRACE("a cell record claims 65,535 bytes");
        const Bytes file = WithWorkbookStream(
            [](Bytes& s) { Put16(s, FindRecord(s, workbook::biff::op::kLabelSst, FirstSheet(s)) + 2, 0xFFFF); });
        ExpectRefusedTemplate(file, "a record of the first worksheet runs past the end of the stream");
    }
    {
        SCOPED_TRACE("the stream ends inside a record of the globals");
        const Bytes file =
            WithWorkbookStream([](Bytes& s) { s.resize(FindRecord(s, workbook::biff::op::kSst) + 100); });
        ExpectRefusedTemplate(file, "a record of the workbook globals runs past the end of the stream");
    }
    {
        SCOPED_TRACE("a sheet's offset points past the stream");
        const Bytes file = WithWorkbookStream(
            [](Bytes& s) { Put32(s, FindRecord(s, workbook::biff::op::kBoundSheet) + 4, 0x7FFFFFF0u); });
        ExpectRefusedTemplate(file, "sheet 1 starts past the end of the Workbook stream");
    }
}

TEST_F(BadInput, CellWithAnOutOfRangeFormatIndex) {
    const Bytes file = WithWorkbookStream(
        [](Bytes& s) { Put16(s, FindRecord(s, workbook::biff::op::kLabelSst, FirstSheet(s)) + 8, 0x7FFF); });
    ExpectRefusedTemplate(file, "uses cell format 32767, which the workbook does not define");
}

// ---------------------------------------------------------------- formulas that ask too much

// The template as the engine saves it after `edit`.
Bytes EngineWritten(const fs::path& dir, const std::function<void(sheet::Worksheet&)>& edit) {
    const fs::path in = dir / "base.xls";
    const fs::path out = dir / "edited.xls";
    WriteBytes(in, GoodTemplate());
    workbook::EngineOptions options;
    options.outputPath = out;
    auto app = workbook::CreateApplication(options);
    edit(*app->Workbooks()->Open(in.u16string(), true)->Worksheets(1));
    app->SetVisible(true);
    app->Quit();
    Bytes bytes = ReadBytes(out);
    fs::remove(in);
    fs::remove(out);
    return bytes;
}

std::u16string U16(const std::string& s) { return {s.begin(), s.end()}; }

class AcceptedInput : public BadInput {
protected:
    // A template the transfer must fill, within bounded memory, leaving the
    // template as it was and an output workbook the engine reads again.
    void ExpectFilled(const Bytes& templateBytes) {
        WriteBytes(templatePath_, templateBytes);
        std::ofstream(documentPath_) << kSmallDocument;
        const long before = PeakRssKb();
        RecordingWindow window(templatePath_.u16string());
        posix::PortableObjectServices services({.outputPath = outputPath_, .onSaved = {}, .newFileFolder = {}});
        transfer::References refs;
        transfer::CmdExport2Excel_Click(window, services, refs);
        refs.Release();
        EXPECT_LT(PeakRssKb() - before, kMaxRowMemoryKb);
        EXPECT_TRUE(window.Unloaded());
        EXPECT_EQ(ReadBytes(templatePath_), templateBytes);
        ASSERT_TRUE(fs::exists(outputPath_));
        EXPECT_NO_THROW(workbook::CreateApplication()->Workbooks()->Open(outputPath_.u16string(), true));
    }
};

TEST_F(AcceptedInput, SharedStringCountThatClaimsBillionsReadsOnlyWhatIsThere) {
    // More claimed than there are: the table is read as far as its data
    // goes, as Excel does, and nothing is reserved for the claim.
    ExpectFilled(
        WithWorkbookStream([](Bytes& s) { Put32(s, FindRecord(s, workbook::biff::op::kSst) + 8, 0xFFFFFFF0u); }));
}

TEST_F(AcceptedInput, FormulasThatDoubleATextFromCellToCell) {
    // H2 = H1&H1, H3 = H2&H2, ...: forty cells would ask for 2^40 characters.
    // Results past a cell's 32,767 characters are #VALUE!, as in Excel.
    ExpectFilled(EngineWritten(dir_, [](sheet::Worksheet& sheet) {
        sheet.Range(u"H1")->SetValue(Value(u"abcdefgh"));
        for (int r = 2; r <= 40; ++r) {
            const std::string above = "H" + std::to_string(r - 1);
            sheet.Range(U16("H" + std::to_string(r)))->SetFormula(U16("=" + above + "&" + above));
        }
    }));
}

TEST_F(AcceptedInput, FormulasThatEachReadTheCellBelow) {
    // J1 = J2, J2 = J3, ... 20,000 deep: evaluated one inside the other, the
    // chain would overflow the stack.
    ExpectFilled(EngineWritten(dir_, [](sheet::Worksheet& sheet) {
        constexpr int kDepth = 20000;
        for (int r = 1; r < kDepth; ++r)
            sheet.Range(U16("J" + std::to_string(r)))->SetFormula(U16("=J" + std::to_string(r + 1)));
        sheet.Range(U16("J" + std::to_string(kDepth)))->SetValue(Value(std::int32_t{7}));
    }));
}

TEST_F(AcceptedInput, FormulaWithALongTextResult) {
    // A text result over 8,224 bytes continues in CONTINUE records; written
    // wrongly, the engine could not read its own output again.
    ExpectFilled(EngineWritten(dir_, [](sheet::Worksheet& sheet) {
        sheet.Range(u"F60")->SetValue(Value(std::u16string(5000, u'\u0436')));
        sheet.Range(u"G60")->SetFormula(u"=F60");
        sheet.Range(u"F61")->SetValue(Value(std::u16string(9000, u'x')));
        sheet.Range(u"G61")->SetFormula(u"=F61");
    }));
}

// ---------------------------------------------------------------- edits the engine refuses

TEST_F(BadInput, SheetFullToTheLastRowUnderAnItemPlaceholder) {
    // The template as the engine saves it with a value in row 65,536 below
    // the first item placeholder: the first line's insert has no room.
    const fs::path full = dir_ / "full.xls";
    {
        WriteBytes(templatePath_, GoodTemplate());
        workbook::EngineOptions options;
        options.outputPath = full;
        auto app = workbook::CreateApplication(options);
        auto sheet = app->Workbooks()->Open(templatePath_.u16string(), true)->Worksheets(1);
        const auto placeholder = sheet->Cells()->Find(u"&DI_");
        ASSERT_TRUE(placeholder);
        std::u16string column = placeholder->Address().substr(1);
        column.erase(column.find(u'$'));
        sheet->Range(column + u"65536")->SetValue(Value(u"last row"));
        app->SetVisible(true);
        app->Quit();
    }
    const Failure f = RunExpectingFailure(ReadBytes(full));
    EXPECT_EQ(f.Code(), kApplicationDefined);
    EXPECT_EQ(text::ToUtf8(f.Description()),
              "Microsoft Excel can't insert new cells because it would push non-empty cells off the end of the "
              "worksheet. These non-empty cells might appear empty but have blank values, some formatting, or a "
              "formula. Delete enough rows or columns to make room for what you want to insert and then try "
              "again.");
}

TEST_F(BadInput, DocumentOf32768Lines) {
    std::string document = R"({"VersionMajor": 4, "Items": [)";
    for (int i = 0; i < 32768; ++i) document += i ? ",{}" : "{}";
    document += "]}";
    const Failure f = RunExpectingFailure(GoodTemplate(), document);
    EXPECT_EQ(f.Code(), kOverflow);
    EXPECT_EQ(f.Description(), u"Overflow");
}

TEST_F(BadInput, ItemValueLongerThanACellHolds) {
    // Item values of ordinary lines go into their cells unshortened; a text
    // over 32,767 characters is one no cell can hold.
    const std::string document =
        R"({"VersionMajor": 4, "Items": [{"Description": ")" + std::string(32768, 'x') + "\"}]}";
    const Failure f = RunExpectingFailure(GoodTemplate(), document);
    EXPECT_EQ(f.Code(), kApplicationDefined);
    EXPECT_EQ(text::ToUtf8(f.Description()), "Text values in cells are limited to 32,767 characters.");
}

// ---------------------------------------------------------------- documents

TEST_F(BadInput, DocumentsWithWrongTypes) {
    {
        SCOPED_TRACE("an object where a value belongs");
        ExpectRefusedDocument(R"({"Header": {"DocNo": {"number": 10442}}})",
                              "Header.DocNo: an object is a value only as {\"date\": ...} or {\"currency\": ...}");
    }
    {
        SCOPED_TRACE("a string LineType");
        ExpectRefusedDocument(R"({"Items": [{"LineType": "2"}]})", "Items[0].LineType: must be a number");
    }
    {
        SCOPED_TRACE("an array where the header's fields belong");
        ExpectRefusedDocument(R"({"Header": [1, 2]})", "Header: must be an object of field names and values");
    }
    {
        SCOPED_TRACE("a number beyond a double's range");
        ExpectRefusedDocument(R"({"Header": {"DocNo": 1E400}})", "number overflow parsing '1E400'");
    }
    {
        SCOPED_TRACE("a document that is an array");
        ExpectRefusedDocument("[]", "the document must be a JSON object");
    }
}

TEST_F(BadInput, DocumentNestedTooDeeply) {
    // Deep enough to exhaust the stack of a recursive reader.
    const std::string document =
        R"({"Header": {"DocNo": )" + std::string(200000, '[') + std::string(200000, ']') + "}}";
    ExpectRefusedDocument(document, "nested deeper than " + std::to_string(standin::kMaxNesting) + " levels");
}

TEST_F(BadInput, DocumentWithInvalidUtf8) {
    {
        SCOPED_TRACE("a byte that starts no character");
        ExpectRefusedDocument(
            "{\"Header\": {\"DocNo\": \"10\xFF"
            "442\"}}",
            "ill-formed UTF-8");
    }
    {
        SCOPED_TRACE("an encoded surrogate");
        ExpectRefusedDocument("{\"Header\": {\"DocNo\": \"\xED\xA0\x80\"}}", "ill-formed UTF-8");
    }
    {
        SCOPED_TRACE("a sequence cut off at the end of a key");
        ExpectRefusedDocument("{\"Header\": {\"Doc\xC3\": 1}}", "ill-formed UTF-8");
    }
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
    const Failure f = RunOnFiles(GoodTemplate());
    EXPECT_EQ(f.Code(), kAutomationError);
    EXPECT_EQ(text::ToUtf8(f.Description()), "quote document '" + documentPath_.string() + "': is " +
                                                 std::to_string(size) + " bytes; a quote document may have at most " +
                                                 std::to_string(standin::kMaxDocumentBytes) + " bytes");
}

} // namespace
} // namespace vi2zezir
