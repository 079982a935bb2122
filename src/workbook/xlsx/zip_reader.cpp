// The zip reader. Nothing a file claims is believed until checked against the
// file: every offset and length is bounded before it is read, the central
// directory is checked against each local header, entries must not overlap,
// sizes and ratios are capped on what the directory declares, and inflation
// stops at the declared size, so that a part can never cost more memory than
// the limits allow, whatever its compressed stream does.
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "workbook/xlsx/part_names.h"
#include "workbook/xlsx/zip.h"

namespace vi2zezir::workbook::xlsx::zip {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;

constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

constexpr std::uint16_t kZip64ExtraId = 0x0001;

constexpr std::uint16_t kFlagEncrypted = 1 << 0;
constexpr std::uint16_t kFlagDescriptor = 1 << 3;
constexpr std::uint16_t kFlagStrongEncryption = 1 << 6;
constexpr std::uint16_t kFlagMaskedHeaders = 1 << 13;

constexpr std::uint8_t kCompoundFileSignature[4] = {0xD0, 0xCF, 0x11, 0xE0};

[[noreturn]] void Fail(ErrorKind kind, const std::string& message) { throw Error(kind, message); }

[[noreturn]] void Damaged(const std::string& message) { Fail(ErrorKind::Damaged, message); }

const char* const kDirectoryCutOff = "the workbook's zip directory is cut off";

std::string Part(const Entry& entry) { return "part " + Quoted(entry.name); }

// A bounds-checked view of the file; every read names its offset and length.
class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint64_t Size() const { return data_.size(); }
    bool Has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= data_.size() && length <= data_.size() - offset;
    }
    // Callers check Has first; these read inside the file only.
    std::uint16_t U16(std::uint64_t at) const { return static_cast<std::uint16_t>(data_[at] | (data_[at + 1] << 8)); }
    std::uint32_t U32(std::uint64_t at) const {
        return static_cast<std::uint32_t>(U16(at)) | (static_cast<std::uint32_t>(U16(at + 2)) << 16);
    }
    std::uint64_t U64(std::uint64_t at) const {
        return static_cast<std::uint64_t>(U32(at)) | (static_cast<std::uint64_t>(U32(at + 4)) << 32);
    }
    std::string Text(std::uint64_t at, std::uint64_t length) const {
        return {reinterpret_cast<const char*>(data_.data() + at), static_cast<std::size_t>(length)};
    }
    std::span<const std::uint8_t> Span(std::uint64_t at, std::uint64_t length) const {
        return data_.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(length));
    }

private:
    std::span<const std::uint8_t> data_;
};

struct EndRecord {
    std::uint64_t position = 0; // where the end-of-directory record (or its Zip64 form) begins
    std::uint64_t entries = 0;
    std::uint64_t directorySize = 0;
    std::uint64_t directoryOffset = 0;
    std::string comment;
};

// The last end-of-central-directory record within the comment's reach of the
// end; one whose comment ends exactly at the end of the file is preferred, so
// that a signature inside a comment does not count.
std::uint64_t FindEndRecord(const Bytes& file) {
    if (file.Size() < kEndSize) return std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t last = file.Size() - kEndSize;
    const std::uint64_t first = last > kMaxCommentSize ? last - kMaxCommentSize : 0;
    std::uint64_t fallback = std::numeric_limits<std::uint64_t>::max();
    for (std::uint64_t at = last + 1; at-- > first;) {
        if (file.U32(at) != kEndSignature) continue;
        const std::uint64_t end = at + kEndSize + file.U16(at + 20);
        if (end == file.Size()) return at;
        if (end < file.Size() && fallback == std::numeric_limits<std::uint64_t>::max()) fallback = at;
    }
    return fallback;
}

