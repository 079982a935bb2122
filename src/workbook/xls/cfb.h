// Compound file (OLE2 structured storage): read a whole file into a tree of
// storages and streams, write such a tree as a new file. Untrusted input:
// every sector index is bounded, every chain cycle-checked, every claimed
// size capped; a malformed file throws Error and never crashes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "workbook/error.h"

namespace vi2zezir::workbook::cfb {

struct Entry {
    enum class Type : std::uint8_t { Storage = 1, Stream = 2 };
    std::u16string name;
    Type type = Type::Stream;
    std::array<std::uint8_t, 16> clsid{};
    std::uint32_t stateBits = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modifiedTime = 0;
    std::vector<std::uint8_t> data; // streams only
    std::vector<Entry> children;    // storages only, in any order
};

struct CompoundFile {
    std::array<std::uint8_t, 16> rootClsid{};
    std::vector<Entry> entries; // the root storage's children

    // The root's direct child stream of that name (names compare without
    // regard to case, as the format does), or nullptr.
    const Entry* FindStream(std::u16string_view name) const;
    Entry* FindStream(std::u16string_view name);
};

// Largest file accepted (the largest template the engine opens); larger
// input is refused before anything is parsed: Error (TooLarge) "compound file is
// too large", and the engine's Open fails with 1004 "... the file is too large."
// before reading it. Every size a file claims (streams, the directory, the
// FAT) is checked against the file's real size, so memory stays within a
// small multiple of this.
inline constexpr std::size_t kMaxFileSize = 256u * 1024 * 1024;

CompoundFile Read(std::span<const std::uint8_t> bytes);
// Version 3 (512-byte sectors); streams under 4,096 bytes go to the mini stream.
std::vector<std::uint8_t> Write(const CompoundFile& file);

} // namespace vi2zezir::workbook::cfb
