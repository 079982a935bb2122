#include "standin/quote_document.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <fstream>
#include <limits>
#include <memory>

#include <nlohmann/json.hpp>

#include "base/failure.h"
#include "base/utf.h"
#include "standin/json_scanner.h"

namespace vi2zezir::standin {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string& source, const std::string& what) {
    throw Failure(kAutomationError, text::FromUtf8("quote document '" + source + "': " + what), "Tendrix stand-in");
}

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool ReadNumber(std::string_view text, std::size_t at, std::size_t len, int& out) {
    if (at + len > text.size()) return false;
    for (std::size_t i = at; i < at + len; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return std::from_chars(text.data() + at, text.data() + at + len, out).ec == std::errc();
}

// "YYYY-MM-DD" or "YYYY-MM-DDThh:mm:ss" to an automation date.
bool ParseDate(std::string_view text, Date& date) {
    int y, m, d, hh = 0, mm = 0, ss = 0;
    if (!(ReadNumber(text, 0, 4, y) && text.size() >= 10 && text[4] == '-' && ReadNumber(text, 5, 2, m) &&
          text[7] == '-' && ReadNumber(text, 8, 2, d)))
        return false;
    if (text.size() != 10) {
        if (!(text.size() == 19 && text[10] == 'T' && ReadNumber(text, 11, 2, hh) && text[13] == ':' &&
              ReadNumber(text, 14, 2, mm) && text[16] == ':' && ReadNumber(text, 17, 2, ss)))
            return false;
    }
    static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (y < 100 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1] || (m == 2 && d == 29 && !leap) || hh > 23 || mm > 59 ||
        ss > 59)
        return false;
    const long long days = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) + 25569;
    date.serial = static_cast<double>(days) + (hh * 3600 + mm * 60 + ss) / 86400.0;
    return true;
}

// "1234.5" to currency without going through a double, so no cent is lost.
bool ParseCurrency(std::string_view text, Currency& currency) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) ++i;
    std::int64_t whole = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        if (whole > (std::numeric_limits<std::int64_t>::max() / 10000 - 9) / 10) return false;
        whole = whole * 10 + (text[i] - '0');
    }
    std::int64_t fraction = 0;
    std::size_t decimals = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++decimals) {
            if (decimals >= 4) return false; // currency holds four decimals
            fraction = fraction * 10 + (text[i] - '0');
        }
    }
    if (i != text.size() || (digits == 0 && decimals == 0)) return false;
    while (decimals++ < 4) fraction *= 10;
    currency.scaled = (whole * 10000 + fraction) * (negative ? -1 : 1);
    return true;
}

// A value as it is stored: its kind and its bits (see LineItems::Column),
// with a text still in the document's bytes.
// The kind of a cell whose line does not give the field: no JSON value is Empty.
constexpr std::uint8_t kAbsent = static_cast<std::uint8_t>(Value::Kind::Empty);

struct Cell {
    Value::Kind kind = Value::Kind::Null;
    std::uint64_t bits = 0;
    std::string_view text;
};

Cell NumberCell(std::int64_t i) {
    if (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max())
        return {Value::Kind::Int32, static_cast<std::uint32_t>(i), {}};
    return {Value::Kind::Double, std::bit_cast<std::uint64_t>(static_cast<double>(i)), {}};
}

Value ToValue(Value::Kind kind, std::uint64_t bits, std::string_view text) {
    switch (kind) {
    case Value::Kind::Boolean: return Value(bits != 0);
    case Value::Kind::Int32: return Value(static_cast<std::int32_t>(static_cast<std::uint32_t>(bits)));
    case Value::Kind::Double: return Value(std::bit_cast<double>(bits));
    case Value::Kind::Currency: return Value(Currency{static_cast<std::int64_t>(bits)});
    case Value::Kind::Date: return Value(Date{std::bit_cast<double>(bits)});
    case Value::Kind::Text: return Value(text::FromUtf8(text));
    default: return Value(Null{});
    }
}

