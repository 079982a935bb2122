// The package through its public API over real files: quote40.xlsx (the
// default template as LibreOffice saves it) and minimal.xlsx (streamed with
// data descriptors, the main namespace under a prefix, a calculation chain,
// a VBA part). LibreOffice is the independent reader of what is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/libreoffice.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/zip.h"

namespace {

using namespace vi2zezir::workbook::xlsx;
using vi2zezir::workbook::Error;
using vi2zezir::workbook::ErrorKind;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Load(const std::string& name) {
    std::ifstream in(fs::path(VZ_TEST_DATA_DIR) / "xlsx" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path Save(const Bytes& bytes, const std::string& name) {
    const fs::path path = fs::temp_directory_path() / ("vz-xlsx-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

// Every entry of b carries a's raw bytes: name, method, time stamp, CRC,
// sizes and the compressed data itself.
void ExpectSameEntries(const Bytes& a, const Bytes& b) {
    const auto x = zip::ReadArchive(a, {}), y = zip::ReadArchive(b, {});
    ASSERT_EQ(x.entries.size(), y.entries.size());
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        const auto &e = x.entries[i], &f = y.entries[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(std::tie(e.name, e.method, e.time, e.date, e.crc, e.compressedSize, e.uncompressedSize),
                  std::tie(f.name, f.method, f.time, f.date, f.crc, f.compressedSize, f.uncompressedSize));
        EXPECT_TRUE(std::equal(a.begin() + e.dataOffset, a.begin() + e.dataOffset + e.compressedSize,
                               b.begin() + f.dataOffset));
    }
}

// LibreOffice reads both files to the same cells and formulas on every sheet.
void ExpectSameCells(const fs::path& original, const fs::path& written) {
    std::string whyNot;
    const auto a = vi2zezir::test::ReadAllSheetsWithLibreOffice(original, &whyNot);
    if (!a) GTEST_SKIP() << whyNot;
    const auto b = vi2zezir::test::ReadAllSheetsWithLibreOffice(written);
    ASSERT_EQ(a->size(), b->size());
    for (std::size_t s = 0; s < a->size(); ++s) {
        ASSERT_EQ((*a)[s].cells.size(), (*b)[s].cells.size()) << (*a)[s].name;
        for (const auto& [address, cell] : (*a)[s].cells) {
            EXPECT_EQ(cell.value, (*b)[s].Value(address)) << address;
            EXPECT_EQ(cell.formula, (*b)[s].Formula(address)) << address;
        }
    }
}

TEST(Package, PassesEveryPartThroughUntouchedAndDeterministically) {
    for (const char* name : {"quote40.xlsx", "minimal.xlsx"}) {
        SCOPED_TRACE(name);
        const Bytes original = Load(name);
        auto package = Package::Open(original);
        for (const auto& part : package.PartNames()) package.Read(part); // every CRC checks
        const Bytes saved = package.Save();
        ExpectSameEntries(original, saved);
        EXPECT_EQ(saved, Package::Open(saved).Save());
    }
    const Bytes original = Load("quote40.xlsx");
    ExpectSameCells(Save(original, "original.xlsx"), Save(Package::Open(original).Save(), "saved.xlsx"));
}

TEST(Package, FindsTheWorkbookPartsThroughItsRelationships) {
    const auto quote = FindWorkbookParts(Package::Open(Load("quote40.xlsx")));
    EXPECT_EQ(quote.workbook, "xl/workbook.xml");
    ASSERT_EQ(quote.sheets.size(), 2u);
    EXPECT_EQ(quote.sheets[0].name, "Quote");
    EXPECT_EQ(quote.sheets[0].part, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(quote.sheets[1].kind, SheetKind::Worksheet);
    EXPECT_EQ(quote.sharedStrings, "xl/sharedStrings.xml");
    EXPECT_EQ(quote.styles, "xl/styles.xml");
    EXPECT_EQ(quote.calcChain, "");

    // "x:" for the main namespace, "rel:" for relationships, an absolute target.
    const auto minimal = FindWorkbookParts(Package::Open(Load("minimal.xlsx")));
    ASSERT_EQ(minimal.sheets.size(), 1u);
    EXPECT_EQ(minimal.sheets[0].name, "Quote");
    EXPECT_EQ(minimal.sheets[0].part, "xl/worksheets/sheet1.xml");
    EXPECT_EQ(minimal.calcChain, "xl/calcChain.xml");
}

TEST(Package, DropsTheCalcChainAndKeepsTheRestRaw) {
    const Bytes original = Load("minimal.xlsx");
    auto package = Package::Open(original);
    ASSERT_TRUE(DropCalcChain(package));
    EXPECT_FALSE(DropCalcChain(package));
    const Bytes saved = package.Save();
    auto reread = Package::Open(saved);
    EXPECT_FALSE(reread.Has("xl/calcChain.xml"));
    EXPECT_EQ(FindWorkbookParts(reread).calcChain, "");
    EXPECT_EQ(reread.Read("[Content_Types].xml").find("calcChain"), std::string::npos);
    EXPECT_EQ(reread.Read("xl/_rels/workbook.xml.rels").find("calcChain"), std::string::npos);
    EXPECT_EQ(reread.Read("xl/vbaProject.bin"), "not a real VBA project, only bytes to pass along");

    // What the drop did not touch is passed through raw; the two tables it
    // edited keep their namespaces and everything else.
    const auto before = zip::ReadArchive(original, {}), after = zip::ReadArchive(saved, {});
    ASSERT_EQ(after.entries.size(), before.entries.size() - 1);
    for (const auto& e : after.entries) {
        const auto source = std::find_if(before.entries.begin(), before.entries.end(),
                                         [&](const zip::Entry& b) { return b.name == e.name; });
        ASSERT_NE(source, before.entries.end());
        const bool edited = e.name == "[Content_Types].xml" || e.name == "xl/_rels/workbook.xml.rels";
        EXPECT_EQ(e.crc == source->crc, !edited) << e.name;
        EXPECT_EQ(std::tie(e.time, e.date), std::tie(source->time, source->date)) << e.name;
    }
    EXPECT_NE(reread.Read("xl/_rels/workbook.xml.rels").find("Target=\"vbaProject.bin\""), std::string::npos);

    // Excel's own files, where a formula's chain is dropped: LibreOffice
    // reads the same cells.
    auto quote = Package::Open(Load("quote40.xlsx"));
    quote.Write("xl/calcChain.xml",
                "<calcChain xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><c r=\"F23\" i=\"1\"/>"
                "</calcChain>",
                "application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml");
    auto rels = quote.ReadRelationships("xl/workbook.xml");
    EXPECT_EQ(rels.Add(RelationshipType("calcChain"), "xl/calcChain.xml"), "rId5");
    quote.WriteRelationships(rels);
    const fs::path withChain = Save(quote.Save(), "with-chain.xlsx");
    ASSERT_TRUE(DropCalcChain(quote));
    ExpectSameCells(withChain, Save(quote.Save(), "dropped.xlsx"));
}

TEST(Package, ResolvesRelationshipTargets) {
    auto package = Package::Open(Load("quote40.xlsx"));
    auto rels = package.ReadRelationships("xl/workbook.xml");
    struct Row {
        const char* target;
        const char* part; // nullptr: refused
    } rows[] = {
        {"worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
        {"/xl/styles.xml", "xl/styles.xml"},
        {"./theme/../styles.xml", "xl/styles.xml"},
        {"../customXml/item1.xml", "customXml/item1.xml"},
        {"media/image1.png#frame", "xl/media/image1.png"},
        {"../../outside.xml", nullptr},
        {"worksheets//sheet1.xml", nullptr},
        {"worksheets\\sheet1.xml", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.target);
        const Relationship rel{"rId9", RelationshipType("worksheet"), row.target, false};
        if (row.part)
            EXPECT_EQ(rels.TargetPart(rel), row.part);
        else
            EXPECT_THROW(rels.TargetPart(rel), Error);
    }
    EXPECT_THROW(rels.TargetPart({"rId9", RelationshipType("hyperlink"), "https://example.com/", true}), Error);

    // Added targets are written relative to the source's folder.
    const std::string id = rels.Add(RelationshipType("worksheet"), "xl/worksheets/sheet3.xml");
    EXPECT_EQ(rels.Find(id)->target, "worksheets/sheet3.xml");
    EXPECT_EQ(rels.Add(RelationshipType("customXml"), "customXml/item1.xml"), "rId6");
    EXPECT_EQ(rels.Find("rId6")->target, "/customXml/item1.xml");
    EXPECT_TRUE(rels.Remove(id));
    EXPECT_FALSE(rels.Remove(id));
    EXPECT_EQ(RelationshipsPartName(""), "_rels/.rels");
}

TEST(Package, KeepsContentTypesAndPlacesForWrittenParts) {
    auto package = Package::Open(Load("quote40.xlsx"));
    EXPECT_EQ(package.ContentType("XL/Workbook.xml"),
              "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
    EXPECT_EQ(package.ContentType("_rels/.rels"), "application/vnd.openxmlformats-package.relationships+xml");
    EXPECT_EQ(package.ContentType("xl/media/image1.PNG"), "image/png");
    EXPECT_EQ(package.ContentType("xl/media/image1.emf"), "");
    EXPECT_THROW(package.Write("xl/media/image1.emf", "emf"), std::invalid_argument);

    package.Write("xl/media/image1.emf", "emf", "image/x-emf");
    package.Write("xl/worksheets/sheet2.xml", "<worksheet/>");
    package.Remove("docProps/app.xml");
    const Bytes saved = package.Save();
    auto reread = Package::Open(saved);
    EXPECT_EQ(reread.ContentType("xl/media/image1.emf"), "image/x-emf");
    EXPECT_EQ(reread.Read("xl/worksheets/sheet2.xml"), "<worksheet/>");
    EXPECT_FALSE(reread.Has("docProps/app.xml"));
    EXPECT_EQ(reread.Read("[Content_Types].xml").find("/docProps/app.xml"), std::string::npos);

    // A written part keeps its place and time stamp; a new one goes last,
    // dated 1980-01-01.
    const auto entries = zip::ReadArchive(saved, {}).entries;
    const auto original = zip::ReadArchive(Load("quote40.xlsx"), {}).entries;
    EXPECT_EQ(entries[4].name, "xl/worksheets/sheet2.xml");
    EXPECT_EQ(entries[4].time, original[4].time);
    EXPECT_EQ(entries.back().name, "xl/media/image1.emf");
    EXPECT_EQ(entries.back().date, zip::kFixedDate);
}

// The same package with the Zip64 end records that some writers always add.
TEST(Package, ReadsZip64EndRecords) {
    Bytes zip = Load("minimal.xlsx");
    const std::size_t end = zip.size() - 22;
    const auto get = [&](std::size_t at, int n) {
        std::uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | zip[at + i];
        return v;
    };
    Bytes records;
    const auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) records.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(0x06064b50, 4), put(44, 8), put(45, 2), put(45, 2), put(0, 4), put(0, 4);
    put(get(end + 10, 2), 8), put(get(end + 10, 2), 8), put(get(end + 12, 4), 8), put(get(end + 16, 4), 8);
    put(0x07064b50, 4), put(0, 4), put(end, 8), put(1, 4);
    Bytes tail(zip.begin() + end, zip.end());
    for (std::size_t i = 8; i < 20; ++i) tail[i] = 0xFF; // counts, size and offset: see the Zip64 record
    zip.resize(end);
    zip.insert(zip.end(), records.begin(), records.end());
    zip.insert(zip.end(), tail.begin(), tail.end());
    auto package = Package::Open(zip);
    EXPECT_EQ(package.PartNames().size(), 7u);
    ExpectSameEntries(Load("minimal.xlsx"), package.Save());
}

} // namespace
