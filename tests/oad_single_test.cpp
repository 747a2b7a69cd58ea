#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.hpp"

namespace velk::test {
namespace {

// ---- A reference of the flash CRC image, written from its definition ----

std::uint32_t rotate_left(std::uint32_t x, unsigned by, unsigned width) {
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    const std::uint64_t v = x & mask;
    return static_cast<std::uint32_t>(((v << by) | (v >> (width - by))) & mask);
}

unsigned bit(std::uint32_t x, unsigned n) { return (x >> n) & 1u; }

std::uint32_t ref_mix16(std::uint32_t x) {
    const std::uint32_t n = (x >> 5) & 0xF;
    return rotate_left(x, 9, 16) ^ ((n * 0x1111u) & 0x6371u);
}
std::uint32_t ref_mix17(std::uint32_t x) {
    const std::uint32_t n = bit(x, 1) << 3 | bit(x, 5) << 2 | bit(x, 9) << 1 | bit(x, 13);
    return rotate_left(x, 7, 17) ^ (((bit(x, 4) << 16) | (n * 0x1111u)) & 0x13659u);
}
std::uint32_t ref_mix32(std::uint32_t x) {
    const std::uint32_t n = (x >> 2) & 0xF;
    return rotate_left(x, 17, 32) ^ ((n * 0x11111111u) & 0xE519A4F1u);
}

struct Keys {
    std::uint32_t k1, k2, k3, k4;
};

std::uint32_t swap16(std::uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

std::uint32_t ref_scramble(std::uint32_t a, std::uint32_t data, const Keys& k) {
    const std::uint32_t top = k.k4 >> 24;
    const bool master_off = top == 0x00 || top == 0xFF;
    const std::uint32_t hi = a >> 16, lo = a & 0xFFFF;
    const std::uint32_t folds[4] = {hi ^ lo, hi ^ swap16(lo), swap16(hi) ^ lo,
                                    swap16(hi) ^ swap16(lo)};
    const std::uint32_t f = folds[(k.k4 >> 5) & 3];
    const std::uint32_t g = (a >> ((k.k4 >> 8) & 3)) & 0x1FFFF;
    const std::uint32_t r = rotate_left(a, (32 - 8 * ((k.k4 >> 11) & 3)) % 32, 32);
    const std::uint32_t x1 = (f ^ (k.k2 >> 16)) & 0xFFFF;
    const std::uint32_t x2 =
        g ^ (((k.k2 >> 8) & 0xFF) << 9 | bit(k.k4, 4) << 8 | (k.k2 & 0xFF));
    const std::uint32_t x3 = r ^ k.k1;
    const std::uint32_t m1 = (master_off || bit(k.k4, 0)) ? 0 : ref_mix16(x1);
    const std::uint32_t m2 = (master_off || bit(k.k4, 1)) ? 0 : ref_mix17(x2) & 0xFFFF;
    const std::uint32_t m3 = (master_off || bit(k.k4, 2)) ? 0 : ref_mix32(x3);
    const std::uint32_t k3 = (master_off || bit(k.k4, 3)) ? 0 : k.k3;
    return data ^ (m3 ^ (m1 << 16 | m2) ^ k3);
}

std::uint16_t crc16_cms(const Bytes& block) {
    std::uint16_t crc = 0xFFFF;
    for (char byte : block) {
        const auto c = static_cast<unsigned char>(byte);
        crc = static_cast<std::uint16_t>(crc ^ (c << 8));
        for (int i = 0; i < 8; ++i)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    }
    return crc;
}

Bytes flash_crc_image(Bytes input, const Keys& k) {
    input.append((32 - input.size() % 32) % 32, '\xFF');
    Bytes image;
    for (std::size_t b = 0; b < input.size(); b += 32) {
        Bytes block;
        for (std::size_t w = b; w < b + 32; w += 4) {
            std::uint32_t word = 0;
            for (std::size_t i = 4; i-- > 0;) word = word << 8 | static_cast<unsigned char>(input[w + i]);
            word = ref_scramble(static_cast<std::uint32_t>(w), word, k);
            for (int i = 0; i < 4; ++i) block.push_back(static_cast<char>(word >> (8 * i)));
        }
        const std::uint16_t crc = crc16_cms(block);
        image += block;
        image.push_back(static_cast<char>(crc >> 8));
        image.push_back(static_cast<char>(crc & 0xFF));
    }
    return image;
}

Bytes padded(const Bytes& image) { return image + Bytes(256 - image.size() % 256, '\xFF'); }

Bytes twin(const Bytes& image) {
    std::string t;
    for (char c : image) t += format("%02x\r\n", static_cast<unsigned char>(c));
    return t;
}

const Keys unscrambled{0x00A5A5A5, 0x00A5A5A5, 0x00A5A5A5, 0x00A5A5A5};

TEST(SingleReference, MixersMatchTheirKnownValues) {
    // The test's own scrambler must first agree with the published values.
    EXPECT_EQ(ref_mix16(0x0001), 0x0200u);
    EXPECT_EQ(ref_mix16(0x1234), 0x6935u);
    EXPECT_EQ(ref_mix16(0xFFFF), 0x9C8Eu);
    EXPECT_EQ(ref_mix17(0x00001), 0x00080u);
    EXPECT_EQ(ref_mix17(0x12345), 0x190D9u);
    EXPECT_EQ(ref_mix17(0x10000), 0x00040u);
    EXPECT_EQ(ref_mix17(0x1FFFF), 0x0C9A6u);
    EXPECT_EQ(ref_mix32(0x00000001), 0x00020000u);
    EXPECT_EQ(ref_mix32(0x12345678), 0x48F88088u);
    EXPECT_EQ(ref_mix32(0x80000000), 0x00010000u);
    EXPECT_EQ(ref_mix32(0xFFFFFFFF), 0x1AE65B0Eu);
    EXPECT_EQ(crc16_cms("123456789"), 0xAEE7);
}

// ---- The command ----

std::string start_lines(std::size_t input_len, bool keys_given = false) {
    std::string s =
        "you do not appoint link addr,default :0x25a80\r\n"
        "you do not appoint rom version,default :0xffff\r\n";
    if (!keys_given) {
        s += "you do not appoint encrypt:default: \r\n"
             "b=00A5A5A5,00A5A5A5,00A5A5A5,00A5A5A5\r\n";
    }
    s += "binary version hex:0x102; dec:258\r\n"
         "\r\n"
         "Arm Image Binary will be converted to OAD format binary file.....\r\n"
         "cmd_bin_oad.stack_file_addr=1f00\r\n";
    return s + format("boot_bin_len=%zx\r\n", input_len);
}

std::string encrypted(std::size_t image_len) {
    return format("        Encrypt Seccessfully!\r\n        File Size: 0x%04zx\r\n\r\n", image_len);
}

const std::string banner =
    "/**< @CREATE_FILE_SUCCESS */\r\n"
    "/**< @Download flash file:app_crc.bin\r\n"
    "/**< @author the velk developers */\r\n"
    "/**< @version v0.3 */\r\n";

std::vector<std::string> single_args(std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"-oad", "app.bin", "-v", "0x102"};
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

TEST(SingleOad, OutputLengthsAndTheFilesLeftBehind) {
    const struct {
        std::size_t input, output;
    } cases[] = {{0, 256}, {100, 256}, {3840, 4096}, {4096, 4608}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Bytes input = noise(c.input, 11);
        const Bytes image = flash_crc_image(input, unscrambled);
        const Outcome r = run_velk(velk_single, single_args(), {{"app.bin", input}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, start_lines(c.input) + encrypted(image.size()) + banner);
        EXPECT_EQ(r.files, (Files{{"app.bin", input},
                                  {"app_crc.bin", padded(image)},
                                  {"appbim_crc.out", twin(image)}}));
        EXPECT_EQ(r.files.at("app_crc.bin").size(), c.output);
    }
}

TEST(SingleOad, WithoutKeysItIsTheCrcImagePadded) {
    const Bytes input = noise(1000, 12);
    Sandbox box({{"app.bin", input}});
    const Bytes crc_only = box.run(velk_single, {"-crc", "app.bin"}).files.at("app_crc.bin");
    EXPECT_EQ(box.run(velk_single, single_args()).files.at("app_crc.bin"), padded(crc_only));

    // With both commands in one call -crc runs first; the -oad output is left.
    const Outcome both = run_velk(velk_single, single_args({"-crc"}), {{"app.bin", input}});
    EXPECT_EQ(both.files.at("app_crc.bin"), padded(crc_only));
}

TEST(SingleOad, ScramblesWithTheKeysAfterE) {
    const struct {
        const char* keys[4];
        Keys words;
    } cases[] = {
        {{"12345678", "9ABCDEF0", "0F1E2D3C", "01000000"},
         {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x01000000}},
        {{"cafebabe", "13579BDF", "2468ACE0", "7E001B60"},
         {0xCAFEBABE, 0x13579BDF, 0x2468ACE0, 0x7E001B60}},
        {{"-1", "00000001", "FFFFFFFF", "FE000810"}, {0xFFFFFFFF, 1, 0xFFFFFFFF, 0xFE000810}},
        {{"DEADBEEF", "0BADF00D", "8BADF00D", "12345678"},
         {0xDEADBEEF, 0x0BADF00D, 0x8BADF00D, 0x12345678}},
        // The master switch off: the keys leave the data as it is.
        {{"DEADBEEF", "0BADF00D", "8BADF00D", "FF345678"},
         {0xDEADBEEF, 0x0BADF00D, 0x8BADF00D, 0xFF345678}},
    };
    const Bytes input = noise(777, 13);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys[3]);
        const Outcome r = run_velk(
            velk_single, single_args({"-e", c.keys[0], c.keys[1], c.keys[2], c.keys[3]}),
            {{"app.bin", input}});
        const Bytes image = flash_crc_image(input, c.words);
        EXPECT_EQ(r.out, start_lines(input.size(), true) + encrypted(image.size()) + banner);
        EXPECT_EQ(r.files.at("app_crc.bin"), padded(image));
        EXPECT_EQ(r.files.at("appbim_crc.out"), twin(image));
    }
}

TEST(SingleOad, BadKeyCharacterIsReportedAndCountsAsZero) {
    const Bytes input = noise(64, 14);
    const Outcome r = run_velk(velk_single,
                               single_args({"-e", "12345678", "0x9ABC", "0F1E2D3C", "01000000"}),
                               {{"app.bin", input}});
    const Bytes image = flash_crc_image(input, {0x12345678, 0, 0x0F1E2D3C, 0x01000000});
    EXPECT_EQ(r.out, start_lines(64, true) + " Error: Parameter failed!\n" +
                         encrypted(image.size()) + banner);
    EXPECT_EQ(r.files.at("app_crc.bin"), padded(image));
}

TEST(SingleOad, NamesOfAnInputThatIsNotBin) {
    const Outcome r = run_velk(velk_single, {"-oad", "app.hex", "-v", "0x102"},
                               {{"app.hex", "abc"}});
    const std::string attention = "Attention: maybe the input file is not binary file\r\n";
    const Bytes image = flash_crc_image("abc", unscrambled);
    std::string want = start_lines(3);
    want.insert(want.find("cmd_bin_oad.stack_file_addr="), attention);
    EXPECT_EQ(r.out, want + encrypted(image.size()) + attention + banner);
    EXPECT_EQ(r.files, (Files{{"app.hex", "abc"},
                              {"app_crc.bin", padded(image)},
                              {"appbim_crc.out", twin(image)}}));
}

// ---- Failures: each ends with its exit lines, never with the banner ----

const std::string removal = "create_fexit \r\nopen_fexit \r\n";
const std::string closing = "open_fexit \r\n";

std::string head_lines() {
    return "you do not appoint link addr,default :0x25a80\r\n"
           "you do not appoint rom version,default :0xffff\r\n"
           "you do not appoint encrypt:default: \r\n"
           "b=00A5A5A5,00A5A5A5,00A5A5A5,00A5A5A5\r\n"
           "binary version hex:0x102; dec:258\r\n"
           "\r\n"
           "Arm Image Binary will be converted to OAD format binary file.....\r\n";
}

TEST(SingleOad, MissingOrStemlessInputNameCreatesNothing) {
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"-v", "0x102", "-oad"}, "-oad needs the name of the image to convert after it\r\n"},
        {{"-v", "0x102", "-oad", ".."}, "..: no file name stem to derive an output name from\r\n"},
        {{"-v", "0x102", "-oad", "dir/"}, "dir/: no file name stem to derive an output name from\r\n"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_velk(velk_single, c.args, {{"app.bin", "abc"}});
        EXPECT_EQ(r.out, head_lines() + c.line + closing);
        EXPECT_EQ(r.files, (Files{{"app.bin", "abc"}}));
    }
}

