// Real packages from spreadsheet libraries' test suites (/work/corpus, or the
// folder VZ_XLSX_CORPUS names; skipped when neither is there). Every .xlsx
// and .xlsm must open, name its workbook parts and pass through with every
// entry's bytes untouched; dropping its calculation chain must leave a
// package that opens again. The exceptions are the files below, broken on
// purpose by their suites, each refused for the reason given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "workbook/xlsx/package.h"
#include "workbook/xlsx/zip.h"

namespace {

using namespace vi2zezir::workbook::xlsx;
using vi2zezir::workbook::Error;
using vi2zezir::workbook::ErrorKind;
namespace fs = std::filesystem;

const std::map<std::string, std::string> kRefused = {
    {"58616.xlsx", "compound file"}, // an encrypted workbook
    {"crash-9bf3cd4bd6f50a8a9339d363c2c7af14b536865c.xlsx", "compound file"},
    {"54764-2.xlsx", "document type declaration"}, // entity expansion in [Content_Types].xml
    {"duplicate-filename.xlsx", "two parts named"},
    {"duplicate-filename-case-insensitive.xlsx", "two parts named"},
    {"49609.xlsx", "backslash"},
    {"Zip-Windows-Directory-Separator.xlsx", "backslash"},
    {"issue.3730.xlsx", "backslash"},
    {"crash-274d6342e4842d61be0fb48eaadad6208ae767ae.xlsx", "zip directory is cut off"},
};

std::vector<std::uint8_t> Load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Refusal(const std::vector<std::uint8_t>& bytes) {
    try {
        auto package = Package::Open(bytes);
        for (const auto& part : package.PartNames()) package.Read(part);
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

TEST(Corpus, RealPackagesPassThroughByteForByte) {
    const char* dir = std::getenv("VZ_XLSX_CORPUS");
    const fs::path root = dir ? dir : "/work/corpus";
    if (!fs::is_directory(root)) GTEST_SKIP() << root << " is not there";
    int passed = 0, refused = 0, fuzzed = 0, chains = 0;
    for (const auto& file : fs::recursive_directory_iterator(root)) {
        const std::string ext = file.path().extension().string();
        if (ext != ".xlsx" && ext != ".xlsm") continue;
        const std::string name = file.path().filename().string();
        SCOPED_TRACE(file.path().string());
        const auto bytes = Load(file.path());
        // Fuzzers' findings kept by the suites: any clear error will do.
        if (name.starts_with("clusterfuzz-testcase")) {
            fuzzed += !Refusal(bytes).empty();
            continue;
        }
        if (const auto expected = kRefused.find(name); expected != kRefused.end()) {
            EXPECT_NE(Refusal(bytes).find(expected->second), std::string::npos) << Refusal(bytes);
            ++refused;
            continue;
        }
        try {
            auto package = Package::Open(bytes);
            const auto parts = FindWorkbookParts(package);
            const auto saved = package.Save();
            const auto before = zip::ReadArchive(bytes, {}), after = zip::ReadArchive(saved, {});
            ASSERT_EQ(before.entries.size(), after.entries.size());
            for (std::size_t i = 0; i < before.entries.size(); ++i) {
                const auto &a = before.entries[i], &b = after.entries[i];
                EXPECT_EQ(std::tie(a.name, a.crc, a.compressedSize, a.time),
                          std::tie(b.name, b.crc, b.compressedSize, b.time));
                EXPECT_TRUE(std::equal(bytes.begin() + a.dataOffset, bytes.begin() + a.dataOffset + a.compressedSize,
                                       saved.begin() + b.dataOffset));
                if (!a.IsFolder()) package.Read(a.name);
            }
            if (DropCalcChain(package)) {
                const auto dropped = Package::Open(package.Save());
                EXPECT_EQ(FindWorkbookParts(dropped).calcChain, "");
                EXPECT_EQ(dropped.Read("[Content_Types].xml").find("calcChain"), std::string::npos);
                ++chains;
            }
            ++passed;
        } catch (const Error& e) {
            ADD_FAILURE() << e.what();
        }
    }
    RecordProperty("passed", passed);
    RecordProperty("refused", refused);
    std::printf(
        "corpus: %d packages passed through byte for byte (%d with a calc chain dropped); %d broken ones "
        "refused as expected, %d fuzzer findings refused\n",
        passed, chains, refused, fuzzed);
    EXPECT_GT(passed, 0);
}

} // namespace
