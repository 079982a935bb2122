#include "standin/quote_document.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

#include <nlohmann/json.hpp>

#include "servers/failure.h"
#include "text/utf.h"

namespace vi2zezir::standin {
namespace {

using Json = nlohmann::json;

[[noreturn]] void Fail(const std::string& source, const std::string& what) {
    throw Failure(kAutomationError, text::FromUtf8("quote document '" + source + "': " + what), "Tendrix stand-in");
}

// The deepest nesting of arrays and objects in a JSON text, counted up to
// one past kMaxNesting. A linear scan before the parse: a parse callback
// could count too, but nlohmann's callback parser searches the parent
// container for discarded values at the end of every element, which makes a
// long Items array quadratic (32,768 lines took minutes).
std::size_t NestingDepth(std::string_view text) {
    std::size_t depth = 0, deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size() && deepest <= kMaxNesting; ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
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

Value ToValue(const Json& json, const std::string& source, const std::string& key) {
    switch (json.type()) {
    case Json::value_t::null: return Value(Null{});
    case Json::value_t::boolean: return Value(json.get<bool>());
    case Json::value_t::string: return Value(text::FromUtf8(json.get_ref<const std::string&>()));
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
        if (json.is_number_unsigned()) {
            const auto u = json.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
                return Value(static_cast<std::int32_t>(u));
            return Value(static_cast<double>(u));
        }
        const auto i = json.get<std::int64_t>();
        if (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max())
            return Value(static_cast<std::int32_t>(i));
        return Value(static_cast<double>(i));
    }
    case Json::value_t::number_float: return Value(json.get<double>());
    case Json::value_t::object:
        if (json.size() == 1 && json.contains("date") && json["date"].is_string()) {
            Date date;
            if (!ParseDate(json["date"].get_ref<const std::string&>(), date))
                Fail(source, key + ": \"" + json["date"].get<std::string>() +
                                 "\" is not a date (YYYY-MM-DD or YYYY-MM-DDThh:mm:ss)");
            return Value(date);
        }
        if (json.size() == 1 && json.contains("currency") && json["currency"].is_string()) {
            Currency currency;
            if (!ParseCurrency(json["currency"].get_ref<const std::string&>(), currency))
                Fail(source, key + ": \"" + json["currency"].get<std::string>() +
                                 "\" is not a currency amount (at most four decimals)");
            return Value(currency);
        }
        Fail(source, key + ": an object is a value only as {\"date\": ...} or {\"currency\": ...}");
    default: Fail(source, key + ": a " + std::string(json.type_name()) + " is not a value");
    }
}

QuoteDocument::Fields ToFields(const Json& json, const std::string& source, const std::string& key) {
    if (!json.is_object()) Fail(source, key + ": must be an object of field names and values");
    QuoteDocument::Fields fields;
    for (const auto& [name, value] : json.items())
        fields.emplace(text::FromUtf8(name), ToValue(value, source, key + "." + name));
    return fields;
}

} // namespace

QuoteDocument ParseQuoteDocument(std::string_view jsonText, const std::string& source) {
    // Nesting is bounded so that a hostile document cannot exhaust the stack
    // of whatever walks the parsed tree.
    if (NestingDepth(jsonText) > kMaxNesting)
        Fail(source, "nested deeper than " + std::to_string(kMaxNesting) + " levels");
    Json json;
    try {
        json = Json::parse(jsonText);
    } catch (const Json::exception& e) {
        // Not only parse_error: a number beyond a double's range ("1E400")
        // throws out_of_range, which would otherwise end the program.
        std::string what = e.what();
        if (const std::size_t at = what.find("parse error"); at != std::string::npos)
            what = what.substr(at);
        else if (const std::size_t tag = what.find("] "); what.starts_with("[json.") && tag != std::string::npos)
            what = what.substr(tag + 2);
        Fail(source, what);
    }

    if (!json.is_object()) Fail(source, "the document must be a JSON object");
    QuoteDocument document;
    for (const auto& [key, value] : json.items()) {
        if (key == "VersionMajor") {
            if (!(value.is_string() || value.is_number() || value.is_null()))
                Fail(source, "VersionMajor: must be a string, a number or null");
            document.versionMajor = ToValue(value, source, key);
        } else if (key == "Header") {
            document.header = ToFields(value, source, key);
        } else if (key == "Macros") {
            document.macros = ToFields(value, source, key);
        } else if (key == "Items") {
            if (!value.is_array()) Fail(source, "Items: must be an array of line objects");
            document.items.reserve(value.size());
            for (std::size_t i = 0; i < value.size(); ++i) {
                const std::string itemKey = "Items[" + std::to_string(i) + "]";
                QuoteDocument::Fields fields = ToFields(value[i], source, itemKey);
                auto lineType = fields.find(std::u16string_view(u"LineType"));
                if (lineType != fields.end()) {
                    const Value::Kind kind = lineType->second.GetKind();
                    if (kind != Value::Kind::Int32 && kind != Value::Kind::Double)
                        Fail(source, itemKey + ".LineType: must be a number");
                }
                document.items.push_back(std::move(fields));
            }
        } else {
            Fail(source, "unknown key \"" + key + "\" (expected VersionMajor, Header, Items, Macros)");
        }
    }
    return document;
}

QuoteDocument LoadQuoteDocument(const std::filesystem::path& path) {
    const std::string source = path.string();
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) Fail(source, "cannot be read: " + ec.message());
    if (size > kMaxDocumentBytes)
        Fail(source, "is " + std::to_string(size) + " bytes; a quote document may have at most " +
                         std::to_string(kMaxDocumentBytes) + " bytes");
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(source, "cannot be opened");
    std::string content(static_cast<std::size_t>(size), '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) Fail(source, "could not be read whole");
    return ParseQuoteDocument(content, source);
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
            throw Failure(kSubscriptOutOfRange,
                          u"Subscript out of range: no line " + text::FromUtf8(std::to_string(lineIndex)),
                          "LineItemGetValue");
        static const Value kEmptyText{std::u16string()};
        static const Value kOrdinaryLine{std::int32_t{0}};
        return FieldOr(doc_->items[static_cast<std::size_t>(lineIndex)], fieldName,
                       fieldName == u"LineType" ? kOrdinaryLine : kEmptyText);
    }

private:
    std::shared_ptr<const QuoteDocument> doc_;
};

class DocumentApplication final : public quote::Application {
public:
    explicit DocumentApplication(std::shared_ptr<const QuoteDocument> doc) : doc_(std::move(doc)) {}
    Value VersionMajor() override { return doc_->versionMajor; }
    std::shared_ptr<quote::DocFunctions> DocFunctions() override {
        return std::make_shared<DocumentDocFunctions>(doc_);
    }
    std::shared_ptr<quote::ItemFunctions> ItemFunctions() override {
        return std::make_shared<DocumentItemFunctions>(doc_);
    }
    Value GetMacro(std::u16string& placeholder) override {
        static const Value kEmptyText{std::u16string()};
        return FieldOr(doc_->macros, placeholder, kEmptyText);
    }

private:
    std::shared_ptr<const QuoteDocument> doc_;
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
