// The Tendrix stand-in: a quote document (JSON) served as a QuoteSource, for
// every build but the real Windows one.
//
// Format: {"VersionMajor": "4" | 4 | null, "Header": {field: value},
//          "Items": [{field: value, "LineType": 2}], "Macros": {"&APP_…": value}}
// A value is a string, a number (an integer that fits 32 bits is a 32-bit
// integer, else a double), a boolean, null, {"date": "YYYY-MM-DD[Thh:mm:ss]"}
// or {"currency": "1234.5000"}.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "servers/failure.h"
#include "servers/quote_source.h"
#include "servers/value.h"

namespace vi2zezir::standin {

struct QuoteDocument {
    using Fields = std::map<std::u16string, Value, std::less<>>;
    Value versionMajor{Null{}};
    Fields header;
    std::vector<Fields> items;
    Fields macros;
};

// Limits on an untrusted document, each failing with a clear description.
inline constexpr std::uintmax_t kMaxDocumentBytes = 64u * 1024 * 1024;
inline constexpr std::size_t kMaxNesting = 32;

// Throws Failure (440) naming the source, the line and column or the key.
QuoteDocument ParseQuoteDocument(std::string_view json, const std::string& sourceName);
QuoteDocument LoadQuoteDocument(const std::filesystem::path& path);

// A quoting application serving the document. A document that failed to
// load makes every request fail with that failure: the server runs, but
// cannot answer.
std::shared_ptr<quote::Application> MakeQuoteApplication(std::shared_ptr<const QuoteDocument> document);
std::shared_ptr<quote::Application> MakeFailingQuoteApplication(Failure failure);

// The environment variable that names the document.
inline constexpr char kDocumentVariable[] = "TENDRIX_DOCUMENT";

} // namespace vi2zezir::standin
