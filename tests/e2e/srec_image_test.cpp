// --format srec: the flash image of crc and single and the merged image of
// merge as S-records, read back by srec_cat (Debian's srecord), which must
// give the bytes of the same command's binary output.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

using Args = std::vector<std::string>;

const std::string keys_text = "12345678,9ABCDEF0,0F1E2D3C,01000000";

std::vector<std::string> lines_of(const Bytes& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

TEST(VelkSrec, SrecCatReadsBackTheBinaryImage) {
    ASSERT_TRUE(shell("command -v srec_cat")) << "srec_cat (Debian package srecord) is needed";
    const Files parts = {{"boot.bin", noise(3000, 1)}, {"stack.bin", Bytes(9000, '\xFF')},
                         {"app.bin", noise(70000, 3)}, {"a.bin", noise(70000, 4) + Bytes(64, '\xFF')},
                         {"e.bin", Bytes(40, '\xFF') + noise(100, 5)}};
    const struct {
        Args srec_args;
        Args bin_args;
        std::string srec_file;  // the default name
        std::string bin_file;
        std::uint32_t base;
    } cases[] = {
        {{"crc", "a.bin", "--format", "srec", "--base", "0x1FFF8"}, {"crc", "a.bin"}, "a_crc.srec", "a_crc.bin",
         0x1FFF8},
        {{"single", "a.bin", "--format=srec", "--base=0x08000000", "--keys", keys_text},
         {"single", "a.bin", "--keys", keys_text}, "a_crc.srec", "a_crc.bin", 0x08000000},
        // The merge's fill and padding are whole records of 0xFF, left out.
        {{"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1", "--format", "srec", "--base",
          "0x10000"},
         {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "1"}, "app_merge.srec", "app_merge.bin",
         0x10000},
        // The first record is all 0xFF, and left out.
        {{"crc", "e.bin", "--format", "srec"}, {"crc", "e.bin"}, "e_crc.srec", "e_crc.bin", 0},
        // The image's last byte at 0xFFFFFFFF.
        {{"crc", "e.bin", "--format", "srec", "--base", "0xFFFFFF56"}, {"crc", "e.bin"}, "e_crc.srec",
         "e_crc.bin", 0xFFFFFF56},
    };
    for (const auto& c : cases) {
        Sandbox box(parts);
        const Outcome made = box.run(velk, c.srec_args);
        ASSERT_EQ(made.status, 0) << c.srec_file << made.err;
        ASSERT_EQ(box.run(velk, c.bin_args).status, 0) << c.bin_file;
        const Bytes binary = box.read(c.bin_file);
        const std::string command = format(
            "cd '%s' && srec_cat %s -motorola -offset -0x%X -fill 0xFF 0 %zu -o back.bin -binary",
            box.path().c_str(), c.srec_file.c_str(), c.base, binary.size());
        ASSERT_TRUE(shell(command)) << command;
        EXPECT_EQ(box.read("back.bin"), binary) << c.srec_file;
        // A header record first, a termination record with the base last;
        // between them S3 records, of which only the last may be all 0xFF.
        const std::vector<std::string> lines = lines_of(box.read(c.srec_file));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front().substr(0, 2), "S0") << c.srec_file;
        EXPECT_EQ(lines.back().substr(0, 12), format("S705%08X", c.base)) << c.srec_file;
        EXPECT_EQ(lines[lines.size() - 2].substr(0, 2), "S3") << c.srec_file;
        for (std::size_t i = 1; i + 2 < lines.size(); ++i) {
            EXPECT_EQ(lines[i].substr(0, 4), "S315") << lines[i];
            EXPECT_NE(lines[i].substr(12, 32), std::string(32, 'F')) << lines[i];
        }
    }
}

// The image must end at 2^32 at the latest, as in Intel HEX; binary images
// take no base.
TEST(VelkSrec, RefusesAnImagePastTheAddressSpace) {
    const Files parts = {{"a.bin", noise(100, 4)}, {"boot.bin", noise(300, 1)}, {"stack.bin", noise(300, 2)}};
    for (const Args& args : {Args{"crc", "a.bin", "--format", "srec", "--base", "0xFFFFFF80"},
                             Args{"single", "a.bin", "--format", "srec", "--base", "0xFFFFFF80"},
                             Args{"merge", "boot.bin", "stack.bin", "a.bin", "--format", "srec", "--base",
                                  "0xFFFF0000"}}) {
        const Outcome o = run_velk(velk, args, parts);
        EXPECT_EQ(o.status, 2) << args[0] << o.err;
        EXPECT_NE(o.err.find("runs past the 32-bit address space"), std::string::npos) << o.err;
        EXPECT_EQ(o.files, parts) << args[0];
    }
    // A binary image has no addresses: --base with it is a mistake.
    const Outcome bin = run_velk(velk, {"crc", "a.bin", "--base", "0xFFFFFF80"}, parts);
    EXPECT_EQ(bin.status, 2);
    EXPECT_NE(bin.err.find("velk: --base: a binary image has no addresses"), std::string::npos) << bin.err;
    EXPECT_EQ(bin.files, parts);
}

}  // namespace
}  // namespace velk::test
