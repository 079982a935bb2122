// A reader for well-formed JSON text that hands its events to a handler of
// nlohmann's SAX interface, several times faster than nlohmann's own parser
// on long documents, and able to read a stream piece by piece. It takes
// exactly what RFC 8259 allows (UTF-8, no comments, one value, an optional
// byte order mark) and delivers the events nlohmann's parser would. It does
// not describe faults: at the first thing it does not take it gives up, and
// the caller parses the text again with nlohmann, whose messages name the
// line and column of the fault.
#pragma once

#include <cstdint>
#include <istream>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vi2zezir::standin {

// The text to read: whole, or `size` bytes of a stream, a piece at a time.
class JsonInput {
public:
    // Pieces of a quarter megabyte: a long document never needs its whole
    // text in memory, and the piece is the same memory every time.
    static constexpr std::size_t kPieceSize = 256 * 1024;

    explicit JsonInput(std::string_view text) : text_(text) {}
    JsonInput(std::istream& in, std::uintmax_t size, std::size_t pieceSize = kPieceSize)
        : in_(&in), left_(size), pieceSize_(pieceSize) {}

    // The next piece of the text; empty at its end.
    std::string_view Next();
    // The stream ended before the size it was given.
    bool CutShort() const { return cutShort_; }

private:
    std::string_view text_;
    std::istream* in_ = nullptr;
    std::uintmax_t left_ = 0;
    std::size_t pieceSize_ = kPieceSize;
    std::vector<char> piece_;
    bool cutShort_ = false;
};

enum class ScanResult {
    Done,    // the whole text was read; every event was delivered
    Stopped, // the handler returned false
    GaveUp,  // something not taken here: a fault, or a number out of range
};

ScanResult ScanJson(JsonInput& input, nlohmann::json_sax<nlohmann::json>& handler);

} // namespace vi2zezir::standin
