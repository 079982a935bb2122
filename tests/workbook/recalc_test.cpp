// Stored formula results after edits: the evaluator against the results
// Excel stored in real workbooks, and which formulas a save re-evaluates,
// flags for recalculation or leaves byte for byte.
#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "workbook/sheet/model.h"
#include "workbook/sheet/recalc.h"
#include "workbook/testing/xls_builder.h"

namespace vi2zezir::workbook {
namespace {

namespace fs = std::filesystem;
namespace op = biff::op;

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Utf8(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// Every formula of these workbooks' first sheets either gives the result
// Excel stored or is left to Excel; the floors keep the evaluator from
// passing by declining everything.
TEST(StoredResults, TheEvaluatorAgreesWithExcelOrDeclines) {
    const struct {
        const char* file;
        std::size_t atLeastAgreeing;
    } cases[] = {
        {"55906-MultiSheetRefs.xls", 13},       // 3-D references over three sheets
        {"MatrixFormulaEvalTestData.xls", 200}, // array formulas, TRANSPOSE, MMULT
        {"3dFormulas.xls", 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        auto wb = Workbook::Load(ReadAll(fs::path(VZ_TEST_DATA_DIR) / "corpus" / "eval" / c.file));
        const StoredResultsCheck check = CheckStoredResults(*wb);
        for (const auto& d : check.disagreements)
            ADD_FAILURE() << d.row + 1 << ":" << d.col + 1 << " " << Utf8(d.formula) << " stored " << Utf8(d.stored)
                          << " computed " << Utf8(d.computed);
        EXPECT_GE(check.agreeing, c.atLeastAgreeing);
    }
}

// The FORMULA records of a saved file by (sheet, row, col): stored result
// bytes and grbit; and the RecalcId build, if any.
struct Saved {
    std::map<std::tuple<int, int, int>, std::pair<std::vector<std::uint8_t>, std::uint16_t>> formulas;
    std::optional<std::uint32_t> recalcBuild;

    explicit Saved(const std::vector<std::uint8_t>& file) {
        const cfb::CompoundFile cf = cfb::Read(file);
        const auto& stream = cf.FindStream(u"Workbook")->data;
        biff::RecordReader reader(stream);
        int substream = -1;
        while (reader.Next()) {
            const auto& rec = reader.Current();
            if (rec.opcode == op::kBof) ++substream;
            if (rec.opcode == 0x01C1) recalcBuild = biff::GetU32(rec.data.subspan(4));
            if (rec.opcode != op::kFormula) continue;
            formulas[{substream - 1, biff::GetU16(rec.data), biff::GetU16(rec.data.subspan(2))}] = {
                {rec.data.begin() + 6, rec.data.begin() + 14}, biff::GetU16(rec.data.subspan(14))};
        }
    }
    std::vector<std::uint8_t> Stored(int sheet, int row, int col) const { return formulas.at({sheet, row, col}).first; }
    bool AlwaysCalc(int sheet, int row, int col) const { return formulas.at({sheet, row, col}).second & 1; }
};

std::vector<std::uint8_t> Bytes(double v) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(v) >> (8 * i)));
    return out;
}

// Sheet1: A1 = 1, A2 = 2, C1 = 2 and formulas reading them directly, through
// the name Total (= Sheet1!$A$1) and through Sheet2!A1 (= Sheet1!A1 * 3).
// B2's stored result is deliberately not what its formula gives: nothing it
// reads changes, so nothing may touch it.
std::vector<std::uint8_t> Template() {
    using test::Formula;
    test::BuilderOptions o;
    o.sheets[0].cells = {{0, 0, 1.0}, {1, 0, 2.0}, {0, 2, 2.0}};
    o.sheets[0].records = {
        {0x0006, Formula(0, 1, {0x44, 0, 0, 0, 0xC0, 0x1E, 10, 0, 0x05}, 10.0)},            // B1 =A1*10
        {0x0006, Formula(1, 1, {0x44, 0, 0, 2, 0xC0, 0x1E, 10, 0, 0x05}, 999.0)},           // B2 =C1*10
        {0x0006, Formula(2, 1, {0x43, 1, 0, 0, 0, 0x1E, 2, 0, 0x05}, 2.0)},                 // B3 =Total*2
        {0x0006, Formula(3, 1, {0x5A, 1, 0, 0, 0, 0, 0xC0, 0x1E, 1, 0, 0x03}, 4.0)},        // B4 =Sheet2!A1+1
        {0x0006, Formula(4, 1, {0x44, 1, 0, 0, 0xC0, 0x1E, 1, 0, 0x03, 0x41, 15, 0}, 2.0)}, // B5 =SIN(A2+1)
    };
    test::BuilderSheet second;
    second.name = u"Sheet2";
    second.records = {{0x0006, Formula(0, 0, {0x5A, 0, 0, 0, 0, 0, 0xC0, 0x1E, 3, 0, 0x05}, 3.0)}}; // =Sheet1!A1*3
    o.sheets.push_back(second);
    biff::Bytes supBook, externSheet, name;
    supBook.U16(2).U16(0x0401);
    externSheet.U16(2).U16(0).U16(0).U16(0).U16(0).U16(1).U16(1);
    const std::vector<std::uint8_t> total = {0x3A, 0, 0, 0, 0, 0, 0}; // Sheet1!$A$1
    name.U16(0).U8(0).U8(5).U16(static_cast<std::uint16_t>(total.size())).U16(0).U16(0).U32(0).U8(0);
    for (char c : std::string("Total")) name.U8(static_cast<std::uint8_t>(c));
    name.Append(total);
    o.globals = {{op::kSupBook, supBook.Data()}, {op::kExternSheet, externSheet.Data()}, {op::kName, name.Data()}};
    return test::BuildXls(o);
}

TEST(StoredResults, AnUnchangedWorkbookKeepsEveryStoredResult) {
    const Saved saved(Workbook::Load(Template())->Save());
    EXPECT_EQ(saved.Stored(0, 1, 1), Bytes(999));
    EXPECT_EQ(saved.Stored(0, 4, 1), Bytes(2));
    EXPECT_FALSE(saved.AlwaysCalc(0, 4, 1));
    EXPECT_FALSE(saved.recalcBuild);
}

TEST(StoredResults, FormulasReadingChangedCellsAreEvaluatedOrLeftToExcel) {
    auto wb = Workbook::Load(Template());
    Content five;
    five.kind = CellKind::Number;
    five.number = 5;
    wb->PutContent(0, 0, five); // A1
    const Saved saved(wb->Save());
    EXPECT_EQ(saved.Stored(0, 0, 1), Bytes(50)); // B1 reads A1
    EXPECT_EQ(saved.Stored(0, 2, 1), Bytes(10)); // B3, through the name
    EXPECT_EQ(saved.Stored(0, 1, 1), Bytes(999));
    EXPECT_FALSE(saved.AlwaysCalc(0, 1, 1));
    // Sheet2!A1 reads A1 and is not evaluated here; B4 reads it.
    EXPECT_TRUE(saved.AlwaysCalc(1, 0, 0));
    EXPECT_TRUE(saved.AlwaysCalc(0, 3, 1));
    EXPECT_EQ(saved.Stored(0, 3, 1), Bytes(4));
    EXPECT_EQ(saved.recalcBuild, 0u);

    // A function the evaluator does not know, reading a changed cell.
    auto other = Workbook::Load(Template());
    other->PutContent(1, 0, five); // A2
    const Saved flagged(other->Save());
    EXPECT_TRUE(flagged.AlwaysCalc(0, 4, 1));
    EXPECT_EQ(flagged.Stored(0, 4, 1), Bytes(2));
    EXPECT_EQ(flagged.Stored(0, 1, 1), Bytes(999));
    EXPECT_FALSE(flagged.AlwaysCalc(1, 0, 0));
    EXPECT_EQ(flagged.recalcBuild, 0u);
}

} // namespace
} // namespace vi2zezir::workbook
