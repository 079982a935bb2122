// Writing a filled workbook package: only the parts the transfer changed are
// written anew (the first worksheet, the shared strings, the styles when a
// cell format was added, the workbook part when a name moved or formulas must
// be computed on opening); the calculation chain, stale once cells change,
// is dropped; every other part passes through as it was read.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>

#include "base/utf.h"
#include "workbook/xlsx/workbook_package.h"

namespace vi2zezir::workbook {

namespace xml = xlsx::xml;
using xlsx::xml::LocalName;

namespace {

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"':
            if (attribute)
                out += "&quot;";
            else
                out += c;
            break;
        case '\n':
            if (attribute)
                out += "&#10;";
            else
                out += c;
            break;
        case '\r': out += "&#13;"; break;
        case '\t':
            if (attribute)
                out += "&#9;";
            else
                out += c;
            break;
        default: out += c;
        }
    }
}

void AppendNumber(std::string& out, double value) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

std::string_view ErrorText(std::uint8_t code) {
    switch (code) {
    case 0x00: return "#NULL!";
    case 0x07: return "#DIV/0!";
    case 0x0F: return "#VALUE!";
    case 0x17: return "#REF!";
    case 0x1D: return "#NAME?";
    case 0x24: return "#NUM!";
    case 0x2B: return "#GETTING_DATA";
    default: return "#N/A";
    }
}

bool SameCell(const Cell& a, const Cell& b) {
    if (a.kind != b.kind || a.xf != b.xf || a.row != b.row) return false;
    switch (a.kind) {
    case CellKind::Blank: return true;
    case CellKind::Number: return std::bit_cast<std::uint64_t>(a.number) == std::bit_cast<std::uint64_t>(b.number);
    case CellKind::Boolean:
    case CellKind::Error: return a.small == b.small;
    case CellKind::Text:
    case CellKind::Formula: return a.index == b.index;
    }
    return false;
}

const std::string kSharedStringsType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml";

// Elements of a workbook part that come before calcPr, in the schema's order.
bool PrecedesCalcPr(std::string_view local) {
    static const std::string_view kBefore[] = {"fileVersion",        "fileSharing",        "workbookPr",
                                               "workbookProtection", "bookViews",          "sheets",
                                               "functionGroups",     "externalReferences", "definedNames"};
    return std::find(std::begin(kBefore), std::end(kBefore), local) != std::end(kBefore);
}

std::string Prefixed(const std::string& like, std::string_view local) {
    const auto colon = like.find(':');
    return (colon == std::string::npos ? std::string() : like.substr(0, colon + 1)) + std::string(local);
}

} // namespace

class XlsxWriter {
public:
    XlsxWriter(Workbook& wb, XlsxKeeper& keeper) : wb_(wb), k_(keeper) {}

    std::vector<std::uint8_t> Write() {
        const bool sheetChanged = k_.rewriteAll || SheetChanged();
        bool changed = false;
        if (sheetChanged) {
            k_.package_.Write(k_.sheetPart_, SheetXml());
            changed = true;
        }
        // The table's count is of the cells that use it: it changes with
        // the sheet's even when no string is new.
        const bool countChanged = sheetChanged && sharedRefs_ != k_.sheetSharedRefs_ && k_.sharedCountRead_ > 0;
        if (!newStrings_.empty() || countChanged ||
            (sheetChanged && k_.rewriteAll && !k_.parts_.sharedStrings.empty())) {
            WriteSharedStrings();
            changed = true;
        }
        if (k_.styles_->Count() > k_.styles_->ReadCount() || !wb_.addedFormats_.empty()) {
            WriteStyles();
            changed = true;
        }
        const bool namesChanged =
            std::any_of(k_.names_.begin(), k_.names_.end(), [](const auto& n) { return n.changed; });
        // Results the engine could not bring up to date: Excel computes
        // every formula on opening.
        const bool fullCalc =
            wb_.recalcOnOpen_ || (sheetChanged && !k_.rewriteAll && (k_.keptFormulas_ || k_.uncomputed_));
        if (namesChanged || fullCalc || k_.rewriteAll) {
            WriteWorkbookPart(fullCalc);
            changed = true;
        }
        if (changed) xlsx::DropCalcChain(k_.package_);
        return k_.package_.Save();
    }

private:
    // Whether the formula, or only its result when `resultOnly`, differs from
    // what was read.
    bool FormulaChanged(std::uint32_t id, bool resultOnly = false) const {
        if (id >= k_.formulasRead_.size()) return true;
        const auto& f = wb_.formulas_[id];
        const auto& read = k_.formulasRead_[id];
        return (f.dirty && !resultOnly) || f.cached != read.cached || f.cachedText != read.cachedText;
    }

