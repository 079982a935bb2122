// libFuzzer target for the .xlsx package reader: the zip container, the
// content-type table, relationships, and the XML of every part. Any input
// either reads or throws Error; a package that reads must save, and
// what it saves must open again with the same parts.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "workbook/xlsx/package.h"

namespace {

using namespace vi2zezir::workbook::xlsx;
using vi2zezir::workbook::Error;
using vi2zezir::workbook::ErrorKind;

// Small enough that one input costs little, large enough for real parts.
PackageLimits FuzzLimits() {
    PackageLimits limits;
    limits.maxPartBytes = 8u << 20;
    limits.maxTotalBytes = 32u << 20;
    limits.ratioExemptBytes = 1u << 20;
    return limits;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const PackageLimits limits = FuzzLimits();
    // The input as one part's XML, too: a tree that parsed must serialise
    // and parse again.
    {
        xml::Document document;
        bool parsed = true;
        try {
            document = xml::ParseDocument({reinterpret_cast<const char*>(data), size});
        } catch (const Error&) {
            parsed = false;
        }
        if (parsed) xml::ParseDocument(xml::Serialize(document));
    }
    std::map<std::string, std::string> sound; // the parts that read, as they read
    std::vector<std::uint8_t> saved;
    try {
        auto package = Package::Open({data, data + size}, limits);
        for (const auto& part : package.PartNames()) {
            try {
                package.ContentType(part);
                sound[part] = package.Read(part);
                // Every part as XML: a tree that parsed must serialise and
                // parse again.
                const auto document = package.ReadDocument(part);
                xml::ParseDocument(xml::Serialize(document));
                // "<folder>_rels/<name>.rels" holds the relationships of "<folder><name>".
                const auto rels = part.rfind("_rels/");
                if (part.ends_with(".rels") && rels != std::string::npos && (rels == 0 || part[rels - 1] == '/')) {
                    const std::string source = part.substr(0, rels) + part.substr(rels + 6, part.size() - rels - 11);
                    const auto relationships = package.ReadRelationships(source);
                    for (const auto& rel : relationships.Items())
                        if (!rel.external) package.Has(relationships.TargetPart(rel));
                }
            } catch (const Error&) {}
        }
        try {
            FindWorkbookParts(package);
            DropCalcChain(package);
        } catch (const Error&) {}
        saved = package.Save();
    } catch (const Error&) {
        return 0;
    }
    // What the writer made the reader must take, and every part that read
    // before must read the same (the two tables the calc chain's removal
    // edits aside; a part that was damaged stays as damaged). Only a limit
    // may stand in the way: a part stored raw in the input can come out
    // deflated past the ratio cap.
    std::optional<Package> again;
    try {
        again.emplace(Package::Open(saved, limits));
    } catch (const Error& e) {
        if (e.Kind() != ErrorKind::TooLarge) std::abort();
        return 0;
    }
    for (const auto& part : again->PartNames()) {
        const auto before = sound.find(part);
        const bool edited = part.ends_with(".rels") || part == "[Content_Types].xml";
        if (before == sound.end()) continue;
        std::string content;
        try {
            content = again->Read(part);
        } catch (const Error& e) {
            if (e.Kind() != ErrorKind::TooLarge) std::abort();
            continue;
        }
        if (!edited && content != before->second) std::abort();
    }
    return 0;
}
