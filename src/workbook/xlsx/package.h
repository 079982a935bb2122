// A workbook package (.xlsx, .xlsm): the zip container, its parts, the
// content-type table and the relationships between parts, read from memory
// and written back so that every part nobody changed comes out as it came
// in: its compressed bytes, CRC, sizes and time stamp copied, never
// recompressed. A part that is written anew is deflated.
//
// Part names are the zip's entry names ("xl/workbook.xml", no leading
// slash). They compare as the packaging rules say part names compare:
// without regard to ASCII case, and with percent-escapes decoded. They are
// names only: nothing here touches the file system.
//
// The input is untrusted. Open checks the whole zip structure before it
// returns (the directory against every local header, entries against each
// other and against the limits below); Read inflates one part and checks its
// size and CRC. Every fault is an Error whose text says what is wrong
// and with which part, e.g. "the workbook's zip directory is cut off",
// "part 'xl/worksheets/sheet1.xml' inflates past its declared size".
//
//   auto package = xlsx::Package::Open(std::move(bytes));
//   const auto parts = xlsx::FindWorkbookParts(package);
//   std::string sheet = package.Read(parts.sheets.at(0).part);
//   ... package.Write(parts.sheets.at(0).part, std::move(newSheetXml));
//   xlsx::DropCalcChain(package);
//   std::vector<std::uint8_t> filled = package.Save();
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/xlsx/xml.h"

namespace vi2zezir::workbook::xlsx {

// The kinds of the engine's Error a package can raise:
//   NotAWorkbook  no zip structure at all, or a sound zip that lacks what a workbook needs
//   Damaged       cut off, inconsistent, a CRC or a size that does not match
//   TooLarge      over one of the PackageLimits, or a workbook listing more than 65,535 sheets
//   Unsupported   encrypted entries, split archives, compression other than stored and deflate, .xlsb
//   BadPartName   a name that is not a part name, or a second part of the same name
//   BadXml        a part's XML is not well-formed, has a DOCTYPE or exceeds the XML bounds

struct PackageLimits {
    // The zip file itself (as the compound-file reader's limit for .xls).
    std::size_t maxPackageBytes = 256u << 20;
    // One part, inflated. A sheet of a million rows with a few columns is
    // some hundred megabytes of XML.
    std::uint64_t maxPartBytes = 512u << 20;
    // All parts together, inflated, as their sizes are declared.
    std::uint64_t maxTotalBytes = 1u << 30;
    // Inflated to compressed size. Deflate reaches about 1030:1 on one
    // repeated byte; real parts stay far below (97:1 at most among the parts
    // over 100 KB of 579 workbooks from spreadsheet libraries' test suites;
    // a filled 32,767-line sheet deflates 12:1). Parts smaller than
    // ratioExemptBytes are not held to it.
    std::uint64_t maxRatio = 250;
    std::uint64_t ratioExemptBytes = 4u << 20;
    // Entries of the zip; a workbook with hundreds of sheets and their
    // drawings has a few thousand.
    std::size_t maxEntries = 10000;
    // A part read whole as a tree (content types, relationships) costs
    // several times its text; a sheet with a hundred thousand hyperlinks has
    // some 15 MB of relationships.
    std::uint64_t maxTreeBytes = 64u << 20;
    xml::Limits xml;
};

// ---------------------------------------------------------------------------
// Relationships (a part's "_rels/<name>.rels", the package's "_rels/.rels")
// ---------------------------------------------------------------------------

struct Relationship {
    std::string id;
    std::string type;   // the full URI
    std::string target; // as written: relative to the source part's folder, or absolute from the root
    bool external = false;
};

// Whether a relationship type is the named one of the office-document
// family, in the transitional or in the strict namespace:
// IsRelationshipType(r.type, "worksheet").
bool IsRelationshipType(std::string_view type, std::string_view name);
// The transitional URI of a named type ("http://schemas.openxmlformats.org/
// officeDocument/2006/relationships/worksheet").
std::string RelationshipType(std::string_view name);

// The relationships of one source part, parsed from their part and written
// back with everything the editing did not touch (namespaces, unknown
// attributes) kept.
class Relationships {
public:
    // The part these relationships belong to; empty for the package's own.
    const std::string& Source() const noexcept { return source_; }
    const std::vector<Relationship>& Items() const noexcept { return items_; }

