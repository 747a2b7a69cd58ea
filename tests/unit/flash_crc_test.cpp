// The flash CRC image: its pieces, the streaming encoder taken back apart,
// and the -crc writer's results.

#include <gtest/gtest.h>

#include <cstdio>

#include <cstdint>
#include <filesystem>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "compat/crc_command.hpp"
#include "formats/flash_crc/writer.hpp"
#include "io/file.hpp"
#include "formats/scramble/scramble.hpp"
#include "harness.hpp"
#include "support.hpp"

namespace velk {
namespace {

using namespace compat;
using test::Bytes;
using test::Sandbox;
namespace fs = std::filesystem;

std::vector<std::uint8_t> vec(const Bytes& b) { return {b.begin(), b.end()}; }
Bytes str(std::span<const std::uint8_t> v) { return {v.begin(), v.end()}; }
scramble_keys words(const test::Keys& k) { return {k.key1, k.key2, k.key3, k.control}; }

TEST(CrcOutputNames, OwnRuleForBinAndOtherNames) {
    struct Case {
        std::string input, image, twin;
    };
    const std::string long_stem(300, 'n');
    const Case cases[] = {
        {"app.bin", "app_crc.bin", "app.out"},
        {"app", "app_crc.bin", "app.out"},
        {"app.BIN", "app.BIN_crc.bin", "app.BIN.out"},
        {"fw.hex", "fw.hex_crc.bin", "fw.hex.out"},
        {".bin", "_crc.bin", ".out"},
        {"bin", "bin_crc.bin", "bin.out"},  // too short to end in ".bin"
        {"a.out", "a.out_crc.bin", "a.out.out"},
        {"xbim_crc.bin", "xbim_crc_crc.bin", "xbim_crc.out"},
        {"dir.v2/a.bin", "dir.v2/a_crc.bin", "dir.v2/a.out"},
        {long_stem + ".bin", long_stem + "_crc.bin", long_stem + ".out"},
    };
    for (const Case& c : cases) {
        const crc_image_names names = crc_output_names(c.input);
        EXPECT_EQ(names.image, c.image) << c.input;
        EXPECT_EQ(names.twin, c.twin) << c.input;
    }
}

TEST(CrcImageSize, ThirtyFourBytesPerStartedBlockAlsoPastFourGiB) {
    const std::pair<std::uint64_t, std::uint64_t> cases[] = {
        {0, 0},   {1, 34},  {31, 34}, {32, 34}, {33, 68}, {100, 136},
        {0x80000001, (0x4000000ull + 1) * 34},  // 2 GiB + 1
        {0x100000000, 0x8000000ull * 34},       // 4 GiB: does not wrap to 0
    };
    for (const auto& [input, image] : cases) EXPECT_EQ(crc_image_size(input), image) << input;
}

TEST(CrcBlocks, CrcOfEachBlockHighByteFirstAndFreshPerBlock) {
    // Stale CRC bytes must not leak into the result.
    std::vector<std::uint8_t> image =
        vec(Bytes(32, '\xFF') + "zz" + Bytes(32, '\0') + "zz" + test::noise(32, 9) + "zz");
    crc16_blocks(image);
    const std::uint16_t third = test::ref_crc16_cms(test::noise(32, 9));
    const Bytes third_crc = {static_cast<char>(third >> 8), static_cast<char>(third & 0xFF)};
    EXPECT_EQ(str(image), Bytes(32, '\xFF') + test::hex("00 0C") + Bytes(32, '\0') +
                              test::hex("80 29") + test::noise(32, 9) + third_crc);
}

TEST(ScrambleBlocks, UnscrambledCopiesTheDataAndLeavesTheCrcBytes) {
    const word_scrambler scrambler({0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0xFF00000F});
    const Bytes input = test::noise(64, 4);
    std::vector<std::uint8_t> image(68, 0xEE);
    scramble_blocks(vec(input), image, 0x40, scrambler);
    EXPECT_EQ(str(image), input.substr(0, 32) + "\xEE\xEE" + input.substr(32) + "\xEE\xEE");
}

TEST(ScrambleBlocks, EachWordScrambledWithItsOffsetFromTheFirstAddress) {
    const test::Keys keys{0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0x7E001A20};
    const word_scrambler scrambler(words(keys));
    const Bytes input = test::noise(96, 5);
    const std::uint32_t first = 0xFFFFFFE0;  // the third block's addresses wrap to 0
    std::vector<std::uint8_t> image(102);
    scramble_blocks(vec(input), image, first, scrambler);
    const Bytes stored = str(image);
    for (std::size_t at = 0; at < input.size(); at += 4) {
        const auto address = static_cast<std::uint32_t>(first + at);
        EXPECT_EQ(test::le32_at(stored, at / 32 * 34 + at % 32),
                  test::le32_at(input, at) ^ test::ref_mask(keys, address))
            << at;
    }
    // Converting in two pieces gives the same blocks as in one.
    std::vector<std::uint8_t> pieces(102);
    const std::vector<std::uint8_t> in = vec(input);
    scramble_blocks(std::span(in).first(32), std::span(pieces).first(34), first, scrambler);
    scramble_blocks(std::span(in).subspan(32), std::span(pieces).subspan(34), first + 32,
                    scrambler);
    EXPECT_EQ(pieces, image);
}

TEST(SpellTwin, TwoLowerCaseDigitsAndCrLfPerByte) {
    const std::vector<std::uint8_t> image = {0x00, 0x0A, 0xFF, 0x61, 0xC3};
    std::vector<std::uint8_t> text(20);
    spell_twin(image, text);
    EXPECT_EQ(str(text), "00\r\n0a\r\nff\r\n61\r\nc3\r\n");
}

// Sixteen bytes at a time, then two, then one: every length around those
// steps, and every byte value, against the C library's own "%02x".
TEST(SpellTwin, EveryByteValueAtEveryLengthAroundTheWideSteps) {
    std::vector<std::uint8_t> all(256 + 3);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 167 + 13);
    const std::size_t lengths[] = {0, 1, 2, 3, 15, 16, 17, 18, 31, 32, 33, 47, 48, 259};
    for (const std::size_t length : lengths) {
        const std::span<const std::uint8_t> image(all.data(), length);
        std::string expected;
        for (const std::uint8_t b : image) {
            char line[8];
            std::snprintf(line, sizeof line, "%02x\r\n", b);
            expected += line;
        }
        std::vector<std::uint8_t> text(4 * length + 1, '#');  // one guard byte
        spell_twin(image, std::span(text).first(4 * length));
        EXPECT_EQ(str(text), expected + "#") << length << " bytes";
    }
}

// ---- The encoder, streaming from and to files ----

struct Encoded {
    role failed = role::none;  // the file a fault named
    std::uint64_t input_bytes = 0;
    Bytes image, twin;
};

// Encodes file `input` of `box` into "image" and "twin" there, and reads
// them back unless they are devices.
Encoded encode(const Sandbox& box, const std::string& input, std::optional<std::uint64_t> size,
               const scramble_keys& keys, bool with_twin = true, bool read_back = true) {
    File in = File::open(box.path() + "/" + input, File::Mode::read);
    File image = File::open(box.path() + "/image", File::Mode::create);
    File twin = File::open(box.path() + "/twin", File::Mode::create);
    Encoded e;
    // A known size is an input read by offset; else it streams to its end.
    std::optional<file_source> measured;
    byte_source& source = size ? static_cast<byte_source&>(measured.emplace(in, *size)) : in;
    const result<flash_crc_written> r =
        encode_flash_crc(source, {keys, false}, {image, with_twin ? &twin : nullptr});
    if (r) e.input_bytes = r->input_bytes;
    else e.failed = r.error().role;
    image.close();
    twin.close();
    if (!read_back) return e;
    e.image = box.read("image");
    e.twin = box.read("twin");
    return e;
}

// Takes an image apart: every block's CRC must be right, and the words
// descrambled with their masks are the input padded with 0xFF.
Bytes decode(const Bytes& image, const scramble_keys& keys) {
    Bytes data;
    for (std::size_t at = 0; at + 34 <= image.size(); at += 34) {
        const Bytes block = image.substr(at, 32);
        const std::uint16_t crc = test::ref_crc16_cms(block);
        EXPECT_EQ(image.substr(at + 32, 2),
                  Bytes({static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)}))
            << "block at " << at;
        for (std::size_t w = 0; w < 32; w += 4) {
            const auto address = static_cast<std::uint32_t>(at / 34 * 32 + w);
            data += test::le(test::le32_at(block, w) ^ scramble_mask(keys, address), 4);
        }
    }
    EXPECT_EQ(image.size() % 34, 0u);
    return data;
}

