// -txt and -c end to end: the files' bytes, what a C compiler makes of the
// array, the console lines, the failures both must report (one table over
// both formats), and the two commands started together.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

// ---- The text dump ----

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

// ---- The C array ----

// The C file around a declaration line (without its line end) and a body
// (the element lines, first indent included, without the final line end).
Bytes c_file(const std::string& name, const std::string& declaration, const std::string& body) {
    return "\r\n//" + name + ", the following array is genearted by the tool: velkmill.exe\r\n" +
           "\r\n\r\n" + declaration + "\r\n{\r\n" + body + "\r\n};\r\n\r\n//eof\r\n\r\n";
}

// The C file made from `input` (saved as a.bin) with the options after "-c a.bin".
Bytes c_array(const Bytes& input, const std::vector<std::string>& options) {
    std::vector<std::string> args = {"-c", "a.bin"};
    args.insert(args.end(), options.begin(), options.end());
    const Outcome r = run_velk(velk_single, args, {{"a.bin", input}});
    const auto out = r.files.find("a_qz.c");
    return out != r.files.end() ? out->second : "(no C file)";
}

TEST(CArray, ElevenLinesOfTheThreeByteExample) {
    const Outcome r = run_velk(velk_merge, {"-c", "image.bin", "-t", "8"},
                               {{"image.bin", hex("01 02 03")}});
    EXPECT_EQ(r.out, c_settings("image.bin", "(null)", 8) + "c file name:image_qz.c\r\n");
    EXPECT_EQ(r.files.at("image_qz.c"),
              "\r\n"
              "//image_qz.c, the following array is genearted by the tool: velkmill.exe\r\n"
              "\r\n"
              "\r\n"
              "unsigned char bin2array[3] = \r\n"
              "{\r\n"
              "    0x01, 0x02, 0x03\r\n"
              "};\r\n"
              "\r\n"
              "//eof\r\n"
              "\r\n");
    EXPECT_EQ(r.status, 0);
}

