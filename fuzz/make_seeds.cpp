// Writes the fuzz targets' seed corpora from the project's own files and
// tools: the generator's template and the example quote documents as they
// are, the template once more as the engine saves it after a transfer,
// formulas as the formula library encodes them, a template whose item cells
// carry comments, conditional formats, validations and links, workbooks
// encrypted under Excel's default password, a few command lines, and the
// test suite's .xlsx packages.
// Every input kept under tests/data/regressions/<target>/ joins its target's
// seeds, so each run starts from the faults found before.
// Usage: make_fuzz_seeds <source dir> <seed dir>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "workbook/engine.h"
#include "workbook/formula/formula.h"
#include "workbook/testing/xls_builder.h"
#include "workbook/xlsx/package.h"

namespace fs = std::filesystem;
using namespace vi2zezir::workbook;

namespace {

class NoSheets : public formula::WorkbookContext {
public:
    std::optional<std::uint16_t> SheetOfIxti(std::uint16_t) const override { return std::nullopt; }
    std::optional<std::uint16_t> IxtiOfSheet(std::uint16_t) const override { return std::nullopt; }
    std::optional<std::u16string> SheetName(std::uint16_t) const override { return std::nullopt; }
    std::optional<std::uint16_t> SheetByName(std::u16string_view) const override { return std::nullopt; }
    std::optional<std::u16string> NameText(std::uint16_t) const override { return std::nullopt; }
    std::optional<std::uint16_t> NameByText(std::u16string_view) const override { return std::nullopt; }
};

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void CopyInto(const fs::path& file, const fs::path& dir) {
    fs::copy_file(file, dir / file.filename(), fs::copy_options::overwrite_existing);
}

void CopyAll(const fs::path& from, const fs::path& dir) {
    if (!fs::is_directory(from)) return;
    for (const auto& entry : fs::directory_iterator(from))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') CopyInto(entry.path(), dir);
}

std::vector<std::uint8_t> Utf16Le(std::u16string_view text) {
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
}

// The template saved by the engine after a plain edit, so the xls seeds hold
// the writer's layout too (SST with CONTINUE, shifted formulas).
void EngineSaved(const fs::path& templatePath, const fs::path& out) {
    EngineOptions options;
    options.outputPath = out;
    auto app = CreateApplication(options);
    auto sheet = app->Workbooks()->Open(templatePath.u16string(), true)->Worksheets(1);
    if (auto cell = sheet->Cells()->Find(u"&DI_")) {
        cell->Insert(vi2zezir::sheet::xlShiftDown);
        cell->Cells()->SetValue(vi2zezir::Value(u"seed line"));
    }
    sheet->Cells()->Replace(u"&DH_", u"");
    app->SetVisible(true);
    app->Quit();
}

// Item placeholders whose cells carry a comment, a conditional format, a
// validation and a hyperlink: the records an insert must move along.
std::vector<std::uint8_t> TemplateWithRanges() {
    test::BuilderOptions o;
    auto& sheet = o.sheets[0];
    sheet.cells = {{2, 1, u"&DH_DocNo"},    {4, 1, u"&DI_Description"},   {4, 2, u"&DI_UnitPrice"},
                   {4, 3, u"&DI_QtyTotal"}, {4, 4, u"&DI_ExtendedPrice"}, {6, 4, u"Total"}};
    for (auto r : test::CondFmt({{4, 4, 2, 2}, {2, 8, 4, 4}}, 4, 2)) sheet.records.push_back(r);
    biff::Bytes note;
    note.U16(4).U16(1).U16(0).U16(1).UnicodeString(u"Rep").U8(0);
    sheet.records.emplace_back(0x001C, note.Data());
    biff::Bytes dval;
    dval.U16(0).U32(0).U32(0).U32(0xFFFFFFFF).U32(1);
    sheet.records.emplace_back(0x01B2, dval.Data());
    sheet.records.emplace_back(0x01BE, test::Validation(4, 3, {4, 6, 3, 3}));
    biff::Bytes link;
    link.Append(test::Ref8(4, 4, 1, 1)).U32(0).U32(0).U32(0).U32(0);
    sheet.records.emplace_back(0x01B8, link.Data());
    return test::BuildXls(o);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_seeds <source dir> <seed dir>\n");
        return 2;
    }
    try {
        const fs::path source = argv[1];
        const fs::path seeds = argv[2];
        const fs::path regressions = source / "tests/data/regressions";
        const fs::path quote40 = source / "examples/quote40.xls";
        for (const char* target : {"cfb_fuzz", "xls_fuzz", "formula_fuzz", "fill_fuzz", "quote_document_fuzz",
                                   "command_line_fuzz", "xlsx_package_fuzz", "xlsx_workbook_fuzz"}) {
            fs::remove_all(seeds / target);
            fs::create_directories(seeds / target);
            CopyAll(regressions / target, seeds / target);
        }

        EngineSaved(quote40, seeds / "xls_fuzz" / "quote40-engine-saved.xls");
        for (const char* target : {"cfb_fuzz", "xls_fuzz", "fill_fuzz"}) CopyInto(quote40, seeds / target);
        CopyInto(seeds / "xls_fuzz" / "quote40-engine-saved.xls", seeds / "fill_fuzz");
        CopyAll(source / "tests/data/cfb", seeds / "cfb_fuzz");
        // Workbooks encrypted under the default password: decrypted on load,
        // encrypted again on save.
        for (const char* name : {"50833.xls", "pwtest3.xls"})
            for (const char* target : {"xls_fuzz", "fill_fuzz"})
                CopyInto(source / "tests/data/corpus/encrypted" / name, seeds / target);
        for (const char* target : {"xls_fuzz", "fill_fuzz"})
            WriteFile(seeds / target / "ranges.xls", TemplateWithRanges());

        for (const auto& entry : fs::directory_iterator(source / "examples"))
            if (entry.path().extension() == ".json") CopyInto(entry.path(), seeds / "quote_document_fuzz");
        int n = 0;
        // The packages whole, and each of their parts alone for the target's
        // XML reading.
        for (const auto& entry : fs::directory_iterator(source / "tests/data/xlsx")) {
            if (entry.path().extension() != ".xlsx") continue;
            CopyInto(entry.path(), seeds / "xlsx_package_fuzz");
            CopyInto(entry.path(), seeds / "xlsx_workbook_fuzz");
            std::ifstream in(entry.path(), std::ios::binary);
            const auto package = xlsx::Package::Open({std::istreambuf_iterator<char>(in), {}});
            n = 0;
            for (const auto& part : package.PartNames()) {
                const std::string content = package.Read(part);
                WriteFile(seeds / "xlsx_package_fuzz" / (entry.path().stem().string() + "-part-" + std::to_string(n++)),
                          {content.begin(), content.end()});
            }
        }

        // Formulas: as text (the target puts "=" in front) and as tokens
        // (first byte: where rgce ends and rgcb begins).
        static const char* const kFormulas[] = {"C5 * D5",
                                                "SUM($A$1:B10)",
                                                "IF(A1>0,\"yes\",\"no\")",
                                                "ROUND(E7*1.0825, 2)",
                                                "-A1%+2^3&\"x\"",
                                                "{1,2;3,4}",
                                                "Sheet1!A1+'My Sheet'!B2:C3",
                                                "Rate*2",
                                                "AVERAGE(A:A)",
                                                "NOT(ISBLANK(A1))",
                                                "VLOOKUP(A2, B2:D20, 3, FALSE)",
                                                "A1:B2 C1:D4",
                                                "(A1,B1)",
                                                "TEXT(NOW(), \"m/d/yyyy\")"};
        const NoSheets noSheets;
        n = 0;
        for (const char* text : kFormulas) {
            const std::string s(text);
            WriteFile(seeds / "formula_fuzz" / ("text-" + std::to_string(n)), {s.begin(), s.end()});
            try {
                const formula::Tokens tokens = formula::Parse(u"=" + std::u16string(s.begin(), s.end()), noSheets);
                if (tokens.rgce.size() < 256) {
                    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(tokens.rgce.size())};
                    bytes.insert(bytes.end(), tokens.rgce.begin(), tokens.rgce.end());
                    bytes.insert(bytes.end(), tokens.rgcb.begin(), tokens.rgcb.end());
                    WriteFile(seeds / "formula_fuzz" / ("tokens-" + std::to_string(n)), bytes);
                }
            } catch (const Error&) {
                // sheet and name references need a workbook: kept as text only
            }
            ++n;
        }

        static const char16_t* const kCommandLines[] = {u"/f:C:\\Quotes\\quote40.xls",
                                                        u"/F:\"C:\\My Templates\\quote 40.xls\"",
                                                        u"/f",
                                                        u"/f:",
                                                        u"\"/f:a b\" /x /f:second",
                                                        u"  /f:\"unterminated",
                                                        u"/fx:y /f:\u00e9t\u00e9.xls"};
        n = 0;
        for (const char16_t* line : kCommandLines)
            WriteFile(seeds / "command_line_fuzz" / ("line-" + std::to_string(n++)), Utf16Le(line));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
