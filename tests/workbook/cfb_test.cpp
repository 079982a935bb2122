#include "workbook/xls/cfb.h"

#include "support/bytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <unistd.h>

namespace vi2zezir::workbook::cfb {
namespace {

using ::testing::HasSubstr;
using ::vi2zezir::test::Bytes;
using ::vi2zezir::test::Get32;
using ::vi2zezir::test::Put32;
using ::vi2zezir::test::ReadBytes;
using ::vi2zezir::test::WriteBytes;

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}

Entry Stream(std::u16string name, Bytes data) {
    Entry e;
    e.name = std::move(name);
    e.type = Entry::Type::Stream;
    e.data = std::move(data);
    return e;
}

Entry Storage(std::u16string name, std::vector<Entry> children) {
    Entry e;
    e.name = std::move(name);
    e.type = Entry::Type::Storage;
    e.children = std::move(children);
    return e;
}

std::array<std::uint8_t, 16> Clsid(std::uint8_t seed) {
    std::array<std::uint8_t, 16> c{};
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = static_cast<std::uint8_t>(seed + i * 7);
    return c;
}

std::string Utf8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Entries compared regardless of order, recursively.
void ExpectSameEntries(const std::vector<Entry>& expected, const std::vector<Entry>& actual,
                       const std::string& path = "") {
    ASSERT_EQ(expected.size(), actual.size()) << "in '" << path << "'";
    for (const Entry& want : expected) {
        const auto it = std::find_if(actual.begin(), actual.end(), [&](const Entry& e) { return e.name == want.name; });
        const std::string where = path + "/" + Utf8(want.name);
        ASSERT_NE(it, actual.end()) << where << " is missing";
        EXPECT_EQ(want.type, it->type) << where;
        EXPECT_EQ(want.clsid, it->clsid) << where;
        EXPECT_EQ(want.stateBits, it->stateBits) << where;
        EXPECT_EQ(want.creationTime, it->creationTime) << where;
        EXPECT_EQ(want.modifiedTime, it->modifiedTime) << where;
        EXPECT_TRUE(want.data == it->data)
            << where << ": data differs (" << want.data.size() << " vs " << it->data.size() << " bytes)";
        ExpectSameEntries(want.children, it->children, where);
    }
}

// One line per storage ("path/") and stream ("path size FNV-1a"), the
// listing python3-olefile gives below and ok-* files are held to.
std::uint32_t Fnv1a(const Bytes& data) {
    std::uint32_t h = 2166136261u;
    for (std::uint8_t b : data) h = (h ^ b) * 16777619u;
    return h;
}

void Describe(const std::vector<Entry>& entries, const std::string& path, std::vector<std::string>& lines) {
    for (const Entry& e : entries) {
        const std::string name = path + Utf8(e.name).substr(e.name[0] == 5 ? 1 : 0);
        if (e.type == Entry::Type::Stream) {
            lines.push_back(name + " " + std::to_string(e.data.size()) + " " + std::to_string(Fnv1a(e.data)));
        } else {
            lines.push_back(name + "/");
            Describe(e.children, name + "/", lines);
        }
    }
}

// A tree like a template's: the workbook stream, summary streams, an empty
// stream, streams on both sides of the 4096-byte cutoff and a macro project
// two storages deep.
CompoundFile SampleFile() {
    CompoundFile file;
    file.rootClsid = Clsid(0x10);
    Entry workbook = Stream(u"Workbook", Pattern(20000, 1));
    Entry summary = Stream(u"\x05SummaryInformation", Pattern(300, 2));
    summary.stateBits = 0x1234;
    Entry vbaDir = Stream(u"dir", Pattern(777, 3));
    Entry vba = Storage(u"VBA", {vbaDir, Stream(u"Module1", Pattern(5000, 4)), Stream(u"_VBA_PROJECT", Pattern(7, 5))});
    vba.clsid = Clsid(0x40);
    Entry project = Storage(u"_VBA_PROJECT_CUR", {vba, Stream(u"PROJECT", Pattern(400, 6))});
    project.creationTime = 0x01D0A1B2C3D4E5F6;
    project.modifiedTime = 0x01D9000011112222;
    project.clsid = Clsid(0x80);
    file.entries = {workbook,
                    summary,
                    Stream(u"\x05"
                           u"DocumentSummaryInformation",
                           Pattern(4095, 7)),
                    Stream(u"Exactly4096", Pattern(4096, 8)),
                    Stream(u"Empty", {}),
                    project,
                    Storage(u"EmptyStorage", {})};
    return file;
}

void ExpectError(const Bytes& bytes, const std::string& fragment) {
    try {
        Read(bytes);
        ADD_FAILURE() << "expected an Error containing \"" << fragment << "\"";
    } catch (const Error& e) {
        EXPECT_THAT(e.what(), HasSubstr(fragment));
    }
}

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

// An 8 MB stream, more than the 109 FAT sectors the header lists can map (so
// DIFAT sectors), beside forty small streams.
CompoundFile LargeFile() {
    CompoundFile file;
    file.entries.push_back(Stream(u"Workbook", Pattern(8 * 1024 * 1024 + 100, 3)));
    for (int i = 0; i < 40; ++i) {
        file.entries.push_back(
            Stream(u"s" + std::u16string(static_cast<std::size_t>(i % 7), u'a') + static_cast<char16_t>(u'A' + i),
                   Pattern(static_cast<std::size_t>(i) * 150, i)));
    }
    return file;
}

TEST(CfbRoundTrip, TreeWithBigAndSmallStreamsAndNestedStorages) {
    for (const CompoundFile& original : {SampleFile(), LargeFile()}) {
        const Bytes bytes = Write(original);
        ASSERT_EQ(bytes.size() % 512, 0u);
        const CompoundFile back = Read(bytes);
        EXPECT_EQ(original.rootClsid, back.rootClsid);
        ExpectSameEntries(original.entries, back.entries);
        // Writing what was read gives the same file: nothing is lost or reordered.
        EXPECT_TRUE(Write(back) == bytes);
    }
    const Bytes large = Write(LargeFile());
    EXPECT_GT(Get32(large, 0x2C), 109u); // FAT sectors
    EXPECT_GE(Get32(large, 0x48), 1u);   // DIFAT sectors
}

TEST(CfbRoundTrip, EmptyFileHasHeaderFatAndDirectory) {
    const Bytes bytes = Write(CompoundFile{});
    EXPECT_EQ(bytes.size(), 3u * 512); // the minimum a compound file has
    const CompoundFile back = Read(bytes);
    EXPECT_TRUE(back.entries.empty());
}

TEST(CfbRoundTrip, ManySiblingsFormSearchableTree) {
    // Names of mixed length and case, to exercise the length-then-upper-case
    // order of the sibling tree; a reader that looks entries up by tree
    // descent (as the independent reader below and Excel do) must find each.
    CompoundFile file;
    for (int i = 0; i < 300; ++i) {
        std::u16string name = (i % 2 ? u"stream" : u"S");
        for (char c : std::to_string(i * 37 % 1000)) name += static_cast<char16_t>(c);
        file.entries.push_back(Stream(name, Pattern(static_cast<std::size_t>(i * 13), i)));
    }
    const Bytes bytes = Write(file);
    const CompoundFile back = Read(bytes);
    ExpectSameEntries(file.entries, back.entries);

    // The tree is a binary search tree: walking it in order yields sorted
    // names, which Read reports in that order.
    for (std::size_t i = 1; i < back.entries.size(); ++i) {
        const auto& a = back.entries[i - 1].name;
        const auto& b = back.entries[i].name;
        EXPECT_TRUE(a.size() < b.size() || (a.size() == b.size() && a < b)) << i;
    }
}

TEST(CfbFindStream, IgnoresCaseAndSkipsStorages) {
    CompoundFile file;
    file.entries = {Storage(u"Book", {}), Stream(u"Workbook", Pattern(5, 1))};
    ASSERT_NE(file.FindStream(u"WORKBOOK"), nullptr);
    EXPECT_EQ(file.FindStream(u"workbook")->data.size(), 5u);
    EXPECT_EQ(file.FindStream(u"Book"), nullptr);
    EXPECT_EQ(file.FindStream(u"Missing"), nullptr);
}

// Duplicate names, a name too long or empty, storages nested deeper than
// either side accepts (tests/data/hostile/cfb has such a file to read).
TEST(CfbWrite, RefusesTreesTheFormatCannotHold) {
    Entry deep = Stream(u"x", Pattern(3, 1));
    for (int i = 0; i < 70; ++i) deep = Storage(u"s", {deep});
    for (const std::vector<Entry>& entries : {std::vector<Entry>{Stream(u"Book", {}), Stream(u"BOOK", {})},
                                              {Stream(std::u16string(32, u'x'), {})},
                                              {Storage(u"S", {Stream(u"", {})})},
                                              {deep}}) {
        CompoundFile file;
        file.entries = entries;
        EXPECT_THROW(Write(file), Error);
    }
    CompoundFile maxName;
    maxName.entries = {Stream(std::u16string(31, u'x'), Pattern(3, 3))};
    EXPECT_EQ(Read(Write(maxName)).entries.at(0).name.size(), 31u);
}

// ---------------------------------------------------------------------------
// Hostile input: every case an Error, never a crash or a hang
// ---------------------------------------------------------------------------

TEST(CfbHostile, DifatLoop) {
    Bytes bytes = Write(LargeFile());
    const std::uint32_t difat = Get32(bytes, 0x44);
    // Claim more FAT sectors than the DIFAT lists, with the DIFAT's next
    // pointer back to itself.
    Put32(bytes, 0x2C, 109 + 127 * 3);
    Put32(bytes, (difat + 1) * 512 + 127 * 4, difat);
    ExpectError(bytes, "loops at sector " + std::to_string(difat));
}

// Damaged files, kept from fuzzing (tests/data/cfb) or made by damaging what
// Write produced (tests/data/hostile/cfb). Those named ok-* are sloppiness
// real files show and nothing is lost by: they read, survive a write and read
// back, and list (Describe) as <name>.expected says where there is one. All
// others fail with an Error holding the text in <name>.expected.
TEST(CfbHostile, DamagedFiles) {
    int count = 0;
    for (const char* folder : {"cfb", "hostile/cfb"}) {
        for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(VZ_TEST_DATA_DIR) / folder)) {
            if (item.path().extension() == ".expected") continue;
            const std::string name = item.path().filename().string();
            SCOPED_TRACE(name);
            const Bytes bytes = ReadBytes(item.path());
            std::ifstream expected(std::filesystem::path(item.path()).replace_extension(".expected"));
            std::vector<std::string> lines;
            for (std::string line; std::getline(expected, line);) lines.push_back(line);
            if (name.starts_with("ok-")) {
                std::vector<std::string> listing;
                EXPECT_NO_THROW(Describe(Read(Write(Read(bytes))).entries, "", listing));
                std::sort(listing.begin(), listing.end());
                if (!lines.empty()) {
                    EXPECT_EQ(listing, lines);
                }
            } else {
                ExpectError(bytes, lines.empty() ? "" : lines[0]);
            }
            ++count;
        }
    }
    EXPECT_GT(count, 30);
}

