#include "workbook/sheet/shared_strings.h"

#include <algorithm>

#include "workbook/sheet/model.h"

namespace vi2zezir::workbook {

namespace {
constexpr std::uint64_t kFree = 0;
} // namespace

std::uint32_t SharedStrings::Hash(std::u16string_view text) noexcept {
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
    for (char16_t c : text) h = (h ^ c) * 0x100000001B3ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::uint32_t>(h >> 32);
}

const SharedStrings::Rich* SharedStrings::RichAt(std::uint32_t index) const noexcept {
    if (rich_.empty() || rich_.back().index < index) return nullptr;
    const auto it =
        std::lower_bound(rich_.begin(), rich_.end(), index, [](const Rich& r, std::uint32_t i) { return r.index < i; });
    return (it != rich_.end() && it->index == index) ? &*it : nullptr;
}

std::span<const std::uint8_t> SharedStrings::Runs(std::uint32_t index) const noexcept {
    const Rich* r = RichAt(index);
    return r ? std::span<const std::uint8_t>(r->runs) : std::span<const std::uint8_t>();
}

std::span<const std::uint8_t> SharedStrings::ExtRst(std::uint32_t index) const noexcept {
    const Rich* r = RichAt(index);
    return r ? std::span<const std::uint8_t>(r->extRst) : std::span<const std::uint8_t>();
}

void SharedStrings::Reserve(std::size_t strings, std::size_t chars) {
    starts_.reserve(strings + 1);
    sigs_.reserve(strings);
    chars_.reserve(chars);
}

std::uint32_t SharedStrings::Append(std::u16string_view text, std::span<const std::uint8_t> runs,
                                    std::span<const std::uint8_t> extRst) {
    const auto index = static_cast<std::uint32_t>(Size());
    chars_.insert(chars_.end(), text.begin(), text.end());
    starts_.push_back(chars_.size());
    sigs_.push_back(CharSig(text));
    if (!runs.empty() || !extRst.empty())
        rich_.push_back({index, {runs.begin(), runs.end()}, {extRst.begin(), extRst.end()}});
    return index;
}

void SharedStrings::Place(std::uint32_t hash, std::uint32_t index) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = hash & mask;
    while (slots_[slot] != kFree) slot = (slot + 1) & mask;
    slots_[slot] = (std::uint64_t{hash} << 32) | (std::uint64_t{index} + 1);
    ++used_;
}

void SharedStrings::Grow() {
    std::vector<std::uint64_t> old(std::max<std::size_t>(64, slots_.size() * 2), kFree);
    old.swap(slots_);
    used_ = 0;
    for (std::uint64_t s : old)
        if (s != kFree) Place(static_cast<std::uint32_t>(s >> 32), static_cast<std::uint32_t>(s) - 1);
}

void SharedStrings::IndexPending() {
    // The strings read (or appended) since the last intern: the first of
    // equal plain strings is the one a new text shares.
    auto rich = std::lower_bound(rich_.begin(), rich_.end(), indexed_,
                                 [](const Rich& r, std::size_t i) { return r.index < i; });
    for (; indexed_ < Size(); ++indexed_) {
        const auto index = static_cast<std::uint32_t>(indexed_);
        if (rich != rich_.end() && rich->index == index) {
            ++rich;
            continue;
        }
        if (Full()) Grow();
        const std::u16string_view text = Text(index);
        const std::uint32_t hash = Hash(text);
        const std::size_t mask = slots_.size() - 1;
        bool seen = false;
        for (std::size_t slot = hash & mask; slots_[slot] != kFree; slot = (slot + 1) & mask) {
            if (static_cast<std::uint32_t>(slots_[slot] >> 32) == hash &&
                Text(static_cast<std::uint32_t>(slots_[slot]) - 1) == text) {
                seen = true;
                break;
            }
        }
        if (!seen) Place(hash, index);
    }
}

std::uint32_t SharedStrings::Intern(std::u16string_view text) {
    IndexPending();
    if (Full()) Grow();
    const std::uint32_t hash = Hash(text);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask; slots_[slot] != kFree; slot = (slot + 1) & mask) {
        const std::uint64_t s = slots_[slot];
        if (static_cast<std::uint32_t>(s >> 32) == hash && Text(static_cast<std::uint32_t>(s) - 1) == text)
            return static_cast<std::uint32_t>(s) - 1;
    }
    const std::uint32_t index = Append(text);
    Place(hash, index);
    indexed_ = Size();
    return index;
}

} // namespace vi2zezir::workbook
