// The -c command end to end: the C file's bytes, what a C compiler makes
// of it, the console lines, and the failures it must report.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "export_support.hpp"
#include "harness.hpp"

namespace velk::test {
namespace {

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
    const std::size_t sizes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 33, 129};
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

TEST(CArray, ConsoleShowsTheOutputNameTwice) {
    const Outcome derived = run_velk(velk_merge, {"-c", "a.bin"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(derived.out, c_settings("a.bin", "(null)", 32) + "c file name:a_qz.c\r\n");

    const Outcome given = run_velk(velk_merge, {"-c", "a.bin", "arr.c"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(given.out, c_settings("a.bin", "arr.c", 32) + "c file name:arr.c\r\n");
    EXPECT_EQ(given.files, (Files{{"a.bin", "\x01"},
                                  {"arr.c", c_file("arr.c",
                                                   "unsigned int bin2array[1] =     //binary "
                                                   "file size:1 Bytes",
                                                   "    0x00000001")}}));
}

TEST(CArray, BadTypeIsAnnouncedAndFallsBackToThirtyTwoBits) {
    const Outcome r = run_velk(velk_merge, {"-c", "a.bin", "-t", "7"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, bad_type + c_settings("a.bin", "(null)", 32) + "c file name:a_qz.c\r\n");
    EXPECT_NE(r.files.at("a_qz.c").find("unsigned int bin2array[1]"), std::string::npos);
}

TEST(CArray, UpperCaseWordLocatesTheInputUnlessTheLowerCaseWordIsThere) {
    const Files inputs = {{"a.bin", "\x01"}, {"b.bin", "\x02"}};
    const Outcome upper = run_velk(velk_merge, {"-C", "a.bin"}, inputs);
    EXPECT_EQ(upper.out, c_settings("a.bin", "(null)", 32) + "c file name:a_qz.c\r\n");
    EXPECT_EQ(upper.files.count("a_qz.c"), 1u);

    const Outcome both = run_velk(velk_merge, {"-C", "a.bin", "-c", "b.bin"}, inputs);
    EXPECT_EQ(both.out, c_settings("b.bin", "(null)", 32) + "c file name:b_qz.c\r\n");
    EXPECT_EQ(both.files.count("a_qz.c"), 0u);
    EXPECT_EQ(both.files.count("b_qz.c"), 1u);
}

TEST(CArray, MissingInputIsReportedAndNothingIsWritten) {
    for (const auto& [args, bin] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-c", "missing.bin"}, "missing.bin"}, {{"-c"}, "(null)"}}) {
        const Outcome r = run_velk(velk_merge, args);
        EXPECT_EQ(r.out, c_settings(bin, "(null)", 32) + bin + " file can not be opened\r\n");
        EXPECT_TRUE(r.files.empty());
    }
}

TEST(CArray, OutputThatIsTheInputIsRefusedBeforeItIsOpened) {
    const Bytes input = counting(12);
    for (const char* output : {"a.bin", "./a.bin"}) {
        const Outcome r = run_velk(velk_merge, {"-c", "a.bin", output}, {{"a.bin", input}});
        EXPECT_EQ(r.out, c_settings("a.bin", output, 32) + "c file name:" + output + "\r\n" +
                             refused(output));
        EXPECT_EQ(r.files, (Files{{"a.bin", input}})) << output;
    }
}

TEST(CArray, WriteFailureIsReportedAndThePartialFileStays) {
    const Bytes input = noise(20000, 9);
    const Bytes full = c_array(input, {"-t", "8"});
    ASSERT_GT(full.size(), 65536u);
    const std::string settings = c_settings("a.bin", "(null)", 8) + "c file name:a_qz.c\r\n";
    for (const std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{65536 + 3},
                                    full.size() - 1, full.size()}) {
        Sandbox box(Files{{"a.bin", input}});
        const Outcome r =
            box.run(velk_merge, {"-c", "a.bin", "-t", "8"}, Limits{.file_size = limit});
        const bool fits = limit == full.size();
        EXPECT_EQ(r.out, settings + (fits ? "" : "a_qz.c file can not be written\r\n")) << limit;
        EXPECT_EQ(r.files.at("a_qz.c"), full.substr(0, limit)) << limit;
    }
}

TEST(CArray, FullDeviceIsReported) {
    const Outcome r = run_velk(velk_merge, {"-c", "a.bin", "/dev/full"}, {{"a.bin", "\x01"}});
    EXPECT_EQ(r.out, c_settings("a.bin", "/dev/full", 32) +
                         "c file name:/dev/full\r\n/dev/full file can not be written\r\n");
}

TEST(CArray, InputThatIsADirectoryFailsToRead) {
    Sandbox box;
    box.mkdir("d.bin");
    const Outcome r = box.run(velk_merge, {"-c", "d.bin"});
    const std::string settings = c_settings("d.bin", "(null)", 32);
    if (r.out == settings + "d.bin file can not be opened\r\n") GTEST_SKIP();
    EXPECT_EQ(r.out, settings + "c file name:d_qz.c\r\nd.bin file can not be read\r\n");
    EXPECT_EQ(r.files.count("d_qz.c"), 1u);
}

// Runs a shell command; its standard output, or nothing when it fails.
std::optional<std::string> shell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    return pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
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

}  // namespace
}  // namespace velk::test
