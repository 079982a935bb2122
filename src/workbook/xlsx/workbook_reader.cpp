// Reading a workbook package into the sheet model: the workbook part's sheets
// and names, the cell formats of the styles part, the shared strings and the
// first worksheet's cells. The model's formulas are .xls tokens: a formula is
// parsed from its text, and one the parser cannot take (or that reaches past
// the .xls grid) is held as its stored value and written back as read.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/utf.h"
#include "workbook/xlsx/workbook_package.h"

namespace vi2zezir::workbook {

namespace xml = xlsx::xml;
using xlsx::xml::FindAttribute;
using xlsx::xml::LocalName;

namespace {

[[noreturn]] void Bad(const std::string& why) { throw Error(ErrorKind::Damaged, why); }

// Cell formats a workbook may define: Excel's limit is 64,000.

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

bool IsTrue(std::string_view text) { return text == "1" || text == "true"; }

std::optional<std::uint8_t> ErrorCode(std::string_view text) {
    static const std::pair<std::string_view, std::uint8_t> kCodes[] = {
        {"#NULL!", 0x00}, {"#DIV/0!", 0x07}, {"#VALUE!", 0x0F}, {"#REF!", 0x17},
        {"#NAME?", 0x1D}, {"#NUM!", 0x24},   {"#N/A", 0x2A},    {"#GETTING_DATA", 0x2B}};
    for (const auto& [name, code] : kCodes)
        if (text == name) return code;
    return std::nullopt;
}

// "B12" -> row 11, col 1 (package grid).
bool ParseCellRef(std::string_view text, std::uint32_t& row, std::uint32_t& col) {
    Area area;
    if (text.find(':') != std::string_view::npos || !xlsx::ParseArea(text, area)) return false;
    row = area.r1;
    col = area.c1;
    return true;
}

// The value of an attribute inside a start tag's bytes: where it lies.
std::optional<std::pair<std::size_t, std::size_t>> AttributeSpan(std::string_view tag, std::string_view name) {
    for (std::size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
        const char before = at > 0 ? tag[at - 1] : '<';
        if (before != ' ' && before != '\t' && before != '\n' && before != '\r') continue;
        std::size_t i = at + name.size();
        while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '\n' || tag[i] == '\r')) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        ++i;
        while (i < tag.size() && (tag[i] == ' ' || tag[i] == '\t' || tag[i] == '\n' || tag[i] == '\r')) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
        const auto close = tag.find(tag[i], i + 1);
        if (close == std::string_view::npos) return std::nullopt;
        return std::pair{i + 1, close - i - 1};
    }
    return std::nullopt;
}

std::array<std::uint8_t, 8> NumberBytes(double value) {
    std::array<std::uint8_t, 8> bytes{};
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return bytes;
}

} // namespace

class XlsxReader {
public:
    XlsxReader(Workbook& wb, XlsxKeeper& keeper) : wb_(wb), k_(keeper) {}

    void Read() {
        k_.parts_ = xlsx::FindWorkbookParts(k_.package_);
        ReadSheetList();
        ReadStyles();
        ReadSharedStrings();
        ReadNames();
        ReadEditableSheet();
        ReadTables();
        ReadOtherSheetFormulas();
        Finish();
    }

private:
    void ReadSheetList();
    void ReadStyles();
    void ReadSharedStrings();
    void ReadNames();
    void ReadEditableSheet();
    void ReadTables();
    void ReadOtherSheetFormulas();
    void Finish();

    Workbook& wb_;
    XlsxKeeper& k_;
    xml::Document workbookXml_;
    friend class SheetHandler;
};