Value ToValue(const Cell& cell) { return ToValue(cell.kind, cell.bits, cell.text); }

} // namespace

std::optional<std::size_t> LineItems::FieldIndex(std::u16string_view name) const {
    const auto it = index_.find(name);
    if (it == index_.end()) return std::nullopt;
    return it->second;
}

std::optional<Value> LineItems::Get(std::size_t line, std::size_t field) const {
    const std::vector<Block>& blocks = columns_[field].blocks;
    const std::size_t b = line / kBlockLines, at = line % kBlockLines;
    if (b >= blocks.size() || blocks[b].kinds.empty() || blocks[b].kinds[at] == kAbsent) return std::nullopt;
    const auto kind = static_cast<Value::Kind>(blocks[b].kinds[at]);
    const std::uint64_t bits = blocks[b].bits[at];
    std::string_view text;
    if (kind == Value::Kind::Text) text = std::string_view(texts_).substr(bits >> 32, bits & 0xFFFFFFFFu);
    return ToValue(kind, bits, text);
}

// Builds the document from the events of a streaming parse: no tree of the
// whole text is built, and the lines go straight into their columns. A
// value of the wrong form is noted, the first one kept, and reported once
// the parse is through, so that a text that is no JSON at all is reported as
// such, as a parse of the whole text before looking at it would.
class DocumentReader final : public nlohmann::json_sax<Json> {
public:
    // `size`: the document's length, which no text in it can exceed.
    DocumentReader(QuoteDocument& document, std::size_t size)
        : document_(document), items_(document.items), size_(size) {
        // The texts' pool is given room for the worst case at once: pages
        // it never writes cost no memory, and it is never copied to grow.
        items_.texts_.reserve(size_);
    }

    // The reason the document is refused, if it is.
    std::optional<std::string> Refusal() const {
        if (syntaxError_) return syntaxError_;
        if (tooDeep_) return "nested deeper than " + std::to_string(kMaxNesting) + " levels";
        return formError_;
    }

    bool null() override { return OnScalar({Value::Kind::Null, 0, {}}); }
    bool boolean(bool b) override { return OnScalar({Value::Kind::Boolean, b ? 1u : 0u, {}}); }
    bool number_integer(number_integer_t i) override { return OnScalar(NumberCell(i)); }
    bool number_unsigned(number_unsigned_t u) override {
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            return OnScalar({Value::Kind::Int32, u, {}});
        return OnScalar({Value::Kind::Double, std::bit_cast<std::uint64_t>(static_cast<double>(u)), {}});
    }
    bool number_float(number_float_t d, const string_t&) override {
        return OnScalar({Value::Kind::Double, std::bit_cast<std::uint64_t>(d), {}});
    }
    bool string(string_t& s) override { return OnScalar({Value::Kind::Text, 0, s}); }
    bool binary(binary_t&) override { return true; } // JSON text has none

    bool start_object(std::size_t) override { return OnStart(true); }
    bool start_array(std::size_t) override { return OnStart(false); }
    bool end_object() override { return OnEnd(); }
    bool end_array() override { return OnEnd(); }

