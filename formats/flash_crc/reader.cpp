#include "formats/flash_crc/reader.hpp"

#include <algorithm>

#include "formats/crc/crc.hpp"
#include "formats/core/erased.hpp"

namespace velk {
namespace {

constexpr std::uint64_t padding_unit = 256;

// Every block's CRC-16 covers exactly its 32 data bytes.
std::uint16_t block_crc(const std::uint8_t* block) {
    return crc16_cms::compute(std::span(block, block_data_bytes));
}
static_assert(word_scrambler::block_bytes == block_data_bytes);

// The block that ends `blocks` blocks into an image of `size` bytes whose
// last tail.size() bytes are `tail`; null when the tail does not hold it.
const std::uint8_t* block_in_tail(std::uint64_t size, std::span<const std::uint8_t> tail,
                                  std::uint64_t blocks) {
    if (blocks == 0) return nullptr;
    const std::uint64_t start = (blocks - 1) * block_bytes;
    const std::uint64_t tail_start = size - tail.size();
    if (start < tail_start || start + block_bytes > size) return nullptr;
    return tail.data() + (start - tail_start);
}

}  // namespace

bool block_crc_ok(const std::uint8_t* block) {
    const std::uint16_t crc = block_crc(block);
    return block[block_data_bytes] == (crc >> 8) && block[block_data_bytes + 1] == (crc & 0xFF);
}

flash_crc_layout plain_flash_layout(std::uint64_t size) {
    return {size, size / block_bytes, false};
}

flash_crc_layout padded_flash_layout(std::uint64_t size, std::span<const std::uint8_t> tail) {
    flash_crc_layout layout{size, 0, true};
    if (size == 0) return layout;
    // The blocks end in [size - 256, size - 1]. Of those places, the one
    // that fits best: the least padding that is not 0xFF, then a last
    // block whose CRC checks out (a bad one costs 2, more than one damaged
    // padding byte, so a damaged padding byte cannot pass for the end of
    // the blocks), then a last block that is not all 0xFF.
    const std::uint64_t lowest = size > padding_unit ? (size - padding_unit + block_bytes - 1) / block_bytes : 0;
    const std::uint64_t highest = (size - 1) / block_bytes;
    const std::uint64_t tail_start = size - tail.size();
    std::uint64_t best_cost = UINT64_MAX;
    for (std::uint64_t n = highest + 1; n-- > lowest;) {
        const std::uint64_t end = n * block_bytes;
        if (end < tail_start) break;
        std::uint64_t cost = 0;
        for (std::uint64_t at = end; at < size; ++at) {
            if (tail[static_cast<std::size_t>(at - tail_start)] != 0xFF) ++cost;
        }
        if (const std::uint8_t* last = block_in_tail(size, tail, n)) {
            if (!block_crc_ok(last)) cost += 2;
            if (all_erased(std::span(last, block_bytes))) cost += 1;
        } else if (n != 0) {
            continue;
        }
        if (cost < best_cost) {
            best_cost = cost;
            layout.blocks = n;
        }
    }
    return layout;
}

bool reads_as_padded(std::uint64_t size, std::span<const std::uint8_t> tail) {
    if (size == 0 || tail.empty() || tail.back() != 0xFF) return false;
    if (size % block_bytes == 0) {
        const std::uint8_t* last = block_in_tail(size, tail, size / block_bytes);
        if (last != nullptr && block_crc_ok(last)) return false;
    }
    if (size % padding_unit == 0) return true;
    // Neither form: cut or grown. Padding is told by a run of 0xFF longer
    // than a block; a byte or two of 0xFF after whole blocks is more
    // likely a plain image grown.
    const flash_crc_layout padded = padded_flash_layout(size, tail);
    const std::uint64_t after = padded.tail();
    return after >= block_bytes && after <= tail.size() && all_erased(tail.last(static_cast<std::size_t>(after)));
}

block_evidence sample_blocks(std::span<const std::uint8_t> head, std::uint64_t blocks,
                             std::uint64_t max_blocks) {
    block_evidence e;
    const std::uint64_t n = std::min({blocks, max_blocks, std::uint64_t{head.size() / block_bytes}});
    for (std::uint64_t i = 0; i < n; ++i) {
        ++e.checked;
        if (block_crc_ok(head.data() + i * block_bytes)) ++e.good;
    }
    return e;
}

flash_crc_checker::flash_crc_checker(const flash_crc_layout& layout, problem_list& problems,
                                     const scramble_keys& keys, byte_sink* data)
    : layout_(layout), problems_(problems), scrambler_(keys), data_(data) {}

void flash_crc_checker::check_blocks(const std::uint8_t* blocks, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* block = blocks + i * block_bytes;
        const std::uint16_t crc = block_crc(block);
        const auto stored = static_cast<std::uint16_t>(block[block_data_bytes] << 8 |
                                                       block[block_data_bytes + 1]);
        if (crc != stored) {
            ++bad_blocks_;
            problem p;
            p.what = check::block_crc;
            p.index = next_block_ + i;
            p.offset = (next_block_ + i) * block_bytes;
            p.stored = stored;
            p.computed = crc;
            problems_.add(p);
        }
    }
    if (data_ != nullptr && data_ok_) {
        data_buffer_.resize(count * block_data_bytes);
        // The scrambler's addresses are the raw image's offsets, 32 bits.
        for (std::size_t i = 0; i < count; ++i) {
            scrambler_.scramble_block(static_cast<std::uint32_t>((next_block_ + i) * block_data_bytes),
                                      blocks + i * block_bytes, data_buffer_.data() + i * block_data_bytes);
        }
        data_ok_ = data_->write(data_buffer_);
    }
    next_block_ += count;
}