void XlsxReader::ReadSheetList() {
    for (const auto& sheet : k_.parts_.sheets) {
        Workbook::SheetInfo info;
        info.name = text::FromUtf8(sheet.name);
        // As a BOUNDSHEET's type: only worksheets (0) count as worksheets.
        info.type = sheet.kind == xlsx::SheetKind::Worksheet ? 0 : sheet.kind == xlsx::SheetKind::Chartsheet ? 2 : 1;
        wb_.sheets_.push_back(std::move(info));
    }
    const auto first = std::find_if(k_.parts_.sheets.begin(), k_.parts_.sheets.end(),
                                    [](const xlsx::SheetPart& s) { return s.kind == xlsx::SheetKind::Worksheet; });
    if (first == k_.parts_.sheets.end()) Bad("the workbook has no worksheet");
    wb_.editable_ = static_cast<std::uint16_t>(first - k_.parts_.sheets.begin());
    k_.sheetPart_ = first->part;
    // Every sheet is its own reference entry: formulas name sheets by their
    // index through these.
    wb_.internalSupBook_ = 0;
    wb_.sheetRecords_.resize(wb_.sheets_.size()); // other sheets: no records, their parts pass through
    for (std::size_t i = 0; i < wb_.sheets_.size(); ++i)
        wb_.xti_.push_back({0, static_cast<std::int16_t>(i), static_cast<std::int16_t>(i)});
    workbookXml_ = k_.package_.ReadDocument(k_.parts_.workbook);
    for (const auto* child : workbookXml_.Root().ChildElements()) {
        if (LocalName(child->name) != "workbookPr") continue;
        if (const auto* v = child->FindAttribute("date1904"); v && IsTrue(*v))
            Bad("it counts dates from 1904, which the engine does not support");
    }
}

// Cell formats as far as the sheet operations read them: the number format
// and the quote prefix (the rest stays in the styles part).
void XlsxReader::ReadStyles() {
    auto styles = std::make_unique<PackageStyles>();
    k_.styles_ = styles.get();
    wb_.styles_ = std::move(styles);
    struct Styles : xml::Handler {
        Workbook& wb;
        PackageStyles& styles;
        Styles(Workbook& w, PackageStyles& s) : wb(w), styles(s) {}
        bool inCellXfs = false;
        int depth = 0, cellXfsDepth = -1;
        void StartElement(std::string_view name, xml::Attributes attributes) override {
            ++depth;
            const auto local = LocalName(name);
            if (local == "numFmt") {
                const auto id = ParseUnsigned(FindAttribute(attributes, "numFmtId"));
                if (id && *id < 0xFFFF)
                    wb.formats_[static_cast<std::uint16_t>(*id)] =
                        xml::DecodeXstring(FindAttribute(attributes, "formatCode"));
            } else if (local == "cellXfs") {
                inCellXfs = true;
                cellXfsDepth = depth;
            } else if (local == "xf" && inCellXfs && depth == cellXfsDepth + 1) {
                const auto id = ParseUnsigned(FindAttribute(attributes, "numFmtId")).value_or(0);
                if (!styles.AddRead(static_cast<std::uint16_t>(std::min<std::uint64_t>(id, 0xFFFF)),
                                    IsTrue(FindAttribute(attributes, "quotePrefix"))))
                    Bad("the workbook defines more than 65,000 cell formats");
            }
        }
        void EndElement(std::string_view name) override {
            if (LocalName(name) == "cellXfs" && depth == cellXfsDepth) inCellXfs = false;
            --depth;
        }
    };
    Styles handler(wb_, *k_.styles_);
    if (!k_.parts_.styles.empty()) k_.package_.ReadXml(k_.parts_.styles, handler);
    if (k_.styles_->Count() == 0) k_.styles_->PadTo(1);
    wb_.defaultXf_ = 0;
}

