#pragma once
// Reading a flash CRC image back: where its blocks end (plain, or padded
// with 0xFF to a multiple of 256 as velk single writes it), every block's
// CRC-16 checked as the bytes stream past, and the data descrambled back
// into the raw image. Memory stays the same whatever the image's size.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/core/findings.hpp"
#include "formats/flash_crc/writer.hpp"
#include "formats/scramble/scramble.hpp"
#include "io/file.hpp"

namespace velk {

// Where the blocks of an image of `size` bytes end, and what follows them.
struct flash_crc_layout {
    std::uint64_t size = 0;    // the image's length
    std::uint64_t blocks = 0;  // whole blocks
    bool padded = false;       // 0xFF after the blocks up to a multiple of 256

    std::uint64_t blocks_end() const { return blocks * block_bytes; }
    // Bytes after the blocks: the padding, or a partial block when plain.
    std::uint64_t tail() const { return size - blocks_end(); }
    std::uint64_t data_bytes() const { return blocks * block_data_bytes; }

    friend bool operator==(const flash_crc_layout&, const flash_crc_layout&) = default;
};

// How many of its last bytes the layout functions need to see.
inline constexpr std::size_t layout_tail_bytes = 512;

// A plain image: as many whole blocks as fit, the rest a partial block.
flash_crc_layout plain_flash_layout(std::uint64_t size);

// A padded image of `size` bytes whose last min(size, layout_tail_bytes)
// bytes are `tail`. Its padding is 1 to 256 bytes, so its blocks end in
// its last 256 bytes but one; of those places, the one where the padding
// is all 0xFF and the last block's CRC checks out, or with one byte
// damaged (in the last block or in the padding) the place that fits best
// (padding never forms a good block: 32 bytes of 0xFF have the CRC
// 0x000C, not 0xFFFF).
flash_crc_layout padded_flash_layout(std::uint64_t size, std::span<const std::uint8_t> tail);

// Whether an image of `size` bytes ending in `tail` (as above) is better
// read as padded than as plain: it ends in 0xFF, and either its length is
// a multiple of 256 and its last 34 bytes are not a good block, or its
// length fits neither form and the padded reading leaves a block's length
// or more of 0xFF, and nothing else, after the blocks.
bool reads_as_padded(std::uint64_t size, std::span<const std::uint8_t> tail);

// True when the 34 bytes at `block` are 32 data bytes followed by their
// CRC-16, high byte first.
bool block_crc_ok(const std::uint8_t* block);

// How many of the whole blocks in `head` (the image's first bytes, up to
// `max_blocks` of them, and no more than `blocks`) were checked, and how
// many of those have a good CRC.
struct block_evidence {
    std::uint64_t checked = 0;
    std::uint64_t good = 0;
};
block_evidence sample_blocks(std::span<const std::uint8_t> head, std::uint64_t blocks,
                             std::uint64_t max_blocks = 16);

// Checks an image of the given layout fed to it in order, in pieces of any
// size: each block's CRC-16 (a bad one: a block_crc problem), a partial
// last block, the padding's length and bytes. The data of every whole
// block, descrambled with `keys`, go to `data` when it is not null: 32
// bytes a block, the raw image followed by the 0xFF that filled its last
// block.
class flash_crc_checker {
public:
    flash_crc_checker(const flash_crc_layout& layout, problem_list& problems,
                      const scramble_keys& keys = default_scramble_keys, byte_sink* data = nullptr);

    void feed(std::span<const std::uint8_t> bytes);
    // Checks the end (call once every byte was fed); false when writing
    // to `data` failed.
    bool finish();

    std::uint64_t bad_blocks() const { return bad_blocks_; }
    std::uint64_t padding_not_erased() const { return padding_not_erased_; }

private:
    void check_blocks(const std::uint8_t* blocks, std::size_t count);
    void padding(std::span<const std::uint8_t> bytes);

    flash_crc_layout layout_;
    problem_list& problems_;
    word_scrambler scrambler_;
    byte_sink* data_;
    bool data_ok_ = true;
    std::vector<std::uint8_t> data_buffer_;
    std::uint64_t at_ = 0;
    std::uint64_t next_block_ = 0;
    std::array<std::uint8_t, block_bytes> carry_{};
    std::size_t carry_length_ = 0;
    std::uint64_t bad_blocks_ = 0;
    std::uint64_t padding_not_erased_ = 0;
    std::uint64_t first_not_erased_ = 0;
    std::uint8_t first_not_erased_value_ = 0;
};

// Whether --length can cut the raw image of a flash CRC image of `layout`
// to `length` bytes: no longer than its data, and not so short that a
// whole block would be dropped (the image would then not be that length's
// image).
enum class cut_fault { none, longer_than_data, drops_blocks };
cut_fault check_cut(const flash_crc_layout& layout, std::uint64_t length);

// Passes on the first `keep` bytes written to it and drops the rest,
// counting the dropped bytes that are not 0xFF (the encoder fills the last
// block with 0xFF, so anything else there was data).
class cut_sink final : public byte_sink {
public:
    cut_sink(byte_sink& out, std::uint64_t keep) : out_(out), keep_(keep) {}
    bool write(std::span<const std::uint8_t> bytes) override;
    std::uint64_t dropped_data() const { return dropped_data_; }

private:
    byte_sink& out_;
    std::uint64_t keep_;
    std::uint64_t passed_ = 0;
    std::uint64_t dropped_data_ = 0;
};

}  // namespace velk