void flash_crc_checker::padding(std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == 0xFF) continue;
        if (padding_not_erased_++ == 0) {
            first_not_erased_ = at_ + i;
            first_not_erased_value_ = bytes[i];
        }
    }
}

void flash_crc_checker::feed(std::span<const std::uint8_t> bytes) {
    // Bytes past the layout's size are not the image's; the caller's
    // reading of the size decides.
    if (at_ >= layout_.size) return;
    bytes = bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), layout_.size - at_)));
    const std::uint64_t blocks_end = layout_.blocks_end();
    while (!bytes.empty() && at_ < blocks_end) {
        const auto in_blocks = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), blocks_end - at_));
        std::span<const std::uint8_t> piece = bytes.first(in_blocks);
        if (carry_length_ != 0) {
            const std::size_t n = std::min(block_bytes - carry_length_, piece.size());
            std::copy_n(piece.data(), n, carry_.data() + carry_length_);
            carry_length_ += n;
            piece = piece.subspan(n);
            if (carry_length_ == block_bytes) {
                check_blocks(carry_.data(), 1);
                carry_length_ = 0;
            }
        }
        // Whole blocks straight from the caller's bytes, in runs that keep
        // the descrambled data small.
        constexpr std::size_t run = 2048;
        while (piece.size() >= block_bytes) {
            const std::size_t count = std::min(piece.size() / block_bytes, run);
            check_blocks(piece.data(), count);
            piece = piece.subspan(count * block_bytes);
        }
        if (!piece.empty()) {
            std::copy_n(piece.data(), piece.size(), carry_.data());
            carry_length_ = piece.size();
        }
        at_ += in_blocks;
        bytes = bytes.subspan(in_blocks);
    }
    if (!bytes.empty()) {
        if (layout_.padded) padding(bytes);
        at_ += bytes.size();
    }
}

bool flash_crc_checker::finish() {
    const std::uint64_t tail = layout_.tail();
    if (!layout_.padded && tail != 0) {
        problem p;
        p.what = check::partial_block;
        p.offset = layout_.blocks_end();
        p.count = tail;
        problems_.add(p);
    }
    if (layout_.padded) {
        if (layout_.size % padding_unit != 0 || tail == 0 || tail > padding_unit) {
            problem p;
            p.what = check::padding_length;
            p.offset = layout_.blocks_end();
            p.stored = tail;
            p.count = layout_.size;
            problems_.add(p);
        }
        if (padding_not_erased_ != 0) {
            problem p;
            p.what = check::padding_byte;
            p.part = image_part::end_padding;
            p.offset = first_not_erased_;
            p.stored = first_not_erased_value_;
            p.count = padding_not_erased_;
            problems_.add(p);
        }
    }
    return data_ok_;
}

cut_fault check_cut(const flash_crc_layout& layout, std::uint64_t length) {
    if (length > layout.data_bytes()) return cut_fault::longer_than_data;
    if (layout.blocks != 0 && length <= layout.data_bytes() - block_data_bytes) return cut_fault::drops_blocks;
    return cut_fault::none;
}

bool cut_sink::write(std::span<const std::uint8_t> bytes) {
    const auto pass = static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), keep_ - passed_));
    passed_ += pass;
    for (const std::uint8_t b : bytes.subspan(pass)) {
        if (b != 0xFF) ++dropped_data_;
    }
    return pass == 0 || out_.write(bytes.first(pass));
}

}  // namespace velk