void XlsxReader::ReadSharedStrings() {
    struct Strings : xml::Handler {
        SharedStrings& sst;
        explicit Strings(SharedStrings& s) : sst(s) {}
        std::string text;
        bool inSi = false, inT = false;
        int skip = 0; // inside a phonetic run
        std::uint64_t count = 0;
        void StartElement(std::string_view name, xml::Attributes attributes) override {
            const auto local = LocalName(name);
            if (local == "sst") {
                count = ParseUnsigned(FindAttribute(attributes, "count")).value_or(0);
            } else if (local == "si") {
                inSi = true;
                text.clear();
            } else if (local == "rPh") {
                ++skip;
            } else if (local == "t" && inSi && skip == 0) {
                inT = true;
            }
        }
        void EndElement(std::string_view name) override {
            const auto local = LocalName(name);
            if (local == "t") inT = false;
            if (local == "rPh") --skip;
            if (local == "si") {
                if (sst.Size() >= UINT32_MAX / 2) Bad("the shared-string table is too large");
                sst.Append(xml::DecodeXstring(text));
                inSi = false;
            }
        }
        void Text(std::string_view t) override {
            if (inT) text += t;
        }
    };
    if (k_.parts_.sharedStrings.empty()) return;
    Strings strings(wb_.sst_);
    k_.package_.ReadXml(k_.parts_.sharedStrings, strings);
    k_.sharedStringsRead_ = static_cast<std::uint32_t>(wb_.sst_.Size());
    k_.sharedCountRead_ = strings.count;
}

void XlsxReader::ReadNames() {
    std::vector<std::pair<std::u16string, std::u16string>> texts;
    for (const auto* child : workbookXml_.Root().ChildElements()) {
        if (LocalName(child->name) != "definedNames") continue;
        for (const auto* name : child->ChildElements()) {
            if (LocalName(name->name) != "definedName") continue;
            const auto* attr = name->FindAttribute("name");
            std::string value;
            for (const auto& node : name->children)
                if (node.kind == xml::Node::Kind::Text) value += node.value;
            texts.emplace_back(attr ? text::FromUtf8(*attr) : std::u16string(), text::FromUtf8(value));
        }
    }
    // All names first: one name's formula may use another.
    for (const auto& [name, value] : texts) wb_.names_.push_back(name);
    const auto& sheetName = wb_.sheets_[wb_.editable_].name;
    for (const auto& [name, value] : texts) {
        XlsxKeeper::NameRead read;
        try {
            read.tokens = formula::Parse(u"=" + value, wb_);
        } catch (const Error&) { // a formula the parser cannot take is kept as written
            xlsx::CollectColumns(text::ToUtf8(value), sheetName, false, k_.othersRefer_);
        }
        k_.names_.push_back(std::move(read));
    }
}

// The first worksheet, streamed: the cell table into the model, the spans of
// the elements the writer splices, the ranges that follow inserts.
class SheetHandler : public xml::Handler {
public:
    SheetHandler(Workbook& wb, XlsxKeeper& keeper) : wb_(wb), k_(keeper), sheetName_(wb.sheets_[wb.editable_].name) {}

    void StartElement(std::string_view name, xml::Attributes attributes) override {
        ++depth_;
        const auto local = LocalName(name);
        if (beyondDepth_) return;
        lastStartEnd_ = tagOffset + tagLength;
        if (depth_ == 2 && local == "sheetData") {
            k_.sheetDataBegin_ = tagOffset;
            k_.sheetDataEnd_ = tagOffset + tagLength;
            k_.sheetDataPrefix_ = std::string(name.substr(0, name.size() - local.size()));
            inSheetData_ = true;
            return;
        }
        if (inSheetData_ && depth_ == 3 && local == "row")
            StartRow(attributes);
        else if (inSheetData_ && depth_ == 4 && local == "c")
            StartCell(attributes);
        else if (inCell_ && local == "f")
            StartFormula(attributes);
        else if (inCell_ && (local == "v" || (local == "t" && inInline_ && phonetic_ == 0)))
            collect_ = true, text_.clear();
        else if (inCell_ && local == "is")
            inInline_ = true, inlineText_.clear();
        else if (inCell_ && local == "rPh")
            ++phonetic_;
        else if (!inSheetData_)
            NoteRanges(local, attributes);
    }

