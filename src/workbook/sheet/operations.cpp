// The operations on the editable worksheet with a new Excel instance's
// behaviour: Find, Replace, cells-down Insert and content puts, and the
// formula-bar texts they work on.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "workbook/sheet/model.h"
#include "workbook/xls/range_records.h"

namespace vi2zezir::workbook {

namespace op = biff::op;

// ------------------------------------------------------------ text helpers

char16_t FoldCaseBeyondAscii(char16_t c) noexcept {
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 0x50);
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs upper/lower as even/odd (with a shift after 0x138).
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper ? (c % 2 == 1) : (c % 2 == 0)) return static_cast<char16_t>(c + 1);
    }
    return c;
}

std::u16string Fold(std::u16string_view text) {
    std::u16string out(text);
    for (auto& c : out) c = FoldCase(c);
    return out;
}

namespace {

int SigBit(char16_t c) noexcept {
    c = FoldCase(c);
    if (c >= u'a' && c <= u'z') return c - u'a';
    if (c >= u'0' && c <= u'9') return 26 + (c - u'0');
    static constexpr char16_t kPunct[] = u"&_.-+/: $%,#=()*\"!'@";
    for (int i = 0; kPunct[i]; ++i)
        if (kPunct[i] == c) return 36 + i;
    return c < 0x80 ? 56 + (c & 3) : 60 + (c & 3);
}

// The bit of every ASCII character, looked up rather than worked out: every
// text read or written passes through CharSig.
struct AsciiSigBits {
    std::uint64_t bit[0x80];
    AsciiSigBits() {
        for (char16_t c = 0; c < 0x80; ++c) bit[c] = std::uint64_t{1} << SigBit(c);
    }
};
const AsciiSigBits kAsciiSigBits;

} // namespace

std::uint64_t CharSig(std::u16string_view text) noexcept {
    std::uint64_t sig = 0;
    for (char16_t c : text) sig |= c < 0x80 ? kAsciiSigBits.bit[c] : std::uint64_t{1} << SigBit(c);
    return sig;
}

namespace {
const std::uint64_t kNumberSig = CharSig(u"0123456789.-+e/: apm");
const std::uint64_t kBoolSig = CharSig(u"truefalse");
const std::uint64_t kErrorSig = CharSig(u"#null!div/0valuerefname?numn/a");
const std::uint64_t kUnknownSig = ~std::uint64_t{0};

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }
} // namespace

std::u16string GeneralNumberText(double value) {
    if (value == 0) return u"0";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    return Ascii(buf);
}

bool InDateRange(double serial) {
    constexpr double kFirstAfter9999 = 2958466; // 1 January 10000
    return serial >= 0 && serial < kFirstAfter9999;
}

std::u16string DateSerialText(double serial) {
    if (!InDateRange(serial)) return GeneralNumberText(serial);
    // Day 60 is Excel's 29 February 1900, which never was.
    long long day = static_cast<long long>(std::floor(serial));
    if (day == 60) return u"2/29/1900";
    // Serial 25569 is 1970-01-01; below 60 the phantom day is not counted.
    long long z = day - 25569 + (day < 60 ? 1 : 0) + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%u/%u/%lld", m, d, y);
    return Ascii(buf);
}

bool IsDateFormatCode(std::u16string_view code) {
    bool quoted = false, bracket = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char16_t c = code[i];
        if (quoted) {
            quoted = c != u'"';
            continue;
        }
        if (bracket) {
            bracket = c != u']';
            continue;
        }
        if (c == u'"')
            quoted = true;
        else if (c == u'[')
            bracket = true;
        else if (c == u'\\' || c == u'_' || c == u'*')
            ++i;
        else if (c == u';')
            break; // the positive section decides
        else {
            const char16_t f = FoldCase(c);
            if (f == u'd' || f == u'm' || f == u'y' || f == u'h' || f == u's') return true;
        }
    }
    return false;
}

// ------------------------------------------------------------ workbook context

Workbook::Workbook() = default;
Workbook::~Workbook() = default;

std::size_t Workbook::WorksheetCount() const {
    return static_cast<std::size_t>(
        std::count_if(sheets_.begin(), sheets_.end(), [](const SheetInfo& s) { return s.type == 0; }));
}

