// The workbook's shared-string table held flat: every string's characters in
// one pool, addressed by index, so that a sheet of half a million texts costs
// a few large vectors instead of a heap block (and a hash node) per string,
// and freeing the model frees a handful of blocks. Texts are interned through
// an open-addressing index over the pool that is built only when the first
// text is interned: a workbook that is opened and saved never hashes the
// strings it read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace vi2zezir::workbook {

class SharedStrings {
public:
    std::size_t Size() const noexcept { return starts_.size() - 1; }
    std::size_t CharCount() const noexcept { return chars_.size(); }
    std::u16string_view Text(std::uint32_t index) const noexcept {
        return {chars_.data() + starts_[index], starts_[index + 1] - starts_[index]};
    }
    // The folded character set of the text (CharSig), for Find's pre-test.
    std::uint64_t Sig(std::uint32_t index) const noexcept { return sigs_[index]; }
    // Raw formatting runs (4 bytes each) and phonetic block of a rich string;
    // empty for a plain one.
    std::span<const std::uint8_t> Runs(std::uint32_t index) const noexcept;
    std::span<const std::uint8_t> ExtRst(std::uint32_t index) const noexcept;

    void Reserve(std::size_t strings, std::size_t chars);
    // A string as read: kept at the next index even when it repeats one
    // (cells refer to it by that index); only plain strings are ever shared.
    std::uint32_t Append(std::u16string_view text, std::span<const std::uint8_t> runs = {},
                         std::span<const std::uint8_t> extRst = {});
    // The first plain string equal to the text, added when there is none.
    std::uint32_t Intern(std::u16string_view text);

private:
    struct Rich {
        std::uint32_t index;
        std::vector<std::uint8_t> runs, extRst;
    };
    const Rich* RichAt(std::uint32_t index) const noexcept;
    void IndexPending();
    // Linear probing stays short up to three quarters full.
    bool Full() const noexcept { return (used_ + 1) * 4 > slots_.size() * 3; }
    void Grow();
    void Place(std::uint32_t hash, std::uint32_t index);
    static std::uint32_t Hash(std::u16string_view text) noexcept;

    std::vector<char16_t> chars_;
    std::vector<std::size_t> starts_{0}; // Size() + 1 offsets into chars_
    std::vector<std::uint64_t> sigs_;
    std::vector<Rich> rich_; // ascending index; rare in practice
    // Open addressing: slot = (hash << 32) | (index + 1), 0 when free.
    std::vector<std::uint64_t> slots_;
    std::size_t indexed_ = 0; // strings below this index are in slots_
    std::size_t used_ = 0;
};

} // namespace vi2zezir::workbook
