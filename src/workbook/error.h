// The engine's one error. Whatever the engine refuses — a file it cannot
// read, an edit Excel refuses, a formula it cannot take, an output it cannot
// write — it throws as an Error: a kind, for callers that act on it, and a
// reason in words, for people. The host turns it into a Failure (error 1004
// with the reason) at the engine's edge; the template check into its own
// report line.
//
//   try {
//       auto book = workbook::Workbook::Open(bytes);
//   } catch (const workbook::Error& e) {
//       if (e.Kind() == workbook::ErrorKind::Password) ...
//       std::puts(e.what()); // "the workbook is protected with a password to open"
//   }
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vi2zezir::workbook {

enum class ErrorKind : std::uint8_t {
    NotAWorkbook, // neither a compound file nor a zip package holding a workbook
    Unsupported,  // a format or feature the engine does not read: Excel 5.0/95 and older, .xlsb, an unknown
                  // encryption, compression or compound-file version
    Damaged,      // cut off, inconsistent, or contradicting its own sizes and counts
    TooLarge,     // beyond a limit the engine sets on what untrusted input may claim
    Password,     // protected with a password to open
    BadPartName,  // a package part name that breaks the packaging rules, or a second part of one name
    BadXml,       // XML that is not well-formed, has a DOCTYPE, exceeds the XML bounds or cannot be written
    BadFormula,   // formula text or tokens the engine cannot read or store
    RefusedEdit,  // an edit Excel refuses; the reason is Excel's message
    CannotWrite,  // the output file cannot be claimed or written; the reason is the system's
};

class Error : public std::runtime_error {
public:
    // The reason is UTF-8 and names what is wrong and where, without the file
    // or operation, which the caller adds: "a BOUNDSHEET record is too short".
    Error(ErrorKind kind, const std::string& reason) : std::runtime_error(reason), kind_(kind) {}

    ErrorKind Kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

} // namespace vi2zezir::workbook
