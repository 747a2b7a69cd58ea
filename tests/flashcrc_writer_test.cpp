#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "flashcrc/crc16.hpp"
#include "flashcrc/flash_crc.hpp"
#include "flashcrc/scramble.hpp"
#include "harness.hpp"
#include "oad/options.hpp"

namespace velk {
namespace {

using test::Bytes;
using test::Sandbox;
namespace fs = std::filesystem;

std::vector<std::uint8_t> vec(const Bytes& b) { return {b.begin(), b.end()}; }
Bytes str(std::span<const std::uint8_t> v) { return {v.begin(), v.end()}; }

std::uint32_t word_at(const std::vector<std::uint8_t>& v, std::size_t at) {
    std::uint32_t word = 0;
    for (std::size_t k = 4; k-- > 0;) word = word << 8 | v[at + k];
    return word;
}

void set_keys(std::uint32_t k1, std::uint32_t k2, std::uint32_t k3, std::uint32_t control) {
    scramble_key1 = k1;
    scramble_key2 = k2;
    scramble_key3 = k3;
    scramble_control = control;
}

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
    const std::uint16_t third = crc16_cms::compute(std::span(image).subspan(68, 32));
    const Bytes third_crc = {static_cast<char>(third >> 8), static_cast<char>(third & 0xFF)};
    EXPECT_EQ(str(image), Bytes(32, '\xFF') + test::hex("00 0C") + Bytes(32, '\0') +
                              test::hex("80 29") + test::noise(32, 9) + third_crc);
}

TEST(ScrambleBlocks, UnscrambledCopiesTheDataAndLeavesTheCrcBytes) {
    set_keys(0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0xFF00000F);
    const Bytes input = test::noise(64, 4);
    std::vector<std::uint8_t> image(68, 0xEE);
    scramble_blocks(vec(input), image, 0x40);
    EXPECT_EQ(str(image), input.substr(0, 32) + "\xEE\xEE" + input.substr(32) + "\xEE\xEE");
    set_keys(0, 0, 0, 0);
}

TEST(ScrambleBlocks, EachWordScrambledWithItsOffsetFromTheFirstAddress) {
    set_keys(0x12345678, 0x9ABCDEF0, 0x0F0F0F0F, 0x7E001A20);
    const std::vector<std::uint8_t> input = vec(test::noise(96, 5));
    const std::uint32_t first = 0xFFFFFFE0;  // the third block's addresses wrap to 0
    std::vector<std::uint8_t> image(102);
    scramble_blocks(input, image, first);
    for (std::size_t at = 0; at < input.size(); at += 4) {
        const std::size_t stored = at / 32 * 34 + at % 32;
        EXPECT_EQ(word_at(image, stored),
                  scramble_word(static_cast<std::uint32_t>(first + at), word_at(input, at)))
            << at;
    }
    // Converting in two pieces gives the same blocks as in one.
    std::vector<std::uint8_t> pieces(102);
    scramble_blocks(std::span(input).first(32), std::span(pieces).first(34), first);
    scramble_blocks(std::span(input).subspan(32), std::span(pieces).subspan(34), first + 32);
    EXPECT_EQ(pieces, image);
    set_keys(0, 0, 0, 0);
}

TEST(SpellTwin, TwoLowerCaseDigitsAndCrLfPerByte) {
    const std::vector<std::uint8_t> image = {0x00, 0x0A, 0xFF, 0x61, 0xC3};
    std::vector<std::uint8_t> text(20);
    spell_twin(image, text);
    EXPECT_EQ(str(text), "00\r\n0a\r\nff\r\n61\r\nc3\r\n");
}

// The results of the writer; its messages and files are checked end to end.
class EncryptMain : public ::testing::Test {
protected:
    int run(const std::vector<const char*>& args) {
        testing::internal::CaptureStdout();
        const int result = encrypt_main(static_cast<int>(args.size()), args.data());
        out = testing::internal::GetCapturedStdout();
        return result;
    }
    std::string at(const std::string& name) const { return box.path() + "/" + name; }

