// The -txt command end to end: the dump's bytes, the console lines, and the
// failures it must report instead of passing over.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "export_support.hpp"
#include "harness.hpp"

namespace velk::test {
namespace {

// Dump of `input` (saved as a.bin) with the given options after "-txt a.bin".
Bytes dump(const Bytes& input, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"-txt", "a.bin"};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome r = run_velk(velk_merge, args, {{"a.bin", input}});
    const auto out = r.files.find("a_qz.txt");
    return out != r.files.end() ? out->second : "(no dump)";
}

std::string line_of(unsigned first, unsigned count) {
    std::string line;
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned b = first; b < first + count; ++b) {
        line += digits[(b >> 4) & 0xF];
        line += digits[b & 0xF];
        line += ' ';
    }
    return line;
}

TEST(TxtDump, DumpsByteForByte) {
    const struct {
        Bytes input;
        std::vector<std::string> options;
        Bytes dump;
    } cases[] = {
        // 20 bytes: a full line of 16, then four cells and no final line end.
        {counting(20), {}, line_of(0, 16) + "\r\n" + line_of(16, 4)},
        {counting(20),
         {"-c", "-p"},
         "0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,0x0D,0x0E,0x0F,\r\n"
         "0x10,0x11,0x12,0x13,"},
        {counting(32), {}, line_of(0, 16) + "\r\n" + line_of(16, 16) + "\r\n"},
        {counting(16), {}, line_of(0, 16) + "\r\n"},
        {counting(17), {}, line_of(0, 16) + "\r\n" + line_of(16, 1)},
        {hex("01 02 03"), {"-t", "16"}, "0201 0003 "},
        {hex("11 22 33 44 55"), {"-t", "32", "-c"}, "44332211,00000055,"},
        {hex("01 02 03"), {"-l", "0"}, "01 \r\n02 \r\n03 \r\n"},
        {hex("01 02 03"), {"-l", "1"}, "01 \r\n02 \r\n03 \r\n"},
        {hex("01 02 03 04 05"), {"-l", "2", "-t", "16"}, "0201 0403 \r\n0005 "},
        {hex("0A"), {"-p"}, "0x0A "},
        {hex("0A"), {"-c"}, "0A,"},
        {hex("ab cd ef"), {}, "AB CD EF "},
        {hex("FF FF FF FF 80"), {"-t", "32"}, "FFFFFFFF 00000080 "},
        {hex("FF FE"), {"-t", "16", "-p", "-c"}, "0xFEFF,"},
        {"", {}, ""},
        {"", {"-t", "32", "-l", "0"}, ""},
        // Base detection of "-t": hexadecimal and octal both mean 16.
        {hex("01 02"), {"-t", "0x10"}, "0201 "},
        {hex("01 02"), {"-t", "020"}, "0201 "},
        // A value option as the last token counts as absent.
        {counting(3), {"-t"}, "00 01 02 "},
        {counting(17), {"-l"}, line_of(0, 16) + "\r\n" + line_of(16, 1)},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& o : c.options) label += o + " ";
        EXPECT_EQ(dump(c.input, c.options), c.dump) << c.input.size() << " bytes, " << label;
    }
}

TEST(TxtDump, LineCountMinusOneNeverBreaksLines) {
    const Bytes d = dump(counting(300), {"-l", "-1"});
    EXPECT_EQ(d.size(), 900u);
    EXPECT_EQ(d.find('\r'), std::string::npos);
    EXPECT_EQ(d.substr(d.size() - 6), "2A 2B ");
}

TEST(TxtDump, BigInputMatchesAPerByteSpelling) {
    // Cells cross the reader's blocks; every byte must come out once, in order.
    const Bytes input = noise(200003, 7);
    Bytes expected;
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < input.size(); i += 4) {
        for (std::size_t k = 4; k-- > 0;) {
            const auto b = i + k < input.size() ? static_cast<unsigned char>(input[i + k]) : 0u;
            expected += digits[b >> 4];
            expected += digits[b & 0xF];
        }
        expected += ',';
        if ((i / 4 + 1) % 5 == 0 && i + 4 <= input.size()) expected += "\r\n";
    }
    EXPECT_EQ(dump(input, {"-t", "32", "-c", "-l", "5"}), expected);
}

TEST(TxtDump, ConsoleShowsSettingsThenTheOutputName) {
    const Outcome r = run_velk(velk_single, {"-txt", "a.bin", "-p"}, {{"a.bin", hex("0A")}});
    EXPECT_EQ(r.out, txt_settings("a.bin", 0, 1, 8) + "text file name:a_qz.txt\r\n");
    EXPECT_EQ(r.files, (Files{{"a.bin", hex("0A")}, {"a_qz.txt", "0x0A "}}));
    EXPECT_EQ(r.status, 0);
}

TEST(TxtDump, GivenOutputNameIsUsedAsIs) {
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "out.dump"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, txt_settings("a.bin", 0, 0, 8) + "text file name:out.dump\r\n");
    EXPECT_EQ(r.files, (Files{{"a.bin", "\x01"}, {"out.dump", "01 "}}));
}

TEST(TxtDump, AnExistingOutputIsReplaced) {
    Sandbox box(Files{{"a.bin", "\x01"}, {"a_qz.txt", "old and much longer contents"}});
    box.run(velk_merge, {"-txt", "a.bin"});
    EXPECT_EQ(box.read("a_qz.txt"), "01 ");
}