TEST(CArray, FilesByteForByte) {
    const std::string size_3 = "     //binary file size:3 Bytes";
    const struct {
        Bytes input;
        std::vector<std::string> options;
        std::string declaration;
        std::string body;
    } cases[] = {
        {hex("01 02 03"), {"-t", "16"}, "unsigned short bin2array[2] =" + size_3,
         "    0x0201, 0x0003"},
        {hex("01 02 03 04 05"), {"-t", "32"},
         "unsigned int bin2array[2] =     //binary file size:5 Bytes",
         "    0x04030201, 0x00000005"},
        // 32 bits is the default element type.
        {hex("01 02 03"), {}, "unsigned int bin2array[1] =" + size_3, "    0x00030201"},
        {counting(16), {"-t", "8"}, "unsigned char bin2array[16] = ",
         "    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, "
         "0x0D, 0x0E, 0x0F"},
        {counting(18), {"-t", "8"}, "unsigned char bin2array[18] = ",
         "    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, "
         "0x0D, 0x0E, 0x0F, \r\n    0x10, 0x11"},
        {counting(8), {"-t", "16", "-l", "2"},
         "unsigned short bin2array[4] =     //binary file size:8 Bytes",
         "    0x0100, 0x0302, \r\n    0x0504, 0x0706"},
        {hex("01 02 03"), {"-t", "8", "-l", "0"}, "unsigned char bin2array[3] = ",
         "    0x01, \r\n    0x02, \r\n    0x03"},
        {hex("FF FF FF FF ab"), {"-l", "-1"},
         "unsigned int bin2array[2] =     //binary file size:5 Bytes",
         "    0xFFFFFFFF, 0x000000AB"},
        {"", {"-t", "8"}, "unsigned char bin2array[0] = ", "    "},
        {"", {}, "unsigned int bin2array[0] =     //binary file size:0 Bytes", "    "},
        // Base detection of "-t", and value options given as the last token.
        {hex("01 02"), {"-t", "0x10"},
         "unsigned short bin2array[1] =     //binary file size:2 Bytes", "    0x0201"},
        {hex("01 02"), {"-t", "020"},
         "unsigned short bin2array[1] =     //binary file size:2 Bytes", "    0x0201"},
        {hex("01 02"), {"-t"}, "unsigned int bin2array[1] =     //binary file size:2 Bytes",
         "    0x00000201"},
        {counting(17), {"-t", "8", "-l"}, "unsigned char bin2array[17] = ",
         "    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, "
         "0x0D, 0x0E, 0x0F, \r\n    0x10"},
    };
    for (const auto& c : cases) {
        std::string label;
        for (const std::string& o : c.options) label += o + " ";
        EXPECT_EQ(c_array(c.input, c.options), c_file("a_qz.c", c.declaration, c.body))
            << c.input.size() << " bytes, " << label;
    }
}

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(CArray, CountSizeCommentAndLastSeparatorForEverySize) {
    const struct {
        const char* type;
        std::size_t bytes;
        std::string word;
    } types[] = {
        {"8", 1, "unsigned char"}, {"16", 2, "unsigned short"}, {"32", 4, "unsigned int"}};
    // Besides the small sizes, the last element on either side of where
    // the input is taken in blocks of 4096 cells (4, 8 and 16 KiB).
    const std::size_t sizes[] = {0,    1,    2,    3,    4,    5,     6,     7,     8,    9,
                                 31,   32,   33,   129,  4095, 4096,  4097,  8191,  8192, 8193,
                                 8194, 8195, 16383, 16384, 16385, 16386, 16387, 16388};
    for (const auto& t : types) {
        for (const std::size_t size : sizes) {
            const Bytes file = c_array(noise(size, 5), {"-t", t.type, "-l", "3"});
            const std::size_t count = (size + t.bytes - 1) / t.bytes;
            const std::string label = std::to_string(size) + " bytes, -t " + t.type;

            const std::string comment =
                t.bytes == 1 ? " " : "     //binary file size:" + std::to_string(size) + " Bytes";
            const std::string declaration =
                "\r\n" + t.word + " bin2array[" + std::to_string(count) + "] =" + comment + "\r\n";
            EXPECT_NE(file.find(declaration), std::string::npos) << label;

            const std::size_t open = file.find("{\r\n");
            const std::size_t close = file.rfind("\r\n};\r\n\r\n//eof\r\n\r\n");
            ASSERT_NE(open, std::string::npos) << label;
            ASSERT_NE(close, std::string::npos) << label;
            const std::string body = file.substr(open + 3, close - open - 3);
            EXPECT_EQ(count_of(body, "0x"), count) << label;
            EXPECT_EQ(count_of(body, ", "), count == 0 ? 0 : count - 1) << label;
            EXPECT_EQ(count_of(body, "\r\n    "), count == 0 ? 0 : (count - 1) / 3) << label;
            // The last element ends the body: no separator, no empty line.
            const char last = body.empty() ? '?' : body.back();
            EXPECT_TRUE(count == 0 ? body == "    " : std::isxdigit(last) != 0) << label;
        }
    }
}

