// The package over the zip container: parts by name, the content-type table,
// relationships, and the parts a fill needs.
#include "workbook/xlsx/package.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "workbook/xlsx/part_names.h"
#include "workbook/xlsx/zip.h"

namespace vi2zezir::workbook::xlsx {

namespace {

constexpr std::string_view kContentTypesPart = "[Content_Types].xml";
constexpr std::string_view kRelationshipsNamespace = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kRelationshipsContentType = "application/vnd.openxmlformats-package.relationships+xml";
constexpr std::string_view kCalcChainContentType =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml";

// Relationship types and the workbook's namespaces, transitional and strict.
constexpr std::string_view kTransitionalTypes = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kStrictTypes = "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr std::string_view kMainNamespaces[] = {"http://schemas.openxmlformats.org/spreadsheetml/2006/main",
                                                "http://purl.oclc.org/ooxml/spreadsheetml/main"};
constexpr std::string_view kRelationshipNamespaces[] = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "http://purl.oclc.org/ooxml/officeDocument/relationships"};

[[noreturn]] void NotAWorkbook(const std::string& message) { throw Error(ErrorKind::NotAWorkbook, message); }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}

// The folder of a part, with its trailing slash: "xl/workbook.xml" -> "xl/".
std::string_view FolderOf(std::string_view part) {
    const auto slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string_view{} : part.substr(0, slash + 1);
}

// "xl/media/image1.PNG" -> "PNG"; empty without an extension.
std::string_view ExtensionOf(std::string_view part) {
    const std::string_view last = part.substr(FolderOf(part).size());
    const auto dot = last.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : last.substr(dot + 1);
}

// The element name for a new child, with the prefix its parent uses.
std::string SiblingName(const xml::Node& parent, std::string_view localName) {
    const auto colon = parent.name.find(':');
    return colon == std::string::npos ? std::string(localName)
                                      : parent.name.substr(0, colon + 1) + std::string(localName);
}

std::vector<Relationship> CollectRelationships(const xml::Document& document, std::string_view relsPart) {
    std::vector<Relationship> items;
    for (const xml::Node* node : document.Root().ChildElements()) {
        if (xml::LocalName(node->name) != "Relationship") continue;
        const std::string *id = node->FindAttribute("Id"), *type = node->FindAttribute("Type"),
                          *target = node->FindAttribute("Target"), *mode = node->FindAttribute("TargetMode");
        if (!id || !type || !target)
            throw Error(ErrorKind::BadXml,
                        "part " + Quoted(relsPart) + " has a relationship without its Id, Type or Target");
        items.push_back({*id, *type, *target, mode && *mode == "External"});
    }
    return items;
}

} // namespace

// ---------------------------------------------------------------------------
// Relationships
// ---------------------------------------------------------------------------

bool IsRelationshipType(std::string_view type, std::string_view name) {
    for (const std::string_view base : {kTransitionalTypes, kStrictTypes})
        if (type.size() == base.size() + name.size() && type.starts_with(base) && type.ends_with(name)) return true;
    return false;
}

std::string RelationshipType(std::string_view name) { return std::string(kTransitionalTypes) + std::string(name); }

std::string RelationshipsPartName(std::string_view sourcePart) {
    const std::string_view folder = FolderOf(sourcePart);
    return std::string(folder) + "_rels/" + std::string(sourcePart.substr(folder.size())) + ".rels";
}

const Relationship* Relationships::Find(std::string_view id) const {
    for (const auto& r : items_)
        if (r.id == id) return &r;
    return nullptr;
}

std::vector<const Relationship*> Relationships::OfType(std::string_view name) const {
    std::vector<const Relationship*> found;
    for (const auto& r : items_)
        if (IsRelationshipType(r.type, name)) found.push_back(&r);
    return found;
}

