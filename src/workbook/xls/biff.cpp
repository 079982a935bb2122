#include "workbook/xls/biff.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vi2zezir::workbook::biff {

std::uint16_t GetU16(std::span<const std::uint8_t> at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }

std::uint32_t GetU32(std::span<const std::uint8_t> at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void PutU16(std::span<std::uint8_t> at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::span<std::uint8_t> at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

double DecodeRk(std::uint32_t rk) {
    double v;
    if (rk & 0x02) {
        v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        v = std::bit_cast<double>(static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32);
    }
    return (rk & 0x01) ? v / 100.0 : v;
}

// ---------------------------------------------------------------- reading

RecordReader::RecordReader(std::span<const std::uint8_t> stream, std::size_t start)
    : stream_(stream), position_(start) {
    if (start > stream.size()) valid_ = false;
}

bool RecordReader::Next() {
    if (!valid_) return false;
    if (position_ == stream_.size()) return false;
    if (stream_.size() - position_ < 4) {
        valid_ = false;
        return false;
    }
    const std::uint16_t opcode = GetU16(stream_.subspan(position_));
    const std::uint16_t length = GetU16(stream_.subspan(position_ + 2));
    if (length > kMaxRecordData || stream_.size() - position_ - 4 < length) {
        valid_ = false;
        return false;
    }
    current_.opcode = opcode;
    current_.offset = position_;
    current_.data = stream_.subspan(position_ + 4, length);
    position_ += 4u + length;
    return true;
}

std::uint16_t RecordReader::PeekOpcode() const noexcept {
    if (!valid_ || stream_.size() - position_ < 4) return 0xFFFF;
    const std::uint16_t length = GetU16(stream_.subspan(position_ + 2));
    if (length > kMaxRecordData || stream_.size() - position_ - 4 < length) return 0xFFFF;
    return GetU16(stream_.subspan(position_));
}

std::size_t RecordCursor::Remaining() const noexcept { return ok_ ? remaining_ : 0; }

bool RecordCursor::NextByte(std::uint8_t& out) {
    while (ok_ && segment_ < segments_.size()) {
        if (offset_ < segments_[segment_].size()) {
            out = segments_[segment_][offset_++];
            --remaining_;
            return true;
        }
        ++segment_;
        offset_ = 0;
    }
    ok_ = false;
    out = 0;
    return false;
}

std::uint8_t RecordCursor::U8() {
    std::uint8_t b = 0;
    NextByte(b);
    return b;
}

std::uint16_t RecordCursor::U16() {
    const std::uint16_t lo = U8();
    const std::uint16_t hi = U8();
    return ok_ ? static_cast<std::uint16_t>(lo | (hi << 8)) : 0;
}

std::uint32_t RecordCursor::U32() {
    const std::uint32_t lo = U16();
    const std::uint32_t hi = U16();
    return ok_ ? lo | (hi << 16) : 0;
}

double RecordCursor::F64() {
    const std::uint64_t lo = U32();
    const std::uint64_t hi = U32();
    return ok_ ? std::bit_cast<double>(lo | (hi << 32)) : 0.0;
}

void RecordCursor::Skip(std::size_t count) {
    if (count > Remaining()) {
        ok_ = false;
        return;
    }
    std::uint8_t b;
    // Fast path inside one segment, byte steps only across boundaries.
    while (count > 0) {
        const std::size_t here = segments_[segment_].size() - offset_;
        if (here == 0) {
            NextByte(b);
            --count;
            continue;
        }
        const std::size_t step = std::min(here, count);
        offset_ += step;
        remaining_ -= step;
        count -= step;
    }
}

std::vector<std::uint8_t> RecordCursor::Bytes(std::size_t count) {
    std::vector<std::uint8_t> out;
    if (count > Remaining()) {
        ok_ = false;
        return out;
    }
    // Whole runs of a segment at a time: formulas are read this way, one
    // per formula cell.
    out.reserve(count);
    while (out.size() < count) {
        const auto segment = segments_[segment_];
        if (offset_ == segment.size()) {
            ++segment_;
            offset_ = 0;
            continue;
        }
        const std::size_t n = std::min(segment.size() - offset_, count - out.size());
        out.insert(out.end(), segment.begin() + static_cast<std::ptrdiff_t>(offset_),
                   segment.begin() + static_cast<std::ptrdiff_t>(offset_ + n));
        offset_ += n;
        remaining_ -= n;
    }
    return out;
}

std::u16string RecordCursor::Chars(std::size_t cch, bool highByte) {
    std::u16string text;
    CharsInto(cch, highByte, text);
    return text;
}

void RecordCursor::CharsInto(std::size_t cch, bool highByte, std::u16string& text) {
    text.clear();
    // Each character takes at least one byte: a claim beyond the data is
    // refused before anything is allocated.
    if (cch > Remaining()) {
        ok_ = false;
        return;
    }
    text.resize(cch);
    std::size_t done = 0;
    while (done < cch && ok_) {
        if (segment_ < segments_.size() && offset_ == segments_[segment_].size() && segment_ + 1 < segments_.size()) {
            // The characters go on in the next CONTINUE, which opens with its
            // own flag byte: the encoding may change there.
            ++segment_;
            offset_ = 0;
            highByte = (U8() & 0x01) != 0;
            continue;
        }
        if (segment_ >= segments_.size()) {
            ok_ = false;
            break;
        }
        const std::uint8_t* seg = segments_[segment_].data() + offset_;
        const std::size_t left = segments_[segment_].size() - offset_;
        const std::size_t need = cch - done;
        char16_t* to = text.data() + done;
        if (highByte) {
            const std::size_t avail = left / 2;
            if (avail == 0) {
                ok_ = false; // a character split across records
                break;
            }
            const std::size_t n = std::min(avail, need);
            for (std::size_t i = 0; i < n; ++i) to[i] = static_cast<char16_t>(seg[2 * i] | (seg[2 * i + 1] << 8));
            offset_ += 2 * n;
            remaining_ -= 2 * n;
            done += n;
        } else {
            const std::size_t n = std::min(left, need);
            if (n == 0) {
                // The last segment is used up: the claimed characters are not
                // there (Remaining() said otherwise). Without this the loop
                // would spin forever.
                ok_ = false;
                break;
            }
            for (std::size_t i = 0; i < n; ++i) to[i] = seg[i];
            offset_ += n;
            remaining_ -= n;
            done += n;
        }
    }
    if (!ok_) text.clear();
}

RichString ReadRichString(RecordCursor& cursor) {
    RichString s;
    ReadRichString(cursor, s);
    return s;
}

void ReadRichString(RecordCursor& cursor, RichString& s) {
    const std::uint16_t cch = cursor.U16();
    const std::uint8_t flags = cursor.U8();
    std::uint16_t cRun = 0;
    std::uint32_t cbExtRst = 0;
    if (flags & 0x08) cRun = cursor.U16();
    if (flags & 0x04) cbExtRst = cursor.U32();
    cursor.CharsInto(cch, (flags & 0x01) != 0, s.text);
    s.runs.clear();
    s.extRst.clear();
    if (cRun) s.runs = cursor.Bytes(std::size_t{cRun} * 4);
    if (cbExtRst) s.extRst = cursor.Bytes(cbExtRst);
}

std::u16string ReadUnicodeString(RecordCursor& cursor) {
    const std::uint16_t cch = cursor.U16();
    const std::uint8_t flags = cursor.U8();
    return cursor.Chars(cch, (flags & 0x01) != 0);
}

std::u16string ReadShortUnicodeString(RecordCursor& cursor) {
    const std::uint8_t cch = cursor.U8();
    const std::uint8_t flags = cursor.U8();
    return cursor.Chars(cch, (flags & 0x01) != 0);
}

formula::Tokens ReadFormula(RecordCursor& cursor, std::size_t cce, FormulaTail tail) {
    formula::Tokens tokens;
    tokens.rgce = cursor.Bytes(cce);
    if (tail == FormulaTail::RestOfRecord) tokens.rgcb = cursor.Bytes(cursor.Remaining());
    if (!cursor.Ok()) tokens = {};
    return tokens;
}

// ---------------------------------------------------------------- writing

bool FitsInBytes(std::u16string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x100; });
}

