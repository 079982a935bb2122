// Hostile packages, each built byte by byte here: every one must end in a
// Error of the right kind whose text says what is wrong, whether the
// fault shows when the package is opened or when its parts are read.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "workbook/xlsx/package.h"
#include "workbook/xlsx/zip.h"

namespace {

using namespace vi2zezir::workbook::xlsx;
using vi2zezir::workbook::Error;
using vi2zezir::workbook::ErrorKind;
using Bytes = std::vector<std::uint8_t>;

struct Spec {
    std::string name;
    std::string content;
    std::uint16_t method = zip::kDeflated;
    std::uint16_t flags = 0;
    std::optional<std::uint32_t> declaredSize = {}; // claimed in both headers instead of the real size
    std::uint32_t crcXor = 0;                       // spoils the CRC in both headers
    std::optional<std::string> localName = {};      // the local header's name, when it should differ
    std::optional<std::uint32_t> localOffset = {};  // no local header of its own: the record points there
};

void Put(Bytes& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A zip made as the specs say, with no check of its own: the faults are the point.
Bytes BuildZip(const std::vector<Spec>& specs) {
    struct Placed {
        std::uint64_t offset;
        std::uint32_t crc, compressed, size;
    };
    Bytes out;
    std::vector<Placed> placed;
    for (const auto& s : specs) {
        std::string data = s.content;
        if (s.method == zip::kDeflated) {
            const auto deflated = zip::Deflate(s.content);
            data.assign(deflated.begin(), deflated.end());
        }
        const Placed p{s.localOffset.value_or(out.size()), zip::Crc32(s.content) ^ s.crcXor,
                       static_cast<std::uint32_t>(data.size()),
                       s.declaredSize.value_or(static_cast<std::uint32_t>(s.content.size()))};
        placed.push_back(p);
        if (s.localOffset) continue;
        const std::string local = s.localName.value_or(s.name);
        Put(out, 0x04034b50, 4), Put(out, 20, 2), Put(out, s.flags, 2), Put(out, s.method, 2), Put(out, 0, 4);
        Put(out, p.crc, 4), Put(out, p.compressed, 4), Put(out, p.size, 4), Put(out, local.size(), 2), Put(out, 0, 2);
        out.insert(out.end(), local.begin(), local.end());
        out.insert(out.end(), data.begin(), data.end());
    }
    const std::uint64_t directory = out.size();
    for (std::size_t i = 0; i < specs.size(); ++i) {
        const auto& s = specs[i];
        const auto& p = placed[i];
        Put(out, 0x02014b50, 4), Put(out, 20, 2), Put(out, 20, 2), Put(out, s.flags, 2), Put(out, s.method, 2);
        Put(out, 0, 4), Put(out, p.crc, 4), Put(out, p.compressed, 4), Put(out, p.size, 4);
        Put(out, s.name.size(), 2), Put(out, 0, 2), Put(out, 0, 2), Put(out, 0, 2), Put(out, 0, 2), Put(out, 0, 4);
        Put(out, p.offset, 4);
        out.insert(out.end(), s.name.begin(), s.name.end());
    }
    Put(out, 0x06054b50, 4), Put(out, 0, 4), Put(out, specs.size(), 2), Put(out, specs.size(), 2);
    Put(out, out.size() - 12 - directory, 4), Put(out, directory, 4), Put(out, 0, 2);
    return out;
}

const char* const kTypes =
    "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
    "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";

// A sound package of content types and the given parts.
Bytes WithParts(std::vector<Spec> parts) {
    parts.insert(parts.begin(), Spec{"[Content_Types].xml", kTypes});
    return BuildZip(parts);
}

// A part whose data holds a second part's local header and data, which the
// directory names as well: two entries share bytes.
Bytes Overlapping() {
    const Bytes inner = BuildZip({{"xl/b.xml", "<b/>", zip::kStored}});
    const std::string hidden(inner.begin(), inner.begin() + 30 + 8 + 4); // header, name, data
    Spec b{"xl/b.xml", "<b/>", zip::kStored};
    b.localOffset = 30 + 8; // the data of xl/a.xml, the first entry
    return BuildZip({{"xl/a.xml", hidden, zip::kStored}, b, {"[Content_Types].xml", kTypes}});
}

Bytes Truncated() {
    Bytes zip = WithParts({{"xl/workbook.xml", "<workbook/>"}});
    zip.resize(zip.size() - 30); // into the last directory record; the end record is gone
    return zip;
}

std::string Doctype(std::string_view entities) {
    return "<?xml version=\"1.0\"?><!DOCTYPE Types [" + std::string(entities) + "]>" + kTypes;
}

struct Case {
    const char* what;
    std::function<Bytes()> zip;
    ErrorKind kind;
    const char* message;
    PackageLimits limits = {};
};

PackageLimits FewEntries() {
    PackageLimits limits;
    limits.maxEntries = 3;
    return limits;
}

PackageLimits SmallTrees() {
    PackageLimits limits;
    limits.maxTreeBytes = 100;
    return limits;
}

class HostilePackage : public ::testing::TestWithParam<Case> {};

TEST_P(HostilePackage, EndsInAClearError) {
    const Case& c = GetParam();
    try {
        auto package = Package::Open(c.zip(), c.limits);
        for (const auto& part : package.PartNames()) package.ReadDocument(part);
        FAIL() << "accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.Kind(), c.kind) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
}

const std::string kZeros(8 << 20, '0');
const std::string kBody = "<sheetData>" + std::string(3000, ' ') + "</sheetData>";

INSTANTIATE_TEST_SUITE_P(
    Zips, HostilePackage,
    ::testing::Values(
        Case{"not a zip", [] { return Bytes(100, 'x'); }, ErrorKind::NotAWorkbook, "not a zip package"},
        Case{"compound file", [] { return Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0}; },
             ErrorKind::NotAWorkbook, "compound file"},
        Case{"directory cut off", Truncated, ErrorKind::Damaged, "the workbook's zip directory is cut off"},
        Case{"bomb by ratio",
             [] {
                 return WithParts({{"xl/worksheets/sheet1.xml", kZeros}});
             },
             ErrorKind::TooLarge, "zip bomb"},
        Case{"declares too little",
             [] {
                 return WithParts({{"xl/a.xml", kBody, zip::kDeflated, 0, 100}});
             },
             ErrorKind::Damaged, "part 'xl/a.xml' inflates past its declared size"},
        Case{"declares too much",
             [] {
                 return WithParts({{"xl/a.xml", kBody, zip::kDeflated, 0, 5000}});
             },
             ErrorKind::Damaged, "part 'xl/a.xml' inflates to fewer bytes than it declares"},
        Case{"part over the limit",
             [] {
                 return WithParts({{"xl/a.xml", "<a/>", zip::kDeflated, 0, 0x30000000}});
             },
             ErrorKind::TooLarge, "allowed for one part"},
        Case{"traversal",
             [] {
                 return WithParts({{"xl/../../evil.xml", "<a/>"}});
             },
             ErrorKind::BadPartName, "'xl/../../evil.xml' contains a '.' or '..' segment"},
        Case{"escaped traversal",
             [] {
                 return WithParts({{"%2e%2e/evil.xml", "<a/>"}});
             },
             ErrorKind::BadPartName, "'..' segment"},
        Case{"absolute",
             [] {
                 return WithParts({{"/etc/passwd", "<a/>"}});
             },
             ErrorKind::BadPartName, "is an absolute path"},
        Case{"backslash",
             [] {
                 return WithParts({{"xl\\styles.xml", "<a/>"}});
             },
             ErrorKind::BadPartName, "contains a backslash"},
        Case{"NUL",
             [] {
                 return WithParts({{std::string("xl/a.xml\0.png", 13), "<a/>"}});
             },
             ErrorKind::BadPartName, "'xl/a.xml\\x00.png' contains a NUL character"},
        Case{"duplicate names",
             [] {
                 return WithParts({{"xl/Sheet1.xml", "<a/>"}, {"XL/sheet1.xml", "<b/>"}});
             },
             ErrorKind::BadPartName, "two parts named 'xl/Sheet1.xml' and 'XL/sheet1.xml'"},
        Case{"local header names another part",
             [] {
                 Spec s{"xl/a.xml", "<a/>"};
                 s.localName = "xl/b.xml";
                 return WithParts({s});
             },
             ErrorKind::Damaged, "its local header names 'xl/b.xml'"},
        Case{"overlapping entries", Overlapping, ErrorKind::Damaged, "overlap in the zip file"},
        Case{"CRC",
             [] {
                 return WithParts({{"xl/a.xml", "<a/>", zip::kDeflated, 0, {}, 1}});
             },
             ErrorKind::Damaged, "its CRC does not match"},
        Case{"encrypted",
             [] {
                 return WithParts({{"xl/a.xml", "<a/>", zip::kStored, 1}});
             },
             ErrorKind::Unsupported, "part 'xl/a.xml' is encrypted"},
        Case{"LZMA",
             [] {
                 return WithParts({{"xl/a.xml", "<a/>", 14}});
             },
             ErrorKind::Unsupported, "method 14 (LZMA)"},
        Case{"too many entries",
             [] {
                 return WithParts({{"a.xml", "<a/>"}, {"b.xml", "<b/>"}, {"c.xml", "<c/>"}});
             },
             ErrorKind::TooLarge, "4 entries, more than the 3 allowed", FewEntries()},
        Case{"content types too large for a tree", [] { return WithParts({}); }, ErrorKind::TooLarge,
             "part '[Content_Types].xml' is too large to be read whole", SmallTrees()},
        Case{"no content types",
             [] {
                 return BuildZip({{"xl/workbook.xml", "<workbook/>"}});
             },
             ErrorKind::NotAWorkbook, "no [Content_Types].xml"},
        Case{"billion laughs",
             [] {
                 return BuildZip({{"[Content_Types].xml",
                                   Doctype("<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">")}});
             },
             ErrorKind::BadXml, "document type declaration (DOCTYPE) is not allowed"},
        Case{"external entity",
             [] {
                 return WithParts(
                     {{"xl/workbook.xml",
                       "<!DOCTYPE w [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><workbook>&x;</workbook>"}});
             },
             ErrorKind::BadXml, "part 'xl/workbook.xml' is not well-formed XML"}),
    [](const auto& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

} // namespace