TEST(CArray, CompiledArrayHoldsTheInputBytes) {
    // The generated file is included by a small C program that prints the
    // element size and every element; rebuilding the bytes little-endian
    // must give back the input, zero-padded to whole elements.
    const std::string printer =
        "#include <stdio.h>\n"
        "#include \"a_qz.c\"\n"
        "int main(void) {\n"
        "    unsigned long i;\n"
        "    printf(\"%u\\n\", (unsigned)sizeof bin2array[0]);\n"
        "    for (i = 0; i < sizeof bin2array / sizeof bin2array[0]; ++i)\n"
        "        printf(\"%lx\\n\", (unsigned long)bin2array[i]);\n"
        "    return 0;\n"
        "}\n";
    const struct {
        const char* type;
        std::size_t bytes;
    } types[] = {{"8", 1}, {"16", 2}, {"32", 4}};
    for (const auto& t : types) {
        for (const std::size_t size : {1u, 2u, 3u, 5u, 1001u}) {
            const std::string label = std::to_string(size) + " bytes, -t " + t.type;
            const Bytes input = noise(size, static_cast<std::uint32_t>(size));
            Sandbox box(Files{{"a.bin", input}, {"main.c", printer}});
            box.run(velk_merge, {"-c", "a.bin", "-t", t.type, "-l", "7"});
            const std::string dir = "'" + box.path() + "'";
            const auto built = shell("cc -std=c99 -Wall -Wextra -pedantic -Werror -o " + dir +
                                     "/print " + dir + "/main.c 2>&1");
            ASSERT_TRUE(built) << label << ": the generated file does not compile";
            const auto printed = shell(dir + "/print");
            ASSERT_TRUE(printed) << label;

            std::istringstream lines(*printed);
            std::size_t element_size = 0;
            lines >> element_size;
            EXPECT_EQ(element_size, t.bytes) << label;
            Bytes bytes;
            for (unsigned long value; lines >> std::hex >> value;) {
                for (std::size_t k = 0; k < t.bytes; ++k) {
                    bytes.push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
                }
            }
            Bytes expected = input;
            expected.resize((size + t.bytes - 1) / t.bytes * t.bytes, '\0');
            EXPECT_EQ(bytes, expected) << label;
        }
    }
}

// ---- What both formats share, one table over both ----

// A format as its command shows it.
struct Format {
    const char* name;    // names the instance of each shared test
    const char* word;    // the command word
    const char* upper;   // and its upper-case form
    const char* suffix;  // of the derived output name
    int default_bits;
    const char* name_line;  // before the output name on the console
    std::string program;    // the program the shared tests run
    // The settings lines for input `bin`, a given output name (empty: none)
    // and a cell width.
    std::string (*settings)(const std::string& bin, const std::string& given, int bits);
    // The output made from the one byte 01 with default options.
    Bytes (*one_byte)(const std::string& output_name);

    std::string derived(const std::string& stem = "a") const { return stem + suffix; }
    // Everything printed up to the name of the output.
    std::string lines(const std::string& bin, const std::string& given, int bits,
                      const std::string& output) const {
        return settings(bin, given, bits) + name_line + output + "\r\n";
    }
    std::string lines(const std::string& output, const std::string& given = "") const {
        return lines("a.bin", given, default_bits, output);
    }
};

const Format txt_command{
    "txt", "-txt", "-TXT", "_qz.txt", 8, "text file name:", velk_merge,
    [](const std::string& bin, const std::string&, int bits) { return txt_settings(bin, 0, 0, bits); },
    [](const std::string&) -> Bytes { return "01 "; }};

const Format c_command{
    "c", "-c", "-C", "_qz.c", 32, "c file name:", velk_single,
    [](const std::string& bin, const std::string& given, int bits) {
        return c_settings(bin, given.empty() ? "(null)" : given, bits);
    },
    [](const std::string& name) {
        return c_file(name, "unsigned int bin2array[1] =     //binary file size:1 Bytes",
                      "    0x00000001");
    }};

void PrintTo(const Format& f, std::ostream* os) { *os << f.name; }

class ExportCommand : public ::testing::TestWithParam<Format> {};

TEST_P(ExportCommand, ConsoleShowsTheSettingsThenTheDerivedName) {
    const Format& f = GetParam();
    for (const char* program : {velk_merge, velk_single}) {
        const Outcome r = run_velk(program, {f.word, "a.bin"}, {{"a.bin", "\x01"}});
        EXPECT_EQ(r.out, f.lines(f.derived())) << program;
        EXPECT_EQ(r.files, (Files{{"a.bin", "\x01"}, {f.derived(), f.one_byte(f.derived())}}));
        EXPECT_EQ(r.status, 0);
    }
}

