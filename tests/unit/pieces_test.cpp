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
            const std::array<piece_target, 2> targets{piece_target{&a, 0}, piece_target{&b, 7}};
            const pieces_result r = convert_pieces(toy_pieces(), in, 0, size, targets, threads);
            a.close();
            b.close();
            const std::string label = std::to_string(size) + " bytes, " + std::to_string(threads) + " threads";
            EXPECT_EQ(r.what, pieces_result::fault::none) << label;
            EXPECT_EQ(box.read("a"), first) << label;
            EXPECT_EQ(box.read("b"), second) << label;
            EXPECT_EQ(r.end[0], first.size()) << label;
            EXPECT_EQ(r.end[1], second.size()) << label;
        }
    }
}

TEST(ConvertPieces, TheInputIsReadFromTheOffsetGiven) {
    Sandbox box(Files{{"in", "skip this|0123456789"}});
    File in = open(box, "in", File::Mode::read);
    File a = open(box, "a", File::Mode::create);
    File b = open(box, "b", File::Mode::create);
    const std::array<piece_target, 2> targets{piece_target{&a, 0}, piece_target{&b, 0}};
    const pieces_result r = convert_pieces(toy_pieces(), in, 10, 10, targets, 2);
    a.close();
    EXPECT_EQ(r.what, pieces_result::fault::none);
    EXPECT_EQ(box.read("a"), Bytes("0\0" "1\0" "2\0" "3\0" "4\0" "5\1" "6\1" "7\1" "8\1" "9\1", 20));
}

TEST(ConvertPieces, AFaultIsReportedWithTheSystemsErrorInTheFileItCameFrom) {
    const Bytes input = noise(1000, 4);
    for (const unsigned threads : {1u, 3u}) {
        {
            // A file shorter than its size, as one that shrank while read.
            Sandbox box(Files{{"in", input}});
            File in = open(box, "in", File::Mode::read);
            File a = open(box, "a", File::Mode::create);
            File b = open(box, "b", File::Mode::create);
            const std::array<piece_target, 2> targets{piece_target{&a, 0}, piece_target{&b, 0}};
            const pieces_result r = convert_pieces(toy_pieces(), in, 0, 1003, targets, threads);
            EXPECT_EQ(r.what, pieces_result::fault::read) << threads;
            EXPECT_EQ(in.last_error(), 0) << threads;
        }
        {
            // The second output opened for reading only.
            Sandbox box(Files{{"in", input}, {"b", ""}});
            File in = open(box, "in", File::Mode::read);
            File a = open(box, "a", File::Mode::create);
            File b = open(box, "b", File::Mode::read);
            const std::array<piece_target, 2> targets{piece_target{&a, 0}, piece_target{&b, 0}};
            const pieces_result r = convert_pieces(toy_pieces(), in, 0, input.size(), targets, threads);
            EXPECT_EQ(r.what, pieces_result::fault::write) << threads;
            EXPECT_EQ(r.output, 1u) << threads;
            EXPECT_EQ(b.last_error(), EBADF) << threads;
            EXPECT_EQ(a.last_error(), 0) << threads;
        }
    }
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    Sandbox box(Files{{"in", input}});
    File in = open(box, "in", File::Mode::read);
    File full = File::open("/dev/full", File::Mode::update);
    File b = open(box, "b", File::Mode::create);
    const std::array<piece_target, 2> targets{piece_target{&full, 0}, piece_target{&b, 0}};
    const pieces_result r = convert_pieces(toy_pieces(), in, 0, input.size(), targets, 2);
    EXPECT_EQ(r.what, pieces_result::fault::write);
    EXPECT_EQ(r.output, 0u);
    EXPECT_EQ(full.last_error(), ENOSPC);
}

// ---- The formats in pieces give what they give streaming ----

// Sizes on both sides of the flash CRC writer's piece of 256 KiB, and of
// two of the text formats' pieces of about 128 KiB.
constexpr std::size_t format_sizes[] = {0, 1, 33, 262143, 262144, 262145, 600001};