// ---------------------------------------------------------------------------
// An independent reader agrees with Write
// ---------------------------------------------------------------------------

// Lists every storage and stream (size and FNV-1a of its data) as the
// Debian package python3-olefile reads them, failing on any defect it finds.
constexpr const char* kOlefileScript = R"PY(
import sys, olefile
ole = olefile.OleFileIO(sys.argv[1], raise_defects=olefile.DEFECT_INCORRECT)
def fnv(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h
for path in ole.listdir(streams=True, storages=True):
    name = "/".join(p.lstrip("\x05") for p in path)
    if ole.get_type(path) == olefile.STGTY_STORAGE:
        print(name + "/")
    else:
        data = ole.openstream(path).read()
        assert len(data) == ole.get_size(path)
        print(name, len(data), fnv(data))
)PY";

std::vector<std::string> OlefileListing(const Bytes& bytes, const std::string& stem) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto file = dir / (stem + "_" + std::to_string(::getpid()) + ".cfb");
    const auto script = dir / (stem + "_" + std::to_string(::getpid()) + ".py");
    const auto output = dir / (stem + "_" + std::to_string(::getpid()) + ".txt");
    WriteBytes(file, bytes);
    std::ofstream(script) << kOlefileScript;
    const std::string command =
        "/usr/bin/python3 " + script.string() + " " + file.string() + " > " + output.string() + " 2>&1";
    const int rc = std::system(command.c_str());
    std::ifstream in(output);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::filesystem::remove(file);
    std::filesystem::remove(script);
    std::filesystem::remove(output);
    EXPECT_EQ(rc, 0) << ::testing::PrintToString(lines);
    return lines;
}

