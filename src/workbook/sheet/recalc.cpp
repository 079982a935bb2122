// Which formulas an edit reaches, and their results. Cells written or moved
// since load make each column "changed" from its lowest such row down; a
// formula reading a changed cell is affected, and its own cell (the whole
// range of an array formula) then counts as changed, and so on through
// formulas of every sheet and through defined names until nothing more is
// reached. Only affected formulas of the editable sheet are evaluated;
// every other formula keeps the result Excel stored. The approximation errs
// towards evaluating too much, which is harmless because the evaluator gives
// Excel's answer or none.
#include "workbook/sheet/recalc.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <unordered_map>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

namespace op = biff::op;
using formula::CellPos;
using formula::CellValue;

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;
constexpr std::uint16_t kAlwaysCalc = 0x0001;

CellValue StoredValue(std::span<const std::uint8_t> cached, const std::u16string& text) {
    if (cached[6] != 0xFF || cached[7] != 0xFF) {
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = (bits << 8) | cached[static_cast<std::size_t>(i)];
        return std::bit_cast<double>(bits);
    }
    switch (cached[0]) {
    case 0: return text;
    case 1: return cached[2] != 0;
    case 2: return formula::ErrorValue{cached[2]};
    default: return std::u16string(); // 3: an empty text
    }
}

void StoreValue(FormulaCell& f, const CellValue& value) {
    f.cached.fill(0);
    f.cachedText.clear();
    if (const double* d = std::get_if<double>(&value)) {
        const auto bits = std::bit_cast<std::uint64_t>(*d);
        for (int i = 0; i < 8; ++i) f.cached[i] = static_cast<std::uint8_t>(bits >> (8 * i));
        return;
    }
    f.cached[6] = f.cached[7] = 0xFF;
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        f.cached[0] = s->empty() ? 3 : 0;
        f.cachedText = *s;
    } else if (const bool* b = std::get_if<bool>(&value)) {
        f.cached[0] = 1;
        f.cached[2] = *b ? 1 : 0;
    } else if (const auto* e = std::get_if<formula::ErrorValue>(&value)) {
        f.cached[0] = 2;
        f.cached[2] = e->code;
    } else { // a reference to an empty cell reads as 0
        f.cached.fill(0);
    }
}

// Equal as Excel would store them; sums taken in another order may differ
// in the last bit of the double.
bool SameResult(const CellValue& a, const CellValue& b) {
    const double* x = std::get_if<double>(&a);
    const double* y = std::get_if<double>(&b);
    if (x && y) return *x == *y || std::fabs(*x - *y) <= 1e-14 * std::max(std::fabs(*x), std::fabs(*y));
    return a == b;
}

std::u16string Describe(const CellValue& v) {
    if (const double* d = std::get_if<double>(&v)) return GeneralNumberText(*d);
    if (const auto* s = std::get_if<std::u16string>(&v)) return u"\"" + *s + u"\"";
    if (const bool* b = std::get_if<bool>(&v)) return *b ? u"TRUE" : u"FALSE";
    if (const auto* e = std::get_if<formula::ErrorValue>(&v)) {
        const char* text = "#N/A";
        switch (e->code) {
        case 0x00: text = "#NULL!"; break;
        case 0x07: text = "#DIV/0!"; break;
        case 0x0F: text = "#VALUE!"; break;
        case 0x17: text = "#REF!"; break;
        case 0x1D: text = "#NAME?"; break;
        case 0x24: text = "#NUM!"; break;
        default: break;
        }
        return std::u16string(text, text + std::char_traits<char>::length(text));
    }
    return u"(blank)";
}

std::uint32_t CellKey(std::uint32_t row, std::uint16_t col) { return (row << 8) | col; }

} // namespace

class Recalculation final : public formula::EvalContext {
public:
    explicit Recalculation(Workbook& wb)
        : wb_(wb), state_(wb.formulas_.size(), 0), results_(wb.formulas_.size()), others_(wb.sheets_.size()) {}

    void Run();
    StoredResultsCheck Check();

    std::optional<CellValue> Cell(std::uint16_t sheet, CellPos pos) override;
    std::optional<formula::Tokens> NameTokens(std::uint16_t nameIndex) override;

private:
    static constexpr int kMaxEvaluationDepth = 256;

