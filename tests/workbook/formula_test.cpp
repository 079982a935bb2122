// BIFF8 formulas: bytes checked against token layouts from the format
// documentation, text round trips, reference shifting for cells-down inserts,
// cached-result evaluation and hostile token arrays.
#include "workbook/formula/formula.h"
#include "workbook/sheet/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <string_view>
#include <tuple>

namespace vi2zezir::workbook::formula {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Sheets 0..3 with ixti == sheet index; ixti 9 is an external reference.
class FakeWorkbook : public WorkbookContext {
public:
    std::vector<std::u16string> sheets{u"Sheet1", u"Sheet2", u"My Sheet", u"Data's"};
    std::vector<std::u16string> names{u"Rate", u"TaxRate"};

    std::optional<std::uint16_t> SheetOfIxti(std::uint16_t ixti) const override {
        if (ixti < sheets.size()) return ixti;
        return std::nullopt;
    }
    std::optional<std::uint16_t> IxtiOfSheet(std::uint16_t sheet) const override {
        if (sheet < sheets.size()) return sheet;
        return std::nullopt;
    }
    std::optional<std::u16string> SheetName(std::uint16_t sheet) const override {
        if (sheet < sheets.size()) return sheets[sheet];
        return std::nullopt;
    }
    std::optional<std::uint16_t> SheetByName(std::u16string_view name) const override {
        for (std::size_t i = 0; i < sheets.size(); ++i)
            if (Fold(sheets[i]) == Fold(name)) return static_cast<std::uint16_t>(i);
        return std::nullopt;
    }
    std::optional<std::u16string> NameText(std::uint16_t index) const override {
        if (index >= 1 && index <= names.size()) return names[index - 1];
        return std::nullopt;
    }
    std::optional<std::uint16_t> NameByText(std::u16string_view name) const override {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (Fold(names[i]) == Fold(name)) return static_cast<std::uint16_t>(i + 1);
        return std::nullopt;
    }
};

class FakeCells : public EvalContext {
public:
    std::map<std::tuple<std::uint16_t, std::uint32_t, std::uint16_t>, CellValue> values;
    std::uint16_t unreadableSheet = 3;
    int calls = 0;

