#include "platform/posix/object_services.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/failure.h"
#include "base/utf.h"
#include "standin/quote_document.h"
#include "text/case.h"

namespace vi2zezir::posix {
namespace {

[[noreturn]] void CannotCreate(const std::u16string& className) {
    throw Failure(kCannotCreateObject, StandardDescription(kCannotCreateObject) + u": " + className, "ObjectServices");
}

// Class names are compared without regard to case, as the registry does.
bool SameClass(const std::u16string& a, const char16_t* b) { return text::LowerCase(a) == text::LowerCase(b); }

} // namespace

std::shared_ptr<quote::Application> PortableObjectServices::GetObject(const std::u16string& className) {
    if (!SameClass(className, kQuotingAppClass)) CannotCreate(className);
    // The stand-in runs while its document can be read. Like a running
    // Tendrix it is one server: the first attach that finds the document
    // starts it, it reads the document then and only then, and every later
    // attach gets that same instance.
    const char* documentPath = std::getenv(standin::kDocumentVariable);
    if (!documentPath || !*documentPath) CannotCreate(className);
    if (tendrix_ && tendrixDocument_ == documentPath) return tendrix_;
    const std::filesystem::path path(documentPath);
    std::ifstream document(path, std::ios::binary);
    if (!document || std::filesystem::is_directory(path)) CannotCreate(className);
    try {
        tendrix_ = standin::MakeQuoteApplication(
            std::make_shared<const standin::QuoteDocument>(standin::ReadQuoteDocument(document, path)));
    } catch (const Failure& failure) {
        // A broken document is a server that runs but cannot answer: every
        // request reports why, so it is never mistaken for "not running".
        tendrix_ = standin::MakeFailingQuoteApplication(failure);
    }
    tendrixDocument_ = documentPath;
    return tendrix_;
}

std::shared_ptr<sheet::Application> PortableObjectServices::CreateObject(const std::u16string& className) {
    if (!SameClass(className, kSpreadsheetAppClass)) CannotCreate(className);
    return workbook::CreateApplication(engineOptions_);
}

} // namespace vi2zezir::posix