    // A formula, a defined name or the formulas of an array range, as a
    // node of the dependency walk.
    struct Node {
        enum class Kind : std::uint8_t { kFormula, kOtherFormula, kName };
        Kind kind = Kind::kFormula;
        bool affected = false;
        std::uint16_t sheet = 0;
        std::uint16_t colFirst = 0, colLast = 0;
        std::uint32_t rowFirst = 0, rowLast = 0;
        std::uint32_t index = 0;                    // formula id, record index or one-based name index
        std::uint32_t areasBegin = 0, areasEnd = 0; // in areas_
    };

    // Another sheet's cells, read from its records when first asked for.
    struct OtherCell {
        std::optional<CellValue> value; // nullopt: a result the records do not hold
        std::uint32_t record = kNone;   // a formula's record
    };
    struct OtherFormula {
        std::uint32_t record = 0;
        std::uint32_t row = 0;
        std::uint16_t col = 0;
        formula::Tokens tokens;
    };
    struct OtherSheet {
        bool read = false;
        std::unordered_map<std::uint32_t, OtherCell> cells;
        std::vector<OtherFormula> formulas;
        std::unordered_map<std::uint32_t, std::uint32_t> nodeOfRecord;
    };

    const formula::WorkbookContext& Context() const { return wb_; }
    OtherSheet& Other(std::uint16_t sheet);
    std::optional<CellValue> Result(std::uint32_t id);
    const std::optional<std::vector<CellValue>>& ArrayResult(std::uint32_t id);
    std::optional<std::uint32_t> ArrayHostOf(const FormulaCell& member) const;
    static Area ArrayRange(const FormulaCell& host);
    bool Affected(std::uint32_t id) const { return nodeOfFormula_.empty() ? false : IsAffected(nodeOfFormula_[id]); }
    bool IsAffected(std::uint32_t node) const { return node != kNone && nodes_[node].affected; }

    // The dependency walk.
    void BuildNodes();
    void AddNode(Node node, const formula::References& refs);
    void Lower(std::uint16_t sheet, std::uint16_t col, std::uint32_t row);
    void Mark(std::uint32_t node);
    void Propagate();

    Workbook& wb_;
    std::vector<std::uint8_t> state_; // 0 not evaluated, 1 under way, 2 done
    std::vector<std::optional<CellValue>> results_;
    std::unordered_map<std::uint32_t, std::optional<std::vector<CellValue>>> arrayResults_;
    int depth_ = 0;
    std::vector<OtherSheet> others_;
    std::vector<std::uint32_t> nameRecords_;
    bool nameRecordsRead_ = false;

    std::vector<Node> nodes_;
    std::vector<formula::Reference> areas_;
    std::vector<std::uint32_t> nodeOfFormula_;                // by formula id
    std::vector<std::vector<std::uint32_t>> readersOfColumn_; // by sheet * 256 + col
    std::vector<std::vector<std::uint32_t>> readersOfName_;   // by one-based name index
    std::vector<std::uint32_t> changedFrom_;                  // by sheet * 256 + col
    std::vector<std::uint8_t> queued_;
    std::vector<std::uint32_t> columnQueue_;
    std::vector<std::uint32_t> nodeQueue_;
};

// ------------------------------------------------------------ cell values

std::optional<formula::Tokens> Recalculation::NameTokens(std::uint16_t nameIndex) {
    if (!nameRecordsRead_) {
        nameRecordsRead_ = true;
        for (std::uint32_t i = 0; i < wb_.globals_.size(); ++i)
            if (wb_.globals_[i].opcode == op::kName) nameRecords_.push_back(i);
    }
    if (nameIndex == 0 || nameIndex > nameRecords_.size()) return std::nullopt;
    const std::uint32_t record = nameRecords_[nameIndex - 1];
    // A name continued in further records is beyond this reading.
    if (record + 1 < wb_.globals_.size() && wb_.globals_[record + 1].opcode == op::kContinue) return std::nullopt;
    // grbit, chKey, cch, cce, ixals, itab, 4 reserved bytes, name, tokens.
    biff::RecordCursor cursor(wb_.globals_[record].data);
    cursor.Skip(3);
    const std::uint8_t cch = cursor.U8();
    const std::size_t cce = cursor.U16();
    cursor.Skip(8);
    const bool highByte = (cursor.U8() & 1) != 0;
    cursor.Skip(std::size_t{cch} * (highByte ? 2 : 1));
    formula::Tokens tokens = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
    if (cce == 0 || !cursor.Ok()) return std::nullopt;
    return tokens;
}