    void Set(std::uint16_t sheet, std::uint32_t row, std::uint16_t col, CellValue value) {
        values[{sheet, row, col}] = std::move(value);
    }
    std::optional<CellValue> Cell(std::uint16_t sheet, CellPos pos) override {
        ++calls;
        if (sheet == unreadableSheet) return std::nullopt;
        auto it = values.find({sheet, pos.row, pos.col});
        if (it == values.end()) return CellValue{Blank{}};
        return it->second;
    }
};

std::u16string U(const char* text) {
    std::u16string out;
    for (; *text != '\0'; ++text) out.push_back(static_cast<unsigned char>(*text));
    return out;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

class FormulaTest : public ::testing::Test {
protected:
    FakeWorkbook book;

    Bytes P(const char* text) const { return Parse(U(text), book).rgce; }
    std::string T(const Bytes& rgce, CellPos host = {}) const { return Narrow(ToText(Tokens{rgce, {}}, host, book)); }
};

// ---------------------------------------------------------------------------
// Parse: bytes from the documented token layouts.

TEST_F(FormulaTest, ExtendedPriceFormulaKeepsItsSpacesAsExcelStoresThem) {
    // PtgRef C5 (value class, both relative), the space standing before D5,
    // PtgRef D5, the space standing before "*", PtgMul.
    EXPECT_EQ(P("=C5 * D5"), (Bytes{0x44, 0x04, 0x00, 0x02, 0xC0, 0x19, 0x40, 0x00, 0x01, 0x44, 0x04, 0x00, 0x03, 0xC0,
                                    0x19, 0x40, 0x00, 0x01, 0x05}));
    EXPECT_EQ(P("=C5*D5"), (Bytes{0x44, 0x04, 0x00, 0x02, 0xC0, 0x44, 0x04, 0x00, 0x03, 0xC0, 0x05}));
    EXPECT_EQ(T(P("=C5 * D5")), "=C5 * D5");
}

TEST_F(FormulaTest, IfWithSpacesMatchesTheDocumentedTokenArray) {
    // "= IF(TRUE, 1, 2)": condition, PtgAttrIf to the false argument (7+4),
    // the true argument with its space, PtgAttrGoto to the last byte of the
    // IF token (7+12-1), the false argument, the space before "IF" placed
    // before the last PtgAttrGoto (4-1), PtgFuncVar(IF, 3 arguments).
    EXPECT_EQ(P("= IF(TRUE, 1, 2)"), (Bytes{0x1D, 0x01, 0x19, 0x02, 0x0B, 0x00, 0x19, 0x40, 0x00, 0x01, 0x1E, 0x01,
                                            0x00, 0x19, 0x08, 0x12, 0x00, 0x19, 0x40, 0x00, 0x01, 0x1E, 0x02, 0x00,
                                            0x19, 0x40, 0x00, 0x01, 0x19, 0x08, 0x03, 0x00, 0x42, 0x03, 0x01, 0x00}));
    // Without a false argument PtgAttrIf jumps to the IF token itself (7+8).
    EXPECT_EQ(P("= IF(TRUE, 1)"), (Bytes{0x1D, 0x01, 0x19, 0x02, 0x0F, 0x00, 0x19, 0x40, 0x00, 0x01, 0x1E, 0x01, 0x00,
                                         0x19, 0x40, 0x00, 0x01, 0x19, 0x08, 0x03, 0x00, 0x42, 0x02, 0x01, 0x00}));
    EXPECT_EQ(T(P("= IF(TRUE, 1, 2)")), "= IF(TRUE, 1, 2)");
}

TEST_F(FormulaTest, ChooseJumpTableMatchesTheDocumentedTokenArray) {
    // "= CHOOSE(2, 1,2, 3)": the jump table counts from its own start
    // (8 bytes for 3 choices): 8, 8+7+4, 8+7+7+4 and 41 to the CHOOSE token;
    // each PtgAttrGoto is one less than the distance to the token's end.
    EXPECT_EQ(P("= CHOOSE(2, 1,2, 3)"),
              (Bytes{0x1E, 0x02, 0x00, 0x19, 0x04, 0x03, 0x00, 0x08, 0x00, 0x13, 0x00, 0x1A, 0x00,
                     0x29, 0x00, 0x19, 0x40, 0x00, 0x01, 0x1E, 0x01, 0x00, 0x19, 0x08, 0x19, 0x00,
                     0x1E, 0x02, 0x00, 0x19, 0x08, 0x12, 0x00, 0x19, 0x40, 0x00, 0x01, 0x1E, 0x03,
                     0x00, 0x19, 0x40, 0x00, 0x01, 0x19, 0x08, 0x03, 0x00, 0x42, 0x04, 0x64, 0x00}));
    EXPECT_EQ(T(P("= CHOOSE(2, 1,2, 3)")), "= CHOOSE(2, 1,2, 3)");
}

TEST_F(FormulaTest, ConstantsAndOperatorsUseTheDocumentedTokens) {
    EXPECT_EQ(P("=-1"), (Bytes{0x1E, 0x01, 0x00, 0x13}));
    EXPECT_EQ(P("=65535"), (Bytes{0x1E, 0xFF, 0xFF}));
    EXPECT_EQ(P("=1E3"), (Bytes{0x1E, 0xE8, 0x03})); // stored by value
    Bytes num{0x1F};
    const double value = 65536;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) num.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    EXPECT_EQ(P("=65536"), num);
    EXPECT_EQ(P("=\"a\"\"b\""), (Bytes{0x17, 0x03, 0x00, 'a', '"', 'b'}));
    EXPECT_EQ(P("=\"\xe9\""), (Bytes{0x17, 0x01, 0x00, 0xE9})); // Latin-1 stays compressed
    EXPECT_EQ(P("=true"), (Bytes{0x1D, 0x01}));
    EXPECT_EQ(P("=#n/a"), (Bytes{0x1C, 0x2A}));
    EXPECT_EQ(P("=#DIV/0!"), (Bytes{0x1C, 0x07}));
    EXPECT_EQ(P("=50%"), (Bytes{0x1E, 0x32, 0x00, 0x14}));
    EXPECT_EQ(P("=(1)"), (Bytes{0x1E, 0x01, 0x00, 0x15}));
    EXPECT_EQ(P("=1<>2"), (Bytes{0x1E, 0x01, 0x00, 0x1E, 0x02, 0x00, 0x0E}));
    EXPECT_EQ(P("=\"a\"&\"b\""), (Bytes{0x17, 0x01, 0x00, 'a', 0x17, 0x01, 0x00, 'b', 0x08}));
}

TEST_F(FormulaTest, PrecedenceAndAssociativityFollowExcel) {
    // 1+2*3: Mul before Add.
    EXPECT_EQ(P("=1+2*3"), (Bytes{0x1E, 1, 0, 0x1E, 2, 0, 0x1E, 3, 0, 0x05, 0x03}));
    // 2^3^2 is (2^3)^2 in Excel.
    EXPECT_EQ(P("=2^3^2"), (Bytes{0x1E, 2, 0, 0x1E, 3, 0, 0x07, 0x1E, 2, 0, 0x07}));
    // Negation binds tighter than ^: -2^2 is (-2)^2.
    EXPECT_EQ(P("=-2^2"), (Bytes{0x1E, 2, 0, 0x13, 0x1E, 2, 0, 0x07}));
    // 1-2-3 is (1-2)-3; & below +; = below &.
    EXPECT_EQ(P("=1-2-3"), (Bytes{0x1E, 1, 0, 0x1E, 2, 0, 0x04, 0x1E, 3, 0, 0x04}));
    EXPECT_EQ(P("=1=1&1+1"), (Bytes{0x1E, 1, 0, 0x1E, 1, 0, 0x1E, 1, 0, 0x1E, 1, 0, 0x03, 0x08, 0x0B}));
}

TEST_F(FormulaTest, OperandClassesFollowTheFunctionParameters) {
    // SUM wants references: the area stays reference class (0x25) and SUM is
    // PtgFuncVar of value class.
    EXPECT_EQ(P("=SUM(A1:A3)"), (Bytes{0x25, 0x00, 0x00, 0x02, 0x00, 0x00, 0xC0, 0x00, 0xC0, 0x42, 0x01, 0x04, 0x00}));
    // An operator inside SUM wants values.
    EXPECT_EQ(P("=SUM(B1+C1)"),
              (Bytes{0x44, 0x00, 0x00, 0x01, 0xC0, 0x44, 0x00, 0x00, 0x02, 0xC0, 0x03, 0x42, 0x01, 0x04, 0x00}));
    // ROUND has a fixed count: PtgFunc, value-class argument.
    EXPECT_EQ(P("=ROUND(A1,2)"), (Bytes{0x44, 0x00, 0x00, 0x00, 0xC0, 0x1E, 0x02, 0x00, 0x41, 0x1B, 0x00}));
    // VLOOKUP: value, reference, reference, value.
    EXPECT_EQ(P("=VLOOKUP(A1,$B$1:$C$5,2,FALSE)"),
              (Bytes{0x44, 0x00, 0x00, 0x00, 0xC0, 0x25, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00,
                     0x02, 0x00, 0x1E, 0x02, 0x00, 0x1D, 0x00, 0x42, 0x04, 0x66, 0x00}));
    // MDETERM wants an array: the reference becomes array class (0x65).
    EXPECT_EQ(P("=MDETERM(A1:B2)"), (Bytes{0x65, 0x00, 0x00, 0x01, 0x00, 0x00, 0xC0, 0x01, 0xC0, 0x41, 0xA3, 0x00}));
    // Volatile functions put PtgAttrSemi first.
    EXPECT_EQ(P("=TODAY()"), (Bytes{0x19, 0x01, 0x00, 0x00, 0x41, 0xDD, 0x00}));
}

TEST_F(FormulaTest, SheetReferencesAndNamesUseTheWorkbook) {
    EXPECT_EQ(P("=Sheet2!$A$1"), (Bytes{0x5A, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(P("=SUM('My Sheet'!A1:B2)"),
              (Bytes{0x3B, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xC0, 0x01, 0xC0, 0x42, 0x01, 0x04, 0x00}));
    EXPECT_EQ(P("=rate*2"), (Bytes{0x43, 0x01, 0x00, 0x00, 0x00, 0x1E, 0x02, 0x00, 0x05}));
    EXPECT_EQ(T(P("=sheet2!a1+'data''s'!B2")), "=Sheet2!A1+'Data''s'!B2");
}

TEST_F(FormulaTest, AreasAreNormalisedAndWholeColumnsKept) {
    // Corners ordered, each coordinate with its own "$".
    EXPECT_EQ(T(P("=SUM($B2:A$1)")), "=SUM(A$1:$B2)");
    EXPECT_EQ(P("=SUM(C:C)"), (Bytes{0x25, 0x00, 0x00, 0xFF, 0xFF, 0x02, 0x40, 0x02, 0x40, 0x42, 0x01, 0x04, 0x00}));
    EXPECT_EQ(T(P("=SUM(C:C)")), "=SUM(C:C)");
    EXPECT_EQ(T(P("=SUM(2:$3)")), "=SUM(2:$3)");
}

// ---------------------------------------------------------------------------
// Round trips: what Excel shows in the formula bar for what was typed.

TEST_F(FormulaTest, TextRoundTripsThroughTokens) {
    const char* formulas[] = {
        "=C5 * D5",
        "=SUM(F5:F24)",
        "=SUM(A1,B2:C3,,4)",
        "=ROUND(SUM(E5:E24)*1.08,2)",
        "=IF(A1>0,\"yes\",\"no\")",
        "=IF(AND(A1>=1,B1<=2),MAX(C1:C9),MIN(C1:C9))",
        "=IF(A1,IF(B1,1,2),IF(C1,3))",
        "=CHOOSE(A1,\"a\",\"b\",\"c\")",
        "=VLOOKUP($A2,Sheet2!$A$1:$D$100,3,FALSE)",
        "=CONCATENATE(LEFT(A1,3),\"-\",RIGHT(B1,2),MID(C1,2,3))",
        "=TODAY()-DATE(YEAR(NOW()),1,1)",
        "=-A1^2%",
        "=A1&\" \"&B1",
        "=\"say \"\"hi\"\"\"",
        "=(A1+B1)*(C1-D1)/2",
        "=( A1 + B1 )",
        "=SUM( A1:A3 )",
        "=A1\n+B1",
        "=1.5+0.25-1E+20+1.23456789012346E-07",
        "=#REF!+#N/A",
        "=COUNTIF(A1:A10,\">5\")+SUMIF(A1:A10,\"x\",B1:B10)",
        "=IF(ISERROR(MATCH(A1,B:B,0)),0,INDEX(C:C,MATCH(A1,B:B,0)))",
        "=Rate*TaxRate",
        "=ERROR.TYPE(A1)+LOG10(100)",
        "='My Sheet'!A1+Sheet2!$B$2",
        "=IF(A1,,1)",
        "=TRUE<>FALSE",
    };
    for (const char* text : formulas) {
        SCOPED_TRACE(text);
        const Tokens tokens = Parse(U(text), book);
        EXPECT_EQ(Narrow(ToText(tokens, {}, book)), text);
    }
}

TEST_F(FormulaTest, NamesAndReferencesAreCaseInsensitiveAndShownUpperCase) {
    EXPECT_EQ(T(P("=sum(a1:b2)+round(c3,0)")), "=SUM(A1:B2)+ROUND(C3,0)");
    EXPECT_EQ(T(P("=if(true,$a$1,b$2)")), "=IF(TRUE,$A$1,B$2)");
}

TEST_F(FormulaTest, TextThatIsNoStorableFormulaIsRefused) {
    const char* bad[] = {
        "C5*D5",          // no "="
        "=",              // nothing
        "=SUM(A1",        // unclosed
        "=IFERROR(A1,0)", // not in BIFF8
        "=NOSUCHFUNC(1)",
        "=Sheet9!A1", // unknown sheet
        "=UnknownName",
        "=ROUND(1)", // too few arguments
        "=NOT(1,2)", // too many
        "=A1 B1",    // intersection is not supported
        "=(A1,B1)",  // neither is union
        "={1,2}",    // nor array constants
        "=1+",
        "=\"open",
        "=IV65537", // beyond the last row: a name, and none is defined
        "=IW1",
        "=SUM (A1)", // no space between a function and "("
        "=1 2",
        "=#BOGUS!",
    };
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW(Parse(U(text), book), Error);
    }
    EXPECT_THROW(Parse(U("=\"") + std::u16string(256, u'x') + u"\"", book), Error);
    EXPECT_THROW(Parse(u"=" + std::u16string(300, u'(') + u"1" + std::u16string(300, u')'), book), Error);
    std::u16string longSum = u"=1";
    for (int i = 0; i < 600; ++i) longSum += u"+1";
    EXPECT_THROW(Parse(longSum, book), Error); // more than 1800 bytes of tokens
}

// ---------------------------------------------------------------------------
// ToText of tokens Parse does not make.

TEST_F(FormulaTest, SharedTokensAreShownForTheirHostAndUnsharedForIt) {
    // PtgRefN: row offset -1, column offset +1, both relative; PtgAreaN with
    // an absolute first row.
    const Bytes shared{0x4C, 0xFF, 0xFF, 0x01, 0xC0, 0x2D, 0x00, 0x00, 0x02, 0x00, 0x00, 0x40, 0x00, 0xC0, 0x03};
    EXPECT_EQ(T(shared, CellPos{9, 2}), "=D9+C$1:C12");
    const Tokens unshared = Unshare(Tokens{shared, {}}, CellPos{9, 2});
    EXPECT_EQ(unshared.rgce,
              (Bytes{0x44, 0x08, 0x00, 0x03, 0xC0, 0x25, 0x00, 0x00, 0x0B, 0x00, 0x02, 0x40, 0x02, 0xC0, 0x03}));
    EXPECT_EQ(Narrow(ToText(unshared, {}, book)), "=D9+C$1:C12");
    // Offsets wrap around the sheet: one row above row 1 is row 65536.
    EXPECT_EQ(T(Bytes{0x4C, 0xFF, 0xFF, 0xFF, 0xC0}, CellPos{0, 0}), "=IV65536");
}

TEST_F(FormulaTest, SpecialTokensHaveStableTexts) {
    EXPECT_EQ(T(Bytes{0x01, 0x04, 0x00, 0x02, 0x00}), "=_SHARED(C5)");
    EXPECT_EQ(T(Bytes{0x02, 0x04, 0x00, 0x02, 0x00}), "=_TABLE(C5)");
    EXPECT_EQ(T(Bytes{0x4A, 0, 0, 0, 0, 0x1E, 1, 0, 0x03}), "=#REF!+1");
    EXPECT_EQ(T(Bytes{0x5C, 0x01, 0x00, 0, 0, 0, 0}), "=Sheet2!#REF!");
    EXPECT_EQ(T(Bytes{0x5A, 0x09, 0x00, 0x00, 0x00, 0x00, 0xC0}), "=#REF!A1"); // sheet unknown
    EXPECT_EQ(T(Bytes{0x1E, 0x01, 0x00, 0x42, 0x01, 0xF4, 0x01}), "=_FUNC500(1)");
    EXPECT_EQ(T(Bytes{0x1E, 0x05, 0x00, 0x19, 0x10, 0x00, 0x00}), "=SUM(5)"); // PtgAttrSum
    // An array constant from rgcb: 2 columns, 1 row: 1 and "x".
    Tokens array{{0x40, 0, 0, 0, 0, 0, 0, 0},
                 {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0x02, 0x01, 0x00, 0x00, 'x'}};
    EXPECT_EQ(Narrow(ToText(array, {}, book)), "={1,\"x\"}");
}

TEST_F(FormulaTest, MalformedTokensGiveFormulaErrors) {
    const Bytes bad[] = {
        {},                                   // empty
        {0x44, 0x00},                         // truncated reference
        {0x17, 0x05, 0x00, 'a'},              // string shorter than its count
        {0x19, 0x04, 0xFF, 0xFF},             // choose table beyond the end
        {0xFF},                               // unknown token
        {0x18, 0x01, 0x00, 0x00},             // PtgElf tokens
        {0x03},                               // operator without operands
        {0x1E, 0x01, 0x00, 0x1E, 0x02, 0x00}, // two results
        {0x41, 0xF4, 0x01},                   // fixed function of unknown arity
        {0x1C, 0x55},                         // unknown error code
        {0x43, 0x09, 0x00, 0x00, 0x00},       // name the workbook does not have
        {0x40, 0, 0, 0, 0, 0, 0, 0},          // array without rgcb
    };
    for (const Bytes& rgce : bad) {
        SCOPED_TRACE(::testing::PrintToString(rgce));
        EXPECT_THROW(ToText(Tokens{rgce, {}}, {}, book), Error);
    }
    EXPECT_THROW(ShiftForInsert(Tokens{{0x44, 0x00}, {}}, 0, InsertShift{}, book), Error);
    EXPECT_THROW(Unshare(Tokens{{0x4C, 0x00}, {}}, {}), Error);
    FakeCells cells;
    EXPECT_EQ(Evaluate(Tokens{{0x44, 0x00}, {}}, 0, {}, book, cells), std::nullopt);
    // Deep nesting is bounded, not a stack overflow.
    Bytes deep{0x1E, 0x01, 0x00};
    deep.insert(deep.end(), 5000, 0x13);
    EXPECT_THROW(ToText(Tokens{deep, {}}, {}, book), Error);
}

TEST_F(FormulaTest, FunctionsWithArgumentCountsOutsideTheTableAreMalformed) {
    // PtgFuncVar(LEN) with no argument: found by fuzzing, used to reach past
    // the arguments in the evaluator.
    const Tokens noArgument{{0x22, 0x00, 0x20, 0x00}, {}};
    EXPECT_THROW(ToText(noArgument, {}, book), Error);
    FakeCells cells;
    EXPECT_EQ(Evaluate(noArgument, 0, {}, book, cells), std::nullopt);
    EXPECT_THROW(ToText(Tokens{{0x1E, 1, 0, 0x42, 0x01, 0x01, 0x00}, {}}, {}, book), Error); // IF(1)
}

// ---------------------------------------------------------------------------
// Inserting cells in column F (index 5) of sheet 0, shifting down.

class ShiftTest : public FormulaTest {
protected:
    std::string Shifted(const char* text, std::uint32_t rowNumber, std::uint16_t col = 5, std::uint32_t count = 1,
                        std::uint16_t formulaSheet = 0) {
        const Tokens tokens = Parse(U(text), book);
        const auto result = ShiftForInsert(tokens, formulaSheet, InsertShift{0, rowNumber - 1, col, count}, book);
        if (!result) return "unchanged";
        return Narrow(ToText(*result, {}, book));
    }
};

TEST_F(ShiftTest, AreaGrowsWhenTheInsertLiesInsideAndMovesWhenAtItsStart) {
    EXPECT_EQ(Shifted("=SUM(F5:F24)", 15), "=SUM(F5:F25)");
    EXPECT_EQ(Shifted("=SUM(F5:F24)", 5), "=SUM(F6:F25)");
    EXPECT_EQ(Shifted("=SUM(F5:F24)", 24), "=SUM(F5:F25)");
    EXPECT_EQ(Shifted("=SUM(F5:F24)", 25), "unchanged");
    EXPECT_EQ(Shifted("=SUM(F5:F24)", 4), "=SUM(F6:F25)");
    EXPECT_EQ(Shifted("=SUM($F$5:$F$24)", 15, 5, 3), "=SUM($F$5:$F$27)");
}

TEST_F(ShiftTest, OnlyReferencesWhollyInTheShiftedColumnFollow) {
    EXPECT_EQ(Shifted("=F12+E12+G12", 12), "=F13+E12+G12");
    EXPECT_EQ(Shifted("=SUM(E5:F24)", 15), "unchanged");
    EXPECT_EQ(Shifted("=SUM(E5:E24)", 15), "unchanged");
    EXPECT_EQ(Shifted("=F11", 12), "unchanged");
    EXPECT_EQ(Shifted("=SUM(F:F)", 12), "unchanged");
    EXPECT_EQ(Shifted("=C5 * D5", 5, 2), "=C6 * D5");
}

TEST_F(ShiftTest, SheetsAreMatchedForPlainAnd3dReferences) {
    // The formula lives on sheet 1: its plain F12 is another sheet's cell.
    EXPECT_EQ(Shifted("=F12+Sheet1!F12", 12, 5, 1, 1), "=F12+Sheet1!F13");
    EXPECT_EQ(Shifted("=Sheet2!F12", 12), "unchanged");
    EXPECT_EQ(Shifted("=SUM(Sheet1!F5:F24)", 15, 5, 1, 2), "=SUM(Sheet1!F5:F25)");
}

TEST_F(ShiftTest, ReferencesPushedOffTheSheetBecomeRefErrors) {
    EXPECT_EQ(Shifted("=F65536+1", 100), "=#REF!+1");
    EXPECT_EQ(Shifted("=SUM(F65536:F65536)", 2), "=SUM(#REF!)");
    EXPECT_EQ(Shifted("=SUM(F65535:F65536)", 65535), "=SUM(F65536:F65536)");
    EXPECT_EQ(Shifted("=Sheet1!F65536", 2), "=Sheet1!#REF!");
    // An area that keeps its start is cut at the last row.
    EXPECT_EQ(Shifted("=SUM(F5:F65536)", 10), "unchanged");
    EXPECT_EQ(Shifted("=SUM(F5:F65530)", 10, 5, 100), "=SUM(F5:F65536)");
    // Class bits survive: a value-class ref becomes a value-class PtgRefErr.
    const Tokens tokens = Parse(u"=F65536", book);
    const auto result = ShiftForInsert(tokens, 0, InsertShift{0, 10, 5, 1}, book);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->rgce, (Bytes{0x4A, 0, 0, 0, 0}));
}

TEST_F(ShiftTest, IfJumpOffsetsSurviveAShift) {
    const std::string text = Shifted("=IF(F5>0,SUM(F5:F9),F4)", 6);
    EXPECT_EQ(text, "=IF(F5>0,SUM(F5:F10),F4)");
    FakeCells cells;
    cells.Set(0, 4, 5, 2.0);
    cells.Set(0, 9, 5, 3.0);
    const auto shifted = ShiftForInsert(Parse(u"=IF(F5>0,SUM(F5:F9),F4)", book), 0, InsertShift{0, 5, 5, 1}, book);
    EXPECT_EQ(Evaluate(*shifted, 0, {}, book, cells), CellValue(5.0));
}

TEST_F(ShiftTest, ReferencedColumnsAreCollectedPerSheet) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> columns;
    CollectReferencedColumns(Parse(u"=C5*D5+SUM(D1:E2)+Sheet2!A1+D9", book), 0, book, columns);
    EXPECT_EQ(columns, (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{0, 2}, {0, 3}, {0, 4}, {1, 0}}));
}