    bool key(string_t& k) override {
        if (open_.empty()) return true;
        switch (open_.back()) {
        case Context::Document: section_ = SectionOf(k); break;
        case Context::Fields: key_ = k; break;
        case Context::Line: key_ = k, column_ = ColumnOf(k); break;
        case Context::ValueObject: memberKey_ = k; break;
        default: break;
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
        // Not only parse errors: a number beyond a double's range ("1E400")
        // is an out_of_range error. The message without nlohmann's tag.
        std::string what = e.what();
        if (const std::size_t at = what.find("parse error"); at != std::string::npos)
            what = what.substr(at);
        else if (const std::size_t tag = what.find("] "); what.starts_with("[json.") && tag != std::string::npos)
            what = what.substr(tag + 2);
        syntaxError_ = what;
        return false;
    }

    void Finish() { items_.lineCount_ = lines_; }

private:
    enum class Context : std::uint8_t { Document, Fields, Items, Line, ValueObject, Skipped };
    static constexpr std::size_t kNoColumn = std::numeric_limits<std::size_t>::max();
    enum class Section : std::uint8_t { VersionMajor, Header, Items, Macros, Unknown };

    Section SectionOf(const std::string& k) {
        if (k == "VersionMajor") return Section::VersionMajor;
        if (k == "Header") return Section::Header;
        if (k == "Items") return Section::Items;
        if (k == "Macros") return Section::Macros;
        Refuse("unknown key \"" + k + "\" (expected VersionMajor, Header, Items, Macros)");
        return Section::Unknown;
    }

    void Refuse(std::string what) {
        if (!formError_) formError_ = std::move(what);
    }

    std::string LinePath(std::size_t line) const { return "Items[" + std::to_string(line) + "]"; }
    // Where the value being read stands, for messages: "Header.DocNo", "Items[3].Description".
    std::string ValuePath() const {
        const bool inLine = std::find(open_.rbegin(), open_.rend(), Context::Line) != open_.rend();
        return (inLine ? LinePath(line_) : std::string(fieldsName_)) + "." + key_;
    }

    bool OnScalar(const Cell& cell) {
        if (open_.empty()) {
            Refuse("the document must be a JSON object");
            return true;
        }
        switch (open_.back()) {
        case Context::Document: SectionScalar(cell); break;
        case Context::Fields: fields_->insert_or_assign(text::FromUtf8(key_), ToValue(cell)); break;
        case Context::Items: Refuse(LinePath(lines_++) + ": must be an object of field names and values"); break;
        case Context::Line: Store(cell); break;
        case Context::ValueObject: AddMember(cell.kind == Value::Kind::Text, cell.text); break;
        case Context::Skipped: break;
        }
        return true;
    }

    void SectionScalar(const Cell& cell) {
        switch (section_) {
        case Section::VersionMajor:
            if (cell.kind == Value::Kind::Boolean)
                Refuse("VersionMajor: must be a string, a number or null");
            else
                document_.versionMajor = ToValue(cell);
            break;
        case Section::Header: Refuse("Header: must be an object of field names and values"); break;
        case Section::Macros: Refuse("Macros: must be an object of field names and values"); break;
        case Section::Items: Refuse("Items: must be an array of line objects"); break;
        case Section::Unknown: break;
        }
    }

    bool OnStart(bool object) {
        // Nesting is bounded so that a hostile document cannot exhaust the
        // stack of whatever walks it.
        if (open_.size() >= kMaxNesting) {
            tooDeep_ = true;
            return false;
        }
        Context next = Context::Skipped;
        if (open_.empty()) {
            if (object)
                next = Context::Document;
            else
                Refuse("the document must be a JSON object");
        } else {
            switch (open_.back()) {
            case Context::Document: next = SectionStart(object); break;
            case Context::Fields:
            case Context::Line:
                if (object) {
                    members_.clear();
                    next = Context::ValueObject;
                } else {
                    Refuse(ValuePath() + ": a array is not a value");
                }
                break;
            case Context::Items:
                if (object) {
                    line_ = lines_++;
                    lineTypeSeen_ = false;
                    keyOrder_ = 0;
                    next = Context::Line;
                } else {
                    Refuse(LinePath(lines_++) + ": must be an object of field names and values");
                }
                break;
            case Context::ValueObject: AddMember(false, {}); break;
            case Context::Skipped: break;
            }
        }
        open_.push_back(next);
        return true;
    }

    Context SectionStart(bool object) {
        switch (section_) {
        case Section::VersionMajor: Refuse("VersionMajor: must be a string, a number or null"); break;
        case Section::Header:
        case Section::Macros:
            if (!object) {
                Refuse(std::string(section_ == Section::Header ? "Header" : "Macros") +
                       ": must be an object of field names and values");
                break;
            }
            // A section given twice keeps the last.
            fields_ = section_ == Section::Header ? &document_.header : &document_.macros;
            fieldsName_ = section_ == Section::Header ? "Header" : "Macros";
            fields_->clear();
            return Context::Fields;
        case Section::Items:
            if (object) {
                Refuse("Items: must be an array of line objects");
                break;
            }
            items_ = LineItems();
            items_.texts_.reserve(size_);
            byKey_.clear();
            keys_.clear();
            order_.clear();
            lines_ = 0;
            lineTypeColumn_ = kNoColumn;
            return Context::Items;
        case Section::Unknown: break;
        }
        return Context::Skipped;
    }

    bool OnEnd() {
        const Context closed = open_.back();
        open_.pop_back();
        if (closed == Context::ValueObject) {
            if (const auto cell = MemberValue()) {
                if (open_.back() == Context::Line)
                    Store(*cell);
                else
                    fields_->insert_or_assign(text::FromUtf8(key_), ToValue(*cell));
            }
        } else if (closed == Context::Line && lineTypeSeen_) {
            const LineItems::Block& block = items_.columns_[lineTypeColumn_].blocks[line_ / LineItems::kBlockLines];
            const auto kind = static_cast<Value::Kind>(block.kinds[line_ % LineItems::kBlockLines]);
            if (kind != Value::Kind::Int32 && kind != Value::Kind::Double)
                Refuse(LinePath(line_) + ".LineType: must be a number");
        }
        return true;
    }

    // The column of a line's field. Lines mostly give their fields in the
    // same order, so the field at the same place in the line before is
    // tried first.
    std::size_t ColumnOf(const std::string& k) {
        const std::size_t at = keyOrder_++;
        if (at < order_.size() && keys_[order_[at]] == k) return order_[at];
        auto [it, added] = byKey_.try_emplace(k, items_.columns_.size());
        if (added) {
            keys_.push_back(k);
            items_.names_.push_back(text::FromUtf8(k));
            items_.index_.emplace(items_.names_.back(), it->second);
            items_.columns_.emplace_back();
            if (k == "LineType") lineTypeColumn_ = it->second;
        }
        if (at >= order_.size()) order_.resize(at + 1);
        order_[at] = it->second;
        return it->second;
    }

    void Store(const Cell& cell) {
        std::vector<LineItems::Block>& blocks = items_.columns_[column_].blocks;
        const std::size_t b = line_ / LineItems::kBlockLines, at = line_ % LineItems::kBlockLines;
        if (blocks.size() <= b) blocks.resize(b + 1);
        if (blocks[b].kinds.empty()) {
            blocks[b].kinds.assign(LineItems::kBlockLines, kAbsent);
            blocks[b].bits.resize(LineItems::kBlockLines);
        }
        std::uint64_t bits = cell.bits;
        if (cell.kind == Value::Kind::Text) {
            bits = (std::uint64_t{items_.texts_.size()} << 32) | cell.text.size();
            items_.texts_.append(cell.text);
        }
        blocks[b].kinds[at] = static_cast<std::uint8_t>(cell.kind);
        blocks[b].bits[at] = bits;
        if (column_ == lineTypeColumn_) lineTypeSeen_ = true;
    }

    // A member of {"date": ...} or {"currency": ...}; a key given twice keeps its last value.
    void AddMember(bool isText, std::string_view text) {
        auto it = std::find_if(members_.begin(), members_.end(), [&](const auto& m) { return m.key == memberKey_; });
        if (it == members_.end()) it = members_.insert(members_.end(), {memberKey_, false, {}});
        it->isText = isText;
        it->text.assign(text);
    }

    std::optional<Cell> MemberValue() {
        if (members_.size() == 1 && members_[0].isText && members_[0].key == "date") {
            Date date;
            if (ParseDate(members_[0].text, date))
                return Cell{Value::Kind::Date, std::bit_cast<std::uint64_t>(date.serial), {}};
            Refuse(ValuePath() + ": \"" + members_[0].text + "\" is not a date (YYYY-MM-DD or YYYY-MM-DDThh:mm:ss)");
            return std::nullopt;
        }
        if (members_.size() == 1 && members_[0].isText && members_[0].key == "currency") {
            Currency currency;
            if (ParseCurrency(members_[0].text, currency))
                return Cell{Value::Kind::Currency, static_cast<std::uint64_t>(currency.scaled), {}};
            Refuse(ValuePath() + ": \"" + members_[0].text + "\" is not a currency amount (at most four decimals)");
            return std::nullopt;
        }
        Refuse(ValuePath() + ": an object is a value only as {\"date\": ...} or {\"currency\": ...}");
        return std::nullopt;
    }

    struct Member {
        std::string key;
        bool isText = false;
        std::string text;
    };

    QuoteDocument& document_;
    LineItems& items_;
    std::size_t size_;
    std::vector<Context> open_;
    Section section_ = Section::Unknown;
    QuoteDocument::Fields* fields_ = nullptr;
    const char* fieldsName_ = "";
    std::string key_, memberKey_;
    std::vector<Member> members_;

    std::size_t lines_ = 0, line_ = 0, column_ = 0, keyOrder_ = 0;
    std::unordered_map<std::string, std::size_t> byKey_;
    std::vector<std::string> keys_;
    std::vector<std::size_t> order_;
    std::size_t lineTypeColumn_ = kNoColumn;
    bool lineTypeSeen_ = false;

    std::optional<std::string> syntaxError_, formError_;
    bool tooDeep_ = false;
};

namespace {

// The scanner reads the text; what it does not take is read again by
// nlohmann's parser, which names the place of a fault. `reread` runs that
// parse over the whole text.
template <typename Reread>
QuoteDocument Parse(JsonInput& input, std::size_t size, const std::string& source, Reread reread) {
    QuoteDocument document;
    auto reader = std::make_unique<DocumentReader>(document, size);
    bool parsed = true;
    switch (ScanJson(input, *reader)) {
    case ScanResult::Done: break;
    case ScanResult::Stopped: parsed = false; break;
    case ScanResult::GaveUp:
        if (input.CutShort()) Fail(source, "could not be read whole");
        document = QuoteDocument();
        reader = std::make_unique<DocumentReader>(document, size);
        parsed = reread(*reader);
        break;
    }
    if (const auto refusal = reader->Refusal()) Fail(source, *refusal);
    if (!parsed) Fail(source, "cannot be read");
    reader->Finish();
    return document;
}

} // namespace

QuoteDocument ParseQuoteDocument(std::string_view json, const std::string& source) {
    // Texts are found in the pool by 32-bit offsets.
    if (json.size() > std::numeric_limits<std::uint32_t>::max()) Fail(source, "is too large");
    JsonInput input(json);
    return Parse(input, json.size(), source,
                 [&](DocumentReader& reader) { return Json::sax_parse(json.begin(), json.end(), &reader); });
}

QuoteDocument ReadQuoteDocument(std::istream& in, const std::filesystem::path& path) {
    const std::string source = path.string();
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) Fail(source, "cannot be read: " + ec.message());
    if (size > kMaxDocumentBytes)
        Fail(source, "is " + std::to_string(size) + " bytes; a quote document may have at most " +
                         std::to_string(kMaxDocumentBytes) + " bytes");
    if (!in) Fail(source, "cannot be opened");
    JsonInput input(in, size);
    return Parse(input, static_cast<std::size_t>(size), source, [&](DocumentReader& reader) {
        in.clear();
        in.seekg(0);
        return Json::sax_parse(in, &reader);
    });
}