Bytes& Bytes::U16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v));
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}

Bytes& Bytes::U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}

Bytes& Bytes::F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) data_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    return *this;
}

Bytes& Bytes::Append(std::span<const std::uint8_t> bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes& Bytes::UnicodeChars(std::u16string_view text) {
    const bool compressed = FitsInBytes(text);
    U8(compressed ? 0x00 : 0x01);
    for (char16_t c : text) {
        if (compressed)
            U8(static_cast<std::uint8_t>(c));
        else
            U16(c);
    }
    return *this;
}

Bytes& Bytes::UnicodeString(std::u16string_view text) {
    U16(static_cast<std::uint16_t>(text.size()));
    return UnicodeChars(text);
}

Bytes& Bytes::ShortUnicodeString(std::u16string_view text) {
    U8(static_cast<std::uint8_t>(text.size()));
    return UnicodeChars(text);
}

void StreamWriter::Write(std::uint16_t opcode, std::span<const std::uint8_t> data) {
    if (data.size() <= kMaxRecordData) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + 4 + data.size());
        std::uint8_t* to = bytes_.data() + at;
        to[0] = static_cast<std::uint8_t>(opcode);
        to[1] = static_cast<std::uint8_t>(opcode >> 8);
        to[2] = static_cast<std::uint8_t>(data.size());
        to[3] = static_cast<std::uint8_t>(data.size() >> 8);
        if (!data.empty()) std::memcpy(to + 4, data.data(), data.size());
        return;
    }
    std::uint16_t id = opcode;
    do {
        const std::size_t n = std::min(data.size(), kMaxRecordData);
        const std::size_t at = bytes_.size();
        bytes_.resize(at + 4 + n);
        PutU16(std::span(bytes_).subspan(at), id);
        PutU16(std::span(bytes_).subspan(at + 2), static_cast<std::uint16_t>(n));
        if (n) std::memcpy(bytes_.data() + at + 4, data.data(), n);
        data = data.subspan(n);
        id = op::kContinue;
    } while (!data.empty());
}