Recalculation::OtherSheet& Recalculation::Other(std::uint16_t sheet) {
    OtherSheet& other = others_[sheet];
    if (other.read) return other;
    other.read = true;
    const auto& records = wb_.sheetRecords_[sheet];
    std::vector<std::pair<Area, formula::Tokens>> shared;
    std::uint32_t lastFormula = kNone;
    int depth = 0;
    const auto put = [&](std::span<const std::uint8_t> d, std::size_t colAt, std::optional<CellValue> v,
                         std::uint32_t record = kNone) {
        const std::uint32_t row = biff::GetU16(d);
        const std::uint32_t col = biff::GetU16(d.subspan(colAt));
        if (col >= formula::kMaxCols) return;
        other.cells[CellKey(row, static_cast<std::uint16_t>(col))] = {std::move(v), record};
    };
    for (std::uint32_t i = 0; i < records.size(); ++i) {
        const auto& rec = records[i];
        const std::span<const std::uint8_t> d(rec.data);
        if (rec.opcode == op::kBof) ++depth;
        if (rec.opcode == op::kEof) --depth;
        if (depth != 1) continue;
        const bool keepsFormula = rec.opcode == op::kString || rec.opcode == op::kShrFmla || rec.opcode == op::kArray ||
                                  rec.opcode == op::kTable;
        const std::uint32_t formulaBefore = keepsFormula ? lastFormula : kNone;
        lastFormula = kNone;
        switch (rec.opcode) {
        case op::kNumber:
            if (d.size() >= 14) {
                const std::uint64_t bits =
                    biff::GetU32(d.subspan(6)) | (std::uint64_t{biff::GetU32(d.subspan(10))} << 32);
                put(d, 2, std::bit_cast<double>(bits));
            }
            break;
        case op::kRk:
            if (d.size() >= 10) put(d, 2, biff::DecodeRk(biff::GetU32(d.subspan(6))));
            break;
        case op::kMulRk:
            if (d.size() >= 6) {
                const std::uint32_t row = biff::GetU16(d);
                const std::uint32_t col = biff::GetU16(d.subspan(2));
                // ixfe and RK for each cell from colFirst on, then colLast.
                for (std::size_t k = 0; 4 + 6 * k + 6 <= d.size() - 2 && col + k < formula::kMaxCols; ++k)
                    other.cells[CellKey(row, static_cast<std::uint16_t>(col + k))] = {
                        biff::DecodeRk(biff::GetU32(d.subspan(6 + 6 * k))), kNone};
            }
            break;
        case op::kLabelSst:
            if (d.size() >= 10) {
                const std::uint32_t isst = biff::GetU32(d.subspan(6));
                if (isst < wb_.sst_.Size()) put(d, 2, std::u16string(wb_.sst_.Text(isst)));
            }
            break;
        case op::kLabel:
        case op::kRString:
            if (d.size() >= 9) {
                biff::RecordCursor cursor(d.subspan(6));
                std::u16string text = biff::ReadUnicodeString(cursor);
                put(d, 2, cursor.Ok() ? std::optional<CellValue>(std::move(text)) : std::nullopt);
            }
            break;
        case op::kBoolErr:
            if (d.size() >= 8) put(d, 2, d[7] ? CellValue(formula::ErrorValue{d[6]}) : CellValue(d[6] != 0));
            break;
        case op::kFormula: {
            if (d.size() < 22) break;
            const std::size_t cce = biff::GetU16(d.subspan(20));
            if (22 + cce > d.size()) break;
            // A text result comes in the STRING record that follows.
            const bool text = d[12] == 0xFF && d[13] == 0xFF && d[6] == 0;
            put(d, 2, text ? std::nullopt : std::optional<CellValue>(StoredValue(d.subspan(6, 8), {})), i);
            OtherFormula f;
            f.record = i;
            f.row = biff::GetU16(d);
            f.col = biff::GetU16(d.subspan(2));
            biff::RecordCursor cursor(d.subspan(22));
            f.tokens = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
            other.formulas.push_back(std::move(f));
            lastFormula = i;
            break;
        }
        case op::kString:
            if (formulaBefore != kNone && (i + 1 >= records.size() || records[i + 1].opcode != op::kContinue)) {
                biff::RecordCursor cursor(d);
                std::u16string text = biff::ReadUnicodeString(cursor);
                const auto& fd = records[formulaBefore].data;
                if (cursor.Ok() && fd.size() >= 4) put(fd, 2, std::move(text), formulaBefore);
            }
            break;
        case op::kShrFmla:
        case op::kArray: {
            lastFormula = formulaBefore;
            const std::size_t at = rec.opcode == op::kShrFmla ? 8 : 12;
            if (d.size() < at + 2) break;
            const std::size_t cce = biff::GetU16(d.subspan(at));
            if (at + 2 + cce > d.size()) break;
            biff::RecordCursor cursor(d.subspan(at + 2));
            formula::Tokens t = biff::ReadFormula(cursor, cce, biff::FormulaTail::RestOfRecord);
            shared.push_back({{biff::GetU16(d), biff::GetU16(d.subspan(2)), d[4], d[5]}, std::move(t)});
            break;
        }
        case op::kTable: lastFormula = formulaBefore; break;
        default: break;
        }
    }
    // Members of shared and array formulas hold PtgExp: they read what the
    // formula of their range reads.
    for (auto& f : other.formulas) {
        if (f.tokens.rgce.size() != 5 || f.tokens.rgce[0] != 0x01) continue;
        const auto it = std::find_if(shared.begin(), shared.end(), [&](const auto& s) {
            return s.first.r1 <= f.row && f.row <= s.first.r2 && s.first.c1 <= f.col && f.col <= s.first.c2;
        });
        if (it == shared.end()) continue;
        try {
            f.tokens = formula::Unshare(it->second, {f.row, f.col});
        } catch (const Error&) {}
    }
    return other;
}

