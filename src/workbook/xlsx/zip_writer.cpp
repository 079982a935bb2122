// The zip writer: local header and data per entry, then the central
// directory. Sizes always go in the local header (no data descriptors) and no
// extra fields are written, so an entry's bytes depend on its name, time
// stamp and content only.
#include <zlib.h>

#include <limits>

#include "workbook/xlsx/zip.h"

namespace vi2zezir::workbook::xlsx::zip {

namespace {

constexpr std::uint16_t kFlagDescriptor = 1 << 3;
constexpr std::uint16_t kFlagUtf8 = 1 << 11;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v));
    Put16(out, static_cast<std::uint16_t>(v >> 16));
}

void PutText(std::vector<std::uint8_t>& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// Everything the writer emits must fit the classic (non-Zip64) records; the
// package limits keep real workbooks far below.
std::uint32_t Fits32(std::uint64_t value, const char* what) {
    if (value >= 0xFFFFFFFF)
        throw Error(ErrorKind::TooLarge, std::string("the package would need Zip64 records for ") + what);
    return static_cast<std::uint32_t>(value);
}

std::uint16_t Fits16(std::size_t value, const char* what) {
    if (value >= 0xFFFF) throw Error(ErrorKind::TooLarge, std::string("the package has too many bytes in ") + what);
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::vector<std::uint8_t> Deflate(std::string_view content) {
    z_stream stream{};
    // Level 6, a 32 KiB window and raw output, as zip tools and Excel use.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    struct End {
        z_stream& s;
        ~End() { deflateEnd(&s); }
    } ender{stream};
    std::vector<std::uint8_t> out(deflateBound(&stream, static_cast<uLong>(content.size())));
    // One call per 1 GiB of input keeps zlib's 32-bit counters in range.
    constexpr std::size_t kStep = 1u << 30;
    std::size_t offset = 0;
    int rc = Z_OK;
    do {
        const std::size_t piece = std::min(kStep, content.size() - offset);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data() + offset));
        stream.avail_in = static_cast<uInt>(piece);
        offset += piece;
        const int flush = offset == content.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            if (stream.total_out == out.size()) out.resize(out.size() * 2);
            stream.next_out = out.data() + stream.total_out;
            stream.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - stream.total_out, kStep));
            rc = deflate(&stream, flush);
        } while (stream.avail_in != 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    } while (offset < content.size());
    out.resize(stream.total_out);
    return out;
}

void Writer::AddRaw(const Entry& entry, std::span<const std::uint8_t> compressed) {
    Entry written = entry;
    written.flags &= static_cast<std::uint16_t>(~kFlagDescriptor);
    written.compressedSize = compressed.size();
    written.dataOffset = out_.size();
    Fits32(written.compressedSize, "a part's size");
    Fits32(written.uncompressedSize, "a part's size");
    Fits32(written.dataOffset, "an offset");
    Put32(out_, 0x04034b50);
    Put16(out_, written.versionNeeded);
    Put16(out_, written.flags);
    Put16(out_, written.method);
    Put16(out_, written.time);
    Put16(out_, written.date);
    Put32(out_, written.crc);
    Put32(out_, static_cast<std::uint32_t>(written.compressedSize));
    Put32(out_, static_cast<std::uint32_t>(written.uncompressedSize));
    Put16(out_, Fits16(written.name.size(), "a part name"));
    Put16(out_, 0);
    PutText(out_, written.name);
    out_.insert(out_.end(), compressed.begin(), compressed.end());
    written_.push_back(std::move(written));
}

void Writer::AddDeflated(std::string_view name, std::string_view content, std::uint16_t time, std::uint16_t date) {
    Entry entry;
    entry.name = name;
    entry.time = time;
    entry.date = date;
    entry.method = kDeflated;
    entry.crc = Crc32(content);
    entry.uncompressedSize = content.size();
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) entry.flags |= kFlagUtf8;
    AddRaw(entry, Deflate(content));
}

std::vector<std::uint8_t> Writer::Finish(std::string_view comment) {
    const std::uint32_t directoryOffset = Fits32(out_.size(), "an offset");
    for (const Entry& entry : written_) {
        Put32(out_, 0x02014b50);
        Put16(out_, entry.versionMadeBy);
        Put16(out_, entry.versionNeeded);
        Put16(out_, entry.flags);
        Put16(out_, entry.method);
        Put16(out_, entry.time);
        Put16(out_, entry.date);
        Put32(out_, entry.crc);
        Put32(out_, static_cast<std::uint32_t>(entry.compressedSize));
        Put32(out_, static_cast<std::uint32_t>(entry.uncompressedSize));
        Put16(out_, static_cast<std::uint16_t>(entry.name.size()));
        Put16(out_, 0);
        Put16(out_, Fits16(entry.comment.size(), "a part's comment"));
        Put16(out_, 0);
        Put16(out_, entry.internalAttributes);
        Put32(out_, entry.externalAttributes);
        Put32(out_, static_cast<std::uint32_t>(entry.dataOffset));
        PutText(out_, entry.name);
        PutText(out_, entry.comment);
    }
    const std::uint32_t directorySize = Fits32(out_.size() - directoryOffset, "the directory");
    const std::uint16_t count = Fits16(written_.size(), "the directory's entry count");
    Put32(out_, 0x06054b50);
    Put16(out_, 0);
    Put16(out_, 0);
    Put16(out_, count);
    Put16(out_, count);
    Put32(out_, directorySize);
    Put32(out_, directoryOffset);
    Put16(out_, Fits16(comment.size(), "the package comment"));
    PutText(out_, comment);
    written_.clear();
    return std::move(out_);
}

} // namespace vi2zezir::workbook::xlsx::zip
