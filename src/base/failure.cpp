#include "base/failure.h"

#include "base/utf.h"

namespace vi2zezir {
namespace {

struct Standard {
    FailureCode code;
    const char16_t* description;
};

// The texts a late-bound caller knows these codes by.
constexpr Standard kStandardDescriptions[] = {
    {kInvalidProcedureCall, u"Invalid procedure call or argument"},
    {kOverflow, u"Overflow"},
    {kOutOfMemory, u"Out of memory"},
    {kSubscriptOutOfRange, u"Subscript out of range"},
    {kTypeMismatch, u"Type mismatch"},
    {kInternalError, u"Internal error"},
    {kObjectNotSet, u"Object variable or With block variable not set"},
    {kInvalidUseOfNull, u"Invalid use of Null"},
    {kObjectRequired, u"Object required"},
    {kCannotCreateObject, u"ActiveX component can't create object"},
    {kNoSuchMember, u"Object doesn't support this property or method"},
    {kAutomationError, u"Automation error"},
    {kArgumentNotOptional, u"Argument not optional"},
    {kWrongArgumentCount, u"Wrong number of arguments or invalid property assignment"},
    {kApplicationDefined, u"Application-defined or object-defined error"},
    {kCancelSelected, u"Cancel was selected."},
};

} // namespace

std::u16string StandardDescription(std::int32_t code) {
    for (const Standard& entry : kStandardDescriptions) {
        if (entry.code == code) return entry.description;
    }
    return {};
}

Failure::Failure(std::int32_t code, std::u16string description, std::string source)
    : code_(code), description_(std::move(description)), source_(std::move(source)) {
    what_ = text::ToUtf8(FailureText(*this));
}

Failure::Failure(FailureCode code, std::string source) : Failure(code, StandardDescription(code), std::move(source)) {}

std::u16string FailureText(const Failure& failure) {
    std::string code = std::to_string(failure.Code());
    return u"Error " + std::u16string(code.begin(), code.end()) + u": " + failure.Description();
}

} // namespace vi2zezir