std::optional<CellValue> Recalculation::Cell(std::uint16_t sheet, CellPos pos) {
    if (pos.col >= formula::kMaxCols || pos.row > kLastRow || sheet >= wb_.sheets_.size()) return std::nullopt;
    if (sheet != wb_.editable_) {
        // A package's other sheets stay parts the model does not read.
        if (wb_.sheets_[sheet].type != 0 || wb_.keeper_) return std::nullopt;
        OtherSheet& other = Other(sheet);
        const auto it = other.cells.find(CellKey(pos.row, pos.col));
        if (it == other.cells.end()) return formula::Blank{};
        if (it->second.record != kNone) {
            const auto node = other.nodeOfRecord.find(it->second.record);
            if (node != other.nodeOfRecord.end() && IsAffected(node->second)) return std::nullopt;
        }
        return it->second.value;
    }
    const workbook::Cell* cell = wb_.CellAt(pos.row, pos.col);
    if (!cell) return formula::Blank{};
    switch (cell->kind) {
    case CellKind::Blank: return formula::Blank{};
    case CellKind::Number: return cell->number;
    case CellKind::Text: return std::u16string(wb_.sst_.Text(cell->index));
    case CellKind::Boolean: return cell->small != 0;
    case CellKind::Error: return formula::ErrorValue{cell->small};
    case CellKind::Formula: break;
    }
    const auto id = cell->index;
    const FormulaCell& f = wb_.formulas_[id];
    if (f.expMember) {
        const auto host = ArrayHostOf(f);
        if (!host || !Affected(*host)) return StoredValue(f.cached, f.cachedText);
        const auto& values = ArrayResult(*host);
        if (!values) return std::nullopt;
        const Area range = ArrayRange(wb_.formulas_[*host]);
        return (*values)[(pos.row - range.r1) * (range.c2 - range.c1 + 1) + (pos.col - range.c1)];
    }
    if (!Affected(id)) return StoredValue(f.cached, f.cachedText);
    return Result(id);
}

Area Recalculation::ArrayRange(const FormulaCell& host) {
    const auto& d = host.extra;
    return {biff::GetU16(d), biff::GetU16(std::span(d).subspan(2)), d[4], d[5]};
}