// ---------------------------------------------------------------------------
// Evaluation of cached results.

class EvalTest : public FormulaTest {
protected:
    FakeCells cells;

    std::optional<CellValue> Eval(const char* text, CellPos host = {20, 20}) {
        return Evaluate(Parse(U(text), book), 0, host, book, cells);
    }
    static CellValue Num(double v) { return v; }
    static CellValue Err(std::uint8_t code) { return ErrorValue{code}; }
    static CellValue Str(const char* text) { return U(text); }
};

TEST_F(EvalTest, ArithmeticCoercesLikeExcel) {
    cells.Set(0, 4, 2, 12.5); // C5
    cells.Set(0, 4, 3, 4.0);  // D5
    cells.Set(0, 0, 0, Str("3"));
    cells.Set(0, 0, 1, Str("abc"));
    cells.Set(0, 0, 2, true);
    EXPECT_EQ(Eval("=C5 * D5"), Num(50));
    EXPECT_EQ(Eval("=A1+1"), Num(4));    // numeric text
    EXPECT_EQ(Eval("=B1+1"), Err(0x0F)); // other text
    EXPECT_EQ(Eval("=C1+Z9"), Num(1));   // TRUE and a blank
    EXPECT_EQ(Eval("=Z9"), Num(0));      // a blank cell shows 0
    EXPECT_EQ(Eval("=Z9&\"x\""), Str("x"));
    EXPECT_EQ(Eval("=1/0"), Err(0x07));
    EXPECT_EQ(Eval("=-2^2"), Num(4));
    EXPECT_EQ(Eval("=2^3^2"), Num(64));
    EXPECT_EQ(Eval("=50%"), Num(0.5));
    EXPECT_EQ(Eval("=#N/A+1/0"), Err(0x2A)); // the left error wins
    EXPECT_EQ(Eval("=1&2.5&TRUE"), Str("12.5TRUE"));
    EXPECT_EQ(Eval("=\"1,000\"+1"), std::nullopt); // Excel's reading of such text is left to Excel
}