TEST(SingleOad, MissingInputLeavesTheEmptyWorkingCopy) {
    const Outcome r = run_velk(velk_single, single_args());
    EXPECT_EQ(r.out, head_lines() + closing);
    EXPECT_EQ(r.files, (Files{{"appbim_crc.bin", ""}}));
}

TEST(SingleOad, FailedFlashCrcRunStopsTheFlow) {
    // The twin cannot be created: the writer fails, and the flow must not
    // go on to pad and copy an image that was never written.
    const Bytes input = noise(100, 15);
    Sandbox box({{"app.bin", input}});
    box.mkdir("appbim_crc.out");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, start_lines(100) + "Can't open file appbim_crc.out.\n" + closing);
    EXPECT_EQ(r.files, (Files{{"app.bin", input},
                              {"appbim_crc.bin", input},
                              {"appbim_crc_crc.bin", ""},
                              {"appbim_crc.out/", ""}}));
}

TEST(SingleOad, WriteFailuresUnderAFileSizeLimit) {
    // 100 input bytes: working copy 100 bytes, image 136, twin 544, output 256.
    const Bytes input = noise(100, 16);
    const Bytes image = flash_crc_image(input, unscrambled);
    const struct {
        std::uint64_t limit;
        std::string printed;
        Files left;
    } cases[] = {
        {0, head_lines() + "write boot unsuccessfully in merge\r\n" + removal, {}},
        {50, head_lines() + "write boot unsuccessfully in merge\r\n" + removal, {}},
        {99, head_lines() + "write boot unsuccessfully in merge\r\n" + removal, {}},
        {120, start_lines(100) + "Can't write file appbim_crc_crc.bin.\n" + closing,
         {{"appbim_crc.bin", input}, {"appbim_crc_crc.bin", image.substr(0, 120)},
          {"appbim_crc.out", ""}}},
        {300, start_lines(100) + "Can't write file appbim_crc.out.\n" + closing,
         {{"appbim_crc.bin", input}, {"appbim_crc_crc.bin", image},
          {"appbim_crc.out", twin(image).substr(0, 300)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        const Outcome r =
            run_velk(velk_single, single_args(), {{"app.bin", input}}, Limits{.file_size = c.limit});
        EXPECT_EQ(r.out, c.printed);
        Files want = c.left;
        want["app.bin"] = input;
        EXPECT_EQ(r.files, want);
    }
}

TEST(SingleOad, FailedWriteOfTheOutputTakesTheRemovalExit) {
    const Bytes input = noise(100, 17);
    const Bytes image = flash_crc_image(input, unscrambled);
    Sandbox box({{"app.bin", input}});
    box.symlink("/dev/full", "app_crc.bin");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, start_lines(100) + encrypted(136) + "write merge bin err\r\n" + removal);
    EXPECT_EQ(r.files, (Files{{"app.bin", input},
                              {"app_crc.bin@", "/dev/full"},
                              {"appbim_crc_crc.bin", padded(image)},
                              {"appbim_crc.out", twin(image)}}));
}

TEST(SingleOad, UnreadableInputTakesTheRemovalExit) {
    Sandbox box;
    box.mkdir("app.bin");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_TRUE(r.out.ends_with("app.bin file can not be read\r\n" + removal)) << r.out;
    EXPECT_EQ(r.files, (Files{{"app.bin/", ""}}));
}

TEST(SingleOad, OutputOnTheInputIsRefused) {
    Sandbox box(Files{{"app.bin", "abc"}});
    box.symlink("app.bin", "appbim_crc.bin");
    const Outcome r = box.run(velk_single, single_args());
    EXPECT_EQ(r.out, head_lines() +
                         "appbim_crc.bin is the input app.bin; it would be overwritten, so it is "
                         "not written\r\n" +
                         closing);
    EXPECT_EQ(r.files, (Files{{"app.bin", "abc"}, {"appbim_crc.bin@", "app.bin"}}));
}

TEST(SingleOad, UpperCaseWordAndTheMergeEditionDiffer) {
    const Outcome upper =
        run_velk(velk_single, {"-OAD", "app.bin", "-v", "0x102"}, {{"app.bin", "abc"}});
    EXPECT_EQ(upper.files.at("app_crc.bin"), padded(flash_crc_image("abc", unscrambled)));
    // The same command line in velk-merge wants three images.
    const Outcome merge = run_velk(velk_merge, {"-v", "0x102", "-oad", "app.bin"}, {{"app.bin", "abc"}});
    EXPECT_EQ(merge.files, (Files{{"app.bin", "abc"}}));
}

}  // namespace
}  // namespace velk::test

namespace velk::test {
namespace {

TEST(SingleOad, EndlessInputStopsTheRun) {
    // The file-size limit only keeps a broken build from filling the disk.
    Sandbox box;
    box.symlink("/dev/zero", "app.bin");
    const Outcome r = box.run(velk_single, single_args(), Limits{.file_size = 1 << 20});
    EXPECT_TRUE(r.out.ends_with("app.bin file can not be read\r\n" + removal)) << r.out;
    EXPECT_EQ(r.files, (Files{{"app.bin@", "/dev/zero"}}));
}

}  // namespace
}  // namespace velk::test