std::optional<std::uint32_t> Recalculation::ArrayHostOf(const FormulaCell& member) const {
    if (member.tokens.rgce.size() != 5) return std::nullopt;
    const std::span<const std::uint8_t> t(member.tokens.rgce);
    const workbook::Cell* cell = wb_.CellAt(biff::GetU16(t.subspan(1)), biff::GetU16(t.subspan(3)));
    if (!cell || cell->kind != CellKind::Formula) return std::nullopt;
    const FormulaCell& host = wb_.formulas_[cell->index];
    if (!host.arrayHost) return std::nullopt;
    const Area range = ArrayRange(host);
    if (member.row < range.r1 || member.row > range.r2 || member.col < range.c1 || member.col > range.c2)
        return std::nullopt;
    return cell->index;
}

const std::optional<std::vector<CellValue>>& Recalculation::ArrayResult(std::uint32_t id) {
    if (auto it = arrayResults_.find(id); it != arrayResults_.end()) return it->second;
    static const std::optional<std::vector<CellValue>> kUnknown;
    if (state_[id] == 1 || depth_ >= kMaxEvaluationDepth) return kUnknown; // a cycle, or too deep
    const FormulaCell& f = wb_.formulas_[id];
    const Area range = ArrayRange(f);
    state_[id] = 1;
    ++depth_;
    auto values = formula::EvaluateArray(f.tokens, wb_.editable_, {f.row, f.col}, range.r2 - range.r1 + 1,
                                         static_cast<std::uint16_t>(range.c2 - range.c1 + 1), Context(), *this);
    --depth_;
    state_[id] = 2;
    return arrayResults_[id] = std::move(values);
}

std::optional<CellValue> Recalculation::Result(std::uint32_t id) {
    const FormulaCell& f = wb_.formulas_[id];
    if (f.arrayHost) {
        const auto& values = ArrayResult(id);
        if (!values) return std::nullopt;
        return values->front();
    }
    if (state_[id] == 2) return results_[id];
    if (state_[id] == 1) return std::nullopt; // a cycle
    // Each formula read by another is evaluated on the stack of its reader:
    // a template whose formulas each read the cell below (65,535 deep) would
    // overflow it. Past this depth the result is left unknown, so the
    // readers above are flagged for Excel to compute; the deep formula
    // itself is evaluated later from the top.
    if (depth_ >= kMaxEvaluationDepth) return std::nullopt;
    state_[id] = 1;
    ++depth_;
    std::optional<CellValue> value;
    if (!f.expMember) value = formula::Evaluate(f.tokens, wb_.editable_, {f.row, f.col}, Context(), *this);
    --depth_;
    state_[id] = 2;
    results_[id] = value;
    return value;
}

// ------------------------------------------------------------ dependencies

void Recalculation::AddNode(Node node, const formula::References& refs) {
    const auto id = static_cast<std::uint32_t>(nodes_.size());
    node.areasBegin = static_cast<std::uint32_t>(areas_.size());
    areas_.insert(areas_.end(), refs.areas.begin(), refs.areas.end());
    node.areasEnd = static_cast<std::uint32_t>(areas_.size());
    for (const auto& a : refs.areas)
        for (std::uint32_t s = a.sheetFirst; s <= a.sheetLast && s < wb_.sheets_.size(); ++s)
            for (std::uint32_t c = a.colFirst; c <= a.colLast; ++c) {
                auto& readers = readersOfColumn_[s * formula::kMaxCols + c];
                if (readers.empty() || readers.back() != id) readers.push_back(id);
            }
    for (std::uint16_t name : refs.names) {
        if (name >= readersOfName_.size()) readersOfName_.resize(std::size_t{name} + 1);
        readersOfName_[name].push_back(id);
    }
    nodes_.push_back(std::move(node));
    // Whatever the edits were, such a formula may read them.
    if (refs.anywhere) nodeQueue_.push_back(id);
}