TEST_P(ExportCommand, GivenOutputNameIsUsedAsIs) {
    const Format& f = GetParam();
    const Outcome r = run_velk(f.program, {f.word, "a.bin", "out.dump"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, f.lines("out.dump", "out.dump"));
    EXPECT_EQ(r.files, (Files{{"a.bin", "\x01"}, {"out.dump", f.one_byte("out.dump")}}));
}

TEST_P(ExportCommand, AnExistingOutputIsReplaced) {
    const Format& f = GetParam();
    Sandbox box(Files{{"a.bin", "\x01"}, {f.derived(), "old contents, longer than the new " + Bytes(200, 'x')}});
    box.run(f.program, {f.word, "a.bin"});
    EXPECT_EQ(box.read(f.derived()), f.one_byte(f.derived()));
}

TEST_P(ExportCommand, BadTypeIsAnnouncedAndFallsBackToTheDefault) {
    const Format& f = GetParam();
    for (const char* type : {"12", "0", "7", "64", "x"}) {
        const Outcome r = run_velk(f.program, {f.word, "a.bin", "-t", type}, {{"a.bin", "\x01"}});
        EXPECT_EQ(r.out, bad_type + f.lines(f.derived())) << type;
        EXPECT_EQ(r.files.at(f.derived()), f.one_byte(f.derived())) << type;
    }
}

TEST_P(ExportCommand, UpperCaseWordLocatesTheInputUnlessTheLowerCaseWordIsThere) {
    const Format& f = GetParam();
    const Files inputs = {{"a.bin", "\x01"}, {"b.bin", "\x02"}};
    const Outcome upper = run_velk(f.program, {f.upper, "a.bin"}, inputs);
    EXPECT_EQ(upper.out, f.lines(f.derived()));
    EXPECT_EQ(upper.files.at(f.derived()), f.one_byte(f.derived()));

    const Outcome both = run_velk(f.program, {f.upper, "a.bin", f.word, "b.bin"}, inputs);
    EXPECT_EQ(both.out, f.lines("b.bin", "", f.default_bits, f.derived("b")));
    EXPECT_EQ(both.files.count(f.derived()), 0u);
    EXPECT_EQ(both.files.count(f.derived("b")), 1u);
}

TEST_P(ExportCommand, MissingInputIsReportedAndNothingIsWritten) {
    const Format& f = GetParam();
    const struct {
        std::vector<std::string> args;
        std::string bin;
    } cases[] = {
        {{f.word, "missing.bin"}, "missing.bin"},
        {{f.word}, "(null)"},
    };
    for (const auto& c : cases) {
        const Outcome r = run_velk(f.program, c.args);
        EXPECT_EQ(r.out, f.settings(c.bin, "", f.default_bits) + c.bin +
                             " file can not be opened\r\n");
        EXPECT_TRUE(r.files.empty());
        EXPECT_EQ(r.status, 0);
    }
}

TEST_P(ExportCommand, OutputThatIsTheInputIsRefusedBeforeItIsOpened) {
    const Format& f = GetParam();
    const Bytes input = counting(40);
    for (const char* output : {"a.bin", "./a.bin", "sub/../a.bin", "link.bin"}) {
        Sandbox box(Files{{"a.bin", input}});
        box.mkdir("sub");
        std::filesystem::create_hard_link(box.path() + "/a.bin", box.path() + "/link.bin");
        const Outcome r = box.run(f.program, {f.word, "a.bin", output});
        EXPECT_EQ(r.out, f.lines(output, output) + refused(output));
        EXPECT_EQ(r.files, (Files{{"a.bin", input}, {"link.bin", input}, {"sub/", ""}}))
            << output;
    }
}

TEST_P(ExportCommand, OutputThatCannotBeCreatedIsReported) {
    const Format& f = GetParam();
    Sandbox box(Files{{"a.bin", "\x01"}});
    box.mkdir("out");
    const Outcome r = box.run(f.program, {f.word, "a.bin", "out"});
    EXPECT_EQ(r.out, f.lines("out", "out") + "out file can not be created\r\n");
    EXPECT_EQ(r.files, (Files{{"a.bin", "\x01"}, {"out/", ""}}));
}

TEST_P(ExportCommand, InputWithoutAStemGetsNoOutputName) {
    const Format& f = GetParam();
    // A regular file whose name is all dots ("." would be a directory).
    const Outcome r = run_velk(f.program, {f.word, "..."}, {{"...", "\x01"}});
    EXPECT_EQ(r.out, f.settings("...", "", f.default_bits) +
                         "...: no file name stem to derive an output name from\r\n" + f.name_line +
                         "(null)\r\n(null) file can not be created\r\n");
    EXPECT_EQ(r.files, (Files{{"...", "\x01"}}));
}

TEST_P(ExportCommand, WriteFailureIsReportedAndThePartialFileStays) {
    const Format& f = GetParam();
    const Bytes input = noise(30000, 3);
    const Bytes full = run_velk(f.program, {f.word, "a.bin"}, {{"a.bin", input}}).files.at(f.derived());
    ASSERT_GT(full.size(), 65536u);  // more than one block of output
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{65536 + 7},
                                    full.size() - 1, full.size()}) {
        Sandbox box(Files{{"a.bin", input}});
        const Outcome r = box.run(f.program, {f.word, "a.bin"}, Limits{.file_size = limit});
        const bool fits = limit == full.size();
        EXPECT_EQ(r.out, f.lines(f.derived()) +
                             (fits ? "" : f.derived() + " file can not be written\r\n"))
            << limit;
        EXPECT_EQ(r.files.at(f.derived()), full.substr(0, limit)) << limit;
        EXPECT_EQ(r.files.at("a.bin"), input);
        EXPECT_EQ(r.status, 0);
    }
}