std::string Relationships::TargetPart(const Relationship& relationship) const {
    const std::string which =
        "relationship '" + relationship.id + "' of " + (source_.empty() ? std::string("the package") : Quoted(source_));
    if (relationship.external) throw Error(ErrorKind::BadPartName, which + " points outside the package");
    std::string_view target = relationship.target;
    target = target.substr(0, target.find('#'));
    std::string path;
    if (target.starts_with('/'))
        target.remove_prefix(1);
    else
        path = FolderOf(source_);
    // Resolve "." and ".." against the folder; a ".." above the root leaves
    // the package.
    std::vector<std::string_view> segments;
    for (std::string_view rest = path; !rest.empty();) {
        const auto slash = rest.find('/');
        segments.push_back(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    }
    for (std::string_view rest = target;;) {
        const auto slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment == "..") {
            if (segments.empty())
                throw Error(ErrorKind::BadPartName,
                            which + " points outside the package ('" + relationship.target + "')");
            segments.pop_back();
        } else if (segment != ".") {
            segments.push_back(segment);
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    std::string part;
    for (const auto& segment : segments) part += (part.empty() ? "" : "/") + std::string(segment);
    CheckPartName(part);
    return part;
}

std::string Relationships::Add(std::string_view type, std::string_view targetPart) {
    CheckPartName(targetPart);
    // "rId" and one more than the largest number in use.
    unsigned long next = 1;
    for (const auto& r : items_)
        if (r.id.starts_with("rId") && r.id.size() > 3 && r.id.size() < 12 &&
            r.id.find_first_not_of("0123456789", 3) == std::string::npos)
            next = std::max(next, std::stoul(r.id.substr(3)) + 1);
    std::string id = "rId" + std::to_string(next);
    while (Find(id)) id += "_";

    const std::string_view folder = FolderOf(source_);
    const std::string target = !folder.empty() && targetPart.starts_with(folder)
                                   ? std::string(targetPart.substr(folder.size()))
                                   : (folder.empty() ? "" : "/") + std::string(targetPart);
    auto& root = document_.Root();
    xml::Node node;
    node.name = SiblingName(root, "Relationship");
    node.attributes = {{"Id", id}, {"Type", std::string(type)}, {"Target", target}};
    root.children.push_back(std::move(node));
    items_.push_back({id, std::string(type), target, false});
    return id;
}

bool Relationships::Remove(std::string_view id) {
    auto& children = document_.Root().children;
    const auto it = std::find_if(children.begin(), children.end(), [&](const xml::Node& n) {
        const std::string* nodeId = n.kind == xml::Node::Kind::Element ? n.FindAttribute("Id") : nullptr;
        return nodeId && *nodeId == id && xml::LocalName(n.name) == "Relationship";
    });
    if (it == children.end()) return false;
    children.erase(it);
    std::erase_if(items_, [&](const Relationship& r) { return r.id == id; });
    return true;
}

std::size_t Relationships::RemoveOfType(std::string_view name) {
    auto& children = document_.Root().children;
    const std::size_t removed = std::erase_if(children, [&](const xml::Node& n) {
        const std::string* type = n.kind == xml::Node::Kind::Element ? n.FindAttribute("Type") : nullptr;
        return type && IsRelationshipType(*type, name) && xml::LocalName(n.name) == "Relationship";
    });
    std::erase_if(items_, [&](const Relationship& r) { return IsRelationshipType(r.type, name); });
    return removed;
}

// ---------------------------------------------------------------------------
// Package
// ---------------------------------------------------------------------------

struct Package::State {
    struct Item {
        std::string name;
        std::size_t entry = kNew; // index into archive.entries, or kNew
        bool removed = false;
        bool written = false;
        std::string content; // when written
    };
    static constexpr std::size_t kNew = static_cast<std::size_t>(-1);

    std::vector<std::uint8_t> zip;
    PackageLimits limits;
    zip::Archive archive;
    std::vector<Item> items;                            // the zip's order, new parts at the end
    std::unordered_map<std::string, std::size_t> index; // PartKey -> live item
    xml::Document contentTypes;
    bool contentTypesChanged = false;

    std::uint64_t SizeOf(const Item& item) const {
        return item.written ? item.content.size() : archive.entries[item.entry].uncompressedSize;
    }
    // Takes the part out of the package, its content type left alone.
    void Drop(const std::string& key) {
        const auto it = index.find(key);
        if (it == index.end()) return;
        items[it->second].removed = true;
        index.erase(it);
    }

    const Item* Find(std::string_view part) const {
        const auto it = index.find(PartKey(part));
        return it == index.end() ? nullptr : &items[it->second];
    }
    Item* Find(std::string_view part) { return const_cast<Item*>(std::as_const(*this).Find(part)); }

    // The Override element for a part, or nullptr.
    xml::Node* FindOverride(std::string_view part) {
        const std::string key = PartKey(part);
        for (auto& node : contentTypes.Root().children) {
            if (node.kind != xml::Node::Kind::Element || xml::LocalName(node.name) != "Override") continue;
            const std::string* name = node.FindAttribute("PartName");
            if (name && PartKey(std::string_view(*name).substr(name->starts_with('/') ? 1 : 0)) == key) return &node;
        }
        return nullptr;
    }
    std::string DefaultType(std::string_view part) const {
        const std::string_view extension = ExtensionOf(part);
        for (const auto* node : contentTypes.Root().ChildElements()) {
            if (xml::LocalName(node->name) != "Default") continue;
            const std::string *ext = node->FindAttribute("Extension"), *type = node->FindAttribute("ContentType");
            if (ext && type && EqualsIgnoringCase(*ext, extension)) return *type;
        }
        return {};
    }
    void RemoveOverride(std::string_view part) {
        if (xml::Node* node = FindOverride(part)) {
            auto& children = contentTypes.Root().children;
            children.erase(children.begin() + (node - children.data()));
            contentTypesChanged = true;
        }
    }
};

Package::Package(std::unique_ptr<State> state) : state_(std::move(state)) {}
Package::~Package() = default;
Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;

Package Package::Open(std::vector<std::uint8_t> zipBytes, const PackageLimits& limits) {
    auto state = std::make_unique<State>();
    state->zip = std::move(zipBytes);
    state->limits = limits;
    state->archive = zip::ReadArchive(state->zip, limits);
    for (std::size_t i = 0; i < state->archive.entries.size(); ++i) {
        const auto& entry = state->archive.entries[i];
        state->items.push_back({entry.name, i, false, false, {}});
        if (!entry.IsFolder()) state->index.emplace(PartKey(entry.name), i);
    }
    Package package(std::move(state));
    if (!package.Has(kContentTypesPart))
        NotAWorkbook("the package has no [Content_Types].xml: it is not an Office Open XML file");
    package.state_->contentTypes = package.ReadDocument(kContentTypesPart);
    if (xml::LocalName(package.state_->contentTypes.Root().name) != "Types")
        throw Error(ErrorKind::BadXml, "part '[Content_Types].xml' is not a content-type table");
    return package;
}

std::vector<std::string> Package::PartNames() const {
    std::vector<std::string> names;
    for (const auto& item : state_->items)
        if (!item.removed && !(item.entry != State::kNew && state_->archive.entries[item.entry].IsFolder()))
            names.push_back(item.name);
    return names;
}

bool Package::Has(std::string_view part) const { return state_->Find(part) != nullptr; }

std::string Package::Read(std::string_view part) const {
    const State::Item* item = state_->Find(part);
    if (!item) NotAWorkbook("part " + Quoted(part) + " is missing from the package");
    if (state_->contentTypesChanged && PartKey(part) == PartKey(kContentTypesPart))
        return xml::Serialize(state_->contentTypes);
    if (item->written) return item->content;
    return zip::Extract(state_->zip, state_->archive.entries[item->entry], state_->limits);
}

void Package::ReadXml(std::string_view part, xml::Handler& handler) const {
    const std::string content = Read(part);
    try {
        xml::Parse(content, handler, state_->limits.xml);
    } catch (const Error& e) {
        if (e.Kind() != ErrorKind::BadXml) throw;
        throw Error(ErrorKind::BadXml, "part " + Quoted(part) + " is not well-formed XML: " + e.what());
    }
}

xml::Document Package::ReadDocument(std::string_view part) const {
    if (const State::Item* item = state_->Find(part); item && state_->SizeOf(*item) > state_->limits.maxTreeBytes)
        throw Error(ErrorKind::TooLarge, "part " + Quoted(part) + " is too large to be read whole (" +
                                             std::to_string(state_->SizeOf(*item)) + " bytes)");
    const std::string content = Read(part);
    try {
        return xml::ParseDocument(content, state_->limits.xml);
    } catch (const Error& e) {
        if (e.Kind() != ErrorKind::BadXml) throw;
        throw Error(ErrorKind::BadXml, "part " + Quoted(part) + " is not well-formed XML: " + e.what());
    }
}

std::string Package::ContentType(std::string_view part) const {
    if (const xml::Node* node = state_->FindOverride(part))
        if (const std::string* type = node->FindAttribute("ContentType")) return *type;
    return state_->DefaultType(part);
}

void Package::Write(std::string_view part, std::string content, std::string_view contentType) {
    CheckPartName(part);
    if (PartKey(part) == PartKey(kContentTypesPart)) {
        // The table is held parsed; a new one replaces it whole.
        xml::Document table;
        try {
            table = xml::ParseDocument(content, state_->limits.xml);
        } catch (const Error& e) {
            if (e.Kind() != ErrorKind::BadXml) throw;
            throw Error(ErrorKind::BadXml, std::string("a new [Content_Types].xml: ") + e.what());
        }
        state_->contentTypes = std::move(table);
        state_->contentTypesChanged = true;
        return;
    }
    State::Item* item = state_->Find(part);
    if (!item) {
        if (contentType.empty() && state_->DefaultType(part).empty())
            throw std::invalid_argument("new part " + Quoted(part) + " needs a content type");
        state_->items.push_back({std::string(part), State::kNew, false, false, {}});
        state_->index[PartKey(part)] = state_->items.size() - 1;
        item = &state_->items.back();
    }
    item->content = std::move(content);
    item->written = true;
    if (contentType.empty() || ContentType(part) == contentType) return;
    if (state_->DefaultType(part) == contentType) {
        state_->RemoveOverride(part);
    } else if (xml::Node* node = state_->FindOverride(part)) {
        node->SetAttribute("ContentType", contentType);
    } else {
        auto& root = state_->contentTypes.Root();
        xml::Node override;
        override.name = SiblingName(root, "Override");
        override.attributes = {{"PartName", "/" + std::string(part)}, {"ContentType", std::string(contentType)}};
        root.children.push_back(std::move(override));
    }
    state_->contentTypesChanged = true;
}

void Package::Remove(std::string_view part) {
    const std::string key = PartKey(part);
    if (key == PartKey(kContentTypesPart)) throw std::invalid_argument("a package cannot lose its [Content_Types].xml");
    if (!Has(part)) return;
    state_->Drop(key);
    state_->RemoveOverride(part);
    const std::string rels = RelationshipsPartName(part);
    if (PartKey(rels) != key && Has(rels)) Remove(rels);
}

Relationships Package::ReadRelationships(std::string_view sourcePart) const {
    Relationships relationships;
    relationships.source_ = sourcePart;
    const std::string part = RelationshipsPartName(sourcePart);
    if (Has(part)) {
        relationships.document_ = ReadDocument(part);
        relationships.items_ = CollectRelationships(relationships.document_, part);
    } else {
        relationships.document_.standalone = 1;
        xml::Node root;
        root.name = "Relationships";
        root.attributes = {{"xmlns", std::string(kRelationshipsNamespace)}};
        relationships.document_.nodes.push_back(std::move(root));
    }
    return relationships;
}

void Package::WriteRelationships(const Relationships& relationships) {
    Write(RelationshipsPartName(relationships.source_), xml::Serialize(relationships.document_),
          kRelationshipsContentType);
}

std::vector<std::uint8_t> Package::Save() const {
    zip::Writer writer;
    for (const auto& item : state_->items) {
        if (item.removed) continue;
        const zip::Entry* source = item.entry == State::kNew ? nullptr : &state_->archive.entries[item.entry];
        const std::uint16_t time = source ? source->time : zip::kFixedTime;
        const std::uint16_t date = source ? source->date : zip::kFixedDate;
        if (state_->contentTypesChanged && PartKey(item.name) == PartKey(kContentTypesPart))
            writer.AddDeflated(item.name, xml::Serialize(state_->contentTypes), time, date);
        else if (item.written)
            writer.AddDeflated(item.name, item.content, time, date);
        else
            writer.AddRaw(*source, std::span(state_->zip)
                                       .subspan(static_cast<std::size_t>(source->dataOffset),
                                                static_cast<std::size_t>(source->compressedSize)));
    }
    return writer.Finish(state_->archive.comment);
}

// ---------------------------------------------------------------------------
// The workbook's parts
// ---------------------------------------------------------------------------

namespace {

// The office document the package's relationships name, checked to be a
// spreadsheet in XML.
std::string FindWorkbookPart(const Package& package) {
    const Relationships rels = package.ReadRelationships("");
    const auto documents = rels.OfType("officeDocument");
    if (documents.empty()) NotAWorkbook("the package names no office document: it is not a workbook");
    const std::string part = rels.TargetPart(*documents.front());
    if (!package.Has(part)) NotAWorkbook("the workbook part " + Quoted(part) + " is missing from the package");
    const std::string type = package.ContentType(part);
    if (type.find(".binary.") != std::string::npos)
        throw Error(ErrorKind::Unsupported, "the workbook is a binary workbook (.xlsb), not XML");
    if (!(type.starts_with("application/vnd.openxmlformats-officedocument.spreadsheetml.") ||
          type.starts_with("application/vnd.ms-excel.")) ||
        !type.ends_with(".main+xml"))
        NotAWorkbook("the package's main part " + Quoted(part) + " is not a workbook (its type is '" + type + "')");
    return part;
}

// The <sheet> entries of workbook.xml's <sheets>, matched by namespace, so
// that a workbook written with a prefix for the main namespace reads alike.
class SheetList : public xml::Handler {
public:
    // Far beyond what anyone keeps in one workbook; bounds the list whatever
    // the part holds.
    static constexpr std::size_t kMaxSheets = 65535;
    struct Sheet {
        std::string name;
        std::string relationshipId;
    };
    std::vector<Sheet> sheets;

    void StartElement(std::string_view name, xml::Attributes attributes) override {
        namespaces_.Enter(attributes);
        path_.emplace_back(InMain(name) ? xml::LocalName(name) : std::string_view{});
        if (path_.size() != 3 || path_[0] != "workbook" || path_[1] != "sheets" || path_[2] != "sheet") return;
        if (sheets.size() == kMaxSheets)
            throw Error(ErrorKind::TooLarge, "the workbook lists more than " + std::to_string(kMaxSheets) + " sheets");
        Sheet sheet;
        for (const auto& a : attributes) {
            if (a.name == "name") sheet.name = a.value;
            if (xml::LocalName(a.name) == "id" && IsRelationshipNamespace(namespaces_.OfAttribute(a.name)))
                sheet.relationshipId = a.value;
        }
        sheets.push_back(std::move(sheet));
    }
    void EndElement(std::string_view) override {
        namespaces_.Leave();
        path_.pop_back();
    }

private:
    bool InMain(std::string_view name) const {
        const std::string_view uri = namespaces_.OfElement(name);
        return std::find(std::begin(kMainNamespaces), std::end(kMainNamespaces), uri) != std::end(kMainNamespaces);
    }
    static bool IsRelationshipNamespace(std::string_view uri) {
        return std::find(std::begin(kRelationshipNamespaces), std::end(kRelationshipNamespaces), uri) !=
               std::end(kRelationshipNamespaces);
    }
    xml::Namespaces namespaces_;
    std::vector<std::string> path_;
};

SheetKind KindOf(std::string_view type) {
    if (IsRelationshipType(type, "worksheet")) return SheetKind::Worksheet;
    if (IsRelationshipType(type, "chartsheet")) return SheetKind::Chartsheet;
    if (IsRelationshipType(type, "dialogsheet")) return SheetKind::Dialogsheet;
    if (IsRelationshipType(type, "xlMacrosheet") || IsRelationshipType(type, "xlIntlMacrosheet") ||
        type == "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet" ||
        type == "http://schemas.microsoft.com/office/2006/relationships/xlIntlMacrosheet")
        return SheetKind::Macrosheet;
    return SheetKind::Other;
}

} // namespace

WorkbookParts FindWorkbookParts(const Package& package) {
    WorkbookParts parts;
    parts.workbook = FindWorkbookPart(package);
    const Relationships rels = package.ReadRelationships(parts.workbook);

    SheetList list;
    package.ReadXml(parts.workbook, list);
    std::unordered_map<std::string_view, const Relationship*> byId;
    for (const auto& rel : rels.Items()) byId.emplace(rel.id, &rel);
    for (auto& sheet : list.sheets) {
        if (sheet.relationshipId.empty()) {
            parts.sheets.push_back({std::move(sheet.name), {}, {}, SheetKind::Other});
            continue;
        }
        const auto found = byId.find(sheet.relationshipId);
        const Relationship* rel = found == byId.end() ? nullptr : found->second;
        if (!rel)
            NotAWorkbook("sheet '" + sheet.name + "' refers to relationship '" + sheet.relationshipId + "', which " +
                         Quoted(parts.workbook) + " lacks");
        SheetPart entry{std::move(sheet.name), rel->id, rels.TargetPart(*rel), KindOf(rel->type)};
        if (!package.Has(entry.part))
            NotAWorkbook("part " + Quoted(entry.part) + " of sheet '" + entry.name + "' is missing from the package");
        parts.sheets.push_back(std::move(entry));
    }
    const auto single = [&](std::string_view type, std::string& out, bool required) {
        const auto found = rels.OfType(type);
        if (found.empty()) return;
        out = rels.TargetPart(*found.front());
        if (package.Has(out)) return;
        if (required) NotAWorkbook("part " + Quoted(out) + ", which the workbook refers to, is missing");
        out.clear();
    };
    single("sharedStrings", parts.sharedStrings, true);
    single("styles", parts.styles, true);
    single("calcChain", parts.calcChain, false);
    return parts;
}

bool DropCalcChain(Package& package) {
    const std::string workbook = FindWorkbookPart(package);
    Relationships rels = package.ReadRelationships(workbook);
    std::unordered_set<std::string> chains; // part keys
    for (const Relationship* rel : rels.OfType("calcChain")) {
        // A relationship that names no valid part goes all the same.
        try {
            chains.insert(PartKey(rels.TargetPart(*rel)));
        } catch (const Error&) {}
    }
    const bool relationshipsDropped = rels.RemoveOfType("calcChain") > 0;
    if (relationshipsDropped) package.WriteRelationships(rels);

    // One pass over the content types each way, however many there are: a
    // chain no relationship names goes as well (its Override says what it
    // is), and so does an Override left for a chain that is gone.
    auto& state = *package.state_;
    auto& table = state.contentTypes.Root().children;
    const auto overrideKey = [](const xml::Node& node, std::string_view type) -> std::optional<std::string> {
        if (node.kind != xml::Node::Kind::Element || xml::LocalName(node.name) != "Override") return std::nullopt;
        const std::string *name = node.FindAttribute("PartName"), *nodeType = node.FindAttribute("ContentType");
        if (!name || (!type.empty() && (!nodeType || *nodeType != type))) return std::nullopt;
        return PartKey(std::string_view(*name).substr(name->starts_with('/') ? 1 : 0));
    };
    for (const auto& node : table)
        if (const auto key = overrideKey(node, kCalcChainContentType)) chains.insert(*key);
    const bool overridesDropped = std::erase_if(table, [&](const xml::Node& node) {
                                      const auto key = overrideKey(node, {});
                                      return key && chains.contains(*key);
                                  }) > 0;
    state.contentTypesChanged |= overridesDropped;
    bool partsDropped = false;
    for (const auto& key : chains) {
        partsDropped |= state.index.contains(key);
        state.Drop(key);
    }
    return relationshipsDropped || overridesDropped || partsDropped;
}

} // namespace vi2zezir::workbook::xlsx
