// Matching a dict key to a field of a Fields node: the entries' hash index, byte
// equality of key texts, and the finder the walks use, which tries the entry after
// the previous match before the index. No Python.h: keys arrive as their UTF-8 texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "core/alloc.h"
#include "schema/node.h"

namespace brindle {

// What every lookup answers when no entry has the key.
inline constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

template <class SameKey>
std::size_t FieldIndex::find(std::span<const FieldEntry> entries, std::int64_t hash,
                             SameKey same_key) const noexcept {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = static_cast<std::size_t>(hash) & mask;; slot = (slot + 1) & mask) {
        std::uint32_t held = slots_[slot];
        if (held == 0) return kNoField;
        const FieldEntry& entry = entries[held - 1];
        if (entry.hash == hash && same_key(entry)) return held - 1;
    }
}

template <class Word>
[[gnu::always_inline]] inline Word load(const char* bytes) noexcept {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Byte equality, inline: field names are short, and a call to memcmp would cost
// more than the comparison itself. Two overlapping loads cover each size class, so
// nothing is read outside either text.
[[gnu::always_inline]] inline bool same_text(const Text& key, std::string_view text) noexcept {
    std::size_t size = text.size();
    if (key.size() != size) return false;
    const char* a = key.data();
    const char* b = text.data();
    if (size >= 8) {
        for (std::size_t i = 0; i + 8 < size; i += 8) {
            if (load<std::uint64_t>(a + i) != load<std::uint64_t>(b + i)) return false;
        }
        return load<std::uint64_t>(a + size - 8) == load<std::uint64_t>(b + size - 8);
    }
    if (size >= 4) {
        return load<std::uint32_t>(a) == load<std::uint32_t>(b) &&
               load<std::uint32_t>(a + size - 4) == load<std::uint32_t>(b + size - 4);
    }
    if (size >= 2) {
        return load<std::uint16_t>(a) == load<std::uint16_t>(b) &&
               load<std::uint16_t>(a + size - 2) == load<std::uint16_t>(b + size - 2);
    }
    return size == 0 || *a == *b;
}

// The first entry whose key has exactly these bytes, in schema order.
inline std::size_t find_field(std::span<const FieldEntry> entries, std::string_view key) noexcept {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (same_text(entries[i].key, key)) return i;
    }
    return kNoField;
}

// Looks up the keys of one dict among the fields of a node. The result is always
// the first entry in schema order with the key's text: where the node's key texts
// are distinct, any entry found by text is that one, so the lookup first tries the
// entry after the previous match (one comparison per key for data in schema order)
// and then the node's hash index; otherwise it scans from the first entry.
class FieldFinder {
public:
    explicit FieldFinder(const ValidatorNode& node) noexcept
        : entries_(node.entries()), index_(node.field_index()) {}

    std::span<const FieldEntry> entries() const noexcept { return entries_; }
    bool distinct() const noexcept { return index_.distinct(); }

    // Records a match made without find(), as find() records its own.
    void matched(std::size_t field) noexcept { next_ = field + 1; }

    // The field after the one matched last, which find() tries first.
    std::size_t expected() const noexcept { return next_; }

    // The entry for the key whose UTF-8 text is `text`; `key_hash()` gives the key's
    // str hash (see FieldEntry), asked only when the index is searched.
    template <class KeyHash>
    [[gnu::always_inline]] std::size_t find(std::string_view text, KeyHash key_hash) {
        if (next_ < entries_.size() && same_text(entries_[next_].key, text) && index_.distinct())
            [[likely]] {
            return next_++;
        }
        return find_elsewhere(text, key_hash);
    }

private:
    template <class KeyHash>
    [[gnu::noinline]] std::size_t find_elsewhere(std::string_view text, KeyHash key_hash) {
        if (!index_.distinct()) return find_field(entries_, text);
        std::size_t found =
            index_.empty() ? find_field(entries_, text)
                           : index_.find(entries_, key_hash(), [text](const FieldEntry& entry) {
                                 return same_text(entry.key, text);
                             });
        if (found != kNoField) next_ = found + 1;
        return found;
    }

    std::span<const FieldEntry> entries_;
    const FieldIndex& index_;
    std::size_t next_ = 0;
};

}  // namespace brindle
