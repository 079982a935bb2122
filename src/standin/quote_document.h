// The Tendrix stand-in: a quote document (JSON) served as a QuoteSource, for
// every build but the real Windows one.
//
// Format: {"VersionMajor": "4" | 4 | null, "Header": {field: value},
//          "Items": [{field: value, "LineType": 2}], "Macros": {"&APP_…": value}}
// A value is a string, a number (an integer that fits 32 bits is a 32-bit
// integer, else a double), a boolean, null, {"date": "YYYY-MM-DD[Thh:mm:ss]"}
// or {"currency": "1234.5000"}. A key given twice keeps its last value, but
// every value must be valid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/failure.h"
#include "servers/quote_source.h"
#include "servers/value.h"

namespace vi2zezir::standin {

// The line items, stored by field: every field name a line gives is one
// column, and a column holds one cell per line, so a long quote is a few
// large arrays rather than a map per line. Texts stay UTF-8 in one pool and
// become UTF-16 when asked for.
class LineItems {
public:
    std::size_t size() const noexcept { return lineCount_; }
    bool empty() const noexcept { return lineCount_ == 0; }

    // The field names the lines give, by column.
    const std::vector<std::u16string>& FieldNames() const noexcept { return names_; }
    // The column of a field name, exact case; nullopt when no line gives it.
    std::optional<std::size_t> FieldIndex(std::u16string_view name) const;
    // The value a line gives for a field; nullopt when that line has none.
    std::optional<Value> Get(std::size_t line, std::size_t field) const;

private:
    friend class DocumentReader;

    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::u16string_view name) const noexcept {
            return std::hash<std::u16string_view>{}(name);
        }
    };
    // A column's cells in blocks of lines, made as lines arrive, so that a
    // long document grows without copying what it holds. Per cell: the kind
    // of its value (Value::Kind::Empty where the line gives none, which no
    // JSON value is) and the value's bits: the number, or the text's offset
    // in the pool and its length.
    static constexpr std::size_t kBlockLines = 4096;
    struct Block {
        std::vector<std::uint8_t> kinds; // empty until a line of the block gives the field
        std::vector<std::uint64_t> bits;
    };
    struct Column {
        std::vector<Block> blocks;
    };

    std::size_t lineCount_ = 0;
    std::vector<std::u16string> names_;
    std::unordered_map<std::u16string, std::size_t, NameHash, std::equal_to<>> index_;
    std::vector<Column> columns_;
    std::string texts_;
};

struct QuoteDocument {
    using Fields = std::map<std::u16string, Value, std::less<>>;
    Value versionMajor{Null{}};
    Fields header;
    LineItems items;
    Fields macros;
};

// Limits on an untrusted document, each failing with a clear description.
inline constexpr std::uintmax_t kMaxDocumentBytes = 64u * 1024 * 1024;
inline constexpr std::size_t kMaxNesting = 32;

// Throw Failure (440) naming the source, the line and column or the key.
QuoteDocument ParseQuoteDocument(std::string_view json, const std::string& sourceName);
QuoteDocument LoadQuoteDocument(const std::filesystem::path& path);
// The document at `path`, read piece by piece from `in`, a stream already
// open on it.
QuoteDocument ReadQuoteDocument(std::istream& in, const std::filesystem::path& path);

// A quoting application serving the document. A document that failed to
// load makes every request fail with that failure: the server runs, but
// cannot answer.
std::shared_ptr<quote::Application> MakeQuoteApplication(std::shared_ptr<const QuoteDocument> document);
std::shared_ptr<quote::Application> MakeFailingQuoteApplication(Failure failure);

// The environment variable that names the document.
inline constexpr char kDocumentVariable[] = "TENDRIX_DOCUMENT";

} // namespace vi2zezir::standin
