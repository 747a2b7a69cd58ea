#include "formats/flash_crc/writer.hpp"

#include <algorithm>
#include <cassert>
#include <array>
#include <cinttypes>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formats/crc/crc.hpp"
#include "formats/core/le_words.hpp"
#include "formats/pieces/pieces.hpp"
#include "io/file.hpp"

namespace velk {
namespace {

// Blocks converted per pass: 256 KiB of input, 272 KiB of image and
// 1088 KiB of twin, so memory stays the same whatever the input's size.
constexpr std::size_t chunk_blocks = 8192;

// The twin's four bytes for every byte value, two lower-case digits, CR
// and LF, as a little-endian word: the first digit in its lowest byte.
constexpr std::array<std::uint32_t, 256> make_twin_lines() {
    constexpr char digits[] = "0123456789abcdef";
    std::array<std::uint32_t, 256> lines{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        lines[b] = static_cast<std::uint32_t>(digits[b >> 4]) |
                   static_cast<std::uint32_t>(digits[b & 0xF]) << 8 | std::uint32_t{'\r'} << 16 |
                   std::uint32_t{'\n'} << 24;
    }
    return lines;
}
constexpr auto twin_lines = make_twin_lines();

std::uint64_t padded_size(std::uint64_t size) {
    return (size + block_data_bytes - 1) / block_data_bytes * block_data_bytes;
}

// Builds the blocks of whole blocks of padded `input`, which start at byte
// `offset` of the image's input, into `image` (34 bytes per block), and
// spells them into `twin` unless it is empty. The scrambler takes 32-bit
// addresses, so past 4 GiB they wrap.
void encode_blocks(std::span<const std::uint8_t> input, std::uint64_t offset,
                   const word_scrambler& scrambler, std::span<std::uint8_t> image,
                   std::span<std::uint8_t> twin) {
    scramble_blocks(input, image, static_cast<std::uint32_t>(offset), scrambler);
    crc16_blocks(image);
    if (!twin.empty()) spell_twin(image, twin);
}

// One pass of the streaming encoder, straight into the writers' buffers.
// False when a buffer could not be written out: the writer's ok() tells
// which.
bool write_pass(std::span<const std::uint8_t> input, std::uint64_t offset,
                const word_scrambler& scrambler, BlockWriter& image_out, BlockWriter* twin_out) {
    const std::size_t image_len = input.size() / block_data_bytes * block_bytes;
    const std::span<std::uint8_t> blocks(image_out.reserve(image_len), image_len);
    if (!image_out.ok()) return false;
    std::span<std::uint8_t> text;
    if (twin_out != nullptr) {
        const std::size_t text_len = image_len * twin_line_bytes;
        text = std::span(twin_out->reserve(text_len), text_len);
        if (!twin_out->ok()) return false;
    }
    encode_blocks(input, offset, scrambler, blocks, text);
    if (twin_out != nullptr) twin_out->commit(text.size());
    image_out.commit(image_len);
    return true;
}

// The same blocks in pieces of one pass each, for convert_pieces.
class flash_crc_pieces final : public piecewise {
public:
    flash_crc_pieces(const scramble_keys& keys, bool twin) : scrambler_(keys), twin_(twin) {}

