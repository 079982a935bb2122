// The one failure type of the system: a code and a description, carried from
// where a fault arises to the view that presents it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vi2zezir {

// Run-time codes of the late-bound automation world. Servers' own codes
// (HRESULTs, 1004 for a spreadsheet failure) pass through unchanged.
enum FailureCode : std::int32_t {
    kInvalidProcedureCall = 5,  // "Invalid procedure call or argument"
    kOverflow = 6,              // "Overflow"
    kSubscriptOutOfRange = 9,   // "Subscript out of range"
    kTypeMismatch = 13,         // "Type mismatch"
    kObjectNotSet = 91,         // "Object variable or With block variable not set"
    kInvalidUseOfNull = 94,     // "Invalid use of Null"
    kCannotCreateObject = 429,  // "ActiveX component can't create object"
    kAutomationError = 440,     // "Automation error": a server failed a request
    kApplicationDefined = 1004, // a spreadsheet operation failed
};

class Failure : public std::exception {
public:
    Failure(std::int32_t code, std::u16string description, std::string source = {});

    std::int32_t Code() const noexcept { return code_; }
    const std::u16string& Description() const noexcept { return description_; }
    // Where it arose ("modSTR.FitCellText", "Workbooks.Open"), for logs only.
    const std::string& Source() const noexcept { return source_; }

    // UTF-8 "Error <code>: <description>", as the views present it.
    const char* what() const noexcept override { return what_.c_str(); }

private:
    std::int32_t code_;
    std::u16string description_;
    std::string source_;
    std::string what_;
};

// The familiar run-time failures, with their standard descriptions.
[[noreturn]] void ThrowOverflow(std::string source = {});
[[noreturn]] void ThrowInvalidUseOfNull(std::string source = {});
[[noreturn]] void ThrowInvalidArgument(std::string source = {});
[[noreturn]] void ThrowTypeMismatch(std::string source = {});

// "Error <code>: <description>", the form every view shows.
std::u16string FailureText(const Failure& failure);

} // namespace vi2zezir