TEST_P(ExportCommand, FullDeviceIsReported) {
    const Format& f = GetParam();
    const Outcome r = run_velk(f.program, {f.word, "a.bin", "/dev/full"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, f.lines("/dev/full", "/dev/full") + "/dev/full file can not be written\r\n");
}

// A directory opens, and fails only once read: by then the output, given
// or derived, was created or truncated. It is refused before that.
TEST_P(ExportCommand, InputThatIsADirectoryIsRefusedBeforeTheOutputIsTouched) {
    const Format& f = GetParam();
    const Bytes earlier = "an earlier run's output";
    const struct {
        std::string input;
        std::string given;  // the output name given, if any
    } cases[] = {
        {"d.bin", ""},
        {"d.bin", "v1.2.bin"},
        {".", "v1.2.bin"},
        {"up/", "v1.2.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " " + c.given);
        Sandbox box(Files{{f.derived("d"), earlier}, {"v1.2.bin", earlier}, {"up/fw.bin", "\x01"}});
        box.mkdir("d.bin");
        const Files before = box.files();
        std::vector<std::string> args = {f.word, c.input};
        if (!c.given.empty()) args.push_back(c.given);
        const Outcome r = box.run(f.program, args);
        EXPECT_EQ(r.out, f.settings(c.input, c.given, f.default_bits) + c.input +
                             " is a directory\r\n");
        EXPECT_EQ(r.files, before);
        EXPECT_EQ(r.status, 0);
    }
}

// The dump needs no length, so it reads a FIFO to its end as it reads a
// file; the C array, whose size comes first, refuses one (see the fault
// table).
TEST(TextDump, ReadsAFifoToItsEnd) {
    const Bytes fed = counting(75);
    Sandbox box;
    box.fifo("p.bin");
    const Feeder feeder(box.path() + "/p.bin", fed);
    const Outcome r = box.run(velk_merge, {"-txt", "p.bin", "-l", "0"});
    EXPECT_EQ(r.out, txt_settings("p.bin", 0, 0, 8) + "text file name:p_qz.txt\r\n");
    Bytes dump;
    for (char byte : fed) dump += format("%02X \r\n", static_cast<unsigned char>(byte));
    EXPECT_EQ(r.files, (Files{{"p.bin|", ""}, {"p_qz.txt", dump}}));
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportCommand, ::testing::Values(txt_command, c_command),
                         [](const ::testing::TestParamInfo<Format>& f) { return f.param.name; });

// ---- Both commands in one run ----

TEST(ExportDispatch, CommaFlagOfTheDumpAlsoStartsTheCArrayCommand) {
    // "-c" is the dump's comma flag and the C array word: the C array
    // command then takes "-p" as its input and cannot open it.
    const Bytes input = counting(20);
    const Outcome r =
        run_velk(velk_merge, {"-txt", "image.bin", "-c", "-p"}, {{"image.bin", input}});
    EXPECT_EQ(r.out, txt_settings("image.bin", 1, 1, 8) + "text file name:image_qz.txt\r\n" +
                         c_settings("-p", "(null)", 32) + "-p file can not be opened\r\n");
    EXPECT_EQ(r.files,
              (Files{{"image.bin", input},
                     {"image_qz.txt",
                      "0x00,0x01,0x02,0x03,0x04,0x05,0x06,0x07,0x08,0x09,0x0A,0x0B,0x0C,0x0D,0x0E,"
                      "0x0F,\r\n0x10,0x11,0x12,0x13,"}}));
    EXPECT_EQ(r.status, 0);
}

TEST(ExportDispatch, TheDumpRunsBeforeTheCArrayAndEachRunsOnce) {
    const Files inputs = {{"x.bin", "\x01"}, {"y.bin", "\x02"}};
    // The C array's output name slot holds "-txt", which begins with "-",
    // so both names are derived.
    const std::string expected = txt_settings("y.bin", 1, 0, 8) + "text file name:y_qz.txt\r\n" +
                                 c_settings("x.bin", "(null)", 32) + "c file name:x_qz.c\r\n";
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"-c", "x.bin", "-txt", "y.bin"},
             std::vector<std::string>{"-c", "x.bin", "-txt", "y.bin", "-c", "-txt", "-c"},
         }) {
        const Outcome r = run_velk(velk_single, args, inputs);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.files.at("y_qz.txt"), "02,");
        EXPECT_EQ(r.files.count("x_qz.c"), 1u);
        EXPECT_EQ(r.files.size(), 4u);
    }
}