EndRecord ReadEndRecord(const Bytes& file) {
    const std::uint64_t at = FindEndRecord(file);
    if (at == std::numeric_limits<std::uint64_t>::max()) {
        if (file.Has(0, 4) && std::equal(kCompoundFileSignature, kCompoundFileSignature + 4, file.Span(0, 4).begin()))
            Fail(ErrorKind::NotAWorkbook,
                 "the file is a compound file (an .xls, or an encrypted workbook), not a zip package");
        // A zip whose end is missing: the directory was cut off with it.
        if (file.Has(0, 4) && file.U32(0) == kLocalSignature) Damaged(kDirectoryCutOff);
        Fail(ErrorKind::NotAWorkbook, "the file is not a zip package (it has no zip directory)");
    }
    EndRecord end;
    end.position = at;
    const std::uint16_t disk = file.U16(at + 4), directoryDisk = file.U16(at + 6);
    const std::uint16_t entriesHere = file.U16(at + 8), entries = file.U16(at + 10);
    end.directorySize = file.U32(at + 12);
    end.directoryOffset = file.U32(at + 16);
    end.entries = entries;
    end.comment = file.Text(at + kEndSize, file.U16(at + 20));

    // The Zip64 record, when its locator stands right before: its counts and
    // offsets are the real ones.
    const bool needZip64 = entries == 0xFFFF || end.directorySize == 0xFFFFFFFF || end.directoryOffset == 0xFFFFFFFF;
    const bool hasLocator = at >= kZip64LocatorSize && file.U32(at - kZip64LocatorSize) == kZip64LocatorSignature;
    if (hasLocator) {
        const std::uint64_t locator = at - kZip64LocatorSize;
        const std::uint64_t record = file.U64(locator + 8);
        if (file.U32(locator + 4) != 0 || file.U32(locator + 16) > 1)
            Fail(ErrorKind::Unsupported, "the package is split over several disks");
        if (record > locator || locator - record < kZip64EndSize || file.U32(record) != kZip64EndSignature)
            Damaged("the workbook's zip directory has a damaged Zip64 record");
        // The record's size field counts from after itself; a larger record
        // carries an extensible data sector that is not needed here.
        const std::uint64_t recordSize = file.U64(record + 4);
        if (recordSize < kZip64EndSize - 12 || recordSize > locator - record - 12)
            Damaged("the workbook's zip directory has a damaged Zip64 record");
        if (file.U32(record + 16) != 0 || file.U32(record + 20) != 0 || file.U64(record + 24) != file.U64(record + 32))
            Fail(ErrorKind::Unsupported, "the package is split over several disks");
        end.entries = file.U64(record + 32);
        end.directorySize = file.U64(record + 40);
        end.directoryOffset = file.U64(record + 48);
        end.position = record;
    } else if (needZip64) {
        Damaged("the workbook's zip directory lacks its Zip64 record");
    } else if (disk != 0 || directoryDisk != 0 || entriesHere != entries) {
        Fail(ErrorKind::Unsupported, "the package is split over several disks");
    }
    return end;
}

// The Zip64 extended information in an extra field: the 64-bit values of the
// fields that hold 0xFFFFFFFF, in the order uncompressed size, compressed
// size, local header offset.
void ApplyZip64Extra(const Bytes& file, std::uint64_t extra, std::uint64_t extraLength, const std::string& part,
                     std::uint64_t* uncompressed, std::uint64_t* compressed, std::uint64_t* offset) {
    const bool wanted = *uncompressed == 0xFFFFFFFF || *compressed == 0xFFFFFFFF || (offset && *offset == 0xFFFFFFFF);
    for (std::uint64_t at = extra; at + 4 <= extra + extraLength;) {
        const std::uint16_t id = file.U16(at), length = file.U16(at + 2);
        if (at + 4 + length > extra + extraLength) break;
        if (id == kZip64ExtraId) {
            std::uint64_t field = at + 4;
            const std::uint64_t fieldEnd = field + length;
            for (std::uint64_t* value : {uncompressed, compressed, offset}) {
                if (!value || *value != 0xFFFFFFFF) continue;
                if (field + 8 > fieldEnd) Damaged(part + " has a damaged Zip64 field");
                *value = file.U64(field);
                field += 8;
            }
            return;
        }
        at += 4 + length;
    }
    if (wanted) Damaged(part + " lacks the Zip64 field its sizes call for");
}

struct Extent {
    std::uint64_t begin;
    std::uint64_t end;
    std::size_t entry;
};