    // Whether the cell at (row, col) is the one read there, unchanged: then
    // its element is copied as it was.
    const XlsxKeeper::RawCell* Unchanged(const Cell& cell, std::uint16_t col) const {
        const auto* raw = k_.RawAt(cell.row, col);
        if (!raw || !SameCell(raw->cell, cell) || (k_.regenerateCells && !raw->kept)) return nullptr;
        // An insert in the column may have brought another cell here.
        if (!raw->kept && k_.insertedColumns_.test(col) && cell.row >= wb_.columns_[col].changedFrom) return nullptr;
        if (cell.kind == CellKind::Formula) {
            if (FormulaChanged(cell.index)) return nullptr;
            const auto si = k_.formulasRead_[cell.index].sharedIndex;
            if (si >= 0 && brokenShared_.count(si)) return nullptr;
        }
        return raw;
    }

    bool SheetChanged() {
        if (k_.inserted_) return true;
        for (const auto& column : wb_.columns_)
            if (column.changedFrom != UINT32_MAX) return true;
        for (std::uint32_t id = 0; id < wb_.formulas_.size(); ++id)
            if (wb_.formulas_[id].live && FormulaChanged(id)) return true;
        return false;
    }

    // Ranges and the dimension, spliced into the sheet's other elements.
    void AppendSpliced(std::string& out, std::size_t from, std::size_t to, const Area& used, bool anyCell) {
        const std::string_view x = k_.sheetXml_;
        for (const auto& range : k_.ranges_) {
            if (range.offset < from || range.offset >= to) continue;
            if (!range.changed && !range.dimension) continue;
            out.append(x.substr(from, range.offset - from));
            if (range.dimension && anyCell) {
                Area a = range.areas.empty() ? used : range.areas.front();
                for (const auto& other : range.areas) {
                    a.r1 = std::min(a.r1, other.r1), a.r2 = std::max(a.r2, other.r2);
                    a.c1 = std::min(a.c1, other.c1), a.c2 = std::max(a.c2, other.c2);
                }
                a.r1 = std::min(a.r1, used.r1), a.r2 = std::max(a.r2, used.r2);
                a.c1 = std::min(a.c1, used.c1), a.c2 = std::max(a.c2, used.c2);
                out += xlsx::AreaText(a);
            } else if (range.dimension) {
                out.append(x.substr(range.offset, range.length));
            } else {
                out += xlsx::AreaListText(range.areas);
            }
            from = range.offset + range.length;
        }
        out.append(x.substr(from, to - from));
    }

    std::string SheetXml();
    void AppendCell(std::string& out, const Cell& cell, std::uint16_t col);
    std::uint32_t StringIndex(std::uint32_t index);
    void WriteSharedStrings();
    void WriteStyles();
    void WriteWorkbookPart(bool fullCalc);

    Workbook& wb_;
    XlsxKeeper& k_;
    std::string p_; // the sheet's element prefix
    std::unordered_map<std::int64_t, bool> brokenShared_;
    std::unordered_map<std::uint32_t, std::uint32_t> remap_; // model index -> index in the part
    std::vector<std::uint32_t> newStrings_;                  // model indexes, in part order
    std::uint64_t sharedRefs_ = 0;
    std::uint32_t firstChangedRow_ = UINT32_MAX;
};

