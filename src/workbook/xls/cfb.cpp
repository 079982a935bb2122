// Compound file reader and writer. The reader trusts nothing in the file:
// every sector and directory index is range-checked, every chain is walked
// with a visited mark so that a loop is an error rather than a hang, and no
// claimed size is believed beyond what the file's sectors can hold. The
// writer emits the simplest valid form: version 3, 512-byte sectors, an
// all-black directory tree, streams laid out contiguously.
#include "workbook/xls/cfb.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace vi2zezir::workbook::cfb {

namespace {

// ---------------------------------------------------------------------------
// Format constants
// ---------------------------------------------------------------------------

constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatCount = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::size_t kMaxNameUnits = 31;

// Directory object types.
constexpr std::uint8_t kTypeUnused = 0;
constexpr std::uint8_t kTypeStorage = 1;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::uint8_t kColorBlack = 1;

// Real files nest a handful of storages (a VBA project is three deep);
// the bound only keeps a hostile file from exhausting the call stack.
constexpr int kMaxStorageDepth = 64;
// A workbook has a few dozen entries; this many is far beyond any real file
// and keeps the parsed directory small whatever the file claims.
constexpr std::size_t kMaxDirectoryEntries = 65536;

// ---------------------------------------------------------------------------
// Little-endian access
// ---------------------------------------------------------------------------

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t Get64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(Get32(p)) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Put64(std::uint8_t* p, std::uint64_t v) {
    Put32(p, static_cast<std::uint32_t>(v));
    Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

// The upper-casing the directory order is defined by: one UTF-16 unit at a
// time, no locale. Covers the scripts stream names are written in (Latin,
// Greek, Cyrillic); other units compare as they are.
char16_t UpperUnit(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A alternates upper/lower in pairs, with the parity
        // flipping in 0x139-0x148 and 0x179-0x17E.
        const bool oddIsLower = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool evenIsLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if ((oddIsLower && (c & 1)) || (evenIsLower && !(c & 1))) return static_cast<char16_t>(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
    if (c == 0x3C2) return 0x3A3;
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    return c;
}

// Sibling order: shorter names first, then unit by unit upper-cased.
int CompareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t ua = UpperUnit(a[i]);
        const char16_t ub = UpperUnit(b[i]);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return 0;
}

// For messages only: names are mostly ASCII; control units such as the
// leading \x05 of the summary streams are shown escaped.
std::string Printable(std::u16string_view name) {
    std::string out;
    for (char16_t c : name) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c < 0x80) {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out += "?"; // half a pair; messages don't need the exact character
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Units of `unit` bytes that `bytes` take.
std::size_t SectorsFor(std::uint64_t bytes, std::size_t unit) {
    return static_cast<std::size_t>((bytes + unit - 1) / unit);
}

[[noreturn]] void Fail(const std::string& message, ErrorKind kind = ErrorKind::Damaged) { throw Error(kind, message); }

std::string Num(std::uint64_t v) { return std::to_string(v); }

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

struct RawEntry {
    std::u16string name;
    std::uint8_t type = kTypeUnused;
    std::uint32_t left = kNoStream;
    std::uint32_t right = kNoStream;
    std::uint32_t child = kNoStream;
    std::array<std::uint8_t, 16> clsid{};
    std::uint32_t stateBits = 0;
    std::uint64_t creationTime = 0;
    std::uint64_t modifiedTime = 0;
    std::uint32_t start = 0;
    std::uint64_t size = 0;
};

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    CompoundFile Run() {
        ReadHeader();
        ReadFat();
        ReadDirectory();
        return BuildTree();
    }

private:
    // Which chain each sector belongs to. Chains must neither loop nor share
    // sectors; the second rule also bounds what a hostile file can make us
    // allocate (many entries naming one huge chain) to the file's own size.
    class SectorOwners {
    public:
        enum class Mark { New, Loop, Shared };
        explicit SectorOwners(std::size_t count) : owner_(count, 0) {}
        void NewChain() { ++chain_; }
        Mark Visit(std::uint32_t index) {
            if (owner_[index] == chain_) return Mark::Loop;
            if (owner_[index] != 0) return Mark::Shared;
            owner_[index] = chain_;
            return Mark::New;
        }

    private:
        std::vector<std::uint32_t> owner_;
        std::uint32_t chain_ = 0;
    };

    static void CheckVisit(SectorOwners::Mark mark, const char* kind, const std::string& what, std::uint32_t sector) {
        if (mark == SectorOwners::Mark::Loop) {
            Fail(std::string(kind) + " chain of " + what + " loops at sector " + Num(sector));
        }
        if (mark == SectorOwners::Mark::Shared) {
            Fail(std::string(kind) + " " + Num(sector) + " of " + what + " also belongs to another chain");
        }
    }

    void ReadHeader() {
        if (bytes_.empty()) Fail("not a compound file (the input is empty)", ErrorKind::NotAWorkbook);
        if (bytes_.size() > kMaxFileSize) {
            Fail("compound file is too large (" + Num(bytes_.size()) + " bytes; at most " + Num(kMaxFileSize) +
                     " are accepted)",
                 ErrorKind::TooLarge);
        }
        if (bytes_.size() < sizeof kSignature || std::memcmp(bytes_.data(), kSignature, sizeof kSignature) != 0) {
            Fail("not a compound file (bad signature)", ErrorKind::NotAWorkbook);
        }
        if (bytes_.size() < kHeaderSize) {
            Fail("file is truncated: the " + Num(kHeaderSize) + "-byte header is cut off after " + Num(bytes_.size()) +
                 " bytes");
        }
        const std::uint8_t* h = bytes_.data();
        // The byte-order field (0xFFFE) is not checked: every file is
        // little-endian whatever it says, and other readers ignore it too.
        major_ = Get16(h + 0x1A);
        if (major_ != 3 && major_ != 4)
            Fail("unsupported compound file version " + Num(major_), ErrorKind::Unsupported);
        const std::uint16_t sectorShift = Get16(h + 0x1E);
        if (sectorShift != 9 && sectorShift != 12) {
            Fail("unsupported sector size (shift " + Num(sectorShift) + "; only 9 and 12 exist)",
                 ErrorKind::Unsupported);
        }
        const std::uint16_t miniShift = Get16(h + 0x20);
        if (miniShift != 6)
            Fail("unsupported mini sector size (shift " + Num(miniShift) + "; only 6 exists)", ErrorKind::Unsupported);
        const std::uint32_t cutoff = Get32(h + 0x38);
        if (cutoff != kMiniStreamCutoff) {
            Fail("unsupported mini stream cutoff " + Num(cutoff) + " (must be 4096)", ErrorKind::Unsupported);
        }
        sectorSize_ = std::size_t{1} << sectorShift;
        // Sector n starts at (n + 1) * sectorSize. A last sector cut short is
        // tolerated (some writers do not pad it); its missing bytes are only
        // an error if a stream needs them.
        sectorCount_ = bytes_.size() <= sectorSize_
                           ? 0
                           : static_cast<std::uint32_t>((bytes_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_);
        fatSectorCount_ = Get32(h + 0x2C);
        firstDirSector_ = Get32(h + 0x30);
        firstMiniFatSector_ = Get32(h + 0x3C);
        firstDifatSector_ = Get32(h + 0x44);
    }

    // Bytes of sector `index` that the file holds (the last may be short).
    std::span<const std::uint8_t> Sector(std::uint32_t index, const std::string& what) const {
        if (index >= sectorCount_) {
            Fail("file is truncated: sector " + Num(index) + " of " + what + " lies beyond its end");
        }
        const std::size_t offset = (static_cast<std::size_t>(index) + 1) * sectorSize_;
        return bytes_.subspan(offset, std::min(sectorSize_, bytes_.size() - offset));
    }

    // Copies a whole sector, zero-filling a short tail.
    void CopySector(std::uint32_t index, const std::string& what, std::uint8_t* out) const {
        const auto s = Sector(index, what);
        std::memcpy(out, s.data(), s.size());
        if (s.size() < sectorSize_) std::memset(out + s.size(), 0, sectorSize_ - s.size());
    }

    void ReadFat() {
        if (fatSectorCount_ == 0) Fail("compound file has no FAT sectors");
        if (fatSectorCount_ > sectorCount_) {
            Fail("header claims " + Num(fatSectorCount_) + " FAT sectors, but the file holds only " +
                 Num(sectorCount_) + " sectors");
        }
        std::vector<std::uint32_t> fatSectors;
        fatSectors.reserve(fatSectorCount_);
        const std::uint8_t* h = bytes_.data();
        for (std::size_t i = 0; i < kHeaderDifatCount && fatSectors.size() < fatSectorCount_; ++i) {
            fatSectors.push_back(Get32(h + 0x4C + 4 * i));
        }
        // The rest of the list lives in the DIFAT chain: each sector holds
        // entries and, in its last slot, the next DIFAT sector.
        const std::size_t perDifat = sectorSize_ / 4 - 1;
        std::uint32_t difat = firstDifatSector_;
        SectorOwners difatMarks(sectorCount_);
        difatMarks.NewChain();
        while (fatSectors.size() < fatSectorCount_) {
            if (difat == kEndOfChain || difat == kFreeSect) {
                Fail("DIFAT ends after " + Num(fatSectors.size()) + " FAT sectors, but the header claims " +
                     Num(fatSectorCount_));
            }
            const auto s = Sector(difat, "the DIFAT");
            CheckVisit(difatMarks.Visit(difat), "sector", "the DIFAT", difat);
            if (s.size() < sectorSize_) Fail("file is truncated: DIFAT sector " + Num(difat) + " is cut off");
            for (std::size_t i = 0; i < perDifat && fatSectors.size() < fatSectorCount_; ++i) {
                fatSectors.push_back(Get32(s.data() + 4 * i));
            }
            difat = Get32(s.data() + 4 * perDifat);
        }

        const std::size_t perSector = sectorSize_ / 4;
        fat_.resize(fatSectors.size() * perSector);
        for (std::size_t i = 0; i < fatSectors.size(); ++i) {
            const std::uint32_t id = fatSectors[i];
            if (id > kMaxRegSect) Fail("FAT sector " + Num(i) + " is missing from the DIFAT");
            const auto s = Sector(id, "the FAT");
            std::uint32_t* out = fat_.data() + i * perSector;
            const std::size_t whole = s.size() / 4;
            for (std::size_t k = 0; k < whole; ++k) out[k] = Get32(s.data() + 4 * k);
            for (std::size_t k = whole; k < perSector; ++k) out[k] = kFreeSect;
        }
        owners_.emplace(sectorCount_);
    }

    // The sectors of a chain in the FAT. `needed` is the number of sectors
    // the claimed size takes; the walk stops there (a longer chain is
    // tolerated), and a chain ending sooner is an error. With no size
    // (needed == npos) the chain is walked to its end.
    std::vector<std::uint32_t> FatChain(std::uint32_t start, std::size_t needed, const std::string& what) {
        std::vector<std::uint32_t> chain;
        if (needed == 0) return chain;
        if (needed != kUnbounded) chain.reserve(needed);
        owners_->NewChain();
        std::uint32_t sector = start;
        while (chain.size() < needed) {
            if (sector == kEndOfChain) {
                if (needed == kUnbounded) break;
                Fail("sector chain of " + what + " ends after " + Num(chain.size()) + " sectors; its size needs " +
                     Num(needed));
            }
            if (sector > kMaxRegSect) {
                Fail("sector chain of " + what + " runs into a " +
                     (sector == kFreeSect ? std::string("free") : std::string("reserved")) + " sector marker");
            }
            if (sector >= sectorCount_) {
                Fail("file is truncated: sector " + Num(sector) + " of " + what + " lies beyond its end");
            }
            if (sector >= fat_.size()) Fail("sector " + Num(sector) + " of " + what + " has no FAT entry");
            CheckVisit(owners_->Visit(sector), "sector", what, sector);
            chain.push_back(sector);
            sector = fat_[sector];
        }
        return chain;
    }

    // A chain's bytes, cut to `size`. With `held`, the file may end inside
    // the chain's last sector: the missing bytes read as zeros and `held`
    // says how many bytes are real.
    std::vector<std::uint8_t> ReadFatStream(std::uint32_t start, std::uint64_t size, const std::string& what,
                                            std::size_t* held = nullptr) {
        const std::uint64_t capacity = static_cast<std::uint64_t>(sectorCount_) * sectorSize_;
        if (size > capacity) {
            Fail(what + " claims " + Num(size) + " bytes, more than the file's " + Num(capacity) +
                 " bytes of sectors can hold");
        }
        const std::size_t needed = static_cast<std::size_t>((size + sectorSize_ - 1) / sectorSize_);
        const auto chain = FatChain(start, needed, what);
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
        std::size_t offset = 0;
        if (held) *held = data.size();
        for (std::uint32_t sector : chain) {
            const auto s = Sector(sector, what);
            const std::size_t want = std::min(sectorSize_, data.size() - offset);
            if (s.size() < want) {
                if (!held) Fail("file is truncated: " + what + " runs past its end in sector " + Num(sector));
                *held = std::min(*held, offset + s.size());
            }
            std::memcpy(data.data() + offset, s.data(), std::min(want, s.size()));
            offset += want;
        }
        return data;
    }

    void ReadDirectory() {
        if (firstDirSector_ == kEndOfChain) Fail("compound file has no directory");
        const auto chain = FatChain(firstDirSector_, kUnbounded, "the directory");
        const std::size_t perSector = sectorSize_ / kDirEntrySize;
        if (chain.size() * perSector > kMaxDirectoryEntries) {
            Fail("directory has " + Num(chain.size() * perSector) + " entries, more than the " +
                     Num(kMaxDirectoryEntries) + " accepted",
                 ErrorKind::TooLarge);
        }
        dir_.resize(chain.size() * perSector);
        std::vector<std::uint8_t> buffer(sectorSize_);
        for (std::size_t i = 0; i < chain.size(); ++i) {
            CopySector(chain[i], "the directory", buffer.data());
            for (std::size_t k = 0; k < perSector; ++k) {
                ParseEntry(buffer.data() + k * kDirEntrySize, dir_[i * perSector + k]);
            }
        }
        if (dir_.empty() || dir_[0].type != kTypeRoot) Fail("directory has no root entry");
    }

    void ParseEntry(const std::uint8_t* p, RawEntry& e) const {
        e.type = p[0x42];
        if (e.type == kTypeUnused) return;
        // The length field counts bytes with the terminating NUL; trust it
        // only as far as the 32 units the field holds and the first NUL.
        std::size_t units = Get16(p + 0x40) / 2;
        units = std::min(units, kMaxNameUnits + 1);
        e.name.clear();
        for (std::size_t i = 0; i < units; ++i) {
            const char16_t c = Get16(p + 2 * i);
            if (c == 0) break;
            e.name += c;
        }
        e.left = Get32(p + 0x44);
        e.right = Get32(p + 0x48);
        e.child = Get32(p + 0x4C);
        std::memcpy(e.clsid.data(), p + 0x50, 16);
        e.stateBits = Get32(p + 0x60);
        e.creationTime = Get64(p + 0x64);
        e.modifiedTime = Get64(p + 0x6C);
        e.start = Get32(p + 0x74);
        // Version 3 writers leave garbage in the high half of the size.
        e.size = major_ == 3 ? Get32(p + 0x78) : Get64(p + 0x78);
    }

    CompoundFile BuildTree() {
        reached_.assign(dir_.size(), false);
        reached_[0] = true;
        CompoundFile file;
        const RawEntry& root = dir_[0];
        file.rootClsid = root.clsid;
        miniStreamStart_ = root.start;
        miniStreamSize_ = root.size;
        file.entries = ReadStorage(root.child, u"", 0);
        return file;
    }

    std::string Describe(const RawEntry& e, std::u16string_view parentPath) const {
        std::u16string path(parentPath);
        path += e.name;
        return (e.type == kTypeStorage ? "storage '" : "stream '") + Printable(path) + "'";
    }

    // The entries of one storage: the sibling tree under `child`, walked in
    // order without recursion (a degenerate tree may be a long list).
    std::vector<Entry> ReadStorage(std::uint32_t child, std::u16string_view path, int depth) {
        if (depth > kMaxStorageDepth) {
            Fail("storages are nested more than " + Num(kMaxStorageDepth) + " deep");
        }
        std::vector<std::uint32_t> order;
        std::vector<std::uint32_t> stack;
        auto descend = [&](std::uint32_t id, std::uint32_t from) {
            while (id != kNoStream) {
                if (id >= dir_.size()) {
                    Fail("directory entry " + Num(from) + " points to entry " + Num(id) + ", which does not exist");
                }
                const std::uint8_t type = dir_[id].type;
                // An unused entry linked into the tree holds nothing: the
                // link ends there, as other readers take it. An entry of an
                // unknown type may be a damaged stream; dropping it could
                // lose data.
                if (type == kTypeUnused) break;
                if (reached_[id]) {
                    Fail("directory entry " + Num(id) + " is reached twice (the directory tree loops)");
                }
                reached_[id] = true;
                if (type != kTypeStorage && type != kTypeStream) {
                    Fail("directory entry " + Num(id) + " is linked into the tree but is of type " + Num(type));
                }
                stack.push_back(id);
                from = id;
                id = dir_[id].left;
            }
        };
        descend(child, 0);
        while (!stack.empty()) {
            const std::uint32_t id = stack.back();
            stack.pop_back();
            order.push_back(id);
            descend(dir_[id].right, id);
        }

        std::vector<Entry> entries;
        entries.reserve(order.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            const RawEntry& raw = dir_[order[i]];
            if (raw.name.empty()) Fail("directory entry " + Num(order[i]) + " has no name");
            if (raw.name.size() > kMaxNameUnits) {
                Fail("directory entry name '" + Printable(raw.name) + "' is longer than " + Num(kMaxNameUnits) +
                     " characters");
            }
            if (i > 0 && CompareNames(dir_[order[i - 1]].name, raw.name) == 0) {
                Fail("two entries named '" + Printable(raw.name) + "' in the same storage");
            }
            Entry entry;
            entry.name = raw.name;
            entry.clsid = raw.clsid;
            entry.stateBits = raw.stateBits;
            entry.creationTime = raw.creationTime;
            entry.modifiedTime = raw.modifiedTime;
            if (raw.type == kTypeStorage) {
                entry.type = Entry::Type::Storage;
                std::u16string childPath(path);
                childPath += raw.name;
                childPath += u'/';
                entry.children = ReadStorage(raw.child, childPath, depth + 1);
            } else {
                entry.type = Entry::Type::Stream;
                const std::string what = Describe(raw, path);
                entry.data = raw.size < kMiniStreamCutoff ? ReadMiniStream(raw.start, raw.size, what)
                                                          : ReadFatStream(raw.start, raw.size, what);
            }
            entries.push_back(std::move(entry));
        }
        // Duplicates are only adjacent when the tree is sorted; sloppy
        // writers' trees may not be, so check the whole storage once more.
        if (entries.size() > 2) {
            std::vector<const std::u16string*> names;
            names.reserve(entries.size());
            for (const auto& e : entries) names.push_back(&e.name);
            std::sort(names.begin(), names.end(),
                      [](const auto* a, const auto* b) { return CompareNames(*a, *b) < 0; });
            for (std::size_t i = 1; i < names.size(); ++i) {
                if (CompareNames(*names[i - 1], *names[i]) == 0) {
                    Fail("two entries named '" + Printable(*names[i]) + "' in the same storage");
                }
            }
        }
        return entries;
    }

    // The mini stream and its allocation table are read on first need only:
    // a file with no small streams may leave them undefined.
    void LoadMiniStream() {
        if (miniLoaded_) return;
        miniLoaded_ = true;
        // Writers that do not pad the file's last sector may end it inside
        // the mini stream; only the streams that need the missing part are
        // cut off.
        miniStream_ = ReadFatStream(miniStreamStart_, miniStreamSize_, "the mini stream", &miniHeld_);
        // A root size that is no multiple of 64 still holds a last, short
        // mini sector.
        miniStream_.resize(SectorsFor(miniStream_.size(), kMiniSectorSize) * kMiniSectorSize);
        const auto chain = FatChain(firstMiniFatSector_, kUnbounded, "the MiniFAT");
        const std::size_t perSector = sectorSize_ / 4;
        miniFat_.resize(chain.size() * perSector);
        std::vector<std::uint8_t> buffer(sectorSize_);
        for (std::size_t i = 0; i < chain.size(); ++i) {
            CopySector(chain[i], "the MiniFAT", buffer.data());
            for (std::size_t k = 0; k < perSector; ++k) miniFat_[i * perSector + k] = Get32(buffer.data() + 4 * k);
        }
        miniOwners_.emplace(miniStream_.size() / kMiniSectorSize);
    }

    std::vector<std::uint8_t> ReadMiniStream(std::uint32_t start, std::uint64_t size, const std::string& what) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
        if (size == 0) return data;
        LoadMiniStream();
        const std::size_t miniCount = miniStream_.size() / kMiniSectorSize;
        const std::size_t needed = static_cast<std::size_t>((size + kMiniSectorSize - 1) / kMiniSectorSize);
        miniOwners_->NewChain();
        std::uint32_t sector = start;
        for (std::size_t i = 0; i < needed; ++i) {
            if (sector == kEndOfChain) {
                Fail("mini sector chain of " + what + " ends after " + Num(i) + " sectors; its size needs " +
                     Num(needed));
            }
            if (sector >= miniCount) {
                Fail("mini sector " + Num(sector) + " of " + what + " lies beyond the mini stream");
            }
            if (sector >= miniFat_.size()) Fail("mini sector " + Num(sector) + " of " + what + " has no MiniFAT entry");
            CheckVisit(miniOwners_->Visit(sector), "mini sector", what, sector);
            const std::size_t offset = i * kMiniSectorSize;
            if (std::size_t{sector} * kMiniSectorSize + std::min(kMiniSectorSize, data.size() - offset) > miniHeld_) {
                Fail("file is truncated: " + what + " runs past its end in mini sector " + Num(sector));
            }
            std::memcpy(data.data() + offset, miniStream_.data() + std::size_t{sector} * kMiniSectorSize,
                        std::min(kMiniSectorSize, data.size() - offset));
            sector = miniFat_[sector];
        }
        return data;
    }

    static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

    std::span<const std::uint8_t> bytes_;
    std::uint16_t major_ = 3;
    std::size_t sectorSize_ = 512;
    std::uint32_t sectorCount_ = 0;
    std::uint32_t fatSectorCount_ = 0;
    std::uint32_t firstDirSector_ = kEndOfChain;
    std::uint32_t firstMiniFatSector_ = kEndOfChain;
    std::uint32_t firstDifatSector_ = kEndOfChain;
    std::vector<std::uint32_t> fat_;
    std::optional<SectorOwners> owners_;
    std::vector<RawEntry> dir_;
    std::vector<bool> reached_;
    std::uint32_t miniStreamStart_ = kEndOfChain;
    std::uint64_t miniStreamSize_ = 0;
    bool miniLoaded_ = false;
    std::vector<std::uint8_t> miniStream_;
    std::size_t miniHeld_ = 0; // bytes of the mini stream the file holds
    std::vector<std::uint32_t> miniFat_;
    std::optional<SectorOwners> miniOwners_;
};

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kFatPerSector = kSectorSize / 4;
constexpr std::size_t kDifatPerSector = kFatPerSector - 1;
constexpr std::size_t kDirPerSector = kSectorSize / kDirEntrySize;

// One directory slot of the file being written.
struct Node {
    const Entry* entry = nullptr; // null for the root
    std::uint32_t left = kNoStream;
    std::uint32_t right = kNoStream;
    std::uint32_t child = kNoStream;
    std::uint32_t start = kEndOfChain;
    std::uint64_t size = 0;
};

class Writer {
public:
    explicit Writer(const CompoundFile& file) : file_(file) {}

    std::vector<std::uint8_t> Run() {
        nodes_.push_back(Node{});
        nodes_[0].child = AddStorage(file_.entries, u"", 0);
        Layout();
        return Emit();
    }

private:
    // Gives the storage's children consecutive slots and links them as a
    // balanced binary search tree; returns the slot of its root.
    std::uint32_t AddStorage(const std::vector<Entry>& children, std::u16string_view path, int depth) {
        if (depth > kMaxStorageDepth) Fail("storages are nested more than " + Num(kMaxStorageDepth) + " deep");
        if (children.empty()) return kNoStream;
        std::vector<const Entry*> sorted;
        sorted.reserve(children.size());
        for (const Entry& e : children) {
            if (e.name.empty()) Fail("an entry of storage '" + Printable(path) + "' has no name");
            if (e.name.size() > kMaxNameUnits) {
                Fail("entry name '" + Printable(e.name) + "' is longer than " + Num(kMaxNameUnits) + " characters");
            }
            sorted.push_back(&e);
        }
        std::sort(sorted.begin(), sorted.end(),
                  [](const Entry* a, const Entry* b) { return CompareNames(a->name, b->name) < 0; });
        for (std::size_t i = 1; i < sorted.size(); ++i) {
            if (CompareNames(sorted[i - 1]->name, sorted[i]->name) == 0) {
                Fail("two entries named '" + Printable(sorted[i]->name) + "' in the same storage");
            }
        }
        const auto first = static_cast<std::uint32_t>(nodes_.size());
        for (const Entry* e : sorted) {
            Node node;
            node.entry = e;
            nodes_.push_back(node);
        }
        const std::uint32_t root = Link(first, first + static_cast<std::uint32_t>(sorted.size()));
        for (std::uint32_t i = first; i < first + sorted.size(); ++i) {
            const Entry& e = *nodes_[i].entry;
            if (e.type == Entry::Type::Storage) {
                if (!e.data.empty()) Fail("storage '" + Printable(e.name) + "' carries stream data");
                std::u16string childPath(path);
                childPath += e.name;
                childPath += u'/';
                const std::uint32_t child = AddStorage(e.children, childPath, depth + 1);
                nodes_[i].child = child;
            } else if (!e.children.empty()) {
                Fail("stream '" + Printable(e.name) + "' has children");
            }
        }
        return root;
    }

    // Midpoint of [lo, hi) becomes the subtree root; the halves hang left
    // and right. All nodes are black, which the format explicitly allows.
    std::uint32_t Link(std::uint32_t lo, std::uint32_t hi) {
        if (lo >= hi) return kNoStream;
        const std::uint32_t mid = lo + (hi - lo) / 2;
        nodes_[mid].left = Link(lo, mid);
        nodes_[mid].right = Link(mid + 1, hi);
        return mid;
    }

    // Assigns every structure its sectors: FAT, DIFAT, directory, MiniFAT,
    // mini stream, then the big streams, each contiguous.
    void Layout() {
        std::size_t miniSectors = 0;
        std::size_t bigSectors = 0;
        for (Node& node : nodes_) {
            if (!node.entry || node.entry->type != Entry::Type::Stream) continue;
            const auto size = static_cast<std::uint64_t>(node.entry->data.size());
            if (size > 0x7FFFFFFFu)
                Fail("stream '" + Printable(node.entry->name) + "' is larger than 2 GB", ErrorKind::TooLarge);
            node.size = size;
            if (size == 0) continue;
            if (size < kMiniStreamCutoff) {
                node.start = static_cast<std::uint32_t>(miniSectors);
                miniSectors += SectorsFor(size, kMiniSectorSize);
            } else {
                bigSectors += SectorsFor(size, kSectorSize);
            }
        }
        dirSectors_ = SectorsFor(nodes_.size(), kDirPerSector);
        miniFatSectors_ = SectorsFor(miniSectors, kFatPerSector);
        miniSectors_ = miniSectors;
        miniStreamSectors_ = SectorsFor(miniSectors * kMiniSectorSize, kSectorSize);
        const std::size_t payload = dirSectors_ + miniFatSectors_ + miniStreamSectors_ + bigSectors;

        // The FAT must also map its own sectors and the DIFAT's.
        fatSectors_ = 1;
        for (;;) {
            difatSectors_ =
                fatSectors_ > kHeaderDifatCount ? SectorsFor(fatSectors_ - kHeaderDifatCount, kDifatPerSector) : 0;
            const std::size_t need = SectorsFor(payload + fatSectors_ + difatSectors_, kFatPerSector);
            if (need <= fatSectors_) break;
            fatSectors_ = need;
        }
        totalSectors_ = fatSectors_ + difatSectors_ + payload;
        const std::uint64_t fileSize = (static_cast<std::uint64_t>(totalSectors_) + 1) * kSectorSize;
        if (fileSize > kMaxFileSize) {
            Fail("compound file would be " + Num(fileSize) + " bytes, more than the " + Num(kMaxFileSize) +
                     " the reader accepts",
                 ErrorKind::TooLarge);
        }

        difatStart_ = fatSectors_;
        dirStart_ = difatStart_ + difatSectors_;
        miniFatStart_ = dirStart_ + dirSectors_;
        miniStreamStart_ = miniFatStart_ + miniFatSectors_;
        std::size_t next = miniStreamStart_ + miniStreamSectors_;
        for (Node& node : nodes_) {
            if (!node.entry || node.entry->type != Entry::Type::Stream || node.size < kMiniStreamCutoff) continue;
            node.start = static_cast<std::uint32_t>(next);
            next += SectorsFor(node.size, kSectorSize);
        }
        Node& root = nodes_[0];
        root.start = miniSectors > 0 ? static_cast<std::uint32_t>(miniStreamStart_) : kEndOfChain;
        root.size = miniSectors * kMiniSectorSize;
    }

    std::uint8_t* SectorAt(std::size_t index) { return out_.data() + (index + 1) * kSectorSize; }

    static void Chain(std::uint32_t* table, std::size_t start, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            table[start + i] = i + 1 < count ? static_cast<std::uint32_t>(start + i + 1) : kEndOfChain;
        }
    }

    std::vector<std::uint8_t> Emit() {
        out_.assign((totalSectors_ + 1) * kSectorSize, 0);
        WriteHeader();
        WriteFatAndDifat();
        WriteDirectory();
        WriteMini();
        for (const Node& node : nodes_) {
            if (!node.entry || node.entry->type != Entry::Type::Stream || node.size < kMiniStreamCutoff) continue;
            std::memcpy(SectorAt(node.start), node.entry->data.data(), node.entry->data.size());
        }
        return std::move(out_);
    }

    void WriteHeader() {
        std::uint8_t* h = out_.data();
        std::memcpy(h, kSignature, sizeof kSignature);
        Put16(h + 0x18, 0x003E); // minor version
        Put16(h + 0x1A, 3);
        Put16(h + 0x1C, 0xFFFE);
        Put16(h + 0x1E, 9);
        Put16(h + 0x20, 6);
        Put32(h + 0x2C, static_cast<std::uint32_t>(fatSectors_));
        Put32(h + 0x30, static_cast<std::uint32_t>(dirStart_));
        Put32(h + 0x38, kMiniStreamCutoff);
        Put32(h + 0x3C, miniFatSectors_ > 0 ? static_cast<std::uint32_t>(miniFatStart_) : kEndOfChain);
        Put32(h + 0x40, static_cast<std::uint32_t>(miniFatSectors_));
        Put32(h + 0x44, difatSectors_ > 0 ? static_cast<std::uint32_t>(difatStart_) : kEndOfChain);
        Put32(h + 0x48, static_cast<std::uint32_t>(difatSectors_));
        for (std::size_t i = 0; i < kHeaderDifatCount; ++i) {
            Put32(h + 0x4C + 4 * i, i < fatSectors_ ? static_cast<std::uint32_t>(i) : kFreeSect);
        }
    }

    void WriteFatAndDifat() {
        std::vector<std::uint32_t> fat(fatSectors_ * kFatPerSector, kFreeSect);
        for (std::size_t i = 0; i < fatSectors_; ++i) fat[i] = kFatSect;
        for (std::size_t i = 0; i < difatSectors_; ++i) fat[difatStart_ + i] = kDifSect;
        Chain(fat.data(), dirStart_, dirSectors_);
        Chain(fat.data(), miniFatStart_, miniFatSectors_);
        Chain(fat.data(), miniStreamStart_, miniStreamSectors_);
        for (const Node& node : nodes_) {
            if (!node.entry || node.entry->type != Entry::Type::Stream || node.size < kMiniStreamCutoff) continue;
            Chain(fat.data(), node.start, SectorsFor(node.size, kSectorSize));
        }
        for (std::size_t i = 0; i < fat.size(); ++i) {
            Put32(SectorAt(i / kFatPerSector) + 4 * (i % kFatPerSector), fat[i]);
        }
        // FAT sectors past the header's 109 are listed in the DIFAT chain.
        std::size_t fatIndex = kHeaderDifatCount;
        for (std::size_t d = 0; d < difatSectors_; ++d) {
            std::uint8_t* s = SectorAt(difatStart_ + d);
            for (std::size_t k = 0; k < kDifatPerSector; ++k, ++fatIndex) {
                Put32(s + 4 * k, fatIndex < fatSectors_ ? static_cast<std::uint32_t>(fatIndex) : kFreeSect);
            }
            Put32(s + 4 * kDifatPerSector,
                  d + 1 < difatSectors_ ? static_cast<std::uint32_t>(difatStart_ + d + 1) : kEndOfChain);
        }
    }

    void WriteDirectory() {
        for (std::size_t i = 0; i < dirSectors_ * kDirPerSector; ++i) {
            std::uint8_t* p = SectorAt(dirStart_ + i / kDirPerSector) + (i % kDirPerSector) * kDirEntrySize;
            if (i >= nodes_.size()) {
                // Unused slots: all zero but for the three links.
                Put32(p + 0x44, kNoStream);
                Put32(p + 0x48, kNoStream);
                Put32(p + 0x4C, kNoStream);
                continue;
            }
            const Node& node = nodes_[i];
            const std::u16string_view name = node.entry ? std::u16string_view(node.entry->name) : u"Root Entry";
            for (std::size_t k = 0; k < name.size(); ++k) Put16(p + 2 * k, name[k]);
            Put16(p + 0x40, static_cast<std::uint16_t>((name.size() + 1) * 2));
            p[0x42] = !node.entry ? kTypeRoot : node.entry->type == Entry::Type::Storage ? kTypeStorage : kTypeStream;
            p[0x43] = kColorBlack;
            Put32(p + 0x44, node.left);
            Put32(p + 0x48, node.right);
            Put32(p + 0x4C, node.child);
            if (node.entry) {
                std::memcpy(p + 0x50, node.entry->clsid.data(), 16);
                Put32(p + 0x60, node.entry->stateBits);
                Put64(p + 0x64, node.entry->creationTime);
                Put64(p + 0x6C, node.entry->modifiedTime);
            } else {
                std::memcpy(p + 0x50, file_.rootClsid.data(), 16);
            }
            const bool isStream = node.entry && node.entry->type == Entry::Type::Stream;
            Put32(p + 0x74, isStream || !node.entry ? node.start : 0);
            Put64(p + 0x78, isStream || !node.entry ? node.size : 0);
        }
    }

    void WriteMini() {
        if (miniSectors_ == 0) return;
        std::vector<std::uint32_t> miniFat(miniFatSectors_ * kFatPerSector, kFreeSect);
        std::uint8_t* stream = SectorAt(miniStreamStart_); // contiguous sectors
        for (const Node& node : nodes_) {
            if (!node.entry || node.entry->type != Entry::Type::Stream || node.size == 0 ||
                node.size >= kMiniStreamCutoff) {
                continue;
            }
            Chain(miniFat.data(), node.start, SectorsFor(node.size, kMiniSectorSize));
            std::memcpy(stream + std::size_t{node.start} * kMiniSectorSize, node.entry->data.data(), node.size);
        }
        for (std::size_t i = 0; i < miniFat.size(); ++i) {
            Put32(SectorAt(miniFatStart_ + i / kFatPerSector) + 4 * (i % kFatPerSector), miniFat[i]);
        }
    }

    const CompoundFile& file_;
    std::vector<Node> nodes_;
    std::vector<std::uint8_t> out_;
    std::size_t fatSectors_ = 0;
    std::size_t difatSectors_ = 0;
    std::size_t dirSectors_ = 0;
    std::size_t miniFatSectors_ = 0;
    std::size_t miniSectors_ = 0;
    std::size_t miniStreamSectors_ = 0;
    std::size_t totalSectors_ = 0;
    std::size_t difatStart_ = 0;
    std::size_t dirStart_ = 0;
    std::size_t miniFatStart_ = 0;
    std::size_t miniStreamStart_ = 0;
};

template <typename EntryT, typename Entries>
EntryT* FindIn(Entries& entries, std::u16string_view name) {
    for (auto& e : entries) {
        if (e.type == Entry::Type::Stream && CompareNames(e.name, name) == 0) return &e;
    }
    return nullptr;
}

} // namespace

const Entry* CompoundFile::FindStream(std::u16string_view name) const { return FindIn<const Entry>(entries, name); }

Entry* CompoundFile::FindStream(std::u16string_view name) { return FindIn<Entry>(entries, name); }

CompoundFile Read(std::span<const std::uint8_t> bytes) { return Reader(bytes).Run(); }

std::vector<std::uint8_t> Write(const CompoundFile& file) { return Writer(file).Run(); }

} // namespace vi2zezir::workbook::cfb
