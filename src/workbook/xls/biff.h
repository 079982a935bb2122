// BIFF8 records: one bounds-checked reader over a Workbook stream, a cursor
// that reads a record's payload across its CONTINUE records, and a writer
// that splits long payloads into CONTINUE records the way readers expect.
// Untrusted input: every read is checked; a short read sets a sticky failed
// state (and yields zeros) instead of touching memory beyond the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/formula/formula.h"

namespace vi2zezir::workbook::biff {

// Largest record payload BIFF8 allows. A record claiming more, or more than
// its stream holds, ends the walk (RecordReader::Valid() false) and the
// workbook is refused: "a record of ... runs past the end of the stream".
inline constexpr std::size_t kMaxRecordData = 8224;

namespace op {
inline constexpr std::uint16_t kFormula = 0x0006;
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kExternSheet = 0x0017;
inline constexpr std::uint16_t kName = 0x0018;
inline constexpr std::uint16_t kNote = 0x001C;
inline constexpr std::uint16_t kFormat = 0x041E;
inline constexpr std::uint16_t kFilePass = 0x002F;
inline constexpr std::uint16_t kContinue = 0x003C;
inline constexpr std::uint16_t kDefColWidth = 0x0055;
inline constexpr std::uint16_t kBoundSheet = 0x0085;
inline constexpr std::uint16_t kMulRk = 0x00BD;
inline constexpr std::uint16_t kMulBlank = 0x00BE;
inline constexpr std::uint16_t kRString = 0x00D6;
inline constexpr std::uint16_t kDbCell = 0x00D7;
inline constexpr std::uint16_t kXf = 0x00E0;
inline constexpr std::uint16_t kMergeCells = 0x00E5;
inline constexpr std::uint16_t kSst = 0x00FC;
inline constexpr std::uint16_t kLabelSst = 0x00FD;
inline constexpr std::uint16_t kExtSst = 0x00FF;
inline constexpr std::uint16_t kSupBook = 0x01AE;
inline constexpr std::uint16_t kCondFmt = 0x01B0;
inline constexpr std::uint16_t kCf = 0x01B1;
inline constexpr std::uint16_t kDVal = 0x01B2;
inline constexpr std::uint16_t kHLink = 0x01B8;
inline constexpr std::uint16_t kDv = 0x01BE;
inline constexpr std::uint16_t kDimensions = 0x0200;
inline constexpr std::uint16_t kBlank = 0x0201;
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kLabel = 0x0204;
inline constexpr std::uint16_t kBoolErr = 0x0205;
inline constexpr std::uint16_t kString = 0x0207;
inline constexpr std::uint16_t kRow = 0x0208;
inline constexpr std::uint16_t kIndex = 0x020B;
inline constexpr std::uint16_t kArray = 0x0221;
inline constexpr std::uint16_t kDefaultRowHeight = 0x0225;
inline constexpr std::uint16_t kTable = 0x0236;
inline constexpr std::uint16_t kRk = 0x027E;
inline constexpr std::uint16_t kRecalcId = 0x01C1;
inline constexpr std::uint16_t kHLinkTooltip = 0x0800;
inline constexpr std::uint16_t kShrFmla = 0x04BC;
inline constexpr std::uint16_t kBof = 0x0809;
} // namespace op

struct Record {
    std::uint16_t opcode = 0;
    std::span<const std::uint8_t> data;
    std::size_t offset = 0; // of the record header in the stream
};

// Walks the records of a stream. Next() returns false at the end of the
// stream and when a record claims more bytes than remain (then Valid() is
// false and stays false).
class RecordReader {
public:
    explicit RecordReader(std::span<const std::uint8_t> stream, std::size_t start = 0);

    bool Next();
    const Record& Current() const noexcept { return current_; }
    bool Valid() const noexcept { return valid_; }
    // Offset of the record Next() would read.
    std::size_t Position() const noexcept { return position_; }
    // Opcode of the next record, or 0xFFFF when none is complete.
    std::uint16_t PeekOpcode() const noexcept;

private:
    std::span<const std::uint8_t> stream_;
    std::size_t position_;
    Record current_;
    bool valid_ = true;
};

// Reads a record's payload and the CONTINUE payloads after it as one
// sequence. Characters of a string that cross into a CONTINUE start with a
// fresh fHighByte flag byte there; every other field simply runs on.
class RecordCursor {
public:
    RecordCursor() = default;
    explicit RecordCursor(std::span<const std::uint8_t> first) : size_(first.size()), remaining_(first.size()) {
        segments_.push_back(first);
    }
    void AddContinue(std::span<const std::uint8_t> segment) {
        segments_.push_back(segment);
        size_ += segment.size();
        remaining_ += segment.size();
    }

    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    double F64();
    void Skip(std::size_t count);
    std::vector<std::uint8_t> Bytes(std::size_t count);
    // cch characters of an XLUnicodeString body whose flag byte said
    // highByte (UTF-16) or not (one byte per character).
    std::u16string Chars(std::size_t cch, bool highByte);
    // The same into a buffer the caller keeps, so a loop over many strings
    // reuses one allocation (cleared on a short read).
    void CharsInto(std::size_t cch, bool highByte, std::u16string& text);