const XlsxKeeper::RawCell* XlsxKeeper::RawAt(std::uint32_t row, std::uint16_t col) const {
    const std::uint32_t key = (row << 8) | col;
    const auto it = std::lower_bound(cells_.begin(), cells_.end(), key,
                                     [](const RawCell& c, std::uint32_t k) { return c.key < k; });
    return it != cells_.end() && it->key == key ? &*it : nullptr;
}

std::uint32_t XlsxWriter::StringIndex(std::uint32_t index) {
    if (index < k_.sharedStringsRead_) return index;
    const auto [it, added] =
        remap_.try_emplace(index, k_.sharedStringsRead_ + static_cast<std::uint32_t>(newStrings_.size()));
    if (added) newStrings_.push_back(index);
    return it->second;
}

void XlsxWriter::AppendCell(std::string& out, const Cell& cell, std::uint16_t col) {
    if (const auto* raw = Unchanged(cell, col)) {
        out.append(std::string_view(k_.sheetXml_).substr(raw->offset, raw->length));
        if (raw->shared) ++sharedRefs_;
        return;
    }
    out += '<';
    out += p_;
    out += "c r=\"";
    xlsx::AppendColumnName(out, col);
    out += std::to_string(cell.row + 1);
    out += '"';
    if (cell.xf != 0) out += " s=\"" + std::to_string(cell.xf) + '"';
    const auto value = [&](std::string_view type, auto&& body) {
        if (!type.empty()) out += " t=\"" + std::string(type) + '"';
        out += '>';
        body();
        out += "</" + p_ + "c>";
    };
    const auto v = [&](std::string_view text) {
        out += '<' + p_ + "v>";
        AppendEscaped(out, text, false);
        out += "</" + p_ + "v>";
    };
    switch (cell.kind) {
    case CellKind::Blank: out += "/>"; break;
    case CellKind::Number:
        value("", [&] {
            std::string n;
            AppendNumber(n, cell.number);
            v(n);
        });
        break;
    case CellKind::Text:
        ++sharedRefs_;
        value("s", [&] { v(std::to_string(StringIndex(cell.index))); });
        break;
    case CellKind::Boolean: value("b", [&] { v(cell.small ? "1" : "0"); }); break;
    case CellKind::Error: value("e", [&] { v(ErrorText(cell.small)); }); break;
    case CellKind::Formula: {
        const auto& f = wb_.formulas_[cell.index];
        const auto& text = wb_.FormulaText(cell.index);
        if (text.size() < 2) {
            std::string where;
            xlsx::AppendColumnName(where, col);
            throw Error(ErrorKind::Damaged,
                        "the formula in " + where + std::to_string(cell.row + 1) + " cannot be written");
        }
        const bool special = f.cached[6] == 0xFF && f.cached[7] == 0xFF;
        const std::uint8_t type = special ? f.cached[0] : 0xFE;
        const std::string_view t = type == 0 || type == 3 ? "str" : type == 1 ? "b" : type == 2 ? "e" : "";
        value(t, [&] {
            out += '<' + p_ + "f>";
            AppendEscaped(out, text::ToUtf8(std::u16string_view(text).substr(1)), false);
            out += "</" + p_ + "f>";
            // A formula stored without a result, still without one.
            if (cell.index < k_.formulasRead_.size() && !k_.formulasRead_[cell.index].hasValue &&
                !FormulaChanged(cell.index, true))
                return;
            if (type == 0xFE) {
                std::uint64_t bits = 0;
                for (int i = 0; i < 8; ++i) bits |= std::uint64_t{f.cached[i]} << (8 * i);
                std::string n;
                AppendNumber(n, std::bit_cast<double>(bits));
                v(n);
            } else if (type == 0 || type == 3) {
                v(xml::EncodeXstring(f.cachedText));
            } else if (type == 1) {
                v(f.cached[2] ? "1" : "0");
            } else if (type == 2) {
                v(ErrorText(f.cached[2]));
            }
        });
        break;
    }
    }
}