bool OlefileAvailable() { return std::system("/usr/bin/python3 -c 'import olefile' > /dev/null 2>&1") == 0; }

TEST(CfbIndependentReader, OlefileReadsWhatWriteProduces) {
    if (!OlefileAvailable()) GTEST_SKIP() << "python3-olefile is not installed";
    for (const CompoundFile& file : {SampleFile(), LargeFile()}) {
        std::vector<std::string> expected;
        Describe(file.entries, "", expected);
        auto actual = OlefileListing(Write(file), "cfb_sample");
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        EXPECT_EQ(expected, actual);
    }
}

} // namespace
} // namespace vi2zezir::workbook::cfb

namespace vi2zezir::workbook::cfb {
namespace {

// A workbook LibreOffice saved as "MS Excel 97" from a 300-row CSV: a real
// writer's layout (its own sector order, a Workbook stream above the cutoff,
// the summary and \x01CompObj streams in the mini stream).
const std::filesystem::path kLibreOfficeXls =
    std::filesystem::path(VZ_TEST_DATA_DIR) / "cfb" / "ok-libreoffice-rows.xls";

TEST(CfbIndependentWriter, ReadsWhatLibreOfficeSaved) {
    const CompoundFile file = Read(ReadBytes(kLibreOfficeXls));
    const Entry* workbook = file.FindStream(u"Workbook");
    ASSERT_NE(workbook, nullptr);
    ASSERT_GT(workbook->data.size(), 4096u);
    // The stream opens with a BIFF8 BOF record (0x0809, 16 bytes, version 0x0600).
    EXPECT_EQ(workbook->data[0], 0x09);
    EXPECT_EQ(workbook->data[1], 0x08);
    EXPECT_EQ(workbook->data[4], 0x00);
    EXPECT_EQ(workbook->data[5], 0x06);
    EXPECT_NE(file.FindStream(u"\x05SummaryInformation"), nullptr);
    EXPECT_NE(file.FindStream(u"\x05"
                              u"DocumentSummaryInformation"),
              nullptr);
    EXPECT_NE(file.FindStream(u"\x01"
                              u"CompObj"),
              nullptr);
    ExpectSameEntries(file.entries, Read(Write(file)).entries);
}

// The spreadsheet application opens the file Write produced from its own:
// both convert to the same CSV.
TEST(CfbIndependentWriter, LibreOfficeOpensRewrittenWorkbook) {
    if (std::system("command -v soffice > /dev/null 2>&1") != 0) GTEST_SKIP() << "LibreOffice is not installed";
    const auto dir = std::filesystem::temp_directory_path() / ("cfb_lo_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(kLibreOfficeXls, dir / "original.xls");
    WriteBytes(dir / "rewritten.xls", Write(Read(ReadBytes(kLibreOfficeXls))));
    // A private profile: other LibreOffice instances on the machine do not interfere.
    const std::string command = "cd " + dir.string() + " && timeout 300 soffice --headless --norestore" +
                                " -env:UserInstallation=file://" + dir.string() + "/profile" +
                                " --convert-to csv original.xls rewritten.xls > soffice.log 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes original = ReadBytes(dir / "original.csv");
    const Bytes rewritten = ReadBytes(dir / "rewritten.csv");
    EXPECT_GT(original.size(), 3000u);
    EXPECT_TRUE(original == rewritten);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace vi2zezir::workbook::cfb