std::optional<std::uint16_t> Workbook::SheetOfIxti(std::uint16_t ixti) const {
    if (ixti >= xti_.size() || !internalSupBook_ || xti_[ixti].supBook != *internalSupBook_) return std::nullopt;
    if (xti_[ixti].first < 0 || static_cast<std::size_t>(xti_[ixti].first) >= sheets_.size()) return std::nullopt;
    return static_cast<std::uint16_t>(xti_[ixti].first);
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> Workbook::SheetsOfIxti(std::uint16_t ixti) const {
    const auto first = SheetOfIxti(ixti);
    if (!first) return std::nullopt;
    const auto last = xti_[ixti].last;
    if (last < xti_[ixti].first || static_cast<std::size_t>(last) >= sheets_.size()) return std::nullopt;
    return std::pair{*first, static_cast<std::uint16_t>(last)};
}

std::optional<std::uint16_t> Workbook::IxtiOfSheet(std::uint16_t sheet) const {
    for (std::size_t i = 0; i < xti_.size(); ++i)
        if (internalSupBook_ && xti_[i].supBook == *internalSupBook_ && xti_[i].first == sheet && xti_[i].last == sheet)
            return static_cast<std::uint16_t>(i);
    return std::nullopt;
}

std::optional<std::u16string> Workbook::SheetName(std::uint16_t sheet) const {
    if (sheet >= sheets_.size()) return std::nullopt;
    return sheets_[sheet].name;
}

std::optional<std::uint16_t> Workbook::SheetByName(std::u16string_view name) const {
    const auto folded = Fold(name);
    for (std::size_t i = 0; i < sheets_.size(); ++i)
        if (Fold(sheets_[i].name) == folded) return static_cast<std::uint16_t>(i);
    return std::nullopt;
}

std::optional<std::u16string> Workbook::NameText(std::uint16_t nameIndex) const {
    if (nameIndex == 0 || nameIndex > names_.size()) return std::nullopt;
    return names_[nameIndex - 1];
}

std::optional<std::uint16_t> Workbook::NameByText(std::u16string_view name) const {
    const auto folded = Fold(name);
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (Fold(names_[i]) == folded) return static_cast<std::uint16_t>(i + 1);
    return std::nullopt;
}

// ------------------------------------------------------------ cells

Cell* Workbook::FindCell(std::uint16_t col, std::uint32_t row) {
    auto& cells = columns_[col].cells;
    auto it =
        std::lower_bound(cells.begin(), cells.end(), row, [](const Cell& c, std::uint32_t r) { return c.row < r; });
    return (it != cells.end() && it->row == row) ? &*it : nullptr;
}

const Cell* Workbook::CellAt(std::uint32_t row, std::uint16_t col) const {
    if (col >= formula::kMaxCols) return nullptr;
    return const_cast<Workbook*>(this)->FindCell(col, row);
}

std::uint16_t Workbook::NumberFormatOfXf(std::uint16_t xf) const { return styles_->NumberFormat(xf); }

std::u16string Workbook::FormatCode(std::uint16_t ifmt) const {
    if (auto it = formats_.find(ifmt); it != formats_.end()) return it->second;
    for (const auto& [id, code] : addedFormats_)
        if (id == ifmt) return code;
    switch (ifmt) {
    case 0: return u"General";
    case 14: return u"m/d/yyyy";
    case 49: return u"@";
    default: return {};
    }
}

bool Workbook::IsDateXf(std::uint16_t xf) const {
    const std::uint16_t ifmt = NumberFormatOfXf(xf);
    if ((ifmt >= 14 && ifmt <= 22) || (ifmt >= 45 && ifmt <= 47)) return true;
    if (ifmt < 164 && !formats_.count(ifmt)) return false;
    return IsDateFormatCode(FormatCode(ifmt));
}

bool Workbook::IsTextXf(std::uint16_t xf) const {
    // Asked for every text put: looked up without building the code's text.
    const std::uint16_t ifmt = NumberFormatOfXf(xf);
    if (ifmt == 49) return true;
    if (auto it = formats_.find(ifmt); it != formats_.end()) return it->second == u"@";
    for (const auto& [id, code] : addedFormats_)
        if (id == ifmt) return code == u"@";
    return false;
}

std::uint16_t Workbook::CustomFormat(const std::u16string& code) {
    for (const auto& [id, c] : formats_)
        if (c == code) return id;
    for (const auto& [id, c] : addedFormats_)
        if (c == code) return id;
    std::uint16_t next = 164;
    for (const auto& [id, c] : formats_) next = std::max<std::uint16_t>(next, static_cast<std::uint16_t>(id + 1));
    for (const auto& [id, c] : addedFormats_) next = std::max<std::uint16_t>(next, static_cast<std::uint16_t>(id + 1));
    addedFormats_.emplace_back(next, code);
    return next;
}

std::uint16_t Workbook::XfWithFormat(std::uint16_t xf, std::uint16_t ifmt) {
    if (NumberFormatOfXf(xf) == ifmt) return xf;
    const std::uint32_t key = (std::uint32_t{xf} << 16) | ifmt;
    if (auto it = xfWithFormat_.find(key); it != xfWithFormat_.end()) return it->second;
    // With no room for another format the cell keeps its own: the value is
    // right, only its display differs.
    const auto index = styles_->AddWithNumberFormat(xf, ifmt);
    if (!index) return xf;
    xfWithFormat_[key] = *index;
    return *index;
}

bool Workbook::HasQuotePrefix(std::uint16_t xf) const { return styles_->HasQuotePrefix(xf); }

// Excel keeps the quote prefix in the cell's format, so setting or clearing it
// gives the cell a format of its own: one clone per format and direction,
// and the way back leads to the format it was cloned from.
std::uint16_t Workbook::XfWithQuotePrefix(std::uint16_t xf, bool prefix) {
    if (xf >= styles_->Count() || HasQuotePrefix(xf) == prefix) return xf;
    const std::uint32_t key = (std::uint32_t{xf} << 1) | (prefix ? 1u : 0u);
    if (auto it = xfWithQuotePrefix_.find(key); it != xfWithQuotePrefix_.end()) return it->second;
    // Unlike a number format, the prefix cannot be dropped: without it the
    // text would be read as typed again by the next Replace.
    const auto index = styles_->AddWithQuotePrefix(xf, prefix);
    if (!index) throw Error(ErrorKind::RefusedEdit, "Too many different cell formats.");
    xfWithQuotePrefix_[key] = *index;
    xfWithQuotePrefix_[(std::uint32_t{*index} << 1) | (prefix ? 0u : 1u)] = xf;
    return *index;
}

const std::u16string& Workbook::FormulaText(std::uint32_t id) {
    auto& f = formulas_[id];
    if (!f.textValid) {
        try {
            f.text = f.expMember ? std::u16string() : formula::ToText(f.tokens, {f.row, f.col}, *this);
        } catch (const Error&) {
            f.text.clear();
        }
        f.textValid = true;
    }
    return f.text;
}

std::u16string Workbook::TextOf(const Cell& cell) {
    switch (cell.kind) {
    case CellKind::Blank: return {};
    case CellKind::Number:
        return IsDateXf(cell.xf) ? DateTimeText(cell.number, IsTimeXf(cell.xf)) : GeneralNumberText(cell.number);
    case CellKind::Text: return std::u16string(sst_.Text(cell.index));
    case CellKind::Boolean: return cell.small ? u"TRUE" : u"FALSE";
    case CellKind::Error:
        switch (cell.small) {
        case 0x00: return u"#NULL!";
        case 0x07: return u"#DIV/0!";
        case 0x0F: return u"#VALUE!";
        case 0x17: return u"#REF!";
        case 0x1D: return u"#NAME?";
        case 0x24: return u"#NUM!";
        default: return u"#N/A";
        }
    case CellKind::Formula: return FormulaText(cell.index);
    }
    return {};
}

std::uint64_t Workbook::SigOf(const Cell& cell) {
    switch (cell.kind) {
    case CellKind::Blank: return 0;
    case CellKind::Number: return kNumberSig;
    case CellKind::Text: return sst_.Sig(cell.index);
    case CellKind::Boolean: return kBoolSig;
    case CellKind::Error: return kErrorSig;
    case CellKind::Formula: return formulas_[cell.index].textValid ? CharSig(formulas_[cell.index].text) : kUnknownSig;
    }
    return kUnknownSig;
}

std::u16string Workbook::CellText(std::uint32_t row, std::uint16_t col) {
    const Cell* cell = CellAt(row, col);
    return cell ? TextOf(*cell) : std::u16string();
}

void Workbook::ClearFormula(const Cell& cell) {
    if (cell.kind == CellKind::Formula && cell.index < formulas_.size()) formulas_[cell.index].live = false;
}

std::uint32_t Workbook::AddFormula(formula::Tokens tokens, std::uint32_t row, std::uint16_t col) {
    const auto id = static_cast<std::uint32_t>(formulas_.size());
    formulas_.emplace_back();
    auto& f = formulas_.back();
    f.tokens = std::move(tokens);
    f.row = row;
    f.col = col;
    f.dirty = true;
    IndexFormula(id);
    return id;
}

void Workbook::IndexFormula(std::uint32_t id) {
    auto& f = formulas_[id];
    if (f.expMember) return;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> cols;
    try {
        formula::CollectReferencedColumns(f.tokens, editable_, *this, cols);
    } catch (const Error&) {
        return;
    }
    for (auto [sheet, c] : cols) {
        if (sheet != editable_ || c >= formula::kMaxCols) continue;
        if (std::find(f.columns.begin(), f.columns.end(), c) != f.columns.end()) continue;
        f.columns.push_back(c);
        formulasByColumn_[c].push_back(id);
    }
}

void Workbook::SetCell(std::uint32_t row, std::uint16_t col, const Content& content) {
    auto& column = columns_[col];
    auto& cells = column.cells;
    auto it =
        std::lower_bound(cells.begin(), cells.end(), row, [](const Cell& c, std::uint32_t r) { return c.row < r; });
    const bool exists = it != cells.end() && it->row == row;
    Cell cell;
    cell.row = row;
    if (exists) cell.xf = it->xf;
    // The prefix belongs to the entry made with the apostrophe: any other
    // entry clears it, as typing over a cell does in Excel (the prefix is
    // read-only there and follows what was typed last; that a Value put acts
    // like typing is the plausible reading, not a documented rule). Refused
    // (too many formats) before anything changes.
    cell.xf = XfWithQuotePrefix(cell.xf, content.kind == CellKind::Text && content.quotePrefix);
    if (exists) ClearFormula(*it);
    if (content.numberFormat) {
        const bool apply = content.onlyWhenNoDateFormat ? !IsDateXf(cell.xf) : NumberFormatOfXf(cell.xf) == 0;
        if (apply) cell.xf = XfWithFormat(cell.xf, content.numberFormat);
    }
    cell.kind = content.kind;
    switch (content.kind) {
    case CellKind::Blank: break;
    case CellKind::Number: cell.number = content.number; break;
    case CellKind::Text: cell.index = InternString(content.text); break;
    case CellKind::Boolean:
    case CellKind::Error: cell.small = content.small; break;
    case CellKind::Formula: cell.index = AddFormula(content.tokens, row, col); break;
    }
    if (content.kind == CellKind::Formula) FormulaText(cell.index);
    cell.sig = SigOf(cell);
    column.sigUnion |= cell.sig;
    column.NoteChanged(row);
    const Cell* stored = nullptr;
    if (content.kind == CellKind::Blank && cell.xf == defaultXf_) {
        if (exists) cells.erase(it);
    } else if (exists) {
        *it = cell;
        stored = &*it;
    } else {
        stored = &*cells.insert(it, cell);
    }
    NoteCellChanged(row, col, stored);
}

namespace {
// Longest text a cell holds (Excel's limit); a formula's text result beyond it
// is #VALUE! (formula/eval.cpp).
constexpr std::size_t kMaxCellText = 32767;
} // namespace

void Workbook::PutContent(std::uint32_t row, std::uint16_t col, const Content& content) {
    if (row > kLastRow || col >= formula::kMaxCols)
        throw Error(ErrorKind::RefusedEdit, "The cell lies outside the worksheet.");
    // Excel's limit on a cell's text. The file format counts characters in
    // 16 bits, so a longer text would be written with a wrong length and
    // corrupt the shared-string table; a quote value (an unshortened item or
    // memo field) is the usual way such a text arrives.
    if (content.kind == CellKind::Text && content.text.size() > kMaxCellText)
        throw Error(ErrorKind::RefusedEdit, "Text values in cells are limited to 32,767 characters.");
    for (const auto& a : arrays_)
        if (a.r1 <= row && row <= a.r2 && a.c1 <= col && col <= a.c2)
            throw Error(ErrorKind::RefusedEdit, "You can't change part of an array.");
    SetCell(row, col, content);
}

formula::Tokens Workbook::ParseFormula(std::u16string_view text) {
    try {
        return formula::Parse(text, *this);
    } catch (const Error&) {
        throw Error(ErrorKind::RefusedEdit, "There's a problem with this formula.");
    }
}

// ------------------------------------------------------------ find

namespace {

// Whether the text contains the folded needle, folding the text as it goes.
bool ContainsFolded(std::u16string_view text, std::u16string_view needle) {
    if (needle.size() > text.size()) return false;
    if (needle.empty()) return true;
    const char16_t first = needle.front();
    for (std::size_t at = 0; at + needle.size() <= text.size(); ++at) {
        if (FoldCase(text[at]) != first) continue;
        std::size_t k = 1;
        while (k < needle.size() && FoldCase(text[at + k]) == needle[k]) ++k;
        if (k == needle.size()) return true;
    }
    return false;
}

} // namespace

bool Workbook::Matches(const Cell& cell, std::uint16_t col, const FindEntry& entry) {
    if ((cell.sig & entry.sig) != entry.sig) return false;
    switch (cell.kind) {
    case CellKind::Text: return ContainsFolded(sst_.Text(cell.index), entry.needle);
    case CellKind::Formula: {
        const std::u16string& text = FormulaText(cell.index);
        // Now that the text is known, keep a precise signature for next time.
        if (Cell* stored = FindCell(col, cell.row)) stored->sig = CharSig(text);
        return ContainsFolded(text, entry.needle);
    }
    default: return ContainsFolded(TextOf(cell), entry.needle);
    }
}

namespace {
constexpr std::size_t kFindCacheSize = 8;
constexpr std::size_t kMaxCachedHits = 4096;
} // namespace

Workbook::FindEntry* Workbook::LookupNeedle(std::u16string_view what) {
    ++findClock_;
    // The writers search for the same few placeholders again and again:
    // compare folded in place rather than folding a copy per call.
    // A writer asks for the same placeholder line after line: the entry found
    // last is tried first. Placeholders share their beginnings ("&DI_..."),
    // so compare from the end.
    const auto same = [&](const FindEntry& e) {
        if (e.needle.size() != what.size()) return false;
        std::size_t k = what.size();
        while (k > 0 && FoldCase(what[k - 1]) == e.needle[k - 1]) --k;
        return k == 0;
    };
    if (lastFound_ < findCache_.size() && same(findCache_[lastFound_])) {
        findCache_[lastFound_].lastUse = findClock_;
        return &findCache_[lastFound_];
    }
    for (std::size_t i = 0; i < findCache_.size(); ++i) {
        if (same(findCache_[i])) {
            findCache_[i].lastUse = findClock_;
            lastFound_ = i;
            return &findCache_[i];
        }
    }
    FindEntry entry;
    entry.needle = Fold(what);
    entry.sig = CharSig(entry.needle);
    entry.lastUse = findClock_;
    for (std::uint16_t c = 0; c < formula::kMaxCols; ++c) {
        auto& column = columns_[c];
        if ((column.sigUnion & entry.sig) != entry.sig) continue;
        for (std::size_t i = 0; i < column.cells.size(); ++i) {
            // The character-set test inline: a new placeholder is looked for
            // in every cell of the sheet, and almost all fail here.
            const Cell& cell = column.cells[i];
            if ((cell.sig & entry.sig) != entry.sig) continue;
            if (Matches(cell, c, entry)) entry.hits.emplace_back(cell.row, c);
        }
    }
    if (findCache_.size() >= kFindCacheSize) {
        auto oldest = std::min_element(findCache_.begin(), findCache_.end(),
                                       [](const FindEntry& a, const FindEntry& b) { return a.lastUse < b.lastUse; });
        findCache_.erase(oldest);
    }
    findCache_.push_back(std::move(entry));
    lastFound_ = findCache_.size() - 1;
    return &findCache_.back();
}

void Workbook::NoteCellChanged(std::uint32_t row, std::uint16_t col) {
    if (findCache_.empty()) return;
    NoteCellChanged(row, col, FindCell(col, row));
}

void Workbook::NoteCellChanged(std::uint32_t row, std::uint16_t col, const Cell* cell) {
    if (findCache_.empty()) return;
    for (std::size_t i = 0; i < findCache_.size();) {
        auto& e = findCache_[i];
        auto it = std::find(e.hits.begin(), e.hits.end(), std::make_pair(row, col));
        const bool match = cell && Matches(*cell, col, e);
        if (match && it == e.hits.end()) e.hits.emplace_back(row, col);
        if (!match && it != e.hits.end()) e.hits.erase(it);
        if (e.hits.size() > kMaxCachedHits) {
            findCache_.erase(findCache_.begin() + static_cast<std::ptrdiff_t>(i)); // too broad to keep
            continue;
        }
        ++i;
    }
}

std::optional<TrackedPos> Workbook::Find(std::u16string_view what) {
    // Excel finds an empty What in the first non-empty cell; the writers
    // never search for nothing, so an empty text finds nothing here.
    if (what.empty()) return std::nullopt;
    const FindEntry* e = LookupNeedle(what);
    // By rows from the cell after A1; A1 itself comes last.
    const auto key = [](std::pair<std::uint32_t, std::uint16_t> p) {
        return (p.first == 0 && p.second == 0) ? UINT64_MAX : (std::uint64_t{p.first} << 16) | p.second;
    };
    const std::pair<std::uint32_t, std::uint16_t>* best = nullptr;
    for (const auto& hit : e->hits)
        if (!best || key(hit) < key(*best)) best = &hit;
    if (!best) return std::nullopt;
    return TrackedPos{best->first, best->second};
}

// ------------------------------------------------------------ replace

namespace {
std::string CellAddress(std::uint32_t row, std::uint16_t col) {
    std::string letters;
    for (unsigned c = col + 1u; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return "$" + letters + "$" + std::to_string(row + 1);
}
} // namespace

void Workbook::Replace(std::u16string_view what, std::u16string_view replacement) {
    if (what.empty()) return;
    const FindEntry* e = LookupNeedle(what);
    auto hits = e->hits; // puts below change the cache
    std::sort(hits.begin(), hits.end());
    const std::u16string needle = Fold(what);
    for (auto [row, col] : hits) {
        const Cell* cell = CellAt(row, col);
        if (!cell) continue;
        const std::u16string text = TextOf(*cell);
        const std::u16string folded = Fold(text);
        std::u16string result;
        std::size_t from = 0;
        for (std::size_t at = folded.find(needle); at != std::u16string::npos; at = folded.find(needle, from)) {
            result.append(text, from, at - from);
            result.append(replacement);
            from = at + needle.size();
        }
        result.append(text, from);
        if (result == text) continue;
        try {
            // The edited content is entered again as if typed, except in a
            // cell with the quote prefix: its text stays text, whatever it
            // reads now, and keeps the prefix.
            if (HasQuotePrefix(cell->xf)) {
                Content content;
                content.kind = result.empty() ? CellKind::Blank : CellKind::Text;
                content.text = result;
                content.quotePrefix = true;
                PutContent(row, col, content);
            } else {
                PutContent(row, col, ParseTypedInput(result, row, col));
            }
        } catch (const Error& e) {
            // A content that cannot be entered (an invalid formula) stops the
            // replacement there: a cell left as it was would keep its
            // placeholder without a word.
            throw Error(e.Kind(), std::string(e.what()) + " (cell " + CellAddress(row, col) + ")");
        }
    }
}

// ------------------------------------------------------------ insert

void Workbook::Track(TrackedPos& pos) {
    auto& list = tracked_[pos.col];
    pos.slot = list.size();
    list.push_back(&pos);
}

void Workbook::Untrack(TrackedPos& pos) {
    auto& list = tracked_[pos.col];
    if (pos.slot >= list.size() || list[pos.slot] != &pos) return;
    list[pos.slot] = list.back();
    list[pos.slot]->slot = pos.slot;
    list.pop_back();
}

formula::Tokens Workbook::SiteTokens(const FormulaSite& site) const {
    const auto& records = site.sheet == kNameSite ? globals_ : sheetRecords_[site.sheet];
    biff::RecordCursor cursor(std::span(records[site.record].data).subspan(site.rgceOffset));
    for (std::size_t r = site.record + 1;
         cursor.Remaining() < site.cce && r < records.size() && records[r].opcode == biff::op::kContinue; ++r)
        cursor.AddContinue(records[r].data);
    return biff::ReadFormula(cursor, std::min(site.cce, cursor.Remaining()), biff::FormulaTail::RestOfRecord);
}

void Workbook::ShiftFormulaSites(const formula::InsertShift& shift) {
    for (std::uint32_t s : sitesByColumn_[shift.col]) {
        const auto& site = sites_[s];
        std::optional<formula::Tokens> shifted;
        try {
            shifted = formula::ShiftForInsert(SiteTokens(site), site.sheet == kNameSite ? editable_ : site.sheet, shift,
                                              *this);
        } catch (const Error&) {
            continue;
        }
        // Shifting keeps every token's size; a record whose size would change
        // is left alone rather than breaking the offsets around it.
        if (!shifted || shifted->rgce.size() != site.cce) continue;
        auto& records = site.sheet == kNameSite ? globals_ : sheetRecords_[site.sheet];
        std::span<const std::uint8_t> rgce = shifted->rgce;
        for (std::size_t r = site.record, at = site.rgceOffset; !rgce.empty() && r < records.size(); ++r, at = 0) {
            auto& data = records[r].data;
            const std::size_t n = std::min(rgce.size(), data.size() - std::min(at, data.size()));
            std::copy_n(rgce.begin(), n, data.begin() + static_cast<std::ptrdiff_t>(at));
            rgce = rgce.subspan(n);
        }
    }
}

void Workbook::InsertShiftDown(std::uint32_t row, std::uint16_t col) {
    if (row > kLastRow || col >= formula::kMaxCols)
        throw Error(ErrorKind::RefusedEdit, "The cell lies outside the worksheet.");
    for (const auto& m : merges_) {
        if (m.c1 <= col && col <= m.c2 && m.r2 >= row && (m.c1 != col || m.c2 != col))
            throw Error(ErrorKind::RefusedEdit, "This operation will cause some merged cells to unmerge.");
    }
    for (const auto& a : arrays_) {
        if (a.c1 <= col && col <= a.c2 && a.r2 >= row)
            throw Error(ErrorKind::RefusedEdit, "You can't change part of an array.");
    }
    if (keeper_) keeper_->CheckInsert(*this, row, col);
    auto& column = columns_[col];
    auto& cells = column.cells;
    if (!cells.empty() && cells.back().row == kLastRow)
        throw Error(
            ErrorKind::RefusedEdit,
            "Microsoft Excel can't insert new cells because it would push non-empty cells off the end of the "
            "worksheet. These non-empty cells might appear empty but have blank values, some formatting, or a "
            "formula. Delete enough rows or columns to make room for what you want to insert and then try again.");

    auto it =
        std::lower_bound(cells.begin(), cells.end(), row, [](const Cell& c, std::uint32_t r) { return c.row < r; });
    for (auto moved = it; moved != cells.end(); ++moved) {
        ++moved->row;
        if (moved->kind == CellKind::Formula) ++formulas_[moved->index].row;
    }
    // The new cell takes the format of the cell above it.
    if (row > 0 && it != cells.begin()) {
        const auto above = std::prev(it);
        if (above->row == row - 1 && above->xf != defaultXf_) {
            Cell blank;
            blank.row = row;
            blank.xf = above->xf;
            cells.insert(it, blank);
        }
    }
    column.NoteChanged(row);
    for (auto& e : findCache_) {
        for (auto& hit : e.hits)
            if (hit.second == col && hit.first >= row) ++hit.first;
    }

    for (auto& m : merges_) {
        if (m.c1 != col || m.c2 != col) continue;
        if (m.r1 >= row)
            ++m.r1, ++m.r2;
        else if (m.r2 >= row)
            ++m.r2;
    }
    const formula::InsertShift shift{editable_, row, col, 1};
    ShiftRangeRecords(suffix_, shift, *this);
    auto& ids = formulasByColumn_[col];
    std::erase_if(ids, [&](std::uint32_t id) { return !formulas_[id].live; });
    for (std::uint32_t id : ids) {
        auto& f = formulas_[id];
        std::optional<formula::Tokens> shifted;
        try {
            shifted = formula::ShiftForInsert(f.tokens, editable_, shift, *this);
        } catch (const Error&) {
            continue;
        }
        if (!shifted) continue;
        f.tokens = std::move(*shifted);
        f.dirty = true;
        f.textValid = false;
        if (Cell* cell = FindCell(f.col, f.row)) {
            cell->sig = kUnknownSig;
            columns_[f.col].sigUnion = kUnknownSig;
            NoteCellChanged(f.row, f.col);
        }
    }
    ShiftFormulaSites(shift);
    if (keeper_) keeper_->Inserted(*this, shift);

    for (TrackedPos* p : tracked_[col])
        if (p->row >= row && p->row < kLastRow) ++p->row;
}

} // namespace vi2zezir::workbook
