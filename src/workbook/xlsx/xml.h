// XML for the parts of a workbook package: a streaming reader, a small tree
// for the parts that are edited whole (relationships, content types), and a
// writer.
//
// The reader is expat, fed in 64 KiB pieces, without namespace processing:
// names come as written ("x:row", "r:id") and namespace declarations come as
// the attributes they are, so a part that is rewritten keeps its prefixes,
// its declarations and its mc:Ignorable list exactly; Namespaces resolves a
// prefix where a reader must match by namespace (the same workbook may be
// written with the main namespace as the default or under "x:").
//
// Parts are untrusted input. The reader refuses any document type
// declaration outright: no DTD is read, no entity beyond the five predefined
// ones and character references is ever expanded, nothing is fetched. The
// nesting depth and the attributes of one element are bounded.
//
//   struct Cells : xml::Handler {
//       void StartElement(std::string_view name, xml::Attributes attributes) override {
//           if (xml::LocalName(name) == "c") refs.emplace_back(xml::FindAttribute(attributes, "r"));
//       }
//       void EndElement(std::string_view) override {}
//       std::vector<std::string> refs;
//   };
//   Cells cells;
//   xml::Parse(sheetXml, cells);
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/error.h"

namespace vi2zezir::workbook::xlsx::xml {

// A document that is not well-formed, carries a document type declaration or
// exceeds the bounds is an Error (BadXml) whose text names the line and
// column; so is text the writer cannot carry in XML 1.0.

struct Limits {
    // Sheets nest five or six deep, drawings and extension lists a few dozen.
    std::size_t maxDepth = 256;
    // A cell has three or four attributes; a root element declares twenty
    // namespaces at most in files Excel writes.
    std::size_t maxAttributes = 256;
};

// Valid during the StartElement call only.
struct AttributeView {
    std::string_view name;
    std::string_view value;
};
using Attributes = std::span<const AttributeView>;

// The value of the attribute of that name as written ("r:id"), or empty.
std::string_view FindAttribute(Attributes attributes, std::string_view name);
// "x:row" -> "row", "row" -> "row".
std::string_view LocalName(std::string_view name);

// What a streaming reader is told, in document order. Text arrives whole
// between two tags (expat's pieces, CDATA sections and references joined),
// entities and character references decoded, line ends normalised to LF.
// A handler may throw: the parse stops and the exception reaches the caller.
class Handler {
public:
    virtual ~Handler() = default;
    virtual void StartElement(std::string_view name, Attributes attributes) = 0;
    virtual void EndElement(std::string_view name) = 0;
    virtual void Text(std::string_view) {}
    virtual void Comment(std::string_view) {}
    virtual void ProcessingInstruction(std::string_view, std::string_view) {}
    // The XML declaration's standalone value: 1 yes, 0 no, -1 absent.
    virtual void Declaration(int) {}

    // Where the tag being reported lies in the document's bytes, set before
    // each StartElement and EndElement: a reader that splices the document
    // copies what lies between. The end of an empty element (<c/>) has
    // length 0 at the start tag's end.
    std::size_t tagOffset = 0;
    std::size_t tagLength = 0;
};

// Parses a whole document (UTF-8 or UTF-16, as its declaration or byte-order
// mark says; texts reach the handler as UTF-8). Error (BadXml) on any fault.
void Parse(std::string_view document, Handler& handler, const Limits& limits = {});

// The namespace declarations in scope, for a streaming reader: Enter at every
// StartElement (with its attributes), Leave at every EndElement.
class Namespaces {
public:
    void Enter(Attributes attributes);
    void Leave();
    // The namespace of an element name ("x:row", or "row" in the default
    // namespace) and of an attribute name (an unprefixed attribute has none);
    // empty for an undeclared prefix.
    std::string_view OfElement(std::string_view name) const;
    std::string_view OfAttribute(std::string_view name) const;

private:
    struct Binding {
        std::string prefix;
        std::string uri;
        std::size_t depth;
    };
    std::string_view Lookup(std::string_view prefix) const;
    std::vector<Binding> bindings_;
    std::size_t depth_ = 0;
};

// ---------------------------------------------------------------------------
// A tree, for the small parts that are edited and written back whole
// ---------------------------------------------------------------------------

struct Attribute {
    std::string name;
    std::string value;
};

struct Node {
    enum class Kind : std::uint8_t { Element, Text, Comment, ProcessingInstruction };
    Kind kind = Kind::Element;
    std::string name;                  // element name as written, or a processing instruction's target
    std::string value;                 // text, comment, or processing instruction data
    std::vector<Attribute> attributes; // elements: in document order, namespace declarations included
    std::vector<Node> children;        // elements

    // The attribute's value, or nullptr.
    const std::string* FindAttribute(std::string_view attributeName) const;
    // Replaces the value, or appends the attribute.
    void SetAttribute(std::string_view attributeName, std::string_view attributeValue);
    // The element's child elements in order, whitespace and comments skipped.
    std::vector<const Node*> ChildElements() const;
};

struct Document {
    int standalone = -1;     // as in the source's declaration: 1 yes, 0 no, -1 absent
    std::vector<Node> nodes; // comments and processing instructions around the root, and the root

    Node& Root();
    const Node& Root() const;
};

Document ParseDocument(std::string_view document, const Limits& limits = {});
// UTF-8, with the declaration Excel writes (standalone as the document has
// it) followed by CRLF, as Excel's parts begin.
std::string Serialize(const Document& document);

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

// Builds a document in memory. Text and attribute values are UTF-8 and are
// escaped here; a character XML 1.0 cannot carry (a C0 control other than
// tab, LF or CR, U+FFFE, U+FFFF) or ill-formed UTF-8 is an Error (BadXml): texts
// from cells go through EncodeXstring first. Carriage returns, tabs and line
// feeds in attribute values and carriage returns in text are written as
// character references, so that a reader's normalisation gives them back.
class Writer {
public:
    explicit Writer(int standalone = 1);

    void StartElement(std::string_view name);
    // Only directly after StartElement or another Attribute.
    void Attribute(std::string_view name, std::string_view value);
    void Text(std::string_view text);
    void Comment(std::string_view text);
    void ProcessingInstruction(std::string_view target, std::string_view data);
    // An element without content is closed as <name/>.
    void EndElement();
    void WriteNode(const Node& node);

    // The document; every element must have been ended.
    std::string Finish();

private:
    void CloseStartTag();
    std::string out_;
    std::vector<std::string> open_;
    bool inStartTag_ = false;
};

// ---------------------------------------------------------------------------
// Excel's escapes in texts (the ST_Xstring type: shared strings, inline
// strings, comments, header and footer texts, names)
// ---------------------------------------------------------------------------
//
// Excel writes a code unit that XML 1.0 cannot carry, or that a reader's
// line-end normalisation would lose (CR), as "_xHHHH_" (four hex digits of
// the UTF-16 unit: "_x0001_", "_x000D_", "_xFFFF_", "_xD800_" for a lone
// surrogate). A text that itself contains "_xHHHH_" has its underscore
// written as "_x005F_", so "_x0041_" is stored as "_x005F_x0041_" and reads
// back as itself. Tab and LF are written as they are.

// Cell text (UTF-16) -> UTF-8 XML character content, before the writer's own
// escaping of & < >.
std::string EncodeXstring(std::u16string_view text);
// XML character content (UTF-8, as the reader gives it) -> cell text. Any
// "_xHHHH_" (hex digits in either case) becomes that code unit.
std::u16string DecodeXstring(std::string_view text);

} // namespace vi2zezir::workbook::xlsx::xml
