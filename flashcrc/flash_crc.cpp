#include "flashcrc/flash_crc.hpp"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstring>
#include <vector>

#include "flashcrc/crc16.hpp"
#include "flashcrc/scramble.hpp"
#include "io/console.hpp"
#include "io/file.hpp"
#include "oad/options.hpp"

namespace velk {
namespace {

// Blocks converted per pass: 256 KiB of input, 272 KiB of image and
// 1088 KiB of twin, so memory stays the same whatever the input's size.
constexpr std::size_t chunk_blocks = 8192;
constexpr std::size_t word_bytes = 4;

std::uint32_t load_le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void store_le(std::uint8_t* p, std::uint32_t v) {
    // Built whole and copied in one piece, which compilers turn into one store.
    const std::array<std::uint8_t, word_bytes> bytes = {
        static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
        static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    std::memcpy(p, bytes.data(), bytes.size());
}

// The twin's four bytes for every byte value: two lower-case digits, CR, LF.
constexpr std::array<std::uint8_t, 256 * twin_line_bytes> make_twin_lines() {
    constexpr char digits[] = "0123456789abcdef";
    std::array<std::uint8_t, 256 * twin_line_bytes> lines{};
    for (std::size_t b = 0; b < 256; ++b) {
        lines[twin_line_bytes * b + 0] = static_cast<std::uint8_t>(digits[b >> 4]);
        lines[twin_line_bytes * b + 1] = static_cast<std::uint8_t>(digits[b & 0xF]);
        lines[twin_line_bytes * b + 2] = '\r';
        lines[twin_line_bytes * b + 3] = '\n';
    }
    return lines;
}
constexpr auto twin_lines = make_twin_lines();

std::uint64_t padded_size(std::uint64_t size) {
    return (size + block_data_bytes - 1) / block_data_bytes * block_data_bytes;
}

// Writing an output over the input would destroy the input before it has
// been read; the names differ, but a link can still make them one file.
bool outputs_apart(const char* input, const crc_image_names& names) {
    for (const std::string* output : {&names.image, &names.twin}) {
        if (same_file(input, *output)) {
            say("Can't open file %s.\n", output->c_str());
            say("It is the input file %s itself.\n", input);
            return false;
        }
    }
    return true;
}

void set_scramble_keys(const char* const* keys) {
    scramble_key1 = parse_hex_key(keys[0]);
    scramble_key2 = parse_hex_key(keys[1]);
    scramble_key3 = parse_hex_key(keys[2]);
    scramble_control = parse_hex_key(keys[3]);
}

enum class fault { none, read, image, twin };

// Builds the blocks of one pass, whole blocks of padded input starting at
// byte `offset` of the image's input, straight into the image writer's
// buffer, and spells them from there into the twin writer's buffer. The
// scrambler takes 32-bit addresses, so past 4 GiB they wrap.
fault write_pass(std::span<const std::uint8_t> input, std::uint64_t offset,
                 const word_scrambler& scrambler, BlockWriter& image_out, BlockWriter& twin_out) {
    const std::size_t image_len = input.size() / block_data_bytes * block_bytes;
    const std::span<std::uint8_t> blocks(image_out.reserve(image_len), image_len);
    if (!image_out.ok()) return fault::image;
    scramble_blocks(input, blocks, static_cast<std::uint32_t>(offset), scrambler);
    crc16_blocks(blocks);

    const std::size_t text_len = image_len * twin_line_bytes;
    spell_twin(blocks, std::span(twin_out.reserve(text_len), text_len));
    if (!twin_out.ok()) return fault::twin;
    twin_out.commit(text_len);
    image_out.commit(image_len);
    return fault::none;
}

// Converts the first `size` bytes of input pass by pass, then closes the
// image and the twin, in that order. Stops at the first failure.
fault convert(File& input, std::uint64_t size, File& image, File& twin) {
    const word_scrambler scrambler;
    std::vector<std::uint8_t> in(chunk_blocks * block_data_bytes);
    BlockWriter image_out(image, chunk_blocks * block_bytes);
    BlockWriter twin_out(twin, chunk_blocks * block_bytes * twin_line_bytes);

    for (std::uint64_t done = 0; done < size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, in.size()));
        if (input.read(std::span(in.data(), want)) != want) return fault::read;
        const auto padded = static_cast<std::size_t>(padded_size(want));
        std::fill(in.begin() + static_cast<std::ptrdiff_t>(want),
                  in.begin() + static_cast<std::ptrdiff_t>(padded), std::uint8_t{0xFF});
        const fault f =
            write_pass(std::span(in.data(), padded), done, scrambler, image_out, twin_out);
        if (f != fault::none) return f;
        done += want;
    }
    // What the stream still buffers shows a failed write only at close.
    if (!image_out.flush() || !image.close()) return fault::image;
    if (!twin_out.flush() || !twin.close()) return fault::twin;
    return fault::none;
}

// Reports the first failure of a conversion; true when there was none.
bool converted(fault f, const char* input, const crc_image_names& names) {
    switch (f) {
        case fault::none:
            return true;
        case fault::read:
            say("Can't read file %s.\n", input);
            break;
        case fault::image:
            say("Can't write file %s.\n", names.image.c_str());
            break;
        case fault::twin:
            say("Can't write file %s.\n", names.twin.c_str());
            break;
    }
    return false;
}

bool ends_in_bin(std::string_view name) { return name.ends_with(".bin"); }

}  // namespace