TEST(ExportDispatch, DumpThenHelpWhenAHelpWordFollowsTheInput) {
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "-h"}, {{"a.bin", "\x7F"}});
    const std::string dump_lines = txt_settings("a.bin", 0, 0, 8) + "text file name:a_qz.txt\r\n";
    ASSERT_GT(r.out.size(), dump_lines.size());
    EXPECT_EQ(r.out.substr(0, dump_lines.size()), dump_lines);
    EXPECT_EQ(r.out.substr(dump_lines.size(), 34), "velk - binary file convert tool.\r\n");
    EXPECT_EQ(r.files.at("a_qz.txt"), "7F ");
}

TEST(ExportDispatch, BothCommandsWithDerivedNamesInOneRun) {
    // "-c" is last, so the C array command has no input; the dump still
    // derives and frees its own name.
    const Outcome r = run_velk(velk_merge, {"-txt", "a.bin", "-c"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, txt_settings("a.bin", 1, 0, 8) + "text file name:a_qz.txt\r\n" +
                         c_settings("(null)", "(null)", 32) + "(null) file can not be opened\r\n");
    EXPECT_EQ(r.files.at("a_qz.txt"), "01,");

    const Outcome both = run_velk(velk_merge, {"-txt", "a.bin", "-c", "b.bin"},
                                  {{"a.bin", "\x01"}, {"b.bin", "\x02"}});
    EXPECT_EQ(both.files.at("a_qz.txt"), "01,");
    EXPECT_EQ(both.files.count("b_qz.c"), 1u);
}

}  // namespace
}  // namespace velk::test
