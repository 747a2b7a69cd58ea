// velk's own C files end to end: the elements the compatibility programs
// write, the comment that says where the file came from, the header's
// name and guard, and the pair built by the system's C and C++ compilers
// into a program whose other translation unit reads the array.

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

using Args = std::vector<std::string>;

constexpr int ok = 0;
constexpr int usage = 2;

// The elements of a C array file: from the line after the brace that
// opens a line to the line end before the closing one.
std::string elements_of(const std::string& file) {
    const std::size_t open = file.find("\r\n{\r\n");
    const std::size_t close = file.rfind("\r\n};\r\n");
    if (open == std::string::npos || close == std::string::npos || close < open) return "(no elements)";
    return file.substr(open + 5, close - open - 5);
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

// "velk 0.3.0", as the program reports itself.
std::string velk_version() {
    const Outcome r = run_velk(velk, {"--version"});
    return r.out.substr(0, r.out.find('\n'));
}

// ---- The elements are the compatibility program's ----

TEST(VelkCFile, ElementsAreTheCompatibilityElements) {
    // 600001 bytes: several of the pieces large files are converted in.
    for (const std::size_t size : {1u, 33u, 4101u, 600001u}) {
        const Files in = {{"a.bin", noise(size, static_cast<std::uint32_t>(size + 1))}};
        for (const char* bits : {"8", "16", "32"}) {
            const std::string label = std::to_string(size) + " bytes, " + bits + " bits";
            const Outcome old = run_velk(velk_merge, {"-c", "a.bin", "-t", bits, "-l", "5"}, in);
            const Outcome now = run_velk(velk, {"c", "a.bin", "--bits", bits, "--per-line", "5"}, in);
            ASSERT_EQ(now.status, ok) << label << ": " << now.err;
            ASSERT_TRUE(old.files.count("a_qz.c") && now.files.count("a_qz.c")) << label;
            // Not EXPECT_EQ: a diff of megabytes of text takes minutes.
            const std::string elements = elements_of(now.files.at("a_qz.c"));
            EXPECT_TRUE(elements == elements_of(old.files.at("a_qz.c"))) << label << '\n' << elements.substr(0, 300);
            EXPECT_NE(elements.find("0x"), std::string::npos) << label;
            EXPECT_EQ(now.out, "a_qz.c: " + std::to_string(now.files.at("a_qz.c").size()) + " bytes\n");
        }
    }
}

// ---- The first line: velk, its version, the input ----

TEST(VelkCFile, FirstLineNamesVelkItsVersionAndTheInputByItsFileName) {
    const std::string version = velk_version();
    ASSERT_EQ(version.rfind("velk ", 0), 0u) << version;
    const struct {
        std::string path;     // the input as given
        std::string written;  // its name as the comment spells it
    } cases[] = {
        {"a.bin", "a.bin"},
        {"parts/app image.bin", "app image.bin"},
        // What could end the comment, open another, make a trigraph or
        // splice lines, and bytes that are not printable ASCII.
        {"x*/y", "y"},
        {"fw*.bin", "fw\\x2A.bin"},
        {"a??\\b", "b"},
        {"what??.bin", "what\\x3F\\x3F.bin"},
        {"new\nline\t\x7F\xC3\xA9.bin", "new\\x0Aline\\x09\\x7F\\xC3\\xA9.bin"},
    };
    for (const auto& c : cases) {
        Sandbox box;
        const std::size_t slash = c.path.find('/');
        if (slash != std::string::npos) box.mkdir(c.path.substr(0, slash));
        box.write(c.path, noise(5, 1));
        const Outcome r = box.run(velk, {"c", c.path, "-o", "fw.c", "--header", "fw.h", "--bits", "8"});
        ASSERT_EQ(r.status, ok) << c.written << ": " << r.err;
        const std::string line = "/* Written by " + version + " from " + c.written + " (5 bytes). */\r\n";
        EXPECT_EQ(first_line(box.read("fw.c")), line);
        EXPECT_EQ(first_line(box.read("fw.h")), line);
        // The comment ends where it should: the pair compiles.
        if (shell("command -v cc >/dev/null")) {
            EXPECT_TRUE(shell("cd '" + box.path() + "' && cc -std=c99 -Wall -Wextra -pedantic -Werror -c fw.c 2>&1"))
                << c.written;
        }
    }
    // Standard input has no name of its own.
    Sandbox box;
    const Outcome r = box.run(velk, {"c", "-", "-o", "fw.c"}, {}, {}, noise(3, 1));
    ASSERT_EQ(r.status, ok) << r.err;
    EXPECT_EQ(first_line(box.read("fw.c")), "/* Written by " + version + " from standard input (3 bytes). */\r\n");
}

// ---- The header: how the source names it, its guard ----

TEST(VelkCFile, SourceIncludesItsHeaderByFileNameAndTheGuardComesFromIt) {
    const struct {
        std::string header;   // --header
        std::string include;  // what the source includes
        std::string guard;
    } cases[] = {
        {"fw.h", "fw.h", "FW_H"},
        {"inc/app-image.v2.h", "app-image.v2.h", "APP_IMAGE_V2_H"},
        // A guard must not be a name reserved to the implementation.
        {"_fw__x.h", "_fw__x.h", "FW_X_H"},
        {"2fast.h", "2fast.h", "VELK_2FAST_H"},
        {"eeprom.h", "eeprom.h", "VELK_EEPROM_H"},
        {"sig_table.h", "sig_table.h", "VELK_SIG_TABLE_H"},
        {"e.h", "e.h", "E_H"},
    };
    for (const auto& c : cases) {
        Sandbox box({{"a.bin", noise(7, 2)}});
        box.mkdir("inc");
        const Outcome r = box.run(velk, {"c", "a.bin", "-o", "fw.c", "--header", c.header});
        ASSERT_EQ(r.status, ok) << c.header << ": " << r.err;
        EXPECT_NE(box.read("fw.c").find("\r\n#include \"" + c.include + "\"\r\n"), std::string::npos) << c.header;
        const std::string h = box.read(c.header);
        EXPECT_NE(h.find("\r\n#ifndef " + c.guard + "\r\n#define " + c.guard + "\r\n"), std::string::npos)
            << c.header << '\n' << h;
        EXPECT_EQ(h.substr(h.size() - 10), "\r\n#endif\r\n") << c.header;
    }
}

TEST(VelkCFile, AHeaderTheSourceCannotIncludeIsRefusedBeforeAnythingIsWritten) {
    for (const std::string header : {"a\"b.h", "it's.h", "tab\t.h", "-"}) {
        Sandbox box({{"a.bin", noise(7, 2)}});
        const Outcome r = box.run(velk, {"c", "a.bin", "-o", "fw.c", "--header", header});
        EXPECT_EQ(r.status, usage) << header;
        EXPECT_NE(r.err.find("--header"), std::string::npos) << r.err;
        EXPECT_EQ(box.files().size(), 1u) << header;
    }
}

// ---- The pair through the system's compilers ----

// The compilers CMake found when the tests were configured; empty when
// there was none.
#ifndef VELK_TEST_CC
#define VELK_TEST_CC ""
#endif
#ifndef VELK_TEST_CXX
#define VELK_TEST_CXX ""
#endif
#ifndef VELK_TEST_CLANG
#define VELK_TEST_CLANG ""
#endif

struct Compiler {
    const char* label;
    const char* program;
    const char* flags;
};

// gcc has -Wmissing-variable-declarations from version 14, clang long
// before: used where the compiler knows it.
std::string with_missing_declarations(const std::string& program) {
    const bool known = shell("echo 'static int x;' | '" + program +
                             "' -Werror -Wmissing-variable-declarations -x c -fsyntax-only - 2>/dev/null")
                           .has_value();
    return known ? " -Wmissing-variable-declarations" : "";
}

const Compiler compilers[] = {
    {"c99", VELK_TEST_CC, "-std=c99 -Wall -Wextra -pedantic -Werror"},
    {"clang_everything", VELK_TEST_CLANG, "-std=c99 -Weverything -Werror"},
    {"cplusplus", VELK_TEST_CXX, "-x c++ -Wall -Wextra -Werror"},
    // Only the warnings about code older C++ standards would reject.
    {"clang_cplusplus_everything", VELK_TEST_CLANG, "-x c++ -Weverything -Werror -Wno-c++98-compat"},
};

struct Settings {
    const char* label;
    int bits;
    bool constant;
    bool stdint;
    bool header;
    const char* name;  // --name, or null for the default
};

const Settings settings_table[] = {
    {"bits8", 8, false, false, false, nullptr},
    {"bits16_named", 16, false, false, false, "fw_image"},
    {"bits32_const", 32, true, false, false, nullptr},
    {"bits8_stdint_named", 8, false, true, false, "fw_image"},
    {"bits32_const_stdint_named", 32, true, true, false, "image32"},
    {"bits16_const_stdint_header", 16, true, true, true, "fw_image"},
    {"bits32_stdint_header", 32, false, true, true, nullptr},
    {"bits8_const_header", 8, true, false, true, "fw_image"},
    {"bits16_header", 16, false, false, true, nullptr},
};

Args velk_args(const Settings& s) {
    Args args = {"c", "a.bin", "-o", "fw.c", "--bits", std::to_string(s.bits), "--per-line", "7"};
    if (s.constant) args.push_back("--const");
    if (s.stdint) args.push_back("--stdint");
    if (s.header) args.insert(args.end(), {"--header", "fw.h"});
    if (s.name) args.insert(args.end(), {"--name", s.name});
    return args;
}

// The element type, from the definition of the options.
std::string element_type(const Settings& s) {
    if (s.stdint) return "uint" + std::to_string(s.bits) + "_t";
    return s.bits == 8 ? "unsigned char" : s.bits == 16 ? "unsigned short" : "unsigned int";
}

// The other translation unit: the array (and its length, when velk writes
// one) as a user declares it or takes it from the header, every input
// byte compared little-endian with the image's, and the padding of the
// last element zero.
std::string user_unit(const Settings& s, const Bytes& input) {
    const std::string name = s.name ? s.name : "bin2array";
    const bool length = s.name || s.header;
    const std::size_t width = static_cast<std::size_t>(s.bits / 8);
    const std::size_t count = (input.size() + width - 1) / width;
    const std::string qualifier = s.constant ? "const " : "";
    std::string unit;
    if (s.header) {
        unit += "#include \"fw.h\"\n";
    } else {
        if (s.stdint) unit += "#include <stdint.h>\n";
        unit += "#ifdef __cplusplus\nextern \"C\" {\n#endif\n";
        unit += "extern " + qualifier + element_type(s) + " " + name + "[" + std::to_string(count) + "];\n";
        if (length) {
            unit += "extern " + qualifier + (s.stdint ? "uint32_t " : "unsigned long ") + name + "_len;\n";
        }
        unit += "#ifdef __cplusplus\n}\n#endif\n";
    }
    unit += "static const unsigned char expected[" + std::to_string(input.size()) + "] = {";
    for (const char byte : input) unit += std::to_string(static_cast<unsigned char>(byte)) + "u, ";
    unit += "};\n";
    unit += "int main(void) {\n"
            "    const unsigned long width = sizeof " + name + "[0];\n"
            "    unsigned long n;\n"
            "    if (width != " + std::to_string(width) + "u) return 1;\n"
            "    if (sizeof " + name + " != " + std::to_string(count) + "u * width) return 2;\n"
            "    for (n = 0; n < sizeof " + name + "; ++n) {\n"
            "        const unsigned long element = " + name + "[n / width];\n"
            "        const unsigned long byte = (element >> (8u * (n % width))) & 0xFFu;\n"
            "        const unsigned long want = n < sizeof expected ? expected[n] : 0u;\n"
            "        if (byte != want) return 3;\n"
            "    }\n";
    if (length) unit += "    if (" + name + "_len != sizeof expected) return 4;\n";
    unit += "    return 0;\n}\n";
    return unit;
}

struct Build {
    Settings settings;
    Compiler compiler;
};

std::ostream& operator<<(std::ostream& os, const Build& b) {
    return os << b.settings.label << " with " << b.compiler.label;
}

class VelkCBuild : public testing::TestWithParam<Build> {};

TEST_P(VelkCBuild, ThePairCompilesLinksAndHoldsTheImage) {
    const Build& b = GetParam();
    if (std::string(b.compiler.program).empty()) GTEST_SKIP() << "no " << b.compiler.label << " compiler found";
    const Bytes input = noise(301, 7);
    Sandbox box({{"a.bin", input}});
    const Outcome r = box.run(velk, velk_args(b.settings));
    ASSERT_EQ(r.status, ok) << r.err;
    box.write("main.c", user_unit(b.settings, input));
    std::string flags = b.compiler.flags;
    if (std::string(b.compiler.label) != "cplusplus") flags += with_missing_declarations(b.compiler.program);
    const std::string build = "cd '" + box.path() + "' && '" + b.compiler.program + "' " + flags +
                              " fw.c main.c -o check 2>&1 && ./check";
    const auto built = shell(build);
    EXPECT_TRUE(built) << build << '\n'
                       << (b.settings.header ? box.read("fw.h") : "") << box.read("fw.c").substr(0, 600);
}

std::vector<Build> builds() {
    std::vector<Build> all;
    for (const Settings& s : settings_table) {
        for (const Compiler& c : compilers) all.push_back({s, c});
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Velk, VelkCBuild, testing::ValuesIn(builds()), [](const auto& test) {
    return std::string(test.param.settings.label) + "_" + test.param.compiler.label;
});

}  // namespace
}  // namespace velk::test