crc_image_names crc_output_names(std::string_view input) {
    if (ends_in_bin(input)) {
        const std::string_view stem = input.substr(0, input.size() - 4);
        return {std::string(stem) + "_crc.bin", std::string(stem) + ".out"};
    }
    return {std::string(input) + "_crc.bin", std::string(input) + ".out"};
}

std::uint64_t crc_image_size(std::uint64_t input_size) {
    return padded_size(input_size) / block_data_bytes * block_bytes;
}

void scramble_blocks(std::span<const std::uint8_t> input, std::span<std::uint8_t> image,
                     std::uint32_t first_address, const word_scrambler& scrambler) {
    const std::size_t blocks = input.size() / block_data_bytes;
    // With the master switch off every mask is 0: the data go through as is.
    const bool copy = scrambler.off();
    for (std::size_t i = 0; i < blocks; ++i) {
        const std::uint8_t* from = input.data() + i * block_data_bytes;
        std::uint8_t* to = image.data() + i * block_bytes;
        if (copy) {
            std::memcpy(to, from, block_data_bytes);
            continue;
        }
        // The words' addresses are the block's with bits 2-4 set, so each
        // mask is the block's and what those bits add.
        const std::uint32_t block_mask =
            scrambler.mask(static_cast<std::uint32_t>(first_address + i * block_data_bytes));
        for (std::uint32_t j = 0; j < block_data_bytes; j += word_bytes) {
            store_le(to + j, load_le(from + j) ^ block_mask ^ scrambler.offset_part(j));
        }
    }
}

void crc16_blocks(std::span<std::uint8_t> image) {
    for (std::size_t at = 0; at + block_bytes <= image.size(); at += block_bytes) {
        const std::uint16_t crc = crc16_cms::compute(image.subspan(at, block_data_bytes));
        image[at + block_data_bytes] = static_cast<std::uint8_t>(crc >> 8);
        image[at + block_data_bytes + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    }
}

void spell_twin(std::span<const std::uint8_t> image, std::span<std::uint8_t> text) {
    std::uint8_t* to = text.data();
    for (const std::uint8_t b : image) {
        std::copy_n(twin_lines.data() + twin_line_bytes * b, twin_line_bytes, to);
        to += twin_line_bytes;
    }
}

int encrypt_main(int argc, const char* const* argv) {
    if (argc != 6) {
        say("Usage: encrypt 5820s.bin 5820.out\n");
        return -1;
    }
    const char* input_name = argv[1];
    File input = input_name != nullptr ? File::open(input_name, File::Mode::read) : File();
    if (!input) {
        say("Can't open file %s.\n", shown(input_name));
        return -1;
    }
    const crc_image_names names = crc_output_names(input_name);
    if (!outputs_apart(input_name, names)) return -1;
    File image = File::open(names.image, File::Mode::create);
    if (!image) {
        say("Can't open file %s.\n", names.image.c_str());
        return -1;
    }
    File twin = File::open(names.twin, File::Mode::create);
    if (!twin) {
        say("Can't open file %s.\n", names.twin.c_str());
        return -1;
    }
    set_scramble_keys(argv + 2);

    const std::optional<std::uint64_t> size = file_size(input);
    if (!size) {
        say("Can't read file %s.\n", input_name);
        return -1;
    }
    if (!converted(convert(input, *size, image, twin), input_name, names)) return -1;

    say("        Encrypt Seccessfully!\r\n");
    say("        File Size: 0x%04" PRIx64 "\r\n\r\n", crc_image_size(*size));
    return 0;
}

int crc_command(int argc, const char* const* argv) {
    const char* input = argc >= 3 ? argv[2] : nullptr;
    const char* const args[] = {"encrypt",   input,       default_key,
                                default_key, default_key, default_key};
    return encrypt_main(6, args);
}

std::optional<std::string> encrypt_with_keys(const std::string& name) {
    if (!ends_in_bin(name)) return std::nullopt;
    const char* const args[] = {"encrypt",       name.c_str(),    encrypt_keys[0],
                                encrypt_keys[1], encrypt_keys[2], encrypt_keys[3]};
    if (encrypt_main(6, args) != 0) return std::nullopt;
    return crc_output_names(name).image;
}

}  // namespace velk