TEST_F(EvalTest, ComparisonsOrderNumbersTextAndLogicals) {
    cells.Set(0, 0, 0, Str("abc"));
    EXPECT_EQ(Eval("=A1=\"ABC\""), CellValue(true));
    EXPECT_EQ(Eval("=1<\"a\""), CellValue(true));
    EXPECT_EQ(Eval("=\"z\"<TRUE"), CellValue(true));
    EXPECT_EQ(Eval("=Z9=0"), CellValue(true));
    EXPECT_EQ(Eval("=Z9=\"\""), CellValue(true));
    EXPECT_EQ(Eval("=2<>2"), CellValue(false));
}

TEST_F(EvalTest, AggregatesOverRangesIgnoreTextAndBlanks) {
    cells.Set(0, 0, 0, 1.0);
    cells.Set(0, 1, 0, Str("text"));
    cells.Set(0, 2, 0, 3.0);
    cells.Set(0, 3, 0, true);
    EXPECT_EQ(Eval("=SUM(A1:A5)"), Num(4));
    EXPECT_EQ(Eval("=AVERAGE(A1:A5)"), Num(2));
    EXPECT_EQ(Eval("=COUNT(A1:A5)"), Num(2));
    EXPECT_EQ(Eval("=COUNTA(A1:A5)"), Num(4));
    EXPECT_EQ(Eval("=MIN(A1:A5)"), Num(1));
    EXPECT_EQ(Eval("=MAX(A1:A5,7)"), Num(7));
    EXPECT_EQ(Eval("=PRODUCT(A1:A5,2)"), Num(6));
    EXPECT_EQ(Eval("=SUM(A1:A5,\"2\",TRUE)"), Num(7)); // direct values are converted
    EXPECT_EQ(Eval("=SUM(A1,\"x\")"), Err(0x0F));
    EXPECT_EQ(Eval("=MAX(B1:B5)"), Num(0));
    EXPECT_EQ(Eval("=AVERAGE(B1:B5)"), Err(0x07));
    cells.Set(0, 4, 0, ErrorValue{0x2A});
    EXPECT_EQ(Eval("=SUM(A1:A5)"), Err(0x2A));
    EXPECT_EQ(Eval("=COUNT(A1:A5)"), Num(2));
}

