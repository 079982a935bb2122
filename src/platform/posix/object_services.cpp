#include "platform/posix/object_services.h"

#include <cstdlib>
#include <fstream>

#include "servers/failure.h"
#include "standin/quote_document.h"
#include "text/case.h"
#include "text/utf.h"

namespace vi2zezir::posix {
namespace {

[[noreturn]] void CannotCreate(const std::u16string& className) {
    throw Failure(kCannotCreateObject, u"ActiveX component can't create object: " + className, "ObjectServices");
}

// Class names are compared without regard to case, as the registry does.
bool SameClass(const std::u16string& a, const char16_t* b) { return text::LowerCase(a) == text::LowerCase(b); }

} // namespace

std::shared_ptr<quote::Application> PortableObjectServices::GetObject(const std::u16string& className) {
    if (!SameClass(className, kQuotingAppClass)) CannotCreate(className);
    // The stand-in "runs" while its document can be read; it is read anew on
    // every attach, as a running Tendrix would serve the quote open now.
    const char* documentPath = std::getenv(standin::kDocumentVariable);
    if (!documentPath || !*documentPath) CannotCreate(className);
    const std::filesystem::path path(documentPath);
    if (!std::ifstream(path, std::ios::binary) || std::filesystem::is_directory(path)) CannotCreate(className);
    try {
        return standin::MakeQuoteApplication(
            std::make_shared<const standin::QuoteDocument>(standin::LoadQuoteDocument(path)));
    } catch (const Failure& failure) {
        // A broken document is a server that runs but cannot answer: every
        // request reports why, so it is never mistaken for "not running".
        return standin::MakeFailingQuoteApplication(failure);
    }
}

std::shared_ptr<sheet::Application> PortableObjectServices::CreateObject(const std::u16string& className) {
    if (!SameClass(className, kSpreadsheetAppClass)) CannotCreate(className);
    return workbook::CreateApplication(engineOptions_);
}

} // namespace vi2zezir::posix
