// The one failure type of the system: a code and a description, carried from
// where a fault arises to the view that presents it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vi2zezir {

// The run-time codes this system raises, each with its standard description
// (StandardDescription). Servers' own codes and texts (HRESULTs, the
// spreadsheet's 1004 texts, a COM server's EXCEPINFO) pass through as given.
enum FailureCode : std::int32_t {
    kInvalidProcedureCall = 5,
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kTypeMismatch = 13,
    kInternalError = 51,
    kObjectNotSet = 91,
    kInvalidUseOfNull = 94,
    kObjectRequired = 424,
    kCannotCreateObject = 429,
    kNoSuchMember = 438,
    kAutomationError = 440, // a server failed a request
    kArgumentNotOptional = 449,
    kWrongArgumentCount = 450,
    kApplicationDefined = 1004, // a spreadsheet operation failed
    kCancelSelected = 32755,    // a file dialog cancelled with CancelError set
};

// The standard description of a code in FailureCode ("Type mismatch" for
// 13); the empty text for any other code.
std::u16string StandardDescription(std::int32_t code);

class Failure : public std::exception {
public:
    Failure(std::int32_t code, std::u16string description, std::string source = {});
    // A run-time failure with its standard description.
    explicit Failure(FailureCode code, std::string source = {});

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

// "Error <code>: <description>", the form every view shows.
std::u16string FailureText(const Failure& failure);

} // namespace vi2zezir
