// Workbooks encrypted under Excel's default password. Excel encrypts some
// protected workbooks that have no password to open (a write reservation, a
// protected structure) under the password "VelvetSweatshop" and opens them
// without asking; so does the engine, and it saves them encrypted the same
// way. RC4 (MD5-based) and RC4 CryptoAPI (SHA-1-based) are read and written;
// a workbook under any other password, or under XOR obfuscation, is refused.
#pragma once

#include <cstdint>
#include <vector>

namespace vi2zezir::workbook {

// When the globals of this Workbook stream hold FILEPASS, decrypts every
// record after it in place; FILEPASS itself stays as it is. Throws Error
// when the workbook has a password to open, uses a scheme the engine cannot
// read, or its FILEPASS is malformed. A stream without FILEPASS is untouched.
void DecryptWorkbookStream(std::vector<std::uint8_t>& stream);

// Encrypts a stream written anew from such a workbook, as its FILEPASS (kept
// from the template) says: the same scheme, salt and key, so that other
// programs open the output as they opened the template. A stream without
// FILEPASS is untouched.
void EncryptWorkbookStream(std::vector<std::uint8_t>& stream);

} // namespace vi2zezir::workbook
