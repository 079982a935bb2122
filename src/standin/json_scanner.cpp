#include "standin/json_scanner.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <utility>

namespace vi2zezir::standin {

std::string_view JsonInput::Next() {
    if (!in_) return std::exchange(text_, std::string_view());
    if (left_ == 0) return {};
    piece_.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(left_, std::max<std::size_t>(pieceSize_, 1))));
    in_->read(piece_.data(), static_cast<std::streamsize>(piece_.size()));
    const auto got = static_cast<std::size_t>(in_->gcount());
    left_ -= got;
    if (got < piece_.size()) {
        cutShort_ = true;
        left_ = 0;
    }
    return {piece_.data(), got};
}

namespace {

using Sax = nlohmann::json_sax<nlohmann::json>;

// Deeper texts are left to nlohmann's parser, which needs no stack for them.
constexpr int kMaxDepth = 64;

// What a byte inside a string asks of the reader.
enum ByteClass : std::uint8_t { kPlain, kQuote, kBackslash, kControl, kNonAscii };

constexpr std::array<std::uint8_t, 256> kStringBytes = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int c = 0; c < 0x20; ++c) classes[c] = kControl;
    classes['"'] = kQuote;
    classes['\\'] = kBackslash;
    for (int c = 0x80; c < 0x100; ++c) classes[c] = kNonAscii;
    return classes;
}();

class Scanner {
public:
    Scanner(JsonInput& input, Sax& sax) : input_(input), sax_(sax) {}

    ScanResult Run() {
        if (More() && static_cast<unsigned char>(*p_) == 0xEF) { // a byte order mark
            ++p_;
            if (!Byte(0xBB) || !Byte(0xBF)) return ScanResult::GaveUp;
        }
        if (!ReadValue(0)) return result_;
        SkipSpace();
        return More() || input_.CutShort() ? ScanResult::GaveUp : ScanResult::Done;
    }

private:
    bool GiveUp() {
        result_ = ScanResult::GaveUp;
        return false;
    }
    bool Deliver(bool handlerGoesOn) {
        if (!handlerGoesOn) result_ = ScanResult::Stopped;
        return handlerGoesOn;
    }

    // Whether a byte is left, reading the next piece when this one is done.
    bool More() {
        while (p_ == end_) {
            const std::string_view piece = input_.Next();
            if (piece.empty()) return false;
            p_ = piece.data();
            end_ = p_ + piece.size();
        }
        return true;
    }
    // Takes the next byte if it is `b`.
    bool Byte(unsigned char b) {
        if (!More() || static_cast<unsigned char>(*p_) != b) return false;
        ++p_;
        return true;
    }
    void SkipSpace() {
        while (More() && (*p_ == ' ' || *p_ == '\n' || *p_ == '\r' || *p_ == '\t')) ++p_;
    }
    bool At(char c) {
        SkipSpace();
        return More() && *p_ == c;
    }
    bool Literal(std::string_view word) {
        for (char c : word)
            if (!Byte(static_cast<unsigned char>(c))) return false;
        return true;
    }

    bool ReadValue(int depth) {
        SkipSpace();
        if (!More()) return GiveUp();
        switch (*p_) {
        case '{': return ReadObject(depth + 1);
        case '[': return ReadArray(depth + 1);
        case '"': return ReadString() && Deliver(sax_.string(text_));
        case 't': return Literal("true") ? Deliver(sax_.boolean(true)) : GiveUp();
        case 'f': return Literal("false") ? Deliver(sax_.boolean(false)) : GiveUp();
        case 'n': return Literal("null") ? Deliver(sax_.null()) : GiveUp();
        default: return ReadNumber();
        }
    }

    bool ReadObject(int depth) {
        if (depth > kMaxDepth) return GiveUp();
        ++p_;
        if (!Deliver(sax_.start_object(static_cast<std::size_t>(-1)))) return false;
        if (At('}')) {
            ++p_;
            return Deliver(sax_.end_object());
        }
        for (;;) {
            if (!At('"')) return GiveUp();
            if (!ReadString() || !Deliver(sax_.key(text_))) return false;
            if (!At(':')) return GiveUp();
            ++p_;
            if (!ReadValue(depth)) return false;
            SkipSpace();
            if (!More()) return GiveUp();
            const char c = *p_++;
            if (c == '}') return Deliver(sax_.end_object());
            if (c != ',') return GiveUp();
        }
    }

    bool ReadArray(int depth) {
        if (depth > kMaxDepth) return GiveUp();
        ++p_;
        if (!Deliver(sax_.start_array(static_cast<std::size_t>(-1)))) return false;
        if (At(']')) {
            ++p_;
            return Deliver(sax_.end_array());
        }
        for (;;) {
            if (!ReadValue(depth)) return false;
            SkipSpace();
            if (!More()) return GiveUp();
            const char c = *p_++;
            if (c == ']') return Deliver(sax_.end_array());
            if (c != ',') return GiveUp();
        }
    }