void Recalculation::BuildNodes() {
    const std::size_t sheets = wb_.sheets_.size();
    readersOfColumn_.assign(sheets * formula::kMaxCols, {});
    changedFrom_.assign(sheets * formula::kMaxCols, kNone);
    queued_.assign(sheets * formula::kMaxCols, 0);
    nodeOfFormula_.assign(wb_.formulas_.size(), kNone);
    formula::References refs;
    const auto collect = [&](const formula::Tokens& tokens, std::uint16_t sheet, CellPos host, bool inName) {
        refs = {};
        try {
            formula::CollectReferences(tokens, sheet, host, Context(), inName, refs);
        } catch (const Error&) {
            refs.anywhere = true;
        }
    };
    for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id) {
        const FormulaCell& f = wb_.formulas_[id];
        if (!f.live) continue;
        if (f.expMember && ArrayHostOf(f)) continue; // its array formula's node stands for it
        Node node;
        node.sheet = wb_.editable_;
        node.index = id;
        node.rowFirst = node.rowLast = f.row;
        node.colFirst = node.colLast = f.col;
        if (f.arrayHost) {
            const Area range = ArrayRange(f);
            node.rowFirst = range.r1, node.rowLast = range.r2;
            node.colFirst = range.c1, node.colLast = std::min<std::uint16_t>(range.c2, formula::kMaxCols - 1);
        }
        nodeOfFormula_[id] = static_cast<std::uint32_t>(nodes_.size());
        // A formula written or shifted is evaluated whatever it reads.
        refs = {};
        if (f.dirty)
            nodeQueue_.push_back(static_cast<std::uint32_t>(nodes_.size()));
        else
            collect(f.tokens, wb_.editable_, {f.row, f.col}, false);
        AddNode(std::move(node), refs);
    }
    for (std::uint16_t name = 1; name <= wb_.names_.size() && name != 0; ++name) {
        Node node;
        node.kind = Node::Kind::kName;
        node.index = name;
        const auto tokens = NameTokens(name);
        refs = {};
        if (tokens)
            collect(*tokens, wb_.editable_, {}, true);
        else
            refs.anywhere = true;
        AddNode(std::move(node), refs);
    }
    for (std::uint16_t sheet = 0; sheet < sheets; ++sheet) {
        if (sheet == wb_.editable_) continue;
        OtherSheet& other = Other(sheet);
        for (const auto& f : other.formulas) {
            Node node;
            node.kind = Node::Kind::kOtherFormula;
            node.sheet = sheet;
            node.index = f.record;
            node.rowFirst = node.rowLast = f.row;
            node.colFirst = node.colLast = std::min<std::uint16_t>(f.col, formula::kMaxCols - 1);
            collect(f.tokens, sheet, {f.row, f.col}, false);
            other.nodeOfRecord[f.record] = static_cast<std::uint32_t>(nodes_.size());
            AddNode(std::move(node), refs);
        }
    }
}

void Recalculation::Lower(std::uint16_t sheet, std::uint16_t col, std::uint32_t row) {
    const std::size_t key = std::size_t{sheet} * formula::kMaxCols + col;
    if (row >= changedFrom_[key]) return;
    changedFrom_[key] = row;
    if (!queued_[key]) {
        queued_[key] = 1;
        columnQueue_.push_back(static_cast<std::uint32_t>(key));
    }
}

void Recalculation::Mark(std::uint32_t id) {
    Node& node = nodes_[id];
    if (node.affected) return;
    node.affected = true;
    if (node.kind == Node::Kind::kName) {
        if (node.index < readersOfName_.size())
            for (std::uint32_t reader : readersOfName_[node.index]) nodeQueue_.push_back(reader);
        return;
    }
    for (std::uint32_t c = node.colFirst; c <= node.colLast; ++c)
        Lower(node.sheet, static_cast<std::uint16_t>(c), node.rowFirst);
}

void Recalculation::Propagate() {
    for (std::uint16_t c = 0; c < formula::kMaxCols; ++c)
        if (wb_.columns_[c].changedFrom != kNone) Lower(wb_.editable_, c, wb_.columns_[c].changedFrom);
    while (!nodeQueue_.empty() || !columnQueue_.empty()) {
        while (!nodeQueue_.empty()) {
            const std::uint32_t id = nodeQueue_.back();
            nodeQueue_.pop_back();
            Mark(id);
        }
        if (columnQueue_.empty()) break;
        const std::uint32_t key = columnQueue_.back();
        columnQueue_.pop_back();
        queued_[key] = 0;
        const auto sheet = static_cast<std::uint16_t>(key / formula::kMaxCols);
        const auto col = static_cast<std::uint16_t>(key % formula::kMaxCols);
        const std::uint32_t from = changedFrom_[key];
        for (std::uint32_t reader : readersOfColumn_[key]) {
            const Node& node = nodes_[reader];
            if (node.affected) continue;
            const auto begin = areas_.begin() + node.areasBegin, end = areas_.begin() + node.areasEnd;
            const bool reads = std::any_of(begin, end, [&](const formula::Reference& a) {
                return a.sheetFirst <= sheet && sheet <= a.sheetLast && a.colFirst <= col && col <= a.colLast &&
                       a.rowLast >= from;
            });
            if (reads) Mark(reader);
        }
    }
}