std::string XlsxWriter::SheetXml() {
    p_ = k_.sheetDataPrefix_;
    // A shared formula whose host is written anew takes its members along:
    // they would name a host that is no longer there.
    for (const auto& [si, key] : k_.sharedHosts_) {
        const auto row = key >> 8;
        const auto col = static_cast<std::uint16_t>(key & 0xFF);
        const Cell* cell = wb_.CellAt(row, col);
        const auto* raw = k_.RawAt(row, col);
        bool kept = cell && raw && SameCell(*cell, raw->cell) && cell->kind == CellKind::Formula &&
                    !FormulaChanged(cell->index) &&
                    !(k_.insertedColumns_.test(col) && row >= wb_.columns_[col].changedFrom);
        if (!kept) brokenShared_[si] = true;
    }
    for (const auto& column : wb_.columns_) firstChangedRow_ = std::min(firstChangedRow_, column.changedFrom);

    // Cells by rows: the columns of each row, in order.
    std::vector<std::uint32_t> starts(formula::kMaxRows + 1, 0);
    for (const auto& column : wb_.columns_)
        for (const auto& cell : column.cells) ++starts[cell.row + 1];
    for (std::size_t r = 1; r < starts.size(); ++r) starts[r] += starts[r - 1];
    std::vector<std::uint16_t> cols(starts.back());
    std::vector<const Cell*> cellsByRow(starts.back());
    {
        auto next = starts;
        for (std::uint16_t c = 0; c < formula::kMaxCols; ++c)
            for (const auto& cell : wb_.columns_[c].cells) {
                cols[next[cell.row]] = c;
                cellsByRow[next[cell.row]++] = &cell;
            }
    }
    Area used{UINT32_MAX, 0, UINT16_MAX, 0};
    const bool anyCell = !cols.empty();
    for (std::uint32_t r = 0; r < formula::kMaxRows; ++r) {
        if (starts[r] == starts[r + 1]) continue;
        used.r1 = std::min(used.r1, r), used.r2 = std::max(used.r2, r);
        used.c1 = std::min(used.c1, cols[starts[r]]), used.c2 = std::max(used.c2, cols[starts[r + 1] - 1]);
    }

    std::string out;
    out.reserve(k_.sheetXml_.size() + k_.sheetXml_.size() / 8);
    AppendSpliced(out, 0, k_.sheetDataBegin_, used, anyCell);
    out += '<' + p_ + "sheetData>";
    auto info = k_.rows_.begin();
    for (std::uint32_t r = 0; r < formula::kMaxRows; ++r) {
        const bool hasRow = info != k_.rows_.end() && info->first == r;
        if (starts[r] == starts[r + 1] && !hasRow) continue;
        const XlsxKeeper::RowInfo* row = info != k_.rows_.end() && info->first == r ? &info->second : nullptr;
        if (row) ++info;
        out += '<' + p_ + "row r=\"" + std::to_string(r + 1) + '"';
        if (row) {
            for (const auto& a : row->attributes) {
                // Spans are a hint of the columns in use, stale once cells change.
                if (a.name == "spans" && r >= firstChangedRow_) continue;
                out += ' ' + a.name + "=\"";
                AppendEscaped(out, a.value, true);
                out += '"';
            }
        }
        const bool empty = starts[r] == starts[r + 1] && (!row || row->beyond.empty());
        if (empty) {
            out += "/>";
        } else {
            out += '>';
            for (std::uint32_t i = starts[r]; i < starts[r + 1]; ++i) AppendCell(out, *cellsByRow[i], cols[i]);
            if (row)
                for (const auto& [offset, length] : row->beyond)
                    out.append(std::string_view(k_.sheetXml_).substr(offset, length));
            out += "</" + p_ + "row>";
        }
    }
    for (const auto& [offset, length] : k_.rowsBeyond_)
        out.append(std::string_view(k_.sheetXml_).substr(offset, length));
    out += "</" + p_ + "sheetData>";
    AppendSpliced(out, k_.sheetDataEnd_, k_.sheetXml_.size(), used, anyCell);
    return out;
}