TEST(TxtDump, BadTypeIsAnnouncedAndFallsBackToEightBits) {
    for (const char* type : {"12", "0", "64", "x"}) {
        const Outcome r =
            run_velk(velk_merge, {"-txt", "a.bin", "-t", type}, {{"a.bin", hex("01 02")}});
        EXPECT_EQ(r.out, bad_type + txt_settings("a.bin", 0, 0, 8) + "text file name:a_qz.txt\r\n")
            << type;
        EXPECT_EQ(r.files.at("a_qz.txt"), "01 02 ") << type;
    }
}

TEST(TxtDump, UpperCaseWordLocatesTheInputUnlessTheLowerCaseWordIsThere) {
    const Files inputs = {{"a.bin", "\x01"}, {"b.bin", "\x02"}};
    const Outcome upper = run_velk(velk_merge, {"-TXT", "a.bin"}, inputs);
    EXPECT_EQ(upper.out, txt_settings("a.bin", 0, 0, 8) + "text file name:a_qz.txt\r\n");
    EXPECT_EQ(upper.files.at("a_qz.txt"), "01 ");

    const Outcome both = run_velk(velk_merge, {"-TXT", "a.bin", "-txt", "b.bin"}, inputs);
    EXPECT_EQ(both.out, txt_settings("b.bin", 0, 0, 8) + "text file name:b_qz.txt\r\n");
    EXPECT_EQ(both.files.count("a_qz.txt"), 0u);
    EXPECT_EQ(both.files.at("b_qz.txt"), "02 ");
}

TEST(TxtDump, MissingInputIsReportedAndNothingIsWritten) {
    const struct {
        std::vector<std::string> args;
        std::string bin;
    } cases[] = {
        {{"-txt", "missing.bin"}, "missing.bin"},
        {{"-txt"}, "(null)"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_velk(velk_merge, c.args);
        EXPECT_EQ(r.out, txt_settings(c.bin, 0, 0, 8) + c.bin + " file can not be opened\r\n");
        EXPECT_TRUE(r.files.empty());
        EXPECT_EQ(r.status, 0);
    }
}

TEST(TxtDump, OutputThatIsTheInputIsRefusedBeforeItIsOpened) {
    const Bytes input = counting(40);
    for (const char* output : {"a.bin", "./a.bin", "sub/../a.bin", "link.bin"}) {
        Sandbox box(Files{{"a.bin", input}});
        box.mkdir("sub");
        std::filesystem::create_hard_link(box.path() + "/a.bin", box.path() + "/link.bin");
        const Outcome r = box.run(velk_merge, {"-txt", "a.bin", output});
        EXPECT_EQ(r.out, txt_settings("a.bin", 0, 0, 8) + "text file name:" + output + "\r\n" +
                             refused(output));
        EXPECT_EQ(r.files, (Files{{"a.bin", input}, {"link.bin", input}, {"sub/", ""}}))
            << output;
    }
}

TEST(TxtDump, OutputThatCannotBeCreatedIsReported) {
    Sandbox box(Files{{"a.bin", "\x01"}});
    box.mkdir("out");
    const Outcome r = box.run(velk_merge, {"-txt", "a.bin", "out"});
    EXPECT_EQ(r.out, txt_settings("a.bin", 0, 0, 8) +
                         "text file name:out\r\nout file can not be created\r\n");
    EXPECT_EQ(r.files, (Files{{"a.bin", "\x01"}, {"out/", ""}}));
}

TEST(TxtDump, InputWithoutAStemGetsNoOutputName) {
    const Outcome r = run_velk(velk_merge, {"-txt", "."});
    EXPECT_EQ(r.out, txt_settings(".", 0, 0, 8) +
                         ".: no file name stem to derive an output name from\r\n"
                         "text file name:(null)\r\n(null) file can not be created\r\n");
    EXPECT_TRUE(r.files.empty());
}

TEST(TxtDump, WriteFailureIsReportedAndThePartialDumpStays) {
    const Bytes input = noise(30000, 3);
    const Bytes full = dump(input, {});
    ASSERT_GT(full.size(), 65536u);  // more than one block of output
    const std::string settings = txt_settings("a.bin", 0, 0, 8) + "text file name:a_qz.txt\r\n";
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{65536 + 7},
                                    full.size() - 1, full.size()}) {
        Sandbox box(Files{{"a.bin", input}});
        const Outcome r = box.run(velk_merge, {"-txt", "a.bin"}, Limits{.file_size = limit});
        const bool fits = limit == full.size();
        EXPECT_EQ(r.out, settings + (fits ? "" : "a_qz.txt file can not be written\r\n")) << limit;
        EXPECT_EQ(r.files.at("a_qz.txt"), full.substr(0, limit)) << limit;
        EXPECT_EQ(r.files.at("a.bin"), input);
        EXPECT_EQ(r.status, 0);
    }
}

TEST(TxtDump, FullDeviceIsReported) {
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "/dev/full"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, txt_settings("a.bin", 0, 0, 8) +
                         "text file name:/dev/full\r\n/dev/full file can not be written\r\n");
}

TEST(TxtDump, InputThatIsADirectoryFailsToRead) {
    Sandbox box;
    box.mkdir("d.bin");
    const Outcome r = box.run(velk_merge, {"-txt", "d.bin"});
    // Where a directory cannot even be opened, the open failure is the report.
    const std::string settings = txt_settings("d.bin", 0, 0, 8);
    if (r.out == settings + "d.bin file can not be opened\r\n") GTEST_SKIP();
    EXPECT_EQ(r.out, settings + "text file name:d_qz.txt\r\nd.bin file can not be read\r\n");
    EXPECT_EQ(r.files, (Files{{"d.bin/", ""}, {"d_qz.txt", ""}}));
}

}  // namespace
}  // namespace velk::test
