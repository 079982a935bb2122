// Byte helpers the test suites share: little-endian fields read from and
// written into a buffer or appended to it, and whole files in and out.
#pragma once

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace vi2zezir::test {

using Bytes = std::vector<std::uint8_t>;

// The `size`-byte little-endian field at `at`.
inline std::uint64_t GetLe(const Bytes& b, std::size_t at, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = v << 8 | b.at(at + static_cast<std::size_t>(i));
    return v;
}
inline std::uint16_t Get16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(GetLe(b, at, 2)); }
inline std::uint32_t Get32(const Bytes& b, std::size_t at) { return static_cast<std::uint32_t>(GetLe(b, at, 4)); }

inline void PutLe(Bytes& b, std::size_t at, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) { PutLe(b, at, v, 2); }
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) { PutLe(b, at, v, 4); }

inline void AppendLe(Bytes& b, std::uint64_t v, int size) {
    for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void AppendDouble(Bytes& b, double v) { AppendLe(b, std::bit_cast<std::uint64_t>(v), 8); }

inline Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace vi2zezir::test
