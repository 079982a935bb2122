// The zip container under a workbook package (internal to the package layer).
// Only what packages use: one disk, entries stored or deflated, Zip64 records
// read when present; no encryption. The reader parses and cross-checks the
// structure; it inflates nothing until asked for one entry.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/xlsx/package.h"

namespace vi2zezir::workbook::xlsx::zip {

inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;

// The MS-DOS time stamp of new parts: 1980-01-01 00:00, the earliest the
// format can say, so that writing the same package twice gives the same bytes.
inline constexpr std::uint16_t kFixedDate = (0 << 9) | (1 << 5) | 1;
inline constexpr std::uint16_t kFixedTime = 0;

struct Entry {
    std::string name; // raw bytes of the entry name
    std::uint16_t versionMadeBy = 20;
    std::uint16_t versionNeeded = 20;
    std::uint16_t flags = 0;
    std::uint16_t method = kDeflated;
    std::uint16_t time = kFixedTime;
    std::uint16_t date = kFixedDate;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint16_t internalAttributes = 0;
    std::uint32_t externalAttributes = 0;
    std::string comment;
    std::uint64_t dataOffset = 0; // where the compressed bytes begin in the file

    bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

struct Archive {
    std::vector<Entry> entries; // in the order of the central directory
    std::string comment;
};

// Error on anything malformed, inconsistent or over the limits.
Archive ReadArchive(std::span<const std::uint8_t> file, const PackageLimits& limits);

// The entry's content, inflated and CRC-checked. partName names it in errors.
std::string Extract(std::span<const std::uint8_t> file, const Entry& entry, const PackageLimits& limits);

// Raw deflate (no zlib header), as zip stores it.
std::vector<std::uint8_t> Deflate(std::string_view content);
std::uint32_t Crc32(std::string_view content);

// Writes a zip file entry by entry: local header and data as they come, the
// central directory at the end. No data descriptors, no extra fields.
class Writer {
public:
    // entry's name, flags, method, time stamp, CRC, sizes, attributes and
    // comment describe the compressed bytes, which are copied as they are.
    void AddRaw(const Entry& entry, std::span<const std::uint8_t> compressed);
    // Deflates content under the given name and time stamp.
    void AddDeflated(std::string_view name, std::string_view content, std::uint16_t time, std::uint16_t date);
    std::vector<std::uint8_t> Finish(std::string_view comment);

private:
    std::vector<std::uint8_t> out_;
    std::vector<Entry> written_; // dataOffset holds the local header's offset here
};

} // namespace vi2zezir::workbook::xlsx::zip