TEST(EncodeFlashCrc, DecodingTheImageGivesTheInputBack) {
    std::mt19937 rng(99);
    const auto next = [&] { return static_cast<std::uint32_t>(rng()); };
    Sandbox box;
    // Sizes around a block and around the encoder's pass of 256 KiB, then
    // random ones; keys switched on, with now and then the master switch off.
    std::vector<std::size_t> sizes = {0, 1, 4, 31, 32, 33, 262144 - 1, 262144, 262144 + 37};
    for (int i = 0; i < 30; ++i) sizes.push_back(next() % 5000);
    for (std::size_t round = 0; round < sizes.size(); ++round) {
        const std::size_t size = sizes[round];
        const std::uint32_t top = round % 7 == 3 ? 0xFF : 1 + next() % 0xFE;
        const test::Keys k{next(), next(), next(), top << 24 | (next() & 0xFFFFFFu)};
        const Bytes input = test::noise(size, next());
        box.write("in.bin", input);
        // With and without the size known beforehand.
        const std::optional<std::uint64_t> known =
            round % 2 == 0 ? std::optional<std::uint64_t>(size) : std::nullopt;
        const Encoded e = encode(box, "in.bin", known, words(k));
        SCOPED_TRACE(testing::Message() << size << " bytes, control " << std::hex << k.control);
        EXPECT_EQ(e.failed, role::none);
        EXPECT_EQ(e.input_bytes, size);
        EXPECT_EQ(e.image.size(), crc_image_size(size));
        Bytes padded = input;
        padded.append((32 - size % 32) % 32, '\xFF');
        EXPECT_TRUE(decode(e.image, words(k)) == padded);
        EXPECT_TRUE(e.image == test::ref_flash_crc_image(input, k));
        EXPECT_TRUE(e.twin == test::ref_twin(e.image));
    }
}

