// MD5 (RFC 1321), SHA-1 (FIPS 180-4) and RC4: the primitives that Excel
// 97-2003 workbook encryption is built on. Written out plainly so the engine
// stays standard C++ on every platform it is built for. They are broken as
// cryptography and serve here only to read and write that file format.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vi2zezir::workbook::crypto {

using Md5Digest = std::array<std::uint8_t, 16>;
using Sha1Digest = std::array<std::uint8_t, 20>;

Md5Digest Md5(std::span<const std::uint8_t> data);
Sha1Digest Sha1(std::span<const std::uint8_t> data);

// The RC4 keystream of one key (1 to 256 bytes).
class Rc4 {
public:
    explicit Rc4(std::span<const std::uint8_t> key);

    std::uint8_t Next() noexcept;
    void Skip(std::size_t count) noexcept;
    // XORs the data with the next data.size() bytes of keystream.
    void Apply(std::span<std::uint8_t> data) noexcept;

private:
    std::array<std::uint8_t, 256> s_{};
    std::uint8_t i_ = 0;
    std::uint8_t j_ = 0;
};

} // namespace vi2zezir::workbook::crypto