    Sandbox box{test::Files{{"a.bin", "abc"}}};
    std::string out;
};

TEST_F(EncryptMain, ZeroOnSuccess) {
    const std::string input = at("a.bin");
    EXPECT_EQ(run({"encrypt", input.c_str(), "0", "0", "0", "0"}), 0);
    EXPECT_EQ(out, "        Encrypt Seccessfully!\r\n        File Size: 0x0022\r\n\r\n");
    EXPECT_EQ(box.read("a_crc.bin"), "abc" + Bytes(29, '\xFF') + test::hex("80 DF"));
}

TEST_F(EncryptMain, UsageUnlessSixEntries) {
    const std::string input = at("a.bin");
    for (int argc : {0, 1, 5, 7}) {
        std::vector<const char*> args(static_cast<std::size_t>(argc), "0");
        if (argc > 1) args[1] = input.c_str();
        EXPECT_EQ(run(args), -1) << argc;
        EXPECT_EQ(out, "Usage: encrypt 5820s.bin 5820.out\n");
    }
    EXPECT_EQ(box.files().size(), 1u);
}

TEST_F(EncryptMain, MinusOneOnEveryFailure) {
    const std::string missing = at("none.bin"), dir_input = at("d"), input = at("a.bin");
    box.write("d/inside", "x");  // gives the directory a nonzero size
    box.mkdir("b_crc.bin");
    box.write("b.bin", "b");
    EXPECT_EQ(run({"encrypt", missing.c_str(), "0", "0", "0", "0"}), -1);
    EXPECT_EQ(run({"encrypt", nullptr, "0", "0", "0", "0"}), -1);
    EXPECT_EQ(out, "Can't open file (null).\n");
    EXPECT_EQ(run({"encrypt", dir_input.c_str(), "0", "0", "0", "0"}), -1);
    EXPECT_EQ(out, "Can't read file " + dir_input + ".\n");
    const std::string b = at("b.bin");
    EXPECT_EQ(run({"encrypt", b.c_str(), "0", "0", "0", "0"}), -1);

    if (fs::exists("/dev/full")) {  // accepts the open, fails every write
        fs::create_symlink("/dev/full", at("a.out"));
        EXPECT_EQ(run({"encrypt", input.c_str(), "0", "0", "0", "0"}), -1);
        EXPECT_EQ(out, "Can't write file " + at("a.out") + ".\n");
    }
}

TEST(EncryptWithKeys, ScramblesWithTheOadKeysAndNamesTheImage) {
    // More than one pass of the writer (256 KiB), so that the addresses must
    // run on from pass to pass.
    const Bytes data = test::noise(262144 + 40, 2);
    Sandbox box(test::Files{{"xbim_crc.bin", data}});
    encrypt_keys = {"1", "2", "-3", "01000000"};
    testing::internal::CaptureStdout();
    const std::optional<std::string> name = encrypt_with_keys(box.path() + "/xbim_crc.bin");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "        Encrypt Seccessfully!\r\n        File Size: 0x44044\r\n\r\n");
    ASSERT_TRUE(name);
    EXPECT_EQ(*name, box.path() + "/xbim_crc_crc.bin");
    EXPECT_EQ(scramble_key1, 1u);
    EXPECT_EQ(scramble_key2, 2u);
    EXPECT_EQ(scramble_key3, 0xFFFFFFFDu);
    EXPECT_EQ(scramble_control, 0x01000000u);

    const std::vector<std::uint8_t> input = vec(data + Bytes(24, '\xFF'));
    const std::vector<std::uint8_t> image = vec(box.read("xbim_crc_crc.bin"));
    ASSERT_EQ(image.size(), input.size() / 32 * 34);
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < input.size(); at += 4) {
        wrong += word_at(image, at / 32 * 34 + at % 32) !=
                 scramble_word(static_cast<std::uint32_t>(at), word_at(input, at));
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(box.read("xbim_crc.out").size(), image.size() * 4);
    encrypt_keys = {default_key, default_key, default_key, default_key};
    set_keys(0, 0, 0, 0);
}

TEST(EncryptWithKeys, NoNameWhenTheWriterFailsOrTheNameIsNotBin) {
    Sandbox box(test::Files{{"a.hex", "abc"}});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(encrypt_with_keys(box.path() + "/missing.bin"));
    EXPECT_FALSE(encrypt_with_keys(box.path() + "/a.hex"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Can't open file " + box.path() + "/missing.bin.\n");
    EXPECT_EQ(box.files(), (test::Files{{"a.hex", "abc"}}));
}

}  // namespace
}  // namespace velk