    bool Ok() const noexcept { return ok_; }
    std::size_t Remaining() const noexcept;
    bool AtEnd() const noexcept { return Remaining() == 0; }
    // Bytes read so far, counted from the start of the first payload: where
    // the next field lies, for writing it back in place.
    std::size_t Position() const noexcept { return size_ - remaining_; }
    std::size_t SegmentCount() const noexcept { return segments_.size(); }

private:
    bool NextByte(std::uint8_t& out);

    std::vector<std::span<const std::uint8_t>> segments_;
    std::size_t segment_ = 0;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;      // bytes in all segments
    std::size_t remaining_ = 0; // bytes left in all segments
    bool ok_ = true;
};

// XLUnicodeRichExtendedString (SST entries): text plus the raw formatting
// runs (4 bytes each) and phonetic block, kept so they can be written back.
struct RichString {
    std::u16string text;
    std::vector<std::uint8_t> runs;
    std::vector<std::uint8_t> extRst;
    friend bool operator==(const RichString&, const RichString&) = default;
};
RichString ReadRichString(RecordCursor& cursor);
// The same into a string the caller reuses.
void ReadRichString(RecordCursor& cursor, RichString& s);
// XLUnicodeString: cch u16, flags, characters.
std::u16string ReadUnicodeString(RecordCursor& cursor);
// ShortXLUnicodeString: cch u8, flags, characters.
std::u16string ReadShortUnicodeString(RecordCursor& cursor);

// A formula as records hold it: cce bytes of parsed tokens (rgce) at the
// cursor and, where the formula ends its record, the data its array
// constants keep after them (rgcb), which is every byte left. Fewer than cce
// bytes fail the cursor (and the tokens come back empty).
enum class FormulaTail { TokensOnly, RestOfRecord };
formula::Tokens ReadFormula(RecordCursor& cursor, std::size_t cce, FormulaTail tail);

// An RkNumber: a 30-bit integer or the top 30 bits of a double, optionally
// divided by 100.
double DecodeRk(std::uint32_t rk);

// Little-endian payload builder.
class Bytes {
public:
    Bytes& U8(std::uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& U16(std::uint16_t v);
    Bytes& U32(std::uint32_t v);
    Bytes& F64(double v);
    Bytes& Append(std::span<const std::uint8_t> bytes);
    // XLUnicodeString (16-bit length) or ShortXLUnicodeString (8-bit length);
    // compressed when every character fits in one byte.
    Bytes& UnicodeString(std::u16string_view text);
    Bytes& ShortUnicodeString(std::u16string_view text);
    // The characters with their flag byte, without a length.
    Bytes& UnicodeChars(std::u16string_view text);
    std::vector<std::uint8_t>& Data() noexcept { return data_; }
    std::span<const std::uint8_t> Span() const noexcept { return data_; }
    std::size_t Size() const noexcept { return data_.size(); }

private:
    std::vector<std::uint8_t> data_;
};

bool FitsInBytes(std::u16string_view text) noexcept;

void PutU16(std::span<std::uint8_t> at, std::uint16_t v);
void PutU32(std::span<std::uint8_t> at, std::uint32_t v);
std::uint16_t GetU16(std::span<const std::uint8_t> at);
std::uint32_t GetU32(std::span<const std::uint8_t> at);

// Writes records into a growing stream.
class StreamWriter {
public:
    std::size_t Position() const noexcept { return bytes_.size(); }
    // A payload longer than 8,224 bytes goes on in CONTINUE records, split at
    // the limit (right for records without strings inside, e.g. drawings).
    void Write(std::uint16_t opcode, std::span<const std::uint8_t> data);
    void PatchU32(std::size_t position, std::uint32_t v);
    std::vector<std::uint8_t>& Data() noexcept { return bytes_; }
    void Reserve(std::size_t bytes) { bytes_.reserve(bytes); }

private:
    friend class ContinuableWriter;
    std::vector<std::uint8_t> bytes_;
};

// Writes one record whose content may run into CONTINUE records, keeping
// each fixed-size group of fields in one record and re-emitting the flag
// byte where string characters continue (the SST's rules).
class ContinuableWriter {
public:
    ContinuableWriter(StreamWriter& out, std::uint16_t opcode);
    ~ContinuableWriter();
    ContinuableWriter(const ContinuableWriter&) = delete;
    ContinuableWriter& operator=(const ContinuableWriter&) = delete;

    // Starts a CONTINUE when fewer than `count` bytes are left in this record.
    void KeepTogether(std::size_t count);
    void Raw(std::span<const std::uint8_t> bytes); // splits anywhere
    void U8(std::uint8_t v);
    void U16(std::uint16_t v);
    void U32(std::uint32_t v);
    // An XLUnicodeRichExtendedString: its header and first character are
    // never split; characters that continue get a new flag byte.
    void RichStringEntry(const RichString& s);
    void RichStringEntry(std::u16string_view text, std::span<const std::uint8_t> runs = {},
                         std::span<const std::uint8_t> extRst = {});
    void Finish();

    std::size_t StreamPosition() const noexcept { return out_.bytes_.size(); }
    // Offset of the next byte inside the current record, header included.
    std::size_t OffsetInRecord() const noexcept { return out_.bytes_.size() - recordStart_; }

private:
    void StartRecord(std::uint16_t opcode);
    void CloseRecord();
    std::size_t Room() const noexcept;

    StreamWriter& out_;
    std::size_t recordStart_ = 0;
    bool open_ = false;
};

} // namespace vi2zezir::workbook::biff