void Recalculation::Run() {
    bool edited =
        std::any_of(wb_.columns_.begin(), wb_.columns_.end(), [](const Column& c) { return c.changedFrom != kNone; });
    edited = edited || std::any_of(wb_.formulas_.begin(), wb_.formulas_.end(),
                                   [](const FormulaCell& f) { return f.live && f.dirty; });
    if (!edited) return; // every stored result stands
    BuildNodes();
    Propagate();
    const auto flag = [&](FormulaCell& f) {
        // Readers that trust cached results would show a stale value:
        // fAlwaysCalc makes Excel and LibreOffice compute it on load.
        f.grbit |= kAlwaysCalc;
        wb_.recalcOnOpen_ = true;
    };
    for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id) {
        FormulaCell& f = wb_.formulas_[id];
        if (!f.live || f.expMember || !Affected(id)) continue;
        if (!f.arrayHost) {
            const auto value = Result(id);
            value ? StoreValue(f, *value) : flag(f);
            continue;
        }
        const auto values = ArrayResult(id); // a copy: the members' stores below
        const Area range = ArrayRange(f);
        for (std::uint32_t r = range.r1; r <= range.r2; ++r) {
            for (std::uint32_t c = range.c1; c <= range.c2 && c < formula::kMaxCols; ++c) {
                const workbook::Cell* cell = wb_.CellAt(r, static_cast<std::uint16_t>(c));
                if (!cell || cell->kind != CellKind::Formula) continue;
                FormulaCell& member = wb_.formulas_[cell->index];
                if (values)
                    StoreValue(member, (*values)[(r - range.r1) * (range.c2 - range.c1 + 1) + (c - range.c1)]);
                else
                    flag(member);
            }
        }
    }
    // Formulas of other sheets are not evaluated here.
    for (const Node& node : nodes_) {
        if (!node.affected || node.kind != Node::Kind::kOtherFormula) continue;
        auto& rec = wb_.sheetRecords_[node.sheet][node.index];
        if (rec.data.size() >= 16) {
            rec.data[14] |= kAlwaysCalc;
            wb_.recalcOnOpen_ = true;
        }
    }
}

// ------------------------------------------------------------ the oracle

StoredResultsCheck Recalculation::Check() {
    StoredResultsCheck check;
    const auto compare = [&](const FormulaCell& f, const std::optional<CellValue>& computed, std::uint32_t host) {
        ++check.formulas;
        const CellValue stored = StoredValue(f.cached, f.cachedText);
        if (!computed) {
            ++check.declined;
            check.declinedCells.push_back({f.row, f.col, wb_.FormulaText(host), Describe(stored), {}});
            return;
        }
        if (SameResult(*computed, stored)) {
            ++check.agreeing;
            return;
        }
        check.disagreements.push_back({f.row, f.col, wb_.FormulaText(host), Describe(stored), Describe(*computed)});
    };
    for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id) {
        const FormulaCell& f = wb_.formulas_[id];
        if (!f.live || (f.expMember && ArrayHostOf(f))) continue;
        if (!f.arrayHost) {
            compare(f, Result(id), id);
            continue;
        }
        const auto& values = ArrayResult(id);
        const Area range = ArrayRange(f);
        for (std::uint32_t r = range.r1; r <= range.r2; ++r) {
            for (std::uint32_t c = range.c1; c <= range.c2 && c < formula::kMaxCols; ++c) {
                const workbook::Cell* cell = wb_.CellAt(r, static_cast<std::uint16_t>(c));
                if (!cell || cell->kind != CellKind::Formula) continue;
                std::optional<CellValue> value;
                if (values) value = (*values)[(r - range.r1) * (range.c2 - range.c1 + 1) + (c - range.c1)];
                compare(wb_.formulas_[cell->index], value, id);
            }
        }
    }
    return check;
}

void UpdateCachedResults(Workbook& wb) { Recalculation(wb).Run(); }

StoredResultsCheck CheckStoredResults(Workbook& wb) { return Recalculation(wb).Check(); }

} // namespace vi2zezir::workbook