// Checks an entry's local header against its directory record and sets
// dataOffset; returns where the entry's bytes end (data and descriptor).
std::uint64_t CheckLocalHeader(const Bytes& file, Entry& entry, std::uint64_t localOffset,
                               std::uint64_t directoryOffset) {
    const std::string part = Part(entry);
    if (!file.Has(localOffset, kLocalSize) || localOffset + kLocalSize > directoryOffset)
        Damaged(part + " lies outside the zip file's data");
    if (file.U32(localOffset) != kLocalSignature) Damaged(part + " has no local header where the directory says");
    const std::uint16_t flags = file.U16(localOffset + 6), method = file.U16(localOffset + 8);
    const std::uint32_t crc = file.U32(localOffset + 14);
    std::uint64_t compressed = file.U32(localOffset + 18), uncompressed = file.U32(localOffset + 22);
    const std::uint16_t nameLength = file.U16(localOffset + 26), extraLength = file.U16(localOffset + 28);
    const std::uint64_t name = localOffset + kLocalSize;
    if (name + nameLength + extraLength > directoryOffset) Damaged(part + " runs into the zip directory");
    if (file.Text(name, nameLength) != entry.name)
        Damaged(part + ": its local header names " + Quoted(file.Text(name, nameLength)));
    if (method != entry.method || (flags & kFlagEncrypted) != (entry.flags & kFlagEncrypted))
        Damaged(part + ": its local header disagrees with the zip directory");
    ApplyZip64Extra(file, name + nameLength, extraLength, part, &uncompressed, &compressed, nullptr);

    // With a data descriptor the header's CRC and sizes may be zero (some
    // writers give the uncompressed size all the same); what is given must
    // agree.
    const bool descriptor = flags & kFlagDescriptor;
    const auto agrees = [&](std::uint64_t local, std::uint64_t central) {
        return local == central || (descriptor && local == 0);
    };
    if (!agrees(crc, entry.crc) || !agrees(compressed, entry.compressedSize) ||
        !agrees(uncompressed, entry.uncompressedSize))
        Damaged(part + ": its local header gives other sizes or CRC than the zip directory");

    entry.dataOffset = name + nameLength + extraLength;
    if (entry.compressedSize > directoryOffset - entry.dataOffset) Damaged(part + " runs into the zip directory");
    std::uint64_t end = entry.dataOffset + entry.compressedSize;
    if (descriptor) {
        // CRC and sizes after an optional signature, the sizes in 4 bytes or
        // (Zip64) 8 each.
        const auto matches = [&](std::uint64_t p, bool wide) {
            const std::uint64_t length = wide ? 20 : 12;
            if (!file.Has(p, length) || p + length > directoryOffset || file.U32(p) != entry.crc) return false;
            return wide ? file.U64(p + 4) == entry.compressedSize && file.U64(p + 12) == entry.uncompressedSize
                        : file.U32(p + 4) == entry.compressedSize && file.U32(p + 8) == entry.uncompressedSize;
        };
        const bool signature = file.Has(end, 4) && file.U32(end) == kDescriptorSignature;
        std::uint64_t descriptorEnd = 0;
        for (const std::uint64_t p : {signature ? end + 4 : end, end})
            for (const bool wide : {false, true})
                if (!descriptorEnd && matches(p, wide)) descriptorEnd = p + (wide ? 20 : 12);
        if (!descriptorEnd) Damaged(part + ": its data descriptor disagrees with the zip directory");
        end = descriptorEnd;
    }
    return end;
}

} // namespace