    void EndElement(std::string_view name) override {
        const auto local = LocalName(name);
        // The end of an empty element is reported at its start tag's end.
        const std::size_t end = tagLength == 0 ? lastStartEnd_ : tagOffset + tagLength;
        if (beyondDepth_ && depth_ == beyondDepth_) {
            const auto span =
                std::pair{static_cast<std::uint32_t>(beyondBegin_), static_cast<std::uint32_t>(end - beyondBegin_)};
            if (beyondRow_)
                k_.rowsBeyond_.push_back(span);
            else
                k_.rows_[row_].beyond.push_back(span);
            beyondDepth_ = 0;
            beyondRow_ = false;
            inCell_ = false;
        } else if (!beyondDepth_) {
            if (inSheetData_ && depth_ == 2 && local == "sheetData") {
                k_.sheetDataEnd_ = end;
                k_.sheetDataEmptyTag_ = tagLength == 0;
                inSheetData_ = false;
            } else if (inCell_ && depth_ == 4 && local == "c") {
                EndCell(end);
            } else if (inCell_ && local == "f") {
                formulaText_ = text_;
                collect_ = false;
            } else if (inCell_ && local == "v") {
                value_ = text_;
                hasValue_ = true;
                collect_ = false;
            } else if (inCell_ && local == "t" && inInline_ && collect_) {
                inlineText_ += text_;
                collect_ = false;
            } else if (inCell_ && local == "rPh") {
                --phonetic_;
            }
        }
        --depth_;
    }

    void Text(std::string_view t) override {
        if (collect_) text_ += t;
    }

private:
    void StartRow(xml::Attributes attributes) {
        const auto r = FindAttribute(attributes, "r");
        if (!r.empty()) {
            const auto n = ParseUnsigned(r);
            if (!n || *n == 0 || *n > xlsx::kPackageRows)
                Bad("the first worksheet has a row numbered " + std::string(r));
            row_ = static_cast<std::uint32_t>(*n - 1);
        } else {
            row_ = seenRow_ ? row_ + 1 : 0;
        }
        seenRow_ = true;
        nextCol_ = 0;
        if (row_ > kLastRow) {
            Beyond(true);
            return;
        }
        auto& info = k_.rows_[row_];
        info.attributes.clear();
        for (const auto& a : attributes)
            if (a.name != "r") info.attributes.push_back({std::string(a.name), std::string(a.value)});
    }

    void Beyond(bool row) {
        beyondDepth_ = depth_;
        beyondBegin_ = tagOffset;
        beyondRow_ = row;
        lastStartEnd_ = tagOffset + tagLength;
    }

    void StartCell(xml::Attributes attributes) {
        const auto r = FindAttribute(attributes, "r");
        std::uint32_t row = row_, col = nextCol_;
        if (!r.empty() && (!ParseCellRef(r, row, col) || row != row_))
            Bad("the first worksheet has a cell " + std::string(r) + " in row " + std::to_string(row_ + 1));
        nextCol_ = col + 1;
        col_ = col;
        lastStartEnd_ = tagOffset + tagLength;
        if (col >= formula::kMaxCols) {
            inCell_ = true;
            Beyond(false);
            return;
        }
        inCell_ = true;
        cellBegin_ = tagOffset;
        type_ = FindAttribute(attributes, "t");
        const auto s = FindAttribute(attributes, "s");
        xf_ = 0;
        if (!s.empty()) {
            const auto n = ParseUnsigned(s);
            if (!n || *n >= PackageStyles::kMaxCount) Bad("cell " + std::string(r) + " has the cell format " + std::string(s));
            xf_ = static_cast<std::uint16_t>(*n);
        }
        formulaType_.clear();
        formulaText_.clear();
        value_.clear();
        hasFormula_ = hasValue_ = inInline_ = shared_ = false;
        sharedIndex_ = -1;
        sharedRef_.clear();
    }

    void StartFormula(xml::Attributes attributes) {
        hasFormula_ = true;
        formulaType_ = FindAttribute(attributes, "t");
        if (const auto si = ParseUnsigned(FindAttribute(attributes, "si")))
            sharedIndex_ = static_cast<std::int64_t>(*si);
        sharedRef_ = FindAttribute(attributes, "ref");
        collect_ = true;
        text_.clear();
    }