TEST(EncodeFlashCrc, WithoutATwinOnlyTheImageIsWritten) {
    Sandbox box(test::Files{{"in.bin", test::noise(100, 3)}});
    const Encoded e = encode(box, "in.bin", 100, default_scramble_keys, false);
    EXPECT_EQ(e.failed, role::none);
    EXPECT_EQ(e.image, test::ref_flash_crc_image(test::noise(100, 3)));
    EXPECT_EQ(e.twin, "");
}

TEST(EncodeFlashCrc, FaultsNameWhatFailed) {
    Sandbox box(test::Files{{"in.bin", test::noise(100, 3)}});
    // A known size the input does not hold is a read fault.
    EXPECT_EQ(encode(box, "in.bin", 101, default_scramble_keys).failed, role::input);
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    for (const auto& [name, which] : {std::pair{"image", role::image}, std::pair{"twin", role::twin}}) {
        Sandbox full(test::Files{{"in.bin", test::noise(100, 3)}});
        full.symlink("/dev/full", name);
        EXPECT_EQ(encode(full, "in.bin", 100, default_scramble_keys, true, false).failed, which)
            << name;
    }
}

// ---- The -crc writer ----

class WriteCrcImage : public ::testing::Test {
protected:
    int run(const std::string& input, const scramble_keys& keys = default_scramble_keys) {
        testing::internal::CaptureStdout();
        const int result = write_crc_image(input.empty() ? nullptr : input.c_str(), keys);
        out = testing::internal::GetCapturedStdout();
        return result;
    }
    std::string at(const std::string& name) const { return box.path() + "/" + name; }