void XlsxWriter::WriteSharedStrings() {
    std::string added;
    for (const std::uint32_t index : newStrings_) {
        std::string si = "<si><t";
        const auto text = wb_.sst_.Text(index);
        if (!text.empty() && (text.front() == u' ' || text.back() == u' ' || text.find(u'\n') != text.npos))
            si += " xml:space=\"preserve\"";
        si += '>';
        AppendEscaped(si, xml::EncodeXstring(text), false);
        si += "</t></si>";
        added += si;
    }
    const auto unique = k_.sharedStringsRead_ + newStrings_.size();
    const auto count = k_.sharedCountRead_ + sharedRefs_ - std::min(k_.sharedCountRead_, k_.sheetSharedRefs_);
    if (k_.parts_.sharedStrings.empty()) {
        const std::string part = "xl/sharedStrings.xml";
        std::string xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<sst "
            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"" +
            std::to_string(sharedRefs_) + "\" uniqueCount=\"" + std::to_string(unique) + "\">" + added + "</sst>";
        k_.package_.Write(part, std::move(xml), kSharedStringsType);
        auto rels = k_.package_.ReadRelationships(k_.parts_.workbook);
        rels.Add(xlsx::RelationshipType("sharedStrings"), part);
        k_.package_.WriteRelationships(rels);
        k_.parts_.sharedStrings = part;
        return;
    }
    // Splice: the table's start tag with new counts, its entries as read,
    // the new ones before its end.
    struct Spans : xml::Handler {
        std::size_t tagBegin = 0, tagEnd = 0, endTag = 0;
        bool emptyTag = false;
        std::string name;
        std::size_t depth = 0;
        void StartElement(std::string_view n, xml::Attributes) override {
            if (++depth == 1) tagBegin = tagOffset, tagEnd = tagOffset + tagLength, name = std::string(n);
        }
        void EndElement(std::string_view) override {
            if (depth-- == 1) endTag = tagLength == 0 ? tagEnd : tagOffset, emptyTag = tagLength == 0;
        }
    };
    const std::string original = k_.package_.Read(k_.parts_.sharedStrings);
    Spans spans;
    xml::Parse(original, spans);
    std::string tag = original.substr(spans.tagBegin, spans.tagEnd - spans.tagBegin);
    if (spans.emptyTag) {
        const auto slash = tag.rfind('/');
        tag = tag.substr(0, slash) + ">";
    }
    const auto setAttribute = [&](std::string_view name, std::uint64_t value) {
        const auto at = tag.find(' ' + std::string(name) + "=\"");
        if (at == std::string::npos) return;
        const auto begin = at + name.size() + 3;
        tag.replace(begin, tag.find('"', begin) - begin, std::to_string(value));
    };
    setAttribute("count", count);
    setAttribute("uniqueCount", unique);
    std::string xml = original.substr(0, spans.tagBegin) + tag;
    if (spans.emptyTag) {
        xml += added + "</" + spans.name + ">" + original.substr(spans.tagEnd);
    } else {
        xml += original.substr(spans.tagEnd, spans.endTag - spans.tagEnd);
        if (const auto colon = spans.name.find(':'); colon != std::string::npos) {
            const std::string prefix = spans.name.substr(0, colon + 1);
            for (std::size_t at = 0; (at = added.find('<', at)) != std::string::npos; ++at)
                added.insert(added[at + 1] == '/' ? at + 2 : at + 1, prefix);
        }
        xml += added + original.substr(spans.endTag);
    }
    k_.package_.Write(k_.parts_.sharedStrings, std::move(xml));
}

