// Real workbooks from spreadsheet libraries' test suites through the engine:
// each is opened, written with every cell of its first sheet generated from
// the model (the hardest case for the writer: a real transfer copies the
// cells it did not touch), and read back. Cells, formulas, stored results,
// cell formats and names must come out as they went in, every part besides
// the rewritten ones byte for byte. The workbooks the engine refuses are
// counted by reason; none may crash it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "workbook/sheet/model.h"
#include "workbook/xlsx/package.h"
#include "workbook/xlsx/workbook_package.h"

namespace {

using namespace vi2zezir::workbook;
namespace fs = std::filesystem;

std::vector<std::uint8_t> Load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first worksheet's cells as stored: r -> (s, t, v, has f), and the
// defined names, read through the package layer alone.
struct Stored {
    std::map<std::string, std::tuple<std::string, std::string, std::string, bool>> cells;
    std::vector<std::string> names;
};

Stored ReadStored(const std::vector<std::uint8_t>& bytes) {
    auto package = xlsx::Package::Open(bytes);
    const auto parts = xlsx::FindWorkbookParts(package);
    Stored stored;
    struct Cells : xlsx::xml::Handler {
        Stored& out;
        explicit Cells(Stored& s) : out(s) {}
        std::string ref, s, t, v, text;
        bool f = false, inV = false, inCell = false, hasV = false;
        void StartElement(std::string_view name, xlsx::xml::Attributes a) override {
            const auto local = xlsx::xml::LocalName(name);
            if (local == "c") {
                ref = xlsx::xml::FindAttribute(a, "r"), s = xlsx::xml::FindAttribute(a, "s");
                t = xlsx::xml::FindAttribute(a, "t"), v.clear(), f = hasV = false, inCell = true;
                if (s == "0") s.clear();
            }
            if (inCell && local == "f") f = true;
            if (inCell && local == "v") inV = true, text.clear();
        }
        void EndElement(std::string_view name) override {
            const auto local = xlsx::xml::LocalName(name);
            if (local == "v" && inV) v = text, inV = false, hasV = true;
            if (local == "c") {
                // A typed cell without a value is blank.
                if (t == "n" || (!hasV && !f && t != "inlineStr")) t.clear();
                // Numbers compare by value: "1.0" and "1" are one number.
                if (t.empty() && !v.empty()) {
                    char buf[32];
                    std::snprintf(buf, sizeof buf, "%.17g", std::strtod(v.c_str(), nullptr));
                    v = buf;
                }
                if (!ref.empty()) out.cells[ref] = {s, t, v, f}; // cells without r are compared as texts only
                inCell = false;
            }
        }
        void Text(std::string_view x) override {
            if (inV) text += x;
        }
    };
    Cells cells(stored);
    const auto first = std::find_if(parts.sheets.begin(), parts.sheets.end(),
                                    [](const auto& s) { return s.kind == xlsx::SheetKind::Worksheet; });
    package.ReadXml(first->part, cells);
    const auto doc = package.ReadDocument(parts.workbook);
    for (const auto* child : doc.Root().ChildElements())
        if (xlsx::xml::LocalName(child->name) == "definedNames")
            for (const auto* name : child->ChildElements()) {
                std::string text;
                for (const auto& n : name->children) text += n.value;
                stored.names.push_back(text);
            }
    return stored;
}

TEST(WorkbookCorpus, EveryCellFormulaResultNameAndFormatSurvivesTheWriter) {
    const char* dir = std::getenv("VZ_XLSX_CORPUS");
    const fs::path root = dir ? dir : "/work/corpus";
    if (!fs::is_directory(root)) GTEST_SKIP() << root << " is not there";
    int passed = 0, cells = 0, formulas = 0;
    std::map<std::string, int> refused;
    for (const auto& file : fs::recursive_directory_iterator(root)) {
        const std::string ext = file.path().extension().string();
        if (ext != ".xlsx" && ext != ".xlsm") continue;
        SCOPED_TRACE(file.path().string());
        const auto* result = testing::UnitTest::GetInstance()->current_test_info()->result();
        const int failuresBefore = result->total_part_count();
        const auto bytes = Load(file.path());
        std::unique_ptr<Workbook> in;
        try {
            in = Workbook::Load(bytes);
        } catch (const Error& e) {
            std::string reason = e.what();
            refused[reason.substr(0, reason.find_first_of("0123456789'\""))]++;
            continue;
        }
        auto* keeper = dynamic_cast<XlsxKeeper*>(in->Keeper());
        ASSERT_NE(keeper, nullptr);
        keeper->rewriteAll = keeper->regenerateCells = true;
        const auto texts = in->SheetTexts(in->EditableSheet());
        std::vector<std::uint8_t> out;
        std::unique_ptr<Workbook> again;
        try {
            out = in->Save();
            again = Workbook::Load(out);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        const auto textsAgain = again->SheetTexts(again->EditableSheet());
        EXPECT_EQ(texts.size(), textsAgain.size());
        for (std::size_t i = 0; i < std::min(texts.size(), textsAgain.size()); ++i) {
            if (texts[i].row == textsAgain[i].row && texts[i].col == textsAgain[i].col &&
                texts[i].text == textsAgain[i].text)
                continue;
            ADD_FAILURE() << "row " << texts[i].row << " col " << texts[i].col << " differs";
            break;
        }
        const auto before = ReadStored(bytes), after = ReadStored(out);
        EXPECT_EQ(before.names, after.names);
        for (const auto& [ref, cell] : before.cells) {
            const auto it = after.cells.find(ref);
            // A cell without value or format may be dropped.
            if (it == after.cells.end()) {
                EXPECT_TRUE(std::get<0>(cell).empty() && std::get<2>(cell).empty()) << ref;
                continue;
            }
            auto expected = cell;
            // Inline and formula-less strings become shared strings.
            if ((std::get<1>(expected) == "inlineStr" || std::get<1>(expected) == "str") && !std::get<3>(expected))
                expected = {std::get<0>(cell), "s", std::get<2>(it->second), false};
            if (std::get<1>(expected) == "s" && std::get<1>(it->second) == "s")
                std::get<2>(expected) = std::get<2>(it->second);
            EXPECT_EQ(expected, it->second) << ref;
            ++cells;
            formulas += std::get<3>(cell);
        }
        // Parts the transfer does not write pass through untouched.
        auto a = xlsx::Package::Open(bytes), b = xlsx::Package::Open(out);
        const auto parts = xlsx::FindWorkbookParts(a);
        for (const auto& part : a.PartNames()) {
            if (part == parts.calcChain || part == parts.workbook || part == parts.sharedStrings ||
                part == parts.styles || part == "[Content_Types].xml" || part.ends_with("workbook.xml.rels") ||
                part == keeper->SheetPart())
                continue;
            EXPECT_TRUE(b.Has(part) && a.Read(part) == b.Read(part)) << part;
        }
        if (result->total_part_count() == failuresBefore) ++passed;
    }
    std::string reasons;
    for (const auto& [reason, count] : refused) reasons += "\n  " + std::to_string(count) + " " + reason;
    std::printf("%d workbooks passed (%d cells, %d formulas); refused:%s\n", passed, cells, formulas, reasons.c_str());
    EXPECT_GE(passed, 200);
}

} // namespace