    std::size_t piece_bytes() const override { return chunk_blocks * block_data_bytes; }
    std::size_t output_count() const override { return twin_ ? 2 : 1; }
    std::size_t output_room(std::size_t which) const override {
        return chunk_blocks * block_bytes * (which == 0 ? 1 : twin_line_bytes);
    }
    std::uint64_t output_offset(std::size_t which, std::uint64_t index) const override {
        return index * output_room(which);
    }
    lengths convert(std::uint64_t index, std::span<std::uint8_t> input, std::size_t length,
                    const buffers& out) const override {
        const auto padded = static_cast<std::size_t>(padded_size(length));
        std::fill(input.begin() + static_cast<std::ptrdiff_t>(length),
                  input.begin() + static_cast<std::ptrdiff_t>(padded), std::uint8_t{0xFF});
        const std::size_t image_len = padded / block_data_bytes * block_bytes;
        const std::size_t text_len = twin_ ? image_len * twin_line_bytes : 0;
        encode_blocks(input.first(padded), index * piece_bytes(), scrambler_,
                      out[0].first(image_len), out[1].first(text_len));
        return {image_len, text_len};
    }

private:
    word_scrambler scrambler_;
    bool twin_;
};

// The image's end: 1 to 256 bytes of erased flash, so that it ends on a
// 256-byte boundary with at least one erased byte after its last block.
std::vector<std::uint8_t> end_padding(std::uint64_t image_length) {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(256 - image_length % 256), 0xFF);
}

// What a stream writer's failure was: the image's or the twin's write.
fault writer_fault(const BlockWriter& image_out, const flash_crc_sinks& out) {
    if (!image_out.ok()) return write_fault(role::image, out.image.error_number());
    return write_fault(role::twin, out.twin->error_number());
}

// Streams block by block in constant memory: `limit` bytes exactly when
// the size is known, else until the input ends.
result<flash_crc_written> stream_flash_crc(byte_source& input, std::optional<std::uint64_t> limit,
                                           const flash_crc_options& options, const flash_crc_sinks& out) {
    const word_scrambler scrambler(options.keys);
    std::vector<std::uint8_t> in(chunk_blocks * block_data_bytes);
    BlockWriter image_out(out.image, chunk_blocks * block_bytes);
    std::optional<BlockWriter> twin_out;
    if (out.twin != nullptr) twin_out.emplace(*out.twin, chunk_blocks * block_bytes * twin_line_bytes);
    BlockWriter* const twin_writer = twin_out ? &*twin_out : nullptr;

    std::uint64_t done = 0;
    const std::uint64_t end = limit.value_or(UINT64_MAX);
    while (done < end) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(end - done, in.size()));
        const std::size_t got = input.read(std::span(in.data(), want));
        if (got != want && (limit || input.error())) {
            return read_fault(role::input, input.error() ? input.error_number() : 0, done + got);
        }
        if (got == 0) break;
        const auto padded = static_cast<std::size_t>(padded_size(got));
        std::fill(in.begin() + static_cast<std::ptrdiff_t>(got),
                  in.begin() + static_cast<std::ptrdiff_t>(padded), std::uint8_t{0xFF});
        if (!write_pass(std::span(in.data(), padded), done, scrambler, image_out, twin_writer)) {
            return writer_fault(image_out, out);
        }
        done += got;
        if (got != want) break;
    }
    std::uint64_t image_length = crc_image_size(done);
    if (options.pad_to_256) {
        const std::vector<std::uint8_t> erased = end_padding(image_length);
        image_out.put(erased);
        image_length += erased.size();
    }
    if (!image_out.flush() || (twin_writer != nullptr && !twin_writer->flush())) {
        return writer_fault(image_out, out);
    }
    return flash_crc_written{done, image_length};
}

// The same image and twin converted in pieces on several threads, each
// piece's blocks written where they belong.
result<flash_crc_written> flash_crc_in_pieces(const random_source& input, const flash_crc_options& options,
                                              random_sink& image, random_sink* twin, unsigned max_threads) {
    const flash_crc_pieces pieces(options.keys, twin != nullptr);
    const std::array<piece_target, 2> targets{piece_target{&image, 0, role::image},
                                              piece_target{twin, 0, role::twin}};
    const result<piece_ends> ends =
        convert_pieces(pieces, input, role::input, 0, input.size(), targets, max_threads);
    if (!ends) return ends.error();
    std::uint64_t image_length = crc_image_size(input.size());
    if (options.pad_to_256) {
        const std::vector<std::uint8_t> erased = end_padding(image_length);
        if (status s = image.write_at(image_length, erased); !s) return s.error().of(role::image);
        image_length += erased.size();
    }
    return flash_crc_written{input.size(), image_length};
}

}  // namespace