    // The cell's value as read, into the model cell; false when the type is
    // one the model has no kind for.
    bool PutValue(Cell& cell) {
        if (type_ == "s") {
            const auto index = ParseUnsigned(value_);
            if (!hasValue_) return true;
            if (!index || *index >= k_.sharedStringsRead_)
                Bad("a cell of the first worksheet uses shared string " + value_ + ", which the table lacks");
            cell.kind = CellKind::Text;
            cell.index = static_cast<std::uint32_t>(*index);
            ++k_.sheetSharedRefs_;
            shared_ = true;
        } else if (type_ == "inlineStr" || type_ == "str") {
            if (type_ == "str" && !hasValue_) return true; // a typed cell without a value is blank
            cell.kind = CellKind::Text;
            cell.index = wb_.sst_.Append(xml::DecodeXstring(type_ == "str" ? value_ : inlineText_));
        } else if (type_ == "b") {
            if (!hasValue_) return true;
            cell.kind = CellKind::Boolean;
            cell.small = IsTrue(value_) ? 1 : 0;
        } else if (type_ == "e") {
            const auto code = ErrorCode(value_);
            if (!code) return false;
            cell.kind = CellKind::Error;
            cell.small = *code;
        } else if (type_.empty() || type_ == "n") {
            if (!hasValue_) return true;
            double number = 0;
            const auto [end, ec] = std::from_chars(value_.data(), value_.data() + value_.size(), number);
            if (ec != std::errc() || end != value_.data() + value_.size() || !std::isfinite(number))
                Bad("a cell of the first worksheet holds the number '" + value_ + "'");
            cell.kind = CellKind::Number;
            cell.number = number;
        } else {
            return false; // "d": an ISO date, kept as written
        }
        return true;
    }

    void EndCell(std::size_t end) {
        inCell_ = false;
        const auto key = (row_ << 8) | col_;
        XlsxKeeper::RawCell raw;
        raw.key = key;
        raw.offset = static_cast<std::uint32_t>(cellBegin_);
        raw.length = static_cast<std::uint32_t>(end - cellBegin_);
        Cell cell;
        cell.row = row_;
        cell.xf = xf_;
        k_.styles_->PadTo(xf_ + 1u);
        if (hasFormula_) {
            if (!PutFormula(cell)) {
                raw.kept = true;
                k_.keptFormulas_ = true;
                xlsx::CollectColumns(formulaText_, sheetName_, true, k_.keptRefer_);
                if (!PutValue(cell)) cell.kind = CellKind::Blank;
            }
        } else if (!PutValue(cell)) {
            raw.kept = true;
            cell.kind = CellKind::Blank;
        }
        raw.cell = cell;
        raw.shared = shared_;
        if (raw.kept) k_.keptLast_[col_] = std::max<std::int64_t>(k_.keptLast_[col_], row_);
        k_.cells_.push_back(raw);
        auto& cells = wb_.columns_[col_].cells;
        if (!cells.empty() && cells.back().row >= row_)
            Bad("the first worksheet lists cell " + CellName() + " out of order or twice");
        cells.push_back(cell);
    }

    std::string CellName() const {
        std::string name;
        xlsx::AppendColumnName(name, col_);
        return name + std::to_string(row_ + 1);
    }

