// The XML writer, the tree's serialisation and Excel's _xHHHH_ escapes.
#include "workbook/xlsx/xml.h"

#include <cstdio>

#include "base/utf.h"

namespace vi2zezir::workbook::xlsx::xml {

namespace {

// Characters XML 1.0 allows: tab, LF, CR, U+0020-U+D7FF, U+E000-U+FFFD,
// U+10000-U+10FFFF.
bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

std::string Hex4(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value & 0xFFFF);
    return buffer;
}

// The code point of the well-formed UTF-8 sequence at text[i] and its
// length, or length 0 for an ill-formed one.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return {lead, 1};
    std::size_t length;
    char32_t c;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07;
    } else {
        return {0, 0};
    }
    if (i + length > text.size()) return {0, 0};
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return {0, 0};
    return {c, length};
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Appends text escaped for content or for a double-quoted attribute value;
// checks it is well-formed UTF-8 made of characters XML 1.0 allows.
void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        if (static_cast<unsigned char>(ch) >= 0x80) {
            const auto [c, length] = DecodeUtf8(text, i);
            if (length == 0) throw Error(ErrorKind::BadXml, "text to be written is not well-formed UTF-8");
            if (!IsXmlChar(c))
                throw Error(ErrorKind::BadXml, "character U+" + Hex4(c) + " cannot be written in XML 1.0");
            out.append(text.substr(i, length));
            i += length;
            continue;
        }
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        case '\r': out += "&#13;"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        default:
            if (static_cast<unsigned char>(ch) < 0x20)
                throw Error(ErrorKind::BadXml,
                            "character U+" + Hex4(static_cast<unsigned char>(ch)) + " cannot be written in XML 1.0");
            out += ch;
        }
        ++i;
    }
}

// Comments and processing instructions are written as they are, unescaped;
// their characters must still be ones XML 1.0 allows.
void CheckCharacters(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto [c, length] = DecodeUtf8(text, i);
        if (length == 0) throw Error(ErrorKind::BadXml, "text to be written is not well-formed UTF-8");
        if (!IsXmlChar(c)) throw Error(ErrorKind::BadXml, "character U+" + Hex4(c) + " cannot be written in XML 1.0");
        i += length;
    }
}

void CheckName(std::string_view name) {
    if (name.empty() || name.find_first_of("<>&\"'=/ \t\r\n?!") != std::string_view::npos)
        throw Error(ErrorKind::BadXml, "'" + std::string(name) + "' is not an XML name");
}

bool IsHex(char32_t c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned HexValue(char32_t c) {
    if (c <= '9') return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// Whether text[i..] reads "_xHHHH_".
template <class Text>
bool IsEscapeAt(const Text& text, std::size_t i) {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') return false;
    for (std::size_t k = 2; k < 6; ++k)
        if (!IsHex(static_cast<char32_t>(text[i + k]))) return false;
    return true;
}

} // namespace

Writer::Writer(int standalone) {
    out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"";
    if (standalone >= 0) out_ += standalone ? " standalone=\"yes\"" : " standalone=\"no\"";
    out_ += "?>\r\n";
}

void Writer::CloseStartTag() {
    if (!inStartTag_) return;
    out_ += '>';
    inStartTag_ = false;
}

void Writer::StartElement(std::string_view name) {
    CheckName(name);
    CloseStartTag();
    out_ += '<';
    out_ += name;
    open_.emplace_back(name);
    inStartTag_ = true;
}

void Writer::Attribute(std::string_view name, std::string_view value) {
    if (!inStartTag_)
        throw Error(ErrorKind::BadXml, "attribute '" + std::string(name) + "' written outside a start tag");
    CheckName(name);
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    AppendEscaped(out_, value, true);
    out_ += '"';
}

void Writer::Text(std::string_view text) {
    if (text.empty()) return;
    CloseStartTag();
    AppendEscaped(out_, text, false);
}

void Writer::Comment(std::string_view text) {
    if (text.find("--") != std::string_view::npos || text.ends_with('-'))
        throw Error(ErrorKind::BadXml, "a comment cannot contain \"--\" or end with \"-\"");
    CheckCharacters(text);
    CloseStartTag();
    out_ += "<!--";
    out_ += text;
    out_ += "-->";
}

void Writer::ProcessingInstruction(std::string_view target, std::string_view data) {
    CheckName(target);
    if (data.find("?>") != std::string_view::npos)
        throw Error(ErrorKind::BadXml, "processing instruction data cannot contain \"?>\"");
    CheckCharacters(data);
    CloseStartTag();
    out_ += "<?";
    out_ += target;
    if (!data.empty()) {
        out_ += ' ';
        out_ += data;
    }
    out_ += "?>";
}

void Writer::EndElement() {
    if (open_.empty()) throw Error(ErrorKind::BadXml, "no element is open to be ended");
    if (inStartTag_) {
        out_ += "/>";
        inStartTag_ = false;
    } else {
        out_ += "</";
        out_ += open_.back();
        out_ += '>';
    }
    open_.pop_back();
}

void Writer::WriteNode(const Node& node) {
    switch (node.kind) {
    case Node::Kind::Text: Text(node.value); break;
    case Node::Kind::Comment: Comment(node.value); break;
    case Node::Kind::ProcessingInstruction: ProcessingInstruction(node.name, node.value); break;
    case Node::Kind::Element:
        StartElement(node.name);
        for (const auto& a : node.attributes) Attribute(a.name, a.value);
        for (const auto& child : node.children) WriteNode(child);
        EndElement();
        break;
    }
}

std::string Writer::Finish() {
    if (!open_.empty()) throw Error(ErrorKind::BadXml, "element <" + open_.back() + "> was never ended");
    return std::move(out_);
}

std::string Serialize(const Document& document) {
    Writer writer(document.standalone);
    for (const auto& node : document.nodes) writer.WriteNode(node);
    return writer.Finish();
}

std::string EncodeXstring(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if ((unit >= 0xD800 && unit <= 0xDFFF) || unit == 0xD || !IsXmlChar(unit)) {
            out += "_x" + Hex4(unit) + "_";
        } else if (IsEscapeAt(text, i)) {
            out += "_x005F_";
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string DecodeXstring(std::string_view text) {
    if (text.find("_x") == std::string_view::npos) return text::FromUtf8(text);
    std::u16string out;
    out.reserve(text.size());
    std::size_t plain = 0; // start of the run not yet decoded
    for (std::size_t i = 0; i + 7 <= text.size();) {
        if (!IsEscapeAt(text, i)) {
            ++i;
            continue;
        }
        out += text::FromUtf8(text.substr(plain, i - plain));
        unsigned value = 0;
        for (std::size_t k = 2; k < 6; ++k) value = value * 16 + HexValue(static_cast<unsigned char>(text[i + k]));
        out += static_cast<char16_t>(value);
        i += 7;
        plain = i;
    }
    out += text::FromUtf8(text.substr(plain));
    return out;
}

} // namespace vi2zezir::workbook::xlsx::xml
