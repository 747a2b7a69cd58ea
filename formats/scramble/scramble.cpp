#include "formats/scramble/scramble.hpp"

#include <bit>

namespace velk {
namespace {

std::uint32_t bit(std::uint32_t x, int n) { return (x >> n) & 1u; }

std::uint16_t swap_bytes(std::uint32_t v) {
    return static_cast<std::uint16_t>(((v & 0xFFu) << 8) | ((v >> 8) & 0xFFu));
}

// Folds the address to the 16 bits mix16 takes; the selector chooses which
// halves have their bytes exchanged first.
std::uint32_t fold(std::uint32_t address, std::uint32_t selector) {
    std::uint32_t hi = address >> 16;
    std::uint32_t lo = address & 0xFFFFu;
    if ((selector & 1u) != 0) lo = swap_bytes(lo);
    if ((selector & 2u) != 0) hi = swap_bytes(hi);
    return hi ^ lo;
}

}  // namespace

std::uint16_t mix16(std::uint16_t x, bool off) {
    if (off) return 0;
    const std::uint32_t n = (x >> 5) & 0xFu;
    return static_cast<std::uint16_t>(std::rotl(x, 9) ^ ((n * 0x1111u) & 0x6371u));
}

std::uint32_t mix17(std::uint32_t x, bool off) {
    if (off) return 0;
    const std::uint32_t rot = ((x & 0x3FFu) << 7) | ((x >> 10) & 0x7Fu);
    const std::uint32_t n = bit(x, 1) << 3 | bit(x, 5) << 2 | bit(x, 9) << 1 | bit(x, 13);
    const std::uint32_t pattern = bit(x, 4) << 16 | n * 0x1111u;
    return rot ^ (pattern & 0x13659u);
}

std::uint32_t mix32(std::uint32_t x, bool off) {
    if (off) return 0;
    const std::uint32_t n = (x >> 2) & 0xFu;
    return std::rotl(x, 17) ^ ((n * 0x11111111u) & 0xE519A4F1u);
}

bool scrambling_off(const scramble_keys& keys) {
    const std::uint32_t master = keys.control >> 24;
    return master == 0x00 || master == 0xFF;
}

std::uint32_t scramble_mask(const scramble_keys& keys, std::uint32_t address) {
    const std::uint32_t k2 = keys.key2;
    const std::uint32_t k4 = keys.control;
    const bool master_off = scrambling_off(keys);
    const bool off1 = master_off || bit(k4, 0) != 0;
    const bool off2 = master_off || bit(k4, 1) != 0;
    const bool off3 = master_off || bit(k4, 2) != 0;
    const bool off_k3 = master_off || bit(k4, 3) != 0;

    const std::uint32_t folded = fold(address, (k4 >> 5) & 3u);
    const std::uint32_t shifted = (address >> ((k4 >> 8) & 3u)) & 0x1FFFFu;
    const std::uint32_t rotated = std::rotr(address, static_cast<int>(8 * ((k4 >> 11) & 3u)));

    const auto x1 = static_cast<std::uint16_t>(folded ^ (k2 >> 16));
    const std::uint32_t x2 = shifted ^ (((k2 >> 8) & 0xFFu) << 9 | bit(k4, 4) << 8 | (k2 & 0xFFu));
    const std::uint32_t x3 = rotated ^ keys.key1;

    const std::uint32_t m1 = mix16(x1, off1);
    const std::uint32_t m2 = mix17(x2, off2) & 0xFFFFu;
    const std::uint32_t m3 = mix32(x3, off3);
    return m3 ^ (m1 << 16 | m2) ^ (off_k3 ? 0u : keys.key3);
}

word_scrambler::word_scrambler(const scramble_keys& keys)
    : off_(scrambling_off(keys)), mask0_(scramble_mask(keys, 0)), bytes_{} {
    for (std::size_t k = 0; k < bytes_.size(); ++k) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            bytes_[k][b] = scramble_mask(keys, b << (8 * k)) ^ mask0_;
        }
    }
}

}  // namespace velk