result<flash_crc_written> encode_flash_crc(byte_source& input, const flash_crc_options& options,
                                           const flash_crc_sinks& out, unsigned max_threads) {
    const random_source* const whole = input.positional();
    random_sink* const image_at = whole != nullptr ? out.image.positional() : nullptr;
    random_sink* const twin_at = image_at != nullptr && out.twin != nullptr ? out.twin->positional() : nullptr;
    if (image_at != nullptr && (out.twin == nullptr || twin_at != nullptr)) {
        return flash_crc_in_pieces(*whole, options, *image_at, twin_at, max_threads);
    }
    return stream_flash_crc(input, whole ? std::optional(whole->size()) : std::nullopt, options, out);
}

std::uint64_t crc_image_size(std::uint64_t input_size) {
    return padded_size(input_size) / block_data_bytes * block_bytes;
}

void scramble_blocks(std::span<const std::uint8_t> input, std::span<std::uint8_t> image,
                     std::uint32_t first_address, const word_scrambler& scrambler) {
    assert(input.size() % block_data_bytes == 0);
    assert(image.size() >= input.size() / block_data_bytes * block_bytes);
    const std::size_t blocks = input.size() / block_data_bytes;
    for (std::size_t i = 0; i < blocks; ++i) {
        scrambler.scramble_block(static_cast<std::uint32_t>(first_address + i * block_data_bytes),
                                 input.data() + i * block_data_bytes, image.data() + i * block_bytes);
    }
}

void crc16_blocks(std::span<std::uint8_t> image) {
    assert(image.size() % block_bytes == 0);
    for (std::size_t at = 0; at + block_bytes <= image.size(); at += block_bytes) {
        const std::uint16_t crc = crc16_cms::compute(image.subspan(at, block_data_bytes));
        image[at + block_data_bytes] = static_cast<std::uint8_t>(crc >> 8);
        image[at + block_data_bytes + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    }
}

void spell_twin(std::span<const std::uint8_t> image, std::span<std::uint8_t> text) {
    const std::uint8_t* from = image.data();
    const std::uint8_t* const end = from + image.size();
    std::uint8_t* to = text.data();
#if defined(__SSE2__)
    // Sixteen image bytes at a time (SSE2 is part of every x86-64): their
    // nibbles become digits side by side, and interleaving them with each
    // other and then with CR LF lays out four lines per 16-byte store. The
    // twin is four times the image, so its stores are what this costs.
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i zero_digit = _mm_set1_epi8('0');
    const __m128i past_nine = _mm_set1_epi8('a' - '0' - 10);
    const __m128i line_end = _mm_set1_epi16(static_cast<short>('\r' | '\n' << 8));
    const auto digits = [&](__m128i nibbles) {
        const __m128i letters = _mm_and_si128(_mm_cmpgt_epi8(nibbles, nine), past_nine);
        return _mm_add_epi8(_mm_add_epi8(nibbles, zero_digit), letters);
    };
    for (; end - from >= 16; from += 16, to += 16 * twin_line_bytes) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i high = digits(_mm_and_si128(_mm_srli_epi16(bytes, 4), nibble));
        const __m128i low = digits(_mm_and_si128(bytes, nibble));
        const __m128i first_pairs = _mm_unpacklo_epi8(high, low);  // bytes 0-7, high digit first
        const __m128i last_pairs = _mm_unpackhi_epi8(high, low);   // bytes 8-15
        auto* out = reinterpret_cast<__m128i*>(to);
        _mm_storeu_si128(out + 0, _mm_unpacklo_epi16(first_pairs, line_end));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(first_pairs, line_end));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(last_pairs, line_end));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(last_pairs, line_end));
    }
#endif
    // Two lines a store: one 8-byte store costs what a 4-byte one does.
    for (; end - from >= 2; from += 2, to += 2 * twin_line_bytes) {
        store_le64(to, twin_lines[from[0]] | std::uint64_t{twin_lines[from[1]]} << 32);
    }
    if (from != end) store_le32(to, twin_lines[*from]);
}

}  // namespace velk