Archive ReadArchive(std::span<const std::uint8_t> data, const PackageLimits& limits) {
    if (data.size() > limits.maxPackageBytes)
        Fail(ErrorKind::TooLarge, "the package is " + std::to_string(data.size()) + " bytes, more than the " +
                                      std::to_string(limits.maxPackageBytes) + " allowed");
    const Bytes file(data);
    Archive archive;
    const EndRecord end = ReadEndRecord(file);
    archive.comment = end.comment;
    if (end.entries > limits.maxEntries)
        Fail(ErrorKind::TooLarge, "the package has " + std::to_string(end.entries) + " entries, more than the " +
                                      std::to_string(limits.maxEntries) + " allowed");
    if (end.directoryOffset > end.position || end.directorySize > end.position - end.directoryOffset)
        Damaged(kDirectoryCutOff);
    if (end.entries > end.directorySize / kCentralSize) Damaged(kDirectoryCutOff);

    // The central directory.
    archive.entries.reserve(static_cast<std::size_t>(end.entries));
    std::vector<std::uint64_t> localOffsets;
    std::uint64_t at = end.directoryOffset;
    const std::uint64_t directoryEnd = end.directoryOffset + end.directorySize;
    for (std::uint64_t i = 0; i < end.entries; ++i) {
        if (directoryEnd - at < kCentralSize) Damaged(kDirectoryCutOff);
        if (file.U32(at) != kCentralSignature)
            Damaged("the workbook's zip directory is damaged at entry " + std::to_string(i + 1));
        Entry entry;
        entry.versionMadeBy = file.U16(at + 4);
        entry.versionNeeded = file.U16(at + 6);
        entry.flags = file.U16(at + 8);
        entry.method = file.U16(at + 10);
        entry.time = file.U16(at + 12);
        entry.date = file.U16(at + 14);
        entry.crc = file.U32(at + 16);
        entry.compressedSize = file.U32(at + 20);
        entry.uncompressedSize = file.U32(at + 24);
        const std::uint16_t nameLength = file.U16(at + 28), extraLength = file.U16(at + 30);
        const std::uint16_t commentLength = file.U16(at + 32), diskStart = file.U16(at + 34);
        entry.internalAttributes = file.U16(at + 36);
        entry.externalAttributes = file.U32(at + 38);
        std::uint64_t localOffset = file.U32(at + 42);
        if (directoryEnd - at - kCentralSize < static_cast<std::uint64_t>(nameLength) + extraLength + commentLength)
            Damaged(kDirectoryCutOff);
        entry.name = file.Text(at + kCentralSize, nameLength);
        entry.comment = file.Text(at + kCentralSize + nameLength + extraLength, commentLength);
        const std::string part = Part(entry);
        ApplyZip64Extra(file, at + kCentralSize + nameLength, extraLength, part, &entry.uncompressedSize,
                        &entry.compressedSize, &localOffset);
        if (diskStart != 0 && diskStart != 0xFFFF)
            Fail(ErrorKind::Unsupported, "the package is split over several disks");
        if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders))
            Fail(ErrorKind::Unsupported, part + " is encrypted");
        CheckPartName(entry.name, entry.IsFolder());
        localOffsets.push_back(localOffset);
        archive.entries.push_back(std::move(entry));
        at += kCentralSize + nameLength + extraLength + commentLength;
    }

    // Names: one part per name, as part names compare.
    {
        std::vector<std::pair<std::string, std::size_t>> keys;
        keys.reserve(archive.entries.size());
        for (std::size_t i = 0; i < archive.entries.size(); ++i) keys.emplace_back(PartKey(archive.entries[i].name), i);
        std::sort(keys.begin(), keys.end());
        for (std::size_t i = 1; i < keys.size(); ++i)
            if (keys[i].first == keys[i - 1].first)
                Fail(ErrorKind::BadPartName,
                     "the package holds two parts named " + Quoted(archive.entries[keys[i - 1].second].name) +
                         (archive.entries[keys[i - 1].second].name == archive.entries[keys[i].second].name
                              ? std::string()
                              : " and " + Quoted(archive.entries[keys[i].second].name)));
    }

    // Sizes and ratios, as declared; inflation never goes past them.
    std::uint64_t total = 0;
    for (const Entry& entry : archive.entries) {
        const std::string part = Part(entry);
        if (entry.uncompressedSize > limits.maxPartBytes)
            Fail(ErrorKind::TooLarge, part + " declares " + std::to_string(entry.uncompressedSize) +
                                          " bytes, more than the " + std::to_string(limits.maxPartBytes) +
                                          " allowed for one part");
        total += entry.uncompressedSize;
        if (total > limits.maxTotalBytes)
            Fail(ErrorKind::TooLarge, "the package's parts declare more than the " +
                                          std::to_string(limits.maxTotalBytes) + " bytes allowed in all");
        if (entry.uncompressedSize > limits.ratioExemptBytes &&
            entry.uncompressedSize / std::max<std::uint64_t>(entry.compressedSize, 1) >= limits.maxRatio)
            Fail(ErrorKind::TooLarge, part + " would inflate to " + std::to_string(entry.uncompressedSize) +
                                          " bytes from " + std::to_string(entry.compressedSize) +
                                          ", beyond the compression ratio a real part reaches (a zip bomb)");
        if (entry.method == kStored && entry.compressedSize != entry.uncompressedSize)
            Damaged(part + " is stored with different compressed and uncompressed sizes");
    }

    // Local headers, and the space each entry takes: no two may share bytes.
    std::vector<Extent> extents;
    extents.reserve(archive.entries.size());
    for (std::size_t i = 0; i < archive.entries.size(); ++i) {
        const std::uint64_t entryEnd = CheckLocalHeader(file, archive.entries[i], localOffsets[i], end.directoryOffset);
        extents.push_back({localOffsets[i], entryEnd, i});
    }
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.begin < b.begin; });
    for (std::size_t i = 1; i < extents.size(); ++i)
        if (extents[i].begin < extents[i - 1].end)
            Damaged("parts " + Quoted(archive.entries[extents[i - 1].entry].name) + " and " +
                    Quoted(archive.entries[extents[i].entry].name) + " overlap in the zip file");
    return archive;
}