    // The string at p_ (its opening quote), unescaped into text_. Runs of
    // plain characters are copied whole.
    bool ReadString() {
        ++p_;
        text_.clear();
        for (;;) {
            const char* run = p_;
            while (p_ != end_ && kStringBytes[static_cast<unsigned char>(*p_)] == kPlain) ++p_;
            text_.append(run, p_);
            if (!More()) return GiveUp();
            switch (kStringBytes[static_cast<unsigned char>(*p_)]) {
            case kPlain: break; // the run went on in the next piece
            case kQuote: ++p_; return true;
            case kBackslash:
                if (!ReadEscape()) return GiveUp();
                break;
            case kNonAscii:
                if (!ReadUtf8Sequence()) return GiveUp();
                break;
            default: return GiveUp(); // a control character must be escaped
            }
        }
    }

    // One well-formed UTF-8 sequence of two to four bytes (RFC 3629): no
    // overlong forms, no surrogates, nothing past U+10FFFF.
    bool ReadUtf8Sequence() {
        const auto lead = static_cast<unsigned char>(*p_++);
        int length = 0;
        unsigned char low = 0x80, high = 0xBF; // the range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        text_ += static_cast<char>(lead);
        for (int k = 1; k < length; ++k) {
            if (!More()) return false;
            const auto next = static_cast<unsigned char>(*p_);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
            text_ += *p_++;
        }
        return true;
    }

    bool ReadHex4(char32_t& unit) {
        unit = 0;
        for (int k = 0; k < 4; ++k) {
            if (!More()) return false;
            const char c = *p_++;
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= static_cast<char32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                unit |= static_cast<char32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                unit |= static_cast<char32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool ReadEscape() {
        ++p_;
        if (!More()) return false;
        const char c = *p_++;
        switch (c) {
        case '"':
        case '\\':
        case '/': text_ += c; return true;
        case 'b': text_ += '\b'; return true;
        case 'f': text_ += '\f'; return true;
        case 'n': text_ += '\n'; return true;
        case 'r': text_ += '\r'; return true;
        case 't': text_ += '\t'; return true;
        case 'u': break;
        default: return false;
        }
        char32_t cp = 0;
        if (!ReadHex4(cp) || (cp >= 0xDC00 && cp <= 0xDFFF)) return false;
        if (cp >= 0xD800 && cp <= 0xDBFF) { // a surrogate pair: the low half must follow
            char32_t low = 0;
            if (!Literal("\\u") || !ReadHex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        if (cp < 0x80) {
            text_ += static_cast<char>(cp);
        } else if (cp < 0x800) {
            text_ += static_cast<char>(0xC0 | (cp >> 6));
            text_ += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            text_ += static_cast<char>(0xE0 | (cp >> 12));
            text_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            text_ += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            text_ += static_cast<char>(0xF0 | (cp >> 18));
            text_ += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            text_ += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            text_ += static_cast<char>(0x80 | (cp & 0x3F));
        }
        return true;
    }

    // Takes the digits at p_ into text_; false when there is none.
    bool Digits() {
        const std::size_t before = text_.size();
        while (More() && *p_ >= '0' && *p_ <= '9') text_ += *p_++;
        return text_.size() != before;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? As nlohmann does: an
    // integer that fits 64 bits is delivered as one, anything else as a
    // double. A double out of range is left to nlohmann, which refuses an
    // overflow and takes an underflow.
    bool ReadNumber() {
        text_.clear();
        const bool negative = Byte('-');
        if (negative) text_ += '-';
        if (!More() || *p_ < '0' || *p_ > '9') return GiveUp();
        if (*p_ == '0')
            text_ += *p_++;
        else
            Digits();
        bool integer = true;
        if (Byte('.')) {
            text_ += '.';
            if (!Digits()) return GiveUp();
            integer = false;
        }
        if (More() && (*p_ == 'e' || *p_ == 'E')) {
            text_ += *p_++;
            if (More() && (*p_ == '+' || *p_ == '-')) text_ += *p_++;
            if (!Digits()) return GiveUp();
            integer = false;
        }
        const char* first = text_.data();
        const char* last = first + text_.size();
        if (integer) {
            if (negative) {
                std::int64_t i = 0;
                if (std::from_chars(first, last, i).ec == std::errc()) return Deliver(sax_.number_integer(i));
            } else {
                std::uint64_t u = 0;
                if (std::from_chars(first, last, u).ec == std::errc()) return Deliver(sax_.number_unsigned(u));
            }
        }
        double d = 0;
        if (std::from_chars(first, last, d).ec != std::errc()) return GiveUp();
        return Deliver(sax_.number_float(d, text_));
    }

    JsonInput& input_;
    Sax& sax_;
    const char* p_ = nullptr;
    const char* end_ = nullptr;
    std::string text_;
    ScanResult result_ = ScanResult::Done;
};

} // namespace

ScanResult ScanJson(JsonInput& input, nlohmann::json_sax<nlohmann::json>& handler) {
    return Scanner(input, handler).Run();
}

} // namespace vi2zezir::standin
