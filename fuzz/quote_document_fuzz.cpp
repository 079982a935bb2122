// libFuzzer target for the quote-document loader: any input either parses or
// throws Failure; what parses is served by the stand-in quoting application
// and every value it serves converts to text.
#include "standin/quote_document.h"

#include <cstdint>
#include <string_view>

#include "servers/failure.h"
#include "servers/value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vi2zezir;
    standin::QuoteDocument document;
    try {
        document = standin::ParseQuoteDocument({reinterpret_cast<const char*>(data), size}, "fuzz.json");
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