TEST(FlashCrcInPieces, TheSameImageAndTwinAsStreaming) {
    // Scrambling on (the control word's top byte), and off.
    const scramble_keys keyed{0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x01000000};
    for (const std::size_t size : format_sizes) {
        Sandbox box(Files{{"in", noise(size, 9)}});
        for (const scramble_keys& keys : {scramble_keys{}, keyed}) {
            for (const bool twin : {true, false}) {
                File in = open(box, "in", File::Mode::read);
                File image = open(box, "stream.bin", File::Mode::create);
                File text = open(box, "stream.out", File::Mode::create);
                const flash_crc_result streamed = encode_flash_crc(in, size, keys, image, twin ? &text : nullptr);
                image.close();
                text.close();
                for (const unsigned threads : {1u, 3u}) {
                    File piece_image = open(box, "pieces.bin", File::Mode::create);
                    File piece_text = open(box, "pieces.out", File::Mode::create);
                    const flash_crc_result r = encode_flash_crc_in_pieces(
                        in, size, keys, piece_image, twin ? &piece_text : nullptr, threads);
                    piece_image.close();
                    piece_text.close();
                    const std::string label = std::to_string(size) + " bytes, keyed " +
                                              std::to_string(keys == keyed) + ", twin " +
                                              std::to_string(twin) + ", threads " + std::to_string(threads);
                    EXPECT_EQ(r.fault, flash_crc_fault::none) << label;
                    EXPECT_EQ(r.input_bytes, streamed.input_bytes) << label;
                    EXPECT_EQ(box.read("pieces.bin"), box.read("stream.bin")) << label;
                    EXPECT_EQ(box.read("pieces.out"), box.read("stream.out")) << label;
                }
            }
        }
    }
}

struct Exported {
    std::optional<export_result> result;
    Bytes text;
};

Exported export_in_pieces(const Sandbox& box, const export_format& format,
                          const export_settings& settings, std::uint64_t size, unsigned threads) {
    File in = open(box, "in", File::Mode::read);
    File out = open(box, "pieces", File::Mode::create);
    Exported e;
    e.result = write_export_in_pieces(format, settings, {"out.c", size}, in, out, threads);
    out.close();
    e.text = box.read("pieces");
    return e;
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
        Sandbox box(Files{{"in", noise(size, 11)}});
        for (const Setting& s : settings) {
            export_settings cells;
            cells.cell_bits = s.bits;
            cells.per_line = s.per_line;
            cells.comma = s.comma;
            cells.prefix = s.prefix;
            File in = open(box, "in", File::Mode::read);
            File out = open(box, "stream", File::Mode::create);
            const export_result streamed = write_export(*s.format, cells, {"out.c", size}, in, out);
            out.close();
            ASSERT_FALSE(streamed.read_failed || streamed.write_failed);
            const std::string label = std::to_string(size) + " bytes, " +
                                      std::string(s.format->name_suffix()) + ", " +
                                      std::to_string(s.bits) + " bits, " + std::to_string(s.per_line) +
                                      " per line";
            for (const unsigned threads : {1u, 2u}) {
                const Exported e = export_in_pieces(box, *s.format, cells, size, threads);
                // Under two pieces (of at most 128 KiB) it is left to the
                // streaming export; from 256 KiB on it never is.
                if (!e.result) {
                    EXPECT_LT(size, 262144u) << label;
                    continue;
                }
                EXPECT_GT(size, 131072u) << label;
                EXPECT_FALSE(e.result->read_failed || e.result->write_failed) << label;
                EXPECT_EQ(e.text, box.read("stream")) << label << ", threads " << threads;
                EXPECT_EQ(e.result->length, e.text.size()) << label;
            }
        }
    }
}

TEST(ExportInPieces, ALineLongerThanAPieceIsLeftToStreaming) {
    Sandbox box(Files{{"in", noise(600001, 12)}});
    export_settings cells;
    cells.per_line = 1u << 20;
    EXPECT_FALSE(export_in_pieces(box, text_dump_format(), cells, 600001, 2).result);
    cells.cell_bits = 32;
    EXPECT_FALSE(export_in_pieces(box, c_array_format(), cells, 600001, 2).result);
}

TEST(ExportInPieces, AFileShorterThanItsSizeIsAReadFailure) {
    Sandbox box(Files{{"in", noise(600001, 13)}});
    const Exported e = export_in_pieces(box, text_dump_format(), export_settings{}, 600010, 2);
    ASSERT_TRUE(e.result);
    EXPECT_TRUE(e.result->read_failed);
}

}  // namespace
}  // namespace velk::test