TEST_F(EvalTest, RoundingIsHalfAwayFromZeroOnTheDecimalValue) {
    EXPECT_EQ(Eval("=ROUND(2.675,2)"), Num(2.68));
    EXPECT_EQ(Eval("=ROUND(-2.5,0)"), Num(-3));
    EXPECT_EQ(Eval("=ROUND(0.5,0)"), Num(1));
    EXPECT_EQ(Eval("=ROUND(1234.5678,-2)"), Num(1200));
    EXPECT_EQ(Eval("=ROUND(0.04,-3)"), Num(0));
    EXPECT_EQ(Eval("=ROUND(1.005,2)"), Num(1.01));
    EXPECT_EQ(Eval("=ROUNDUP(1.001,2)"), Num(1.01));
    EXPECT_EQ(Eval("=ROUNDUP(-1.001,0)"), Num(-2));
    EXPECT_EQ(Eval("=ROUNDDOWN(1.999,1)"), Num(1.9));
    EXPECT_EQ(Eval("=ROUNDUP(0.1+0.2,1)"), Num(0.3));
    EXPECT_EQ(Eval("=INT(-1.5)"), Num(-2));
    EXPECT_EQ(Eval("=MOD(-3,2)"), Num(1));
    EXPECT_EQ(Eval("=MOD(1,0)"), Err(0x07));
    EXPECT_EQ(Eval("=ABS(-2)"), Num(2));
}

