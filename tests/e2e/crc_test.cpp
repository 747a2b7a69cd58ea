// The -crc command end to end: the image and its twin against the test's own
// reference, the console lines, and the failures it must report.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> programs = {velk_merge, velk_single};

TEST(CrcCommand, AbcGivesOnePaddedBlockAndItsTwin) {
    const Bytes image = hex("61 62 63") + Bytes(29, '\xFF') + hex("80 DF");
    for (const std::string& program : programs) {
        const Outcome r = run_velk(program, {"-crc", "abc.bin"}, {{"abc.bin", "abc"}});
        EXPECT_EQ(r.out, encrypt_success(0x22)) << program;
        ASSERT_EQ(r.files.size(), 3u) << program;
        EXPECT_EQ(r.files.at("abc_crc.bin"), image);
        const Bytes& twin = r.files.at("abc.out");
        EXPECT_EQ(twin.size(), 136u);
        EXPECT_EQ(twin.substr(0, 16), "61\r\n62\r\n63\r\nff\r\n");
        EXPECT_EQ(twin.substr(128), "80\r\ndf\r\n");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(CrcCommand, BlocksOfAllOnesAndAllZeros) {
    const Outcome r = run_velk(velk_single, {"-crc", "fz.bin"},
                               {{"fz.bin", Bytes(32, '\xFF') + Bytes(32, '\0')}});
    EXPECT_EQ(r.out, encrypt_success(68));
    EXPECT_EQ(r.files.at("fz_crc.bin"),
              Bytes(32, '\xFF') + hex("00 0C") + Bytes(32, '\0') + hex("80 29"));
}

TEST(CrcCommand, SizesAroundTheBlockAndPassBoundaries) {
    // 262144 input bytes make one pass of the streaming writer.
    for (const std::size_t size : {0u, 1u, 31u, 32u, 33u, 100u, 262144u + 37u}) {
        const Bytes input = noise(size, static_cast<std::uint32_t>(size + 1));
        const Bytes image = ref_flash_crc_image(input);
        const Outcome r = run_velk(velk_merge, {"-crc", "in.bin"}, {{"in.bin", input}});
        EXPECT_EQ(r.out, encrypt_success(image.size())) << size;
        EXPECT_EQ(r.files, (Files{{"in.bin", input},
                                  {"in_crc.bin", image},
                                  {"in.out", ref_twin(image)}}))
            << size;
    }
}

TEST(CrcCommand, SizeLineGrowsPastFourDigits) {
    const Outcome r = run_velk(velk_single, {"-crc", "m.bin"}, {{"m.bin", Bytes(70000, '\0')}});
    EXPECT_EQ(r.out, "        Encrypt Seccessfully!\r\n        File Size: 0x12298\r\n\r\n");
}

TEST(CrcCommand, OutputNamesByTheWritersOwnRule) {
    struct Case {
        std::string input, image, twin;
    };
    const Case cases[] = {
        {"app.bin", "app_crc.bin", "app.out"},
        {"app", "app_crc.bin", "app.out"},
        {"app.BIN", "app.BIN_crc.bin", "app.BIN.out"},
        {"fw.hex", "fw.hex_crc.bin", "fw.hex.out"},
        {".bin", "_crc.bin", ".out"},
    };
    const Bytes image = ref_flash_crc_image("abc");
    for (const Case& c : cases) {
        const Outcome r = run_velk(velk_single, {"-crc", c.input}, {{c.input, "abc"}});
        EXPECT_EQ(r.out, encrypt_success(34)) << c.input;  // no warning about the extension
        EXPECT_EQ(r.files, (Files{{c.input, "abc"}, {c.image, image}, {c.twin, ref_twin(image)}}))
            << c.input;
    }
}

TEST(CrcCommand, InputIsTheThirdTokenWhateverItIs) {
    const Files inputs = {{"a.bin", "abc"}};
    // "-CRC" works like "-crc", and the word need not come first.
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-CRC", "a.bin"}, {"x", "a.bin", "-crc"}}) {
        const Outcome r = run_velk(velk_merge, args, inputs);
        EXPECT_EQ(r.out, encrypt_success(34)) << args[0];
        EXPECT_EQ(r.files.size(), 3u) << args[0];
    }
    const Outcome swapped = run_velk(velk_merge, {"a.bin", "-crc"}, inputs);
    EXPECT_EQ(swapped.out, "Can't open file -crc.\n");
    EXPECT_EQ(swapped.files, inputs);
}

TEST(CrcCommand, WithoutAThirdTokenNoFileIsTouched) {
    for (const std::string& program : programs) {
        const Outcome r = run_velk(program, {"-crc"}, {{"a.bin", "abc"}});
        EXPECT_EQ(r.out, "Can't open file (null).\n") << program;
        EXPECT_EQ(r.files, (Files{{"a.bin", "abc"}}));
        EXPECT_EQ(r.status, 0);
    }
}

TEST(CrcCommand, OpenAndCreateFailures) {
    {
        const Outcome r = run_velk(velk_single, {"-crc", "none.bin"});
        EXPECT_EQ(r.out, "Can't open file none.bin.\n");
        EXPECT_TRUE(r.files.empty());
    }
    {
        Sandbox box(Files{{"a.bin", "abc"}});
        box.mkdir("a_crc.bin");
        const Outcome r = box.run(velk_single, {"-crc", "a.bin"});
        EXPECT_EQ(r.out, "Can't open file a_crc.bin.\n");
        EXPECT_EQ(r.files, (Files{{"a.bin", "abc"}, {"a_crc.bin/", ""}}));
    }
    {
        Sandbox box(Files{{"a.bin", "abc"}});
        box.mkdir("a.out");
        const Outcome r = box.run(velk_merge, {"-crc", "a.bin"});
        EXPECT_EQ(r.out, "Can't open file a.out.\n");
        EXPECT_EQ(r.files, (Files{{"a.bin", "abc"}, {"a.out/", ""}, {"a_crc.bin", ""}}));
    }
}

TEST(CrcCommand, RefusesAnOutputThatIsTheInputFile) {
    for (const char* output : {"a_crc.bin", "a.out"}) {
        Sandbox box(Files{{"a.bin", "abc"}});
        box.symlink("a.bin", output);
        const Outcome r = box.run(velk_single, {"-crc", "a.bin"});
        EXPECT_EQ(r.out, std::string("Can't open file ") + output +
                             ".\nIt is the input file a.bin itself.\n");
        // The input is intact and the link is left as it was.
        EXPECT_EQ(r.files, (Files{{"a.bin", "abc"}, {std::string(output) + "@", "a.bin"}}));
    }
}

TEST(CrcCommand, InputThatIsADirectoryIsRefusedBeforeTheOutputsAreTruncated) {
    // A directory opens and reports a size; it fails only when read, by
    // then too late for the outputs of an earlier run.
    Sandbox box(Files{{"d/inside", "x"}, {"d_crc.bin", "earlier image"}, {"d.out", "earlier twin"}});
    const Files before = box.files();
    const Outcome r = box.run(velk_single, {"-crc", "d"});
    EXPECT_EQ(r.out, "d is a directory\n");
    EXPECT_EQ(r.files, before);
}

TEST(CrcCommand, WriteFailuresAreReportedNotPassedAsSuccess) {
    // 1000 input bytes give a 1088-byte image and a 4352-byte twin. A file
    // size limit makes writes fail past its byte: early, in the middle and at
    // the last byte of the image; then of the twin, which is written alongside.
    const Bytes input = noise(1000, 77);
    const Bytes image = ref_flash_crc_image(input);
    const Bytes twin = ref_twin(image);
    struct Case {
        std::uint64_t limit;
        std::string failed;
    };
    const Case cases[] = {
        {0, "in_crc.bin"},    {544, "in_crc.bin"},  {1087, "in_crc.bin"},
        {1088, "in.out"},     {2176, "in.out"},     {4351, "in.out"},
    };
    for (const Case& c : cases) {
        for (const std::string& program : programs) {
            const Outcome r = run_velk(program, {"-crc", "in.bin"}, {{"in.bin", input}},
                                       Limits{.file_size = c.limit});
            EXPECT_EQ(r.out, "Can't write file " + c.failed + ".\n") << c.limit;
            EXPECT_EQ(r.files.at("in.bin"), input);
            EXPECT_LE(r.files.at("in_crc.bin").size(), c.limit);
            EXPECT_LE(r.files.at("in.out").size(), c.limit);
            EXPECT_EQ(r.status, 0);
        }
    }
    // Over several passes of the writer a failure stops the run midway.
    const Outcome long_run = run_velk(velk_merge, {"-crc", "in.bin"},
                                      {{"in.bin", noise(600000, 3)}}, Limits{.file_size = 1 << 20});
    EXPECT_EQ(long_run.out, "Can't write file in.out.\n");
    // With room for exactly both outputs nothing fails.
    const Outcome r =
        run_velk(velk_single, {"-crc", "in.bin"}, {{"in.bin", input}}, Limits{.file_size = 4352});
    EXPECT_EQ(r.out, encrypt_success(1088));
    EXPECT_EQ(r.files.at("in.out"), twin);
}

TEST(CrcCommand, SizesOfTwoAndFourGiBAreNotTruncated) {
    // Sparse inputs, kept in a linked directory the harness does not read
    // back. A writer that cut the size to 32 bits would see a few bytes (or
    // a negative count) and report success; the right one starts on gigabytes
    // of output and hits the file size limit.
    Sandbox store;
    Sandbox box;
    fs::create_directory_symlink(store.path(), fs::path(box.path()) / "big");
    for (const std::uint64_t size : {0x80000003ull, 0x100000003ull}) {
        const std::string name = "huge" + std::to_string(size) + ".bin";
        std::FILE* f = std::fopen((store.path() + "/" + name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
        fs::resize_file(store.path() + "/" + name, size);
        const Outcome r = box.run(velk_single, {"-crc", "big/" + name}, Limits{.file_size = 1 << 20});
        EXPECT_EQ(r.out, "Can't write file big/huge" + std::to_string(size) + ".out.\n") << size;
        fs::remove(store.path() + "/" + name);
    }
}

}  // namespace
}  // namespace velk::test