QuoteDocument LoadQuoteDocument(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ReadQuoteDocument(in, path);
}

namespace {

const Value& FieldOr(const QuoteDocument::Fields& fields, std::u16string_view name, const Value& fallback) {
    auto it = fields.find(name);
    return it == fields.end() ? fallback : it->second;
}

class DocumentDocFunctions final : public quote::DocFunctions {
public:
    explicit DocumentDocFunctions(std::shared_ptr<const QuoteDocument> doc) : doc_(std::move(doc)) {}
    Value GetDocumentHeaderValue(const std::u16string& fieldName) override {
        static const Value kEmptyText{std::u16string()};
        return FieldOr(doc_->header, fieldName, kEmptyText);
    }

private:
    std::shared_ptr<const QuoteDocument> doc_;
};

class DocumentItemFunctions final : public quote::ItemFunctions {
public:
    explicit DocumentItemFunctions(std::shared_ptr<const QuoteDocument> doc) : doc_(std::move(doc)) {}
    Value LineItemCount() override {
        // A count past the 32-bit range would be no real quote; clamp so the
        // caller's 16-bit check reports it as an overflow.
        const std::size_t n = doc_->items.size();
        return Value(static_cast<std::int32_t>(std::min<std::size_t>(n, std::numeric_limits<std::int32_t>::max())));
    }
    Value LineItemGetValue(std::int16_t& lineIndex, const std::u16string& fieldName) override {
        if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= doc_->items.size())
            throw Failure(
                kSubscriptOutOfRange,
                StandardDescription(kSubscriptOutOfRange) + u": no line " + text::FromUtf8(std::to_string(lineIndex)),
                "LineItemGetValue");
        if (const auto field = FieldIndex(fieldName))
            if (auto value = doc_->items.Get(static_cast<std::size_t>(lineIndex), *field)) return std::move(*value);
        return fieldName == u"LineType" ? Value(std::int32_t{0}) : Value(std::u16string());
    }

private:
    // The item writer asks for one field and "LineType", line after line:
    // the last two names asked for keep their columns, so most requests cost
    // a comparison rather than a hash.
    std::optional<std::size_t> FieldIndex(const std::u16string& name) {
        for (const Recent& recent : recent_)
            if (recent.name == name) return recent.field;
        Recent& replaced = recent_[next_];
        next_ = 1 - next_;
        replaced.name = name;
        replaced.field = doc_->items.FieldIndex(name);
        return replaced.field;
    }