TEST_F(EvalTest, LogicAndTextFunctions) {
    cells.Set(0, 0, 0, Str("  Quote  No "));
    EXPECT_EQ(Eval("=IF(1>2,\"a\",\"b\")"), Str("b"));
    EXPECT_EQ(Eval("=IF(FALSE,1)"), CellValue(false));
    EXPECT_EQ(Eval("=IF(TRUE,,1)"), Num(0));
    EXPECT_EQ(Eval("=AND(TRUE,1,Z1:Z3)"), CellValue(true));
    EXPECT_EQ(Eval("=OR(FALSE,0)"), CellValue(false));
    EXPECT_EQ(Eval("=AND(Z1:Z3)"), Err(0x0F));
    EXPECT_EQ(Eval("=NOT(0)"), CellValue(true));
    EXPECT_EQ(Eval("=CONCATENATE(\"n=\",1.5,TRUE)"), Str("n=1.5TRUE"));
    EXPECT_EQ(Eval("=LEN(A1)"), Num(12));
    EXPECT_EQ(Eval("=UPPER(TRIM(A1))"), Str("QUOTE NO"));
    EXPECT_EQ(Eval("=LOWER(\"AbC\")"), Str("abc"));
    EXPECT_EQ(Eval("=LEFT(\"abc\",2)&RIGHT(\"abc\")&MID(\"abcdef\",2,3)"), Str("abcbcd"));
}

