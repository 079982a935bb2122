#include "biff_records.h"

#include <bit>
#include <stdexcept>

namespace vi2zezir::tools::biff {

Body& Body::U8(std::uint8_t v) {
    data_.push_back(v);
    return *this;
}

Body& Body::U16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}

Body& Body::U32(std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        data_.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
    }
    return *this;
}

Body& Body::F64(double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int shift = 0; shift < 64; shift += 8) {
        data_.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
    }
    return *this;
}

Body& Body::Bytes(const std::vector<std::uint8_t>& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

Body& Body::Zeros(std::size_t count) {
    data_.insert(data_.end(), count, 0);
    return *this;
}

bool FitsIn8Bit(std::u16string_view text) {
    for (char16_t c : text) {
        if (c > 0xFF) {
            return false;
        }
    }
    return true;
}

Body& Body::StringChars(std::u16string_view text) {
    const bool compressed = FitsIn8Bit(text);
    U8(compressed ? 0x00 : 0x01); // fHighByte
    for (char16_t c : text) {
        if (compressed) {
            U8(static_cast<std::uint8_t>(c));
        } else {
            U16(static_cast<std::uint16_t>(c));
        }
    }
    return *this;
}

Body& Body::ShortString(std::u16string_view text) {
    if (text.size() > 0xFF) {
        throw std::length_error("short string longer than 255 characters");
    }
    U8(static_cast<std::uint8_t>(text.size()));
    return StringChars(text);
}

Body& Body::String(std::u16string_view text) {
    if (text.size() > 0xFFFF) {
        throw std::length_error("string longer than 65,535 characters");
    }
    U16(static_cast<std::uint16_t>(text.size()));
    return StringChars(text);
}

std::size_t RecordStream::Add(std::uint16_t type, const Body& body) {
    if (body.Size() > kMaxRecordData) {
        throw std::length_error("BIFF record data over 8,224 bytes");
    }
    const std::size_t at = bytes_.size();
    const auto size = static_cast<std::uint16_t>(body.Size());
    bytes_.push_back(static_cast<std::uint8_t>(type & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(type >> 8));
    bytes_.push_back(static_cast<std::uint8_t>(size & 0xFF));
    bytes_.push_back(static_cast<std::uint8_t>(size >> 8));
    bytes_.insert(bytes_.end(), body.Data().begin(), body.Data().end());
    return at;
}

void RecordStream::PatchU32(std::size_t at, std::uint32_t value) {
    if (at + 4 > bytes_.size()) {
        throw std::out_of_range("patch beyond the written stream");
    }
    for (int i = 0; i < 4; ++i) {
        bytes_[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

namespace ptg {

namespace {
// RgceLoc column word: column in bits 0-13, fColRel 0x4000, fRwRel 0x8000.
constexpr std::uint16_t kRelativeRowAndCol = 0xC000;

void Push16(std::vector<std::uint8_t>& bytes, std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
}
} // namespace

Rgce& Rgce::Loc(std::uint16_t row, std::uint16_t col) {
    Push16(bytes_, row);
    Push16(bytes_, static_cast<std::uint16_t>(col | kRelativeRowAndCol));
    return *this;
}

Rgce& Rgce::Ref(std::uint16_t row, std::uint16_t col) {
    bytes_.push_back(0x44);
    return Loc(row, col);
}

Rgce& Rgce::Area(std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col) {
    return AreaOfClass(0x25, rowFirst, rowLast, col);
}

Rgce& Rgce::ArrayArea(std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col) {
    return AreaOfClass(0x65, rowFirst, rowLast, col);
}

Rgce& Rgce::AreaOfClass(std::uint8_t ptg, std::uint16_t rowFirst, std::uint16_t rowLast, std::uint16_t col) {
    bytes_.push_back(ptg);
    Push16(bytes_, rowFirst);
    Push16(bytes_, rowLast);
    Push16(bytes_, static_cast<std::uint16_t>(col | kRelativeRowAndCol));
    Push16(bytes_, static_cast<std::uint16_t>(col | kRelativeRowAndCol));
    return *this;
}

Rgce& Rgce::Number(double value) {
    bytes_.push_back(0x1F);
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int shift = 0; shift < 64; shift += 8) {
        bytes_.push_back(static_cast<std::uint8_t>((bits >> shift) & 0xFF));
    }
    return *this;
}

Rgce& Rgce::Integer(std::uint16_t value) {
    bytes_.push_back(0x1E);
    Push16(bytes_, value);
    return *this;
}

Rgce& Rgce::Add() {
    bytes_.push_back(0x03);
    return *this;
}

Rgce& Rgce::Multiply() {
    bytes_.push_back(0x05);
    return *this;
}

Rgce& Rgce::FuncVar(std::uint16_t function, std::uint8_t argc) {
    bytes_.push_back(0x42);
    bytes_.push_back(argc);
    Push16(bytes_, function);
    return *this;
}

Rgce& Rgce::Func(std::uint16_t function) {
    bytes_.push_back(0x41);
    Push16(bytes_, function);
    return *this;
}

} // namespace ptg

} // namespace vi2zezir::tools::biff