    struct Recent {
        std::optional<std::u16string> name; // nullopt until asked
        std::optional<std::size_t> field;
    };

    std::shared_ptr<const QuoteDocument> doc_;
    std::array<Recent, 2> recent_;
    std::size_t next_ = 0;
};

// The writers ask for DocFunctions and ItemFunctions before every request;
// the server hands out the same two objects each time.
class DocumentApplication final : public quote::Application {
public:
    explicit DocumentApplication(std::shared_ptr<const QuoteDocument> doc)
        : doc_(doc),
          docFunctions_(std::make_shared<DocumentDocFunctions>(doc)),
          itemFunctions_(std::make_shared<DocumentItemFunctions>(doc)) {}
    Value VersionMajor() override { return doc_->versionMajor; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { return docFunctions_; }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { return itemFunctions_; }
    Value GetMacro(std::u16string& placeholder) override {
        static const Value kEmptyText{std::u16string()};
        return FieldOr(doc_->macros, placeholder, kEmptyText);
    }

private:
    std::shared_ptr<const QuoteDocument> doc_;
    std::shared_ptr<DocumentDocFunctions> docFunctions_;
    std::shared_ptr<DocumentItemFunctions> itemFunctions_;
};

class FailingApplication final : public quote::Application {
public:
    explicit FailingApplication(Failure failure) : failure_(std::move(failure)) {}
    Value VersionMajor() override { throw failure_; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override { throw failure_; }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override { throw failure_; }
    Value GetMacro(std::u16string&) override { throw failure_; }

private:
    Failure failure_;
};

} // namespace

std::shared_ptr<quote::Application> MakeQuoteApplication(std::shared_ptr<const QuoteDocument> document) {
    return std::make_shared<DocumentApplication>(std::move(document));
}

std::shared_ptr<quote::Application> MakeFailingQuoteApplication(Failure failure) {
    return std::make_shared<FailingApplication>(std::move(failure));
}

} // namespace vi2zezir::standin