// A number cell or literal in a file may hold any bit pattern; Excel has no
// NaN or infinity, and the functions that turn numbers into counts must never
// see one.
TEST_F(EvalTest, NumbersThatAreNotFiniteCountAsNumErrors) {
    cells.Set(0, 0, 0, std::nan(""));                            // A1
    cells.Set(0, 0, 1, std::numeric_limits<double>::infinity()); // B1
    for (const char* formula : {"=ROUND(2.5,A1)", "=ROUND(A1,0)", "=LEFT(\"abc\",B1)", "=MID(\"abc\",A1,1)",
                                "=MID(\"abc\",1,B1)", "=A1+1", "=ISNUMBER(A1)"}) {
        SCOPED_TRACE(formula);
        const auto result = Eval(formula);
        ASSERT_TRUE(result.has_value());
        if (std::string_view(formula) == "=ISNUMBER(A1)")
            EXPECT_EQ(*result, CellValue(false));
        else
            EXPECT_EQ(*result, Err(0x24));
    }
    // ROUND's digits as a literal NaN in the tokens (a ptgNum the parser never writes).
    Tokens tokens = Parse(u"=ROUND(2,0.5)", book);
    const double nan = std::nan("");
    std::uint64_t bits;
    std::memcpy(&bits, &nan, sizeof bits);
    const auto num = std::find(tokens.rgce.begin(), tokens.rgce.end(), std::uint8_t{0x1F});
    ASSERT_NE(num, tokens.rgce.end());
    for (int b = 0; b < 8; ++b) num[1 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    EXPECT_EQ(Evaluate(tokens, 0, {20, 20}, book, cells), Err(0x24));
}

TEST_F(EvalTest, OnlyTheTakenBranchOfIfIsEvaluated) {
    // The untaken branch calls a function the evaluator does not know.
    EXPECT_EQ(Eval("=IF(TRUE,1,TEXT(2,\"0\"))"), Num(1));
    EXPECT_EQ(Eval("=IF(FALSE,1,TEXT(2,\"0\"))"), std::nullopt);
}

TEST_F(EvalTest, ReferencesResolveThroughTheContext) {
    cells.Set(1, 0, 0, 7.0);
    cells.Set(0, 4, 5, 2.0); // F5
    EXPECT_EQ(Eval("=Sheet2!A1*2"), Num(14));
    EXPECT_THROW(Eval("=Data's!A1"), Error);        // such a sheet name needs quotes
    EXPECT_EQ(Eval("='Data''s'!A1"), std::nullopt); // the context cannot read that sheet
    EXPECT_EQ(Eval("=Rate*2"), std::nullopt);       // the context gives no definition of the name
    EXPECT_EQ(Eval("=TODAY()"), std::nullopt);
    // Implicit intersection: a one-column area used as a value takes the
    // formula's own row.
    EXPECT_EQ(Eval("=F1:F10*3", CellPos{4, 7}), Num(6));
    EXPECT_EQ(Eval("=F1:F10*3", CellPos{40, 7}), Err(0x0F));
    // A huge area is left to the spreadsheet rather than read cell by cell.
    EXPECT_EQ(Eval("=SUM(A1:IV65536)"), std::nullopt);
}

TEST_F(EvalTest, OperandClassesDecideBetweenIntersectionAndArrays) {
    cells.Set(0, 0, 0, 1.0); // A1:A2 = 1, 2; B1:B2 = 3, 4
    cells.Set(0, 1, 0, 2.0);
    cells.Set(0, 0, 1, 3.0);
    cells.Set(0, 1, 1, 4.0);
    // SUM(A1:A2*B1:B2) with the areas of the given class.
    const auto sumOfProducts = [](std::uint8_t areaPtg) {
        return Tokens{{areaPtg, 0, 0, 1, 0, 0, 0, 0, 0, areaPtg, 0, 0, 1, 0, 1, 0, 1, 0, 0x05, 0x42, 1, 4, 0}, {}};
    };
    EXPECT_EQ(Evaluate(sumOfProducts(0x65), 0, CellPos{0, 5}, book, cells), Num(11)); // arrays
    EXPECT_EQ(Evaluate(sumOfProducts(0x45), 0, CellPos{0, 5}, book, cells), Num(3));  // row 1's cells
    // As an array formula over three cells: the element-wise products, and
    // #N/A where the result has no element.
    const Tokens products{{0x45, 0, 0, 1, 0, 0, 0, 0, 0, 0x45, 0, 0, 1, 0, 1, 0, 1, 0, 0x05}, {}};
    EXPECT_EQ(EvaluateArray(products, 0, CellPos{0, 5}, 3, 1, book, cells),
              (std::vector<CellValue>{Num(3), Num(8), Err(0x2A)}));
}

TEST_F(EvalTest, SharedTokensEvaluateRelativeToTheirHost) {
    cells.Set(0, 8, 3, 5.0);                                                  // D9
    const Bytes shared{0x4C, 0xFF, 0xFF, 0x01, 0xC0, 0x1E, 0x02, 0x00, 0x05}; // (row-1, col+1) * 2
    EXPECT_EQ(Evaluate(Tokens{shared, {}}, 0, CellPos{9, 2}, book, cells), Num(10));
}

} // namespace
} // namespace vi2zezir::workbook::formula