    const Relationship* Find(std::string_view id) const;
    // Every relationship of the named type (see IsRelationshipType), in order.
    std::vector<const Relationship*> OfType(std::string_view name) const;

    // The part an internal relationship points to. Error (BadPartName)
    // for an external one, or a target that leaves the package or is not a
    // valid part name.
    std::string TargetPart(const Relationship& relationship) const;

    // Adds a relationship of the full type URI to a part; returns its new id.
    std::string Add(std::string_view type, std::string_view targetPart);
    // False when there is none of that id.
    bool Remove(std::string_view id);
    // Removes every relationship of the named type; returns how many.
    std::size_t RemoveOfType(std::string_view name);

private:
    friend class Package;
    std::string source_;
    xml::Document document_;
    std::vector<Relationship> items_;
};

// "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels"; "" -> "_rels/.rels".
std::string RelationshipsPartName(std::string_view sourcePart);

// ---------------------------------------------------------------------------
// The package
// ---------------------------------------------------------------------------

class Package {
public:
    // Takes the whole zip file. Error when it is not a sound package:
    // also when [Content_Types].xml is missing or not well-formed.
    static Package Open(std::vector<std::uint8_t> zip, const PackageLimits& limits = {});

    // Every part, in the order of the zip ([Content_Types].xml and the
    // relationship parts included; folder entries left out).
    std::vector<std::string> PartNames() const;
    bool Has(std::string_view part) const;

    // The part's bytes, inflated and CRC-checked (or as last written).
    // Error when it is missing, damaged, over a limit or compressed
    // with a method other than stored and deflate.
    std::string Read(std::string_view part) const;
    // Parses the part as XML; errors name the part. A tree is for small
    // parts: one over PackageLimits::maxTreeBytes is refused (TooLarge).
    void ReadXml(std::string_view part, xml::Handler& handler) const;
    xml::Document ReadDocument(std::string_view part) const;

    // The part's content type: its Override, else the Default for its
    // extension; empty when neither exists.
    std::string ContentType(std::string_view part) const;

    // Replaces a part's bytes (the part keeps its place and time stamp) or
    // adds a new part at the end. contentType, when given, becomes the part's
    // type (an Override unless the extension's Default says the same); a new
    // part needs one unless its extension's Default covers it.
    void Write(std::string_view part, std::string content, std::string_view contentType = {});
    // Removes a part with its Override and its own relationships part.
    // Relationships that point to it are the caller's to remove.
    void Remove(std::string_view part);

    // The relationships of a part ("" for the package's own); empty ones when
    // it has no relationships part.
    Relationships ReadRelationships(std::string_view sourcePart) const;
    void WriteRelationships(const Relationships& relationships);

    // The zip file: unchanged parts passed through raw, written parts
    // deflated, [Content_Types].xml rewritten only when a content type
    // changed. The same package saves to the same bytes.
    std::vector<std::uint8_t> Save() const;

    ~Package();
    Package(Package&&) noexcept;
    Package& operator=(Package&&) noexcept;

private:
    friend bool DropCalcChain(Package& package);
    struct State;
    explicit Package(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// ---------------------------------------------------------------------------
// What filling a workbook needs of the package
// ---------------------------------------------------------------------------

enum class SheetKind : std::uint8_t { Worksheet, Chartsheet, Dialogsheet, Macrosheet, Other };

struct SheetPart {
    std::string name;           // the tab's name (UTF-8, as workbook.xml has it)
    std::string relationshipId; // r:id in workbook.xml
    // "xl/worksheets/sheet1.xml"; empty for a sheet entry that names no
    // relationship at all (left behind by some writers), whose kind is Other.
    std::string part;
    SheetKind kind = SheetKind::Other;
};

struct WorkbookParts {
    std::string workbook;          // the office document: "xl/workbook.xml"
    std::vector<SheetPart> sheets; // in tab order
    std::string sharedStrings;     // empty when absent
    std::string styles;            // empty when absent
    std::string calcChain;         // empty when absent
};

// Follows the package's office-document relationship to the workbook and the
// workbook's relationships to its parts. Error (NotAWorkbook) when the
// relationship or a part it names is missing.
WorkbookParts FindWorkbookParts(const Package& package);

// Removes the calculation chain (the part, the workbook's relationship to it
// and its content-type Override), which goes stale as soon as cells change;
// Excel rebuilds it. False when there was none.
bool DropCalcChain(Package& package);

} // namespace vi2zezir::workbook::xlsx