void StreamWriter::PatchU32(std::size_t position, std::uint32_t v) {
    PutU32(std::span(bytes_).subspan(position, 4), v);
}

ContinuableWriter::ContinuableWriter(StreamWriter& out, std::uint16_t opcode) : out_(out) { StartRecord(opcode); }

ContinuableWriter::~ContinuableWriter() {
    if (open_) CloseRecord();
}

void ContinuableWriter::StartRecord(std::uint16_t opcode) {
    recordStart_ = out_.bytes_.size();
    out_.bytes_.resize(recordStart_ + 4);
    PutU16(std::span(out_.bytes_).subspan(recordStart_), opcode);
    open_ = true;
}

void ContinuableWriter::CloseRecord() {
    const std::size_t length = out_.bytes_.size() - recordStart_ - 4;
    PutU16(std::span(out_.bytes_).subspan(recordStart_ + 2), static_cast<std::uint16_t>(length));
    open_ = false;
}

std::size_t ContinuableWriter::Room() const noexcept {
    return kMaxRecordData - (out_.bytes_.size() - recordStart_ - 4);
}

void ContinuableWriter::KeepTogether(std::size_t count) {
    if (Room() < count) {
        CloseRecord();
        StartRecord(op::kContinue);
    }
}

void ContinuableWriter::Raw(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        if (Room() == 0) KeepTogether(1);
        const std::size_t n = std::min(Room(), bytes.size());
        out_.bytes_.insert(out_.bytes_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
    }
}

void ContinuableWriter::U8(std::uint8_t v) {
    KeepTogether(1);
    out_.bytes_.push_back(v);
}

void ContinuableWriter::U16(std::uint16_t v) {
    KeepTogether(2);
    out_.bytes_.push_back(static_cast<std::uint8_t>(v));
    out_.bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void ContinuableWriter::U32(std::uint32_t v) {
    KeepTogether(4);
    for (int i = 0; i < 4; ++i) out_.bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void ContinuableWriter::RichStringEntry(const RichString& s) { RichStringEntry(s.text, s.runs, s.extRst); }

void ContinuableWriter::RichStringEntry(std::u16string_view text, std::span<const std::uint8_t> runs,
                                        std::span<const std::uint8_t> extRst) {
    const bool compressed = FitsInBytes(text);
    const std::size_t charSize = compressed ? 1 : 2;
    const std::uint16_t cRun = static_cast<std::uint16_t>(runs.size() / 4);
    std::uint8_t flags = compressed ? 0x00 : 0x01;
    std::size_t header = 3;
    if (cRun) {
        flags |= 0x08;
        header += 2;
    }
    if (!extRst.empty()) {
        flags |= 0x04;
        header += 4;
    }
    KeepTogether(header + (text.empty() ? 0 : charSize));
    auto& bytes = out_.bytes_;
    std::uint8_t head[9];
    std::size_t h = 0;
    head[h++] = static_cast<std::uint8_t>(text.size());
    head[h++] = static_cast<std::uint8_t>(text.size() >> 8);
    head[h++] = flags;
    if (cRun) {
        head[h++] = static_cast<std::uint8_t>(cRun);
        head[h++] = static_cast<std::uint8_t>(cRun >> 8);
    }
    if (!extRst.empty()) {
        const auto cb = static_cast<std::uint32_t>(extRst.size());
        for (int i = 0; i < 4; ++i) head[h++] = static_cast<std::uint8_t>(cb >> (8 * i));
    }
    bytes.insert(bytes.end(), head, head + h);

    std::size_t i = 0;
    while (i < text.size()) {
        if (Room() < charSize) {
            CloseRecord();
            StartRecord(op::kContinue);
            bytes.push_back(compressed ? 0x00 : 0x01);
        }
        const std::size_t n = std::min(Room() / charSize, text.size() - i);
        const std::size_t at = bytes.size();
        bytes.resize(at + n * charSize);
        std::uint8_t* to = bytes.data() + at;
        if (compressed) {
            for (std::size_t k = 0; k < n; ++k) to[k] = static_cast<std::uint8_t>(text[i + k]);
        } else {
            for (std::size_t k = 0; k < n; ++k) {
                to[2 * k] = static_cast<std::uint8_t>(text[i + k]);
                to[2 * k + 1] = static_cast<std::uint8_t>(text[i + k] >> 8);
            }
        }
        i += n;
    }
    // Formatting runs are never split inside a run.
    for (std::size_t r = 0; r + 4 <= runs.size(); r += 4) {
        KeepTogether(4);
        bytes.insert(bytes.end(), runs.begin() + static_cast<std::ptrdiff_t>(r),
                     runs.begin() + static_cast<std::ptrdiff_t>(r + 4));
    }
    Raw(extRst);
}

void ContinuableWriter::Finish() {
    if (open_) CloseRecord();
}

} // namespace vi2zezir::workbook::biff