    // A formula the model can hold: parsed to tokens, with its stored result.
    bool PutFormula(Cell& cell) {
        if (formulaType_ == "array") {
            Area area;
            if (xlsx::ParseArea(sharedRef_.empty() ? CellName() : sharedRef_, area) && area.r2 <= kLastRow &&
                area.c2 < formula::kMaxCols)
                wb_.arrays_.push_back(area);
            return false;
        }
        if (!formulaType_.empty() && formulaType_ != "normal" && formulaType_ != "shared") return false;
        std::string text = formulaText_;
        std::int64_t shared = -1;
        if (formulaType_ == "shared" && sharedIndex_ >= 0) {
            shared = sharedIndex_;
            if (!text.empty()) {
                sharedTexts_[shared] = {row_, col_, text};
                k_.sharedHosts_[shared] = (row_ << 8) | col_;
            } else {
                const auto host = sharedTexts_.find(shared);
                if (host == sharedTexts_.end()) return false;
                const auto moved = xlsx::MoveRelativeReferences(
                    host->second.text, std::int64_t{row_} - host->second.row, std::int64_t{col_} - host->second.col);
                if (!moved) return false;
                text = *moved;
            }
        }
        formula::Tokens tokens;
        try {
            tokens = formula::Parse(u"=" + text::FromUtf8(text), wb_);
        } catch (const Error&) { // a formula the parser cannot take is kept as written
            return false;
        }
        FormulaCell f;
        f.tokens = std::move(tokens);
        f.row = row_;
        f.col = col_;
        if (!hasValue_) {
            k_.uncomputed_ = true;
        } else if (type_ == "str") {
            f.cached[6] = f.cached[7] = 0xFF;
            f.cachedText = xml::DecodeXstring(value_);
            f.cached[0] = f.cachedText.empty() ? 3 : 0;
        } else if (type_ == "b") {
            f.cached[6] = f.cached[7] = 0xFF;
            f.cached[0] = 1;
            f.cached[2] = IsTrue(value_) ? 1 : 0;
        } else if (type_ == "e") {
            f.cached[6] = f.cached[7] = 0xFF;
            f.cached[0] = 2;
            f.cached[2] = ErrorCode(value_).value_or(0x2A);
        } else {
            double number = 0;
            const auto [end, ec] = std::from_chars(value_.data(), value_.data() + value_.size(), number);
            if (ec != std::errc() || !std::isfinite(number)) return false;
            f.cached = NumberBytes(number);
        }
        cell.kind = CellKind::Formula;
        cell.index = static_cast<std::uint32_t>(wb_.formulas_.size());
        k_.formulasRead_.push_back({f.cached, f.cachedText, shared, hasValue_});
        wb_.formulas_.push_back(std::move(f));
        return true;
    }

    void NoteRanges(std::string_view local, xml::Attributes) {
        const char* attribute = nullptr;
        if (local == "dimension" && depth_ == 2)
            attribute = "ref";
        else if (local == "mergeCell" || local == "hyperlink")
            attribute = "ref";
        else if (local == "conditionalFormatting" || local == "dataValidation")
            attribute = "sqref";
        if (!attribute) return;
        const std::string_view tag = std::string_view(k_.sheetXml_).substr(tagOffset, tagLength);
        const auto span = AttributeSpan(tag, attribute);
        if (!span) return;
        XlsxKeeper::RangeAttribute range;
        range.offset = tagOffset + span->first;
        range.length = span->second;
        range.dimension = local == "dimension";
        // A range the scan cannot read (an entity in the value) stays as written.
        if (std::string_view(k_.sheetXml_).substr(range.offset, range.length).find('&') != std::string_view::npos)
            return;
        if (!xlsx::ParseAreaList(std::string_view(k_.sheetXml_).substr(range.offset, range.length), range.areas))
            return;
        if (local == "mergeCell")
            for (const auto& a : range.areas)
                if (a.r2 <= kLastRow && a.c2 < formula::kMaxCols) wb_.merges_.push_back(a);
        k_.ranges_.push_back(std::move(range));
    }

    Workbook& wb_;
    XlsxKeeper& k_;
    const std::u16string sheetName_;
    std::size_t depth_ = 0;
    bool inSheetData_ = false, inCell_ = false, inInline_ = false, collect_ = false;
    bool seenRow_ = false;
    int phonetic_ = 0;
    std::size_t beyondDepth_ = 0, beyondBegin_ = 0, lastStartEnd_ = 0;
    bool beyondRow_ = false;
    std::uint32_t row_ = 0, col_ = 0, nextCol_ = 0;
    std::size_t cellBegin_ = 0;
    std::uint16_t xf_ = 0;
    std::string type_, formulaType_, formulaText_, value_, inlineText_, text_, sharedRef_;
    bool hasFormula_ = false, hasValue_ = false, shared_ = false;
    std::int64_t sharedIndex_ = -1;
    struct SharedText {
        std::uint32_t row, col;
        std::string text;
    };
    std::unordered_map<std::int64_t, SharedText> sharedTexts_;
};