std::string Extract(std::span<const std::uint8_t> data, const Entry& entry, const PackageLimits& limits) {
    const std::string part = Part(entry);
    if (entry.uncompressedSize > limits.maxPartBytes)
        Fail(ErrorKind::TooLarge,
             part + " is larger than the " + std::to_string(limits.maxPartBytes) + " bytes allowed for one part");
    const Bytes file(data);
    if (!file.Has(entry.dataOffset, entry.compressedSize)) Damaged(part + " is cut off");
    const auto compressed = file.Span(entry.dataOffset, entry.compressedSize);
    std::string content;
    if (entry.method == kStored) {
        content.assign(reinterpret_cast<const char*>(compressed.data()), compressed.size());
    } else if (entry.method == kDeflated) {
        content.resize(static_cast<std::size_t>(entry.uncompressedSize));
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
        struct End {
            z_stream& s;
            ~End() { inflateEnd(&s); }
        } ender{stream};
        // Both sizes are bounded by the package limits, far below 4 GiB, so
        // one call each way fits zlib's 32-bit counters.
        stream.next_in = const_cast<Bytef*>(compressed.data());
        stream.avail_in = static_cast<uInt>(compressed.size());
        stream.next_out = reinterpret_cast<Bytef*>(content.data());
        stream.avail_out = static_cast<uInt>(content.size());
        int rc = inflate(&stream, Z_FINISH);
        if (rc == Z_BUF_ERROR && stream.avail_out == 0) {
            // Output full before the stream's end: one byte more shows
            // whether the stream would go on.
            unsigned char extra = 0;
            stream.next_out = &extra;
            stream.avail_out = 1;
            rc = inflate(&stream, Z_FINISH);
            if (stream.avail_out == 0) Damaged(part + " inflates past its declared size");
        }
        if (rc == Z_MEM_ERROR) throw std::bad_alloc();
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT)
            Damaged(part + " has damaged compressed data" + (stream.msg ? std::string(" (") + stream.msg + ")" : ""));
        if (rc != Z_STREAM_END) Damaged(part + "'s compressed data is cut off");
        if (stream.total_out != entry.uncompressedSize) Damaged(part + " inflates to fewer bytes than it declares");
    } else {
        const char* name = entry.method == 9    ? " (Deflate64)"
                           : entry.method == 12 ? " (BZIP2)"
                           : entry.method == 14 ? " (LZMA)"
                           : entry.method == 93 ? " (Zstandard)"
                                                : "";
        Fail(ErrorKind::Unsupported,
             part + " is compressed with method " + std::to_string(entry.method) + name + ", which is not supported");
    }
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // (A fuzzing build skips this one check, so that mutated parts reach the
    // XML reader instead of all ending here.)
    if (Crc32(content) != entry.crc) Damaged(part + " is damaged (its CRC does not match)");
#endif
    return content;
}

std::uint32_t Crc32(std::string_view content) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<z_size_t>(content.size())));
}

} // namespace vi2zezir::workbook::xlsx::zip
