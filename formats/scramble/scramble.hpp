#pragma once
// The keyed word scrambler: every 32-bit word of a flash image is XORed with
// a mask that depends only on the word's byte offset in the image and on
// four key words, so scrambling twice with the same keys gives the data back.

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/core/le_words.hpp"

namespace velk {

// The four key words of one image.
struct scramble_keys {
    std::uint32_t key1 = 0;     // XORed into the input of mix32
    std::uint32_t key2 = 0;     // bits 16-31 into mix16's input, 0-15 into mix17's
    std::uint32_t key3 = 0;     // XORed into the mask unless control bit 3 is set
    std::uint32_t control = 0;  // master switch (bits 24-31) and stage bits

    friend bool operator==(const scramble_keys&, const scramble_keys&) = default;
};

// The keys every command uses when none are given: 00A5A5A5 four times,
// whose control word's top byte (0x00) turns scrambling off.
inline constexpr scramble_keys default_scramble_keys{0x00A5A5A5, 0x00A5A5A5, 0x00A5A5A5,
                                                     0x00A5A5A5};

// The three mixers: each returns 0 when off, else its input rotated left
// within its width, XORed with a nibble pattern taken from the input.
std::uint16_t mix16(std::uint16_t x, bool off);  // 16 bits, rotate by 9
std::uint32_t mix17(std::uint32_t x, bool off);  // low 17 bits of x, rotate by 7
std::uint32_t mix32(std::uint32_t x, bool off);  // 32 bits, rotate by 17

// True when the control word's top byte (0x00 or 0xFF) turns scrambling off,
// so that every word passes through unchanged.
bool scrambling_off(const scramble_keys& keys);

// The mask XORed into the word at `address`, computed through the mixers.
// XORing it twice gives the data back, so one function both scrambles and
// descrambles.
std::uint32_t scramble_mask(const scramble_keys& keys, std::uint32_t address);

// scramble_mask for a whole image, with one set of keys. Each step of the mask moves or copies address bits
// (shifts, rotations, byte swaps, nibble copies), XORs them together or
// with key bits, or masks them; nothing carries. So the mask is an affine
// function of the address bits, mask(a) = mask(0) ^ L(a) with L linear over
// GF(2), and L of an address is the XOR of L of its four bytes, which four
// 256-entry tables hold: a word costs four lookups instead of three mixers.
class word_scrambler {
public:
    explicit word_scrambler(const scramble_keys& keys);

    // True when the master switch is off and every word passes unchanged.
    bool off() const { return off_; }

    // scramble_mask(keys, address).
    std::uint32_t mask(std::uint32_t address) const {
        return mask0_ ^ bytes_[0][address & 0xFFu] ^ bytes_[1][(address >> 8) & 0xFFu] ^
               bytes_[2][(address >> 16) & 0xFFu] ^ bytes_[3][address >> 24];
    }
    std::uint32_t scramble(std::uint32_t address, std::uint32_t data) const {
        return data ^ mask(address);
    }

    // What the bits of `offset` (below 256) add to a mask:
    // mask(a | offset) == mask(a) ^ offset_part(offset) whenever a & offset == 0.
    std::uint32_t offset_part(std::uint32_t offset) const { return bytes_[0][offset]; }

    // Bytes in one block of the flash CRC image: eight words.
    static constexpr std::size_t block_bytes = 32;

    // Scrambles the block of 32 bytes at `from`, eight little-endian words
    // whose first lies at `address` (a multiple of 32), into the 32 bytes
    // at `to`, which do not overlap them. Scrambling again gives them back.
    // The words' addresses are the block's with bits 2-4 set, so each mask
    // is the block's and what those bits add.
    void scramble_block(std::uint32_t address, const std::uint8_t* from, std::uint8_t* to) const {
        assert(address % block_bytes == 0);
        if (off_) {
            std::memcpy(to, from, block_bytes);
            return;
        }
        const std::uint32_t block_mask = mask(address);
        for (std::uint32_t j = 0; j < block_bytes; j += 4) {
            store_le32(to + j, load_le32(from + j) ^ block_mask ^ offset_part(j));
        }
    }

private:
    bool off_;
    std::uint32_t mask0_;                                   // the mask of address 0
    std::array<std::array<std::uint32_t, 256>, 4> bytes_;   // [k][b]: L(b << 8k)
};

}  // namespace velk