void XlsxReader::ReadEditableSheet() {
    k_.sheetXml_ = k_.package_.Read(k_.sheetPart_);
    const auto& x = k_.sheetXml_;
    if (x.size() >= 2 && ((x[0] == '\xFF' && x[1] == '\xFE') || (x[0] == '\xFE' && x[1] == '\xFF') || x[1] == '\0'))
        Bad("its first worksheet is written in UTF-16, which the engine does not read");
    if (x.size() > UINT32_MAX) Bad("its first worksheet is too large");
    SheetHandler handler(wb_, k_);
    try {
        xml::Parse(k_.sheetXml_, handler);
    } catch (const Error& e) {
        if (e.Kind() != ErrorKind::BadXml) throw;
        throw Error(ErrorKind::BadXml, k_.sheetPart_ + ": " + e.what());
    }
    if (k_.sheetDataEnd_ == 0) Bad("its first worksheet has no cell table");
    // Cells outside the model's grid sit below row 65,536 in these columns:
    // an insert there would have to move them.
    for (const auto& [offset, length] : k_.rowsBeyond_) {
        const std::string_view row = std::string_view(x).substr(offset, length);
        for (std::size_t at = row.find(" r=\""); at != std::string_view::npos; at = row.find(" r=\"", at + 1)) {
            const auto close = row.find('"', at + 4);
            std::uint32_t r = 0, c = 0;
            if (close != std::string_view::npos && ParseCellRef(row.substr(at + 4, close - at - 4), r, c) &&
                c < formula::kMaxCols)
                k_.columnsBeyond_.set(c);
        }
    }
}

// Tables and comments are parts of their own whose cells the engine does not
// move: an insert that reaches one is refused.
void XlsxReader::ReadTables() {
    const auto rels = k_.package_.ReadRelationships(k_.sheetPart_);
    struct Refs : xml::Handler {
        std::vector<Area>& out;
        explicit Refs(std::vector<Area>& o) : out(o) {}
        void StartElement(std::string_view name, xml::Attributes attributes) override {
            Area area;
            const auto local = LocalName(name);
            if ((local == "comment" || local == "threadedComment") &&
                xlsx::ParseArea(FindAttribute(attributes, "ref"), area))
                out.push_back(area);
        }
        void EndElement(std::string_view) override {}
    };
    Refs refs(k_.comments_);
    for (const auto* rel : rels.OfType("comments")) {
        if (rel->external) continue;
        const auto part = rels.TargetPart(*rel);
        if (k_.package_.Has(part)) k_.package_.ReadXml(part, refs);
    }
    for (const auto* rel : rels.OfType("table")) {
        if (rel->external) continue;
        const auto part = rels.TargetPart(*rel);
        if (!k_.package_.Has(part)) continue;
        const auto doc = k_.package_.ReadDocument(part);
        Area area;
        if (const auto* ref = doc.Root().FindAttribute("ref"); ref && xlsx::ParseArea(*ref, area))
            k_.tables_.push_back(area);
    }
}

void XlsxReader::ReadOtherSheetFormulas() {
    struct Formulas : xml::Handler {
        XlsxKeeper& k;
        const std::u16string& sheet;
        Formulas(XlsxKeeper& keeper, const std::u16string& name) : k(keeper), sheet(name) {}
        bool inF = false;
        std::string text;
        void StartElement(std::string_view name, xml::Attributes) override {
            if (LocalName(name) == "f") inF = true, text.clear();
        }
        void EndElement(std::string_view name) override {
            if (LocalName(name) != "f") return;
            inF = false;
            if (!text.empty()) xlsx::CollectColumns(text, sheet, false, k.othersRefer_);
        }
        void Text(std::string_view t) override {
            if (inF) text += t;
        }
    };
    Formulas formulas(k_, wb_.sheets_[wb_.editable_].name);
    for (std::size_t i = 0; i < k_.parts_.sheets.size(); ++i) {
        const auto& sheet = k_.parts_.sheets[i];
        if (i == wb_.editable_ || sheet.part.empty() || !k_.package_.Has(sheet.part)) continue;
        if (sheet.kind != xlsx::SheetKind::Worksheet && sheet.kind != xlsx::SheetKind::Macrosheet) continue;
        k_.package_.ReadXml(sheet.part, formulas);
    }
}