void XlsxWriter::WriteStyles() {
    if (k_.parts_.styles.empty())
        throw Error(ErrorKind::Damaged, "the workbook has no styles, so no cell format can be added to it");
    auto doc = k_.package_.ReadDocument(k_.parts_.styles);
    auto& root = doc.Root();
    const auto child = [&](std::string_view local) -> xml::Node* {
        for (auto& c : root.children)
            if (c.kind == xml::Node::Kind::Element && LocalName(c.name) == local) return &c;
        return nullptr;
    };
    const auto elements = [](xml::Node& parent, std::string_view local) {
        std::vector<xml::Node*> found;
        for (auto& c : parent.children)
            if (c.kind == xml::Node::Kind::Element && LocalName(c.name) == local) found.push_back(&c);
        return found;
    };
    if (!wb_.addedFormats_.empty()) {
        xml::Node* numFmts = child("numFmts");
        if (!numFmts) {
            xml::Node node;
            node.name = Prefixed(root.name, "numFmts");
            auto at = std::find_if(root.children.begin(), root.children.end(),
                                   [](const xml::Node& n) { return n.kind == xml::Node::Kind::Element; });
            numFmts = &*root.children.insert(at, std::move(node));
        }
        for (const auto& [id, code] : wb_.addedFormats_) {
            xml::Node node;
            node.name = Prefixed(root.name, "numFmt");
            node.SetAttribute("numFmtId", std::to_string(id));
            node.SetAttribute("formatCode", xml::EncodeXstring(code));
            numFmts->children.push_back(std::move(node));
        }
        numFmts->SetAttribute("count", std::to_string(elements(*numFmts, "numFmt").size()));
    }
    if (k_.styles_->Count() > k_.styles_->ReadCount()) {
        xml::Node* cellXfs = child("cellXfs");
        if (!cellXfs) throw Error(ErrorKind::Damaged, "the workbook's styles have no cell formats");
        auto xfs = elements(*cellXfs, "xf");
        xml::Node first;
        if (xfs.empty()) {
            first.name = Prefixed(root.name, "xf");
            for (const char* a : {"numFmtId", "fontId", "fillId", "borderId", "xfId"}) first.SetAttribute(a, "0");
        } else {
            first = *xfs.front();
        }
        std::vector<xml::Node> nodes;
        for (auto* x : xfs) nodes.push_back(*x);
        while (nodes.size() < k_.styles_->ReadCount()) nodes.push_back(first);
        for (std::size_t xf = k_.styles_->ReadCount(); xf < k_.styles_->Count(); ++xf) {
            xml::Node node = nodes[k_.styles_->BaseOf(static_cast<std::uint16_t>(xf))];
            const auto ifmt = wb_.NumberFormatOfXf(static_cast<std::uint16_t>(xf));
            const auto* old = node.FindAttribute("numFmtId");
            if (!old || *old != std::to_string(ifmt)) {
                node.SetAttribute("numFmtId", std::to_string(ifmt));
                node.SetAttribute("applyNumberFormat", "1");
            }
            if (wb_.HasQuotePrefix(static_cast<std::uint16_t>(xf)))
                node.SetAttribute("quotePrefix", "1");
            else
                std::erase_if(node.attributes, [](const xml::Attribute& a) { return a.name == "quotePrefix"; });
            nodes.push_back(std::move(node));
        }
        // Padding only where the cells used formats the part lacked.
        std::erase_if(cellXfs->children, [](const xml::Node& n) {
            return n.kind == xml::Node::Kind::Element && LocalName(n.name) == "xf";
        });
        for (auto& node : nodes) cellXfs->children.push_back(std::move(node));
        cellXfs->SetAttribute("count", std::to_string(k_.styles_->Count()));
    }
    k_.package_.Write(k_.parts_.styles, xml::Serialize(doc));
}

