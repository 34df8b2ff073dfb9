#include "core/text.h"

#include <cstring>

namespace brindle {

std::uint64_t code_points(std::string_view utf8) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t size = utf8.size();
    std::uint64_t continuation = 0;
    std::size_t i = 0;
    // Eight bytes at a time: a continuation byte is 10xxxxxx, bit 7 set and bit 6 clear.
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        std::uint64_t marks = word & ~(word << 1) & 0x8080808080808080ULL;
        continuation += static_cast<std::uint64_t>(__builtin_popcountll(marks));
    }
    for (; i < size; ++i) continuation += (bytes[i] & 0xC0) == 0x80;
    return size - continuation;
}

Text replace_ill_formed_utf8(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t size = bytes.size();
    Text out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        unsigned char lead = in[i];
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;  // U+D800 to U+DFFF have no UTF-8 form
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            out.append(kReplacement);
            ++i;
            continue;
        }
        // The second byte has the lead's own range; later ones the plain one.
        std::size_t taken = 1;
        while (taken <= need && i + taken < size) {
            unsigned char c = in[i + taken];
            if (c < low || c > high) break;
            low = 0x80;
            high = 0xBF;
            ++taken;
        }
        if (taken == need + 1) {
            out.append(bytes.substr(i, taken));
        } else {
            out.append(kReplacement);
        }
        i += taken;
    }
    return out;
}

}  // namespace brindle