    Sandbox box{test::Files{{"a.bin", "abc"}}};
    std::string out;
};

TEST_F(WriteCrcImage, ZeroOnSuccess) {
    EXPECT_EQ(run(at("a.bin")), 0);
    EXPECT_EQ(out, test::encrypt_success(0x22));
    EXPECT_EQ(box.read("a_crc.bin"), "abc" + Bytes(29, '\xFF') + test::hex("80 DF"));
}

TEST_F(WriteCrcImage, MinusOneOnEveryFailure) {
    const std::string missing = at("none.bin"), dir_input = at("d"), input = at("a.bin");
    box.write("d/inside", "x");  // gives the directory a nonzero size
    box.mkdir("b_crc.bin");
    box.write("b.bin", "b");
    EXPECT_EQ(run(missing), -1);
    EXPECT_EQ(out, "Can't open file " + missing + ".\n");
    EXPECT_EQ(run(""), -1);
    EXPECT_EQ(out, "Can't open file (null).\n");
    EXPECT_EQ(run(dir_input), -1);
    EXPECT_EQ(out, dir_input + " is a directory\n");
    EXPECT_FALSE(fs::exists(at("d_crc.bin")));
    // A device measures no length: refused before its outputs are created.
    fs::create_symlink("/dev/zero", at("z.bin"));
    EXPECT_EQ(run(at("z.bin")), -1);
    EXPECT_EQ(out, at("z.bin") + " is not a regular file; its size cannot be known\n");
    EXPECT_FALSE(fs::exists(at("z_crc.bin")));
    EXPECT_EQ(run(at("b.bin")), -1);
    EXPECT_EQ(out, "Can't open file " + at("b_crc.bin") + ".\n");

    if (fs::exists("/dev/full")) {  // accepts the open, fails every write
        fs::create_symlink("/dev/full", at("a.out"));
        EXPECT_EQ(run(input), -1);
        EXPECT_EQ(out, "Can't write file " + at("a.out") + ".\n");
    }
}

TEST(EncryptWithKeys, ScramblesWithTheKeysAndNamesTheImage) {
    // More than one pass of the writer (256 KiB), so that the addresses must
    // run on from pass to pass.
    const Bytes data = test::noise(262144 + 40, 2);
    const test::Keys keys{1, 2, 0xFFFFFFFD, 0x01000000};
    Sandbox box(test::Files{{"xbim_crc.bin", data}});
    testing::internal::CaptureStdout();
    const std::optional<std::string> name = encrypt_with_keys(box.path() + "/xbim_crc.bin", words(keys));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), test::encrypt_success(0x44044));
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, box.path() + "/xbim_crc_crc.bin");
    const Bytes image = box.read("xbim_crc_crc.bin");
    EXPECT_TRUE(image == test::ref_flash_crc_image(data, keys));
    EXPECT_TRUE(box.read("xbim_crc.out") == test::ref_twin(image));
}

TEST(EncryptWithKeys, NoNameWhenTheWriterFailsOrTheNameIsNotBin) {
    Sandbox box(test::Files{{"a.hex", "abc"}});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(encrypt_with_keys(box.path() + "/missing.bin", default_scramble_keys));
    EXPECT_FALSE(encrypt_with_keys(box.path() + "/a.hex", default_scramble_keys));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can't open file " + box.path() + "/missing.bin.\n");
    EXPECT_EQ(box.files(), (test::Files{{"a.hex", "abc"}}));
}

}  // namespace
}  // namespace velk
