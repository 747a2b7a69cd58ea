// Converting in pieces: first the driver, on a toy conversion whose output
// is spelt out here byte by byte (offsets, the short last piece, where each
// output starts, any number of threads, and its faults); then each real
// format in pieces against its streaming converter, which the other tests
// check against references of their own.

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/export/export.hpp"
#include "formats/flash_crc/writer.hpp"
#include "formats/pieces/pieces.hpp"
#include "harness.hpp"
#include "io/access.hpp"
#include "io/file.hpp"

namespace velk::test {
namespace {

// Pieces of five bytes. Output 0: each byte, then the number of its piece;
// output 1: each byte inverted, three times.
class toy_pieces final : public piecewise {
public:
    std::size_t piece_bytes() const override { return 5; }
    std::size_t output_count() const override { return 2; }
    std::size_t output_room(std::size_t which) const override { return which == 0 ? 10 : 15; }
    std::uint64_t output_offset(std::size_t which, std::uint64_t index) const override {
        return index * output_room(which);
    }
    lengths convert(std::uint64_t index, std::span<std::uint8_t> input, std::size_t length,
                    const buffers& out) const override {
        for (std::size_t j = 0; j < length; ++j) {
            out[0][2 * j] = input[j];
            out[0][2 * j + 1] = static_cast<std::uint8_t>(index);
            for (std::size_t k = 0; k < 3; ++k) out[1][3 * j + k] = static_cast<std::uint8_t>(~input[j]);
        }
        return {2 * length, 3 * length};
    }
};

File open(const Sandbox& box, const std::string& name, File::Mode mode) {
    return File::open(box.path() + "/" + name, mode);
}

// The whole of a file by offset.
file_source whole(File& file) { return file_source(file, file.size().value_or(0)); }

TEST(ConvertPieces, EveryPieceLandsWhereItBelongsWithAnyNumberOfThreads) {
    const std::size_t sizes[] = {0, 1, 4, 5, 6, 10, 23, 1000};
    for (const std::size_t size : sizes) {
        const Bytes input = noise(size, 3);
        // Output 0 written from its start, output 1 after seven bytes that
        // must stay as they are.
        Bytes first, second = "before!";
        for (std::size_t p = 0; p < size; ++p) {
            first += input[p];
            first += static_cast<char>(p / 5);
            second += std::string(3, static_cast<char>(~input[p]));
        }
        for (const unsigned threads : {1u, 2u, 4u}) {
            Sandbox box(Files{{"in", input}, {"b", "before!"}});
            File in = open(box, "in", File::Mode::read);
            File a = open(box, "a", File::Mode::create);
            File b = open(box, "b", File::Mode::update);
            const std::array<piece_target, 2> targets{piece_target{&a, 0, role::image},
                                                      piece_target{&b, 7, role::twin}};
            const result<piece_ends> r =
                convert_pieces(toy_pieces(), whole(in), role::input, 0, size, targets, threads);
            a.close();
            b.close();
            const std::string label = std::to_string(size) + " bytes, " + std::to_string(threads) + " threads";
            ASSERT_TRUE(r) << label;
            EXPECT_EQ(box.read("a"), first) << label;
            EXPECT_EQ(box.read("b"), second) << label;
            EXPECT_EQ((*r)[0], first.size()) << label;
            EXPECT_EQ((*r)[1], second.size()) << label;
        }
    }
}

TEST(ConvertPieces, TheInputIsReadFromTheOffsetGiven) {
    const Bytes input = "skip this|0123456789";
    memory_source in(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
    memory_sink a, b;
    const std::array<piece_target, 2> targets{piece_target{&a, 0, role::image},
                                              piece_target{&b, 0, role::twin}};
    const result<piece_ends> r = convert_pieces(toy_pieces(), in, role::input, 10, 10, targets, 2);
    ASSERT_TRUE(r);
    EXPECT_EQ(Bytes(a.bytes().begin(), a.bytes().end()),
              Bytes("0\0" "1\0" "2\0" "3\0" "4\0" "5\1" "6\1" "7\1" "8\1" "9\1", 20));
}

TEST(ConvertPieces, AFaultNamesItsFileAndCarriesTheSystemsError) {
    const Bytes input = noise(1000, 4);
    for (const unsigned threads : {1u, 3u}) {
        {
            // A file shorter than its size, as one that shrank while read.
            Sandbox box(Files{{"in", input}});
            File in = open(box, "in", File::Mode::read);
            File a = open(box, "a", File::Mode::create);
            File b = open(box, "b", File::Mode::create);
            const std::array<piece_target, 2> targets{piece_target{&a, 0, role::image},
                                                      piece_target{&b, 0, role::twin}};
            const result<piece_ends> r =
                convert_pieces(toy_pieces(), file_source(in, 1003), role::input, 0, 1003, targets, threads);
            ASSERT_FALSE(r) << threads;
            EXPECT_EQ(r.error().role, role::input) << threads;
            EXPECT_TRUE(r.error().shrank()) << threads;
        }
        {
            // The second output opened for reading only.
            Sandbox box(Files{{"in", input}, {"b", ""}});
            File in = open(box, "in", File::Mode::read);
            File a = open(box, "a", File::Mode::create);
            File b = open(box, "b", File::Mode::read);
            const std::array<piece_target, 2> targets{piece_target{&a, 0, role::image},
                                                      piece_target{&b, 0, role::twin}};
            const result<piece_ends> r =
                convert_pieces(toy_pieces(), whole(in), role::input, 0, input.size(), targets, threads);
            ASSERT_FALSE(r) << threads;
            EXPECT_EQ(r.error().what, fault_kind::write) << threads;
            EXPECT_EQ(r.error().role, role::twin) << threads;
            EXPECT_EQ(r.error().error, EBADF) << threads;
        }
    }
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Sandbox box(Files{{"in", input}});
    File in = open(box, "in", File::Mode::read);
    File full = File::open("/dev/full", File::Mode::update);
    File b = open(box, "b", File::Mode::create);
    const std::array<piece_target, 2> targets{piece_target{&full, 0, role::image},
                                              piece_target{&b, 0, role::twin}};
    const result<piece_ends> r = convert_pieces(toy_pieces(), whole(in), role::input, 0, input.size(), targets, 2);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().role, role::image);
    EXPECT_EQ(r.error().error, ENOSPC);
}

// ---- The formats in pieces give what they give streaming ----

// Sizes on both sides of the flash CRC writer's piece of 256 KiB, and of
// two of the text formats' pieces of about 128 KiB.
constexpr std::size_t format_sizes[] = {0, 1, 33, 262143, 262144, 262145, 600001};

std::span<const std::uint8_t> bytes_of(const Bytes& b) {
    return std::span(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
}
Bytes text_of(const memory_sink& sink) { return Bytes(sink.bytes().begin(), sink.bytes().end()); }

// A source that reads in order only, as a pipe does.
class in_order final : public byte_source {
public:
    explicit in_order(std::span<const std::uint8_t> bytes) : inner_(bytes) {}
    std::size_t read(std::span<std::uint8_t> buf) override { return inner_.read(buf); }
    bool error() const override { return false; }

private:
    memory_source inner_;
};

TEST(FlashCrcInPieces, TheSameImageAndTwinAsStreaming) {
    // Scrambling on (the control word's top byte), and off.
    const scramble_keys keyed{0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x01000000};
    for (const std::size_t size : format_sizes) {
        const Bytes input = noise(size, 9);
        for (const scramble_keys& keys : {scramble_keys{}, keyed}) {
            for (const bool twin : {true, false}) {
                for (const bool pad : {false, true}) {
                    in_order streamed_in(bytes_of(input));
                    memory_sink image(UINT64_MAX, false), text(UINT64_MAX, false);
                    const auto streamed = encode_flash_crc(streamed_in, {keys, pad}, {image, twin ? &text : nullptr});
                    ASSERT_TRUE(streamed);
                    for (const unsigned threads : {1u, 3u}) {
                        memory_source in(bytes_of(input));
                        memory_sink piece_image, piece_text;
                        const auto r = encode_flash_crc(in, {keys, pad}, {piece_image, twin ? &piece_text : nullptr},
                                                        threads);
                        const std::string label = std::to_string(size) + " bytes, keyed " +
                                                  std::to_string(keys == keyed) + ", twin " + std::to_string(twin) +
                                                  ", pad " + std::to_string(pad) + ", threads " + std::to_string(threads);
                        ASSERT_TRUE(r) << label;
                        EXPECT_EQ(r->input_bytes, streamed->input_bytes) << label;
                        EXPECT_EQ(r->image_bytes, streamed->image_bytes) << label;
                        EXPECT_EQ(r->image_bytes, image.bytes().size()) << label;
                        EXPECT_EQ(text_of(piece_image), text_of(image)) << label;
                        EXPECT_EQ(text_of(piece_text), text_of(text)) << label;
                    }
                }
            }
        }
    }
}

TEST(ExportInPieces, TheSameTextAsStreamingForEverySetting) {
    struct Setting {
        const export_format* format;
        int bits;
        std::uint32_t per_line;
        bool comma, prefix;
    };
    const Setting settings[] = {
        {&text_dump_format(), 8, 16, false, false}, {&text_dump_format(), 16, 7, true, true},
        {&text_dump_format(), 32, 0, false, true},  {&text_dump_format(), 8, 1, true, false},
        {&c_array_format(), 8, 16, false, false},   {&c_array_format(), 16, 5, false, false},
        {&c_array_format(), 32, 3, false, false},   {&c_array_format(), 32, 1, false, false},
    };
    for (const std::size_t size : format_sizes) {
        const Bytes input = noise(size, 11);
        for (const Setting& s : settings) {
            export_settings cells;
            cells.cell_bits = s.bits;
            cells.per_line = s.per_line;
            cells.comma = s.comma;
            cells.prefix = s.prefix;
            in_order streamed_in(bytes_of(input));
            memory_sink streamed(UINT64_MAX, false);
            const auto expected = write_export(*s.format, cells, {"out.c", size}, streamed_in, streamed);
            ASSERT_TRUE(expected);
            const std::string label = std::to_string(size) + " bytes, " +
                                      std::string(s.format->name_suffix()) + ", " +
                                      std::to_string(s.bits) + " bits, " + std::to_string(s.per_line) +
                                      " per line";
            // From two pieces (of at most 128 KiB) on, the cells can go in
            // pieces with these settings.
            if (size >= 262144) {
                EXPECT_TRUE(s.format->pieces(cells, {"out.c", size})) << label;
            }
            for (const unsigned threads : {1u, 2u}) {
                memory_source in(bytes_of(input));
                memory_sink out;
                const auto r = write_export(*s.format, cells, {"out.c", size}, in, out, threads);
                ASSERT_TRUE(r) << label;
                EXPECT_EQ(text_of(out), text_of(streamed)) << label << ", threads " << threads;
                EXPECT_EQ(*r, out.bytes().size()) << label;
            }
        }
    }
}

TEST(ExportInPieces, ALineLongerThanAPieceCannotBeCut) {
    export_settings cells;
    cells.per_line = 1u << 20;
    EXPECT_FALSE(text_dump_format().pieces(cells, {"out", 600001}));
    cells.cell_bits = 32;
    EXPECT_FALSE(c_array_format().pieces(cells, {"out.c", 600001}));
}

TEST(ExportInPieces, AFileShorterThanItsSizeIsAReadFault) {
    Sandbox box(Files{{"in", noise(600001, 13)}});
    File in = open(box, "in", File::Mode::read);
    file_source measured(in, 600010);
    memory_sink out;
    const auto r = write_export(text_dump_format(), export_settings{}, {"out", 600010}, measured, out, 2);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().role, role::input);
    EXPECT_TRUE(r.error().shrank());
}

}  // namespace
}  // namespace velk::test
