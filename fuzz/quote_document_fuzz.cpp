// libFuzzer target for the quote-document loader: any input either parses or
// throws Failure; what parses is served by the stand-in quoting application
// and every value it serves converts to text. The fast JSON scanner must read
// exactly what nlohmann's parser reads, whole or in pieces: where it does not
// give up, the events of the two are the same.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "base/failure.h"
#include "servers/value.h"
#include "standin/json_scanner.h"
#include "standin/quote_document.h"

namespace {

using namespace vi2zezir;

// Every event of a parse, written out, so that two readers can be compared.
class EventLog final : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return Add("null"); }
    bool boolean(bool b) override { return Add(b ? "true" : "false"); }
    bool number_integer(number_integer_t i) override { return Add("i" + std::to_string(i)); }
    bool number_unsigned(number_unsigned_t u) override { return Add("u" + std::to_string(u)); }
    bool number_float(number_float_t d, const string_t&) override {
        return Add("d" + std::to_string(std::bit_cast<std::uint64_t>(d)));
    }
    bool string(string_t& s) override { return Add("s" + std::to_string(s.size()) + ":" + s); }
    bool binary(binary_t&) override { return Add("binary"); }
    bool start_object(std::size_t) override { return Add("{"); }
    bool key(string_t& k) override { return Add("k" + std::to_string(k.size()) + ":" + k); }
    bool end_object() override { return Add("}"); }
    bool start_array(std::size_t) override { return Add("["); }
    bool end_array() override { return Add("]"); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

    std::string events;

private:
    bool Add(const std::string& event) {
        events += event;
        events += '\n';
        return true;
    }
};

void CheckScannerAgrees(std::string_view text) {
    EventLog whole, pieces, reference;
    standin::JsonInput wholeText(text);
    const standin::ScanResult scanned = standin::ScanJson(wholeText, whole);
    std::istringstream stream{std::string(text)};
    standin::JsonInput inPieces(stream, text.size(), 3);
    if (standin::ScanJson(inPieces, pieces) != scanned || pieces.events != whole.events) std::abort();
    if (scanned != standin::ScanResult::Done) return;
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &reference) || reference.events != whole.events)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckScannerAgrees(text);
    standin::QuoteDocument document;
    try {
        document = standin::ParseQuoteDocument(text, "fuzz.json");
    } catch (const Failure&) {
        return 0;
    }
    const auto shared = std::make_shared<const standin::QuoteDocument>(std::move(document));
    auto app = standin::MakeQuoteApplication(shared);
    const auto toText = [](const Value& v) {
        try {
            (void)ToText(v);
        } catch (const Failure&) { // a value with no text form fails as the real server's would
        }
    };
    toText(app->VersionMajor());
    for (const auto& [name, value] : shared->header) toText(app->DocFunctions()->GetDocumentHeaderValue(name));
    for (const auto& [name, value] : shared->macros) {
        std::u16string placeholder = name; // passed by reference, as the server declares it
        toText(app->GetMacro(placeholder));
    }
    const auto items = app->ItemFunctions();
    std::int32_t count = 0;
    try {
        count = items->LineItemCount().AsInt32();
    } catch (const Failure&) {}
    for (std::int32_t i = 0; i < count && i < 64; ++i) {
        auto line = static_cast<std::int16_t>(i);
        for (const std::u16string& name : shared->items.FieldNames()) toText(items->LineItemGetValue(line, name));
    }
    return 0;
}