void XlsxWriter::WriteWorkbookPart(bool fullCalc) {
    auto doc = k_.package_.ReadDocument(k_.parts_.workbook);
    auto& root = doc.Root();
    std::size_t n = 0;
    auto calcAt = root.children.end();
    xml::Node* calcPr = nullptr;
    for (auto it = root.children.begin(); it != root.children.end(); ++it) {
        if (it->kind != xml::Node::Kind::Element) continue;
        const auto local = LocalName(it->name);
        if (PrecedesCalcPr(local)) calcAt = std::next(it);
        if (local == "calcPr") calcPr = &*it;
        if (local != "definedNames") continue;
        for (auto& name : it->children) {
            if (name.kind != xml::Node::Kind::Element || LocalName(name.name) != "definedName") continue;
            if (n < k_.names_.size() && k_.names_[n].changed && k_.names_[n].tokens) {
                const auto text = formula::ToText(*k_.names_[n].tokens, {0, 0}, wb_);
                xml::Node value;
                value.kind = xml::Node::Kind::Text;
                value.value = text::ToUtf8(std::u16string_view(text).substr(1));
                name.children.clear();
                name.children.push_back(std::move(value));
            }
            ++n;
        }
    }
    if (fullCalc) {
        if (!calcPr) {
            xml::Node node;
            node.name = Prefixed(root.name, "calcPr");
            calcPr = &*root.children.insert(calcAt, std::move(node));
        }
        calcPr->SetAttribute("fullCalcOnLoad", "1");
    }
    k_.package_.Write(k_.parts_.workbook, xml::Serialize(doc));
}

// ------------------------------------------------------------ inserts

void XlsxKeeper::CheckInsert(const Workbook& wb, std::uint32_t row, std::uint16_t col) const {
    std::string column;
    xlsx::AppendColumnName(column, col);
    const auto refuse = [&](const std::string& why) {
        throw Error(ErrorKind::RefusedEdit,
                    "Cells in column " + column + " cannot be inserted in this .xlsx workbook: " + why + ".");
    };
    if (keptLast_[col] >= static_cast<std::int64_t>(row))
        refuse("a formula below would move, and the engine keeps it only as written");
    if (keptRefer_.Touches(col)) refuse("a formula the engine keeps only as written refers to cells there");
    if (othersRefer_.Touches(col))
        refuse("a formula of another sheet or a defined name refers to cells there in a form the engine cannot move");
    if (columnsBeyond_.test(col)) refuse("cells below row 65,536 would move");
    for (const auto& t : tables_)
        if (t.c1 <= col && col <= t.c2 && t.r2 >= row) refuse("a table there would have to move");
    for (const auto& c : comments_)
        if (c.c1 <= col && col <= c.c2 && c.r2 >= row) refuse("a cell comment there would have to move");
    (void)wb;
}

void XlsxKeeper::Inserted(Workbook& wb, const formula::InsertShift& shift) {
    inserted_ = true;
    insertedColumns_.set(shift.col);
    for (auto& range : ranges_) {
        if (range.dimension) continue;
        for (auto& a : range.areas) {
            if (a.c1 != shift.col || a.c2 != shift.col) continue;
            if (a.r1 >= shift.row) {
                a.r1 += shift.count, a.r2 += shift.count;
                range.changed = true;
            } else if (a.r2 >= shift.row) {
                a.r2 += shift.count;
                range.changed = true;
            }
        }
    }
    for (auto& name : names_) {
        if (!name.tokens) continue;
        std::optional<formula::Tokens> moved;
        try {
            moved = formula::ShiftForInsert(*name.tokens, wb.editable_, shift, wb);
        } catch (const Error&) {
            continue;
        }
        if (moved && *moved != *name.tokens) {
            name.tokens = std::move(*moved);
            name.changed = true;
        }
    }
}

std::vector<std::uint8_t> XlsxKeeper::Save(Workbook& wb) { return XlsxWriter(wb, *this).Write(); }

} // namespace vi2zezir::workbook
