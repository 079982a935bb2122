#include "base/failure.h"

#include "base/utf.h"

namespace vi2zezir {

Failure::Failure(std::int32_t code, std::u16string description, std::string source)
    : code_(code), description_(std::move(description)), source_(std::move(source)) {
    what_ = text::ToUtf8(FailureText(*this));
}

std::u16string FailureText(const Failure& failure) {
    std::string code = std::to_string(failure.Code());
    return u"Error " + std::u16string(code.begin(), code.end()) + u": " + failure.Description();
}

void ThrowOverflow(std::string source) { throw Failure(kOverflow, u"Overflow", std::move(source)); }

void ThrowInvalidUseOfNull(std::string source) {
    throw Failure(kInvalidUseOfNull, u"Invalid use of Null", std::move(source));
}

void ThrowInvalidArgument(std::string source) {
    throw Failure(kInvalidProcedureCall, u"Invalid procedure call or argument", std::move(source));
}

void ThrowTypeMismatch(std::string source) { throw Failure(kTypeMismatch, u"Type mismatch", std::move(source)); }

} // namespace vi2zezir
