#include "schema/fields.h"

namespace brindle {

namespace {

// Nodes with fewer entries scan; a scan that starts after the previous match is as
// fast for them.
constexpr std::size_t kMinIndexed = 8;

}  // namespace

// Built only where the key texts of the node are distinct, which makes any entry
// found by text the same one that a scan in schema order would find first.
FieldIndex FieldIndex::build(std::span<const FieldEntry> entries) {
    FieldIndex index;
    if (entries.empty()) return index;
    std::size_t capacity = 8;
    while (capacity < entries.size() * 2) capacity *= 2;  // at most half full
    NativeVector<std::uint32_t> slots(capacity, 0);
    std::size_t mask = capacity - 1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FieldEntry& entry = entries[i];
        std::size_t slot = static_cast<std::size_t>(entry.hash) & mask;
        for (; slots[slot] != 0; slot = (slot + 1) & mask) {
            const FieldEntry& other = entries[slots[slot] - 1];
            // Keys from one dict can still share a text: str subclasses with an
            // equality of their own. Lookups then scan, so the first one wins.
            if (other.hash == entry.hash && other.key == entry.key) index.distinct_ = false;
        }
        slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
    if (index.distinct_ && entries.size() >= kMinIndexed) index.slots_ = std::move(slots);
    return index;
}

}  // namespace brindle