void XlsxReader::Finish() {
    // Formats cells use beyond those the styles define count as read.
    k_.styles_->EndOfRead();
    for (auto& column : wb_.columns_) {
        for (auto& cell : column.cells) {
            cell.sig = wb_.SigOf(cell);
            column.sigUnion |= cell.sig;
        }
    }
    for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id) wb_.IndexFormula(id);
    if (!std::is_sorted(k_.cells_.begin(), k_.cells_.end(), [](const auto& a, const auto& b) { return a.key < b.key; }))
        Bad("the first worksheet lists its rows out of order");
}

std::vector<FormatKeeper::Text> XlsxKeeper::OtherSheetTexts(const Workbook& wb, std::size_t sheet) const {
    struct Texts : xml::Handler {
        const SharedStrings& sst;
        explicit Texts(const SharedStrings& s) : sst(s) {}
        std::vector<FormatKeeper::Text> out;
        std::string type, text;
        std::uint32_t row = 0, col = 0;
        bool inCell = false, collect = false, hasRef = false;
        int phonetic = 0;
        void StartElement(std::string_view name, xml::Attributes attributes) override {
            const auto local = LocalName(name);
            if (local == "c") {
                hasRef = ParseCellRef(FindAttribute(attributes, "r"), row, col);
                type = FindAttribute(attributes, "t");
                text.clear();
                inCell = true;
            } else if (local == "rPh") {
                ++phonetic;
            } else if (inCell && ((local == "v" && type != "inlineStr") || (local == "t" && phonetic == 0))) {
                collect = true;
            }
        }
        void EndElement(std::string_view name) override {
            const auto local = LocalName(name);
            if (local == "rPh") --phonetic;
            if (local == "v" || local == "t") collect = false;
            if (local != "c") return;
            inCell = false;
            if (!hasRef || col > UINT16_MAX) return;
            std::u16string value;
            if (type == "s") {
                const auto index = ParseUnsigned(text);
                if (index && *index < sst.Size()) value = sst.Text(static_cast<std::uint32_t>(*index));
            } else if (type == "inlineStr" || type == "str") {
                value = xml::DecodeXstring(text);
            }
            if (!value.empty()) out.push_back({row, static_cast<std::uint16_t>(col), std::move(value)});
        }
        void Text(std::string_view t) override {
            if (collect) text += t;
        }
    };
    if (sheet >= parts_.sheets.size() || parts_.sheets[sheet].part.empty() ||
        parts_.sheets[sheet].kind != xlsx::SheetKind::Worksheet || !package_.Has(parts_.sheets[sheet].part))
        return {};
    Texts texts(wb.sst_);
    package_.ReadXml(parts_.sheets[sheet].part, texts);
    return std::move(texts.out);
}

std::unique_ptr<Workbook> LoadPackage(std::span<const std::uint8_t> fileBytes) {
    try {
        auto keeper = std::make_unique<XlsxKeeper>(
            xlsx::Package::Open(std::vector<std::uint8_t>(fileBytes.begin(), fileBytes.end())));
        std::unique_ptr<Workbook> wb(new Workbook());
        XlsxReader(*wb, *keeper).Read();
        wb->keeper_ = std::move(keeper);
        return wb;
    } catch (const Error& e) {
        if (e.Kind() != ErrorKind::BadXml) throw;
        throw Error(ErrorKind::BadXml, std::string("its XML is malformed: ") + e.what());
    }
}

} // namespace vi2zezir::workbook
