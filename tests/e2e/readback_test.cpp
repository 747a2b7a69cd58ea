// velk info, verify and unpack, and --verify of the build commands, run
// as a user runs them: images made by velk, damaged here one way at a
// time, and read back. JSON is parsed by Debian's python3, not by the
// library that wrote it.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "harness.hpp"

namespace velk::test {
namespace {

namespace fs = std::filesystem;

const std::string keys_a = "12345678,9ABCDEF0,0F1E2D3C,01000000";
const std::string keys_b = "12345678,9ABCDEF0,0F1E2D3D,01000000";  // differs in K3

// Evaluates the Python expression `expression` with `d` bound to the JSON
// document `text`, and returns what it prints (without the line end).
std::string python(const std::string& text, const std::string& expression) {
    std::string pattern = (fs::temp_directory_path() / "velk-json-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    const fs::path dir = pattern;
    std::ofstream(dir / "doc.json", std::ios::binary) << text;
    std::ofstream(dir / "probe.py") << "import json, sys\n"
                                       "d = json.load(open(sys.argv[1]))\n"
                                       "print(" << expression << ")\n";
    const std::string command =
        "/usr/bin/python3 " + (dir / "probe.py").string() + " " + (dir / "doc.json").string() + " 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        while (const std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    fs::remove_all(dir);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void change(const Sandbox& box, const std::string& name, const std::function<void(Bytes&)>& edit) {
    Bytes b = box.read(name);
    edit(b);
    box.write(name, b);
}

std::string ceil_blocks(std::size_t n) { return std::to_string((n + 31) / 32); }

// --- round trips -----------------------------------------------------------------

// crc and single, then unpack, give the input back; verify --against holds
// (with the twin beside the image checked too); info --json says what made
// the image. One sandbox a size, one output a key set and format.
void flash_round_trips(const char* command, bool padded) {
    const std::vector<std::string> key_sets{"00A5A5A5,00A5A5A5,00A5A5A5,00A5A5A5", keys_a};
    for (const std::size_t n : {0u, 1u, 31u, 32u, 33u, 255u, 256u, 5000u}) {
        const Bytes input = noise(n, static_cast<std::uint32_t>(n + 5));
        Sandbox box({{"app.bin", input}});
        std::vector<std::string> info{"info", "--json"};
        if (n == 0 && !padded) info.push_back("--kind=flash-crc");  // nothing to recognise
        std::string expected = "[";
        for (std::size_t k = 0; k < key_sets.size(); ++k) {
            for (const std::string& encoding : {std::string("bin"), std::string("hex"), std::string("srec")}) {
                const std::string image = format("k%zu.%s", k, encoding.c_str());
                const std::string what =
                    std::string(command) + " of " + std::to_string(n) + " bytes to " + image;
                Outcome r = box.run(velk, {command, "app.bin", "-o", image, "--keys", key_sets[k], "--format", encoding});
                ASSERT_EQ(r.status, 0) << what << r.err;

                r = box.run(velk, {"unpack", image, "-o", "back.bin", "--keys", key_sets[k], "--length",
                                   std::to_string(n)});
                EXPECT_EQ(r.status, 0) << what << r.err;
                EXPECT_EQ(box.read("back.bin"), input) << what;

                r = box.run(velk, {"verify", image, "--against", "app.bin", "--keys", key_sets[k]});
                EXPECT_EQ(r.status, 0) << what << r.out << r.err;
                EXPECT_NE(r.out.find(format("twin k%zu.out spells it", k)), std::string::npos)
                    << what << r.out;

                info.push_back(image);
                if (expected.size() > 1) expected += ", ";
                expected += padded ? "('padded-flash-crc', '" : "('flash-crc', '";
                expected += encoding == "hex" ? "intel-hex', " : encoding == "srec" ? "s-record', " : "binary', ";
                expected += ceil_blocks(n);
                expected += ", 0)";
            }
        }
        const Outcome r = box.run(velk, info);
        EXPECT_EQ(r.status, 0) << command << " " << n << r.err;
        EXPECT_EQ(python(r.out, "[(f['kind'], f['encoding'], f['fields']['blocks'], f['fields']['bad_blocks']) "
                                "for f in d['files']]"),
                  expected + "]")
            << command << " " << n;
    }
}

TEST(ReadBack, CrcImagesRoundTripThroughUnpackAndVerify) { flash_round_trips("crc", false); }

TEST(ReadBack, SingleImagesRoundTripThroughUnpackAndVerify) { flash_round_trips("single", true); }

// merge, then verify --against the three inputs; info --json carries the
// version, uids, ROM version and layout.
TEST(ReadBack, MergedImagesHoldTheirInputsAndTheirSettings) {
    struct row {
        std::size_t boot, stack, app;
        std::vector<std::string> layout;  // for both merge and verify
        std::uint64_t stack_at, app_at;
    };
    const row rows[] = {
        {3000, 2000, 1000, {}, 0x1F00, 0x25A80},
        {1, 1, 1, {"--stack-at", "0x400", "--app-at", "0x1000"}, 0x400, 0x1000},
        {0x3F0, 0xBF0, 0, {"--stack-at", "0x400", "--app-at", "0x1000"}, 0x400, 0x1000},
        {100, 300, 5000, {"--stack-at", "0x200", "--app-at", "0x700"}, 0x200, 0x700},
    };
    for (const row& r : rows) {
        for (const std::string& format : {std::string("bin"), std::string("hex")}) {
            const std::string what = std::to_string(r.boot) + "/" + std::to_string(r.stack) + "/" +
                                     std::to_string(r.app) + " " + format;
            Sandbox box({{"boot.bin", noise(r.boot, 1)}, {"stack.bin", noise(r.stack, 2)}, {"app.bin", noise(r.app, 3)}});
            std::vector<std::string> merge{"merge",        "boot.bin",          "stack.bin",   "app.bin",
                                           "--image-version", "0x0A0B",        "--app-uid",   "0x41424344",
                                           "--stack-uid",  "0x01020304",        "--rom-version", "0x1234",
                                           "--format",     format};
            merge.insert(merge.end(), r.layout.begin(), r.layout.end());
            Outcome o = box.run(velk, merge);
            ASSERT_EQ(o.status, 0) << what << o.err;
            const std::string merged = "app_merge." + format;

            std::vector<std::string> verify{"verify", merged, "app_stack.bin", "app_app.bin", "--against",
                                            "boot.bin,stack.bin,app.bin"};
            verify.insert(verify.end(), r.layout.begin(), r.layout.end());
            o = box.run(velk, verify);
            EXPECT_EQ(o.status, 0) << what << o.out << o.err;

            std::vector<std::string> info{"info", "--json", merged, "app_stack.bin", "app_app.bin"};
            info.insert(info.end(), r.layout.begin(), r.layout.end());
            o = box.run(velk, info);
            EXPECT_EQ(o.status, 0) << what << o.err;
            EXPECT_EQ(python(o.out, "[f['kind'] for f in d['files']]"), "['merged', 'oad-stack', 'oad-app']") << what;
            const std::string h = "d['files'][0]['fields']['stack_header']";
            const std::string a = "d['files'][0]['fields']['app_header']";
            EXPECT_EQ(python(o.out, "(" + h + "['version'], " + h + "['uid_hex'], " + h + "['rom_version'], " + a +
                                        "['uid_text'], " + a + "['crc_ok'], " + h + "['crc_ok'])"),
                      "(2571, '0x01020304', 4660, 'DCBA', True, True)")
                << what;
            EXPECT_EQ(python(o.out, "d['files'][0]['fields']['layout']"),
                      "{'stack_at': " + std::to_string(r.stack_at) + ", 'app_at': " + std::to_string(r.app_at) + "}")
                << what;
            // CRCs are numbers and hexadecimal strings.
            EXPECT_EQ(python(o.out, "(type(" + a + "['crc']).__name__, " + a + "['crc_hex'] == '0x%08X' % " + a +
                                        "['crc'])"),
                      "('int', True)");
        }
    }
}

// --- damage, one way at a time ----------------------------------------------------

// The images of one sandbox: app.bin (1000 bytes) as a flash CRC image with
// its twin, as a padded scrambled one, merged with boot and stack, and cut
// into the stack and app OAD images.
Files damage_inputs() {
    return {{"app.bin", noise(1000, 3)}, {"boot.bin", noise(3000, 1)}, {"stack.bin", noise(2000, 2)}};
}

// The inputs and every image velk made of them, made once.
const Files& images() {
    static const Files made = [] {
        Sandbox box(damage_inputs());
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"crc", "app.bin"},
              std::vector<std::string>{"single", "app.bin", "-o", "padded.bin", "--keys", keys_a},
              std::vector<std::string>{"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "7"}}) {
            if (box.run(velk, args).status != 0) throw std::runtime_error("cannot make the images");
        }
        return box.files();
    }();
    return made;
}

TEST(ReadBack, EachDamageIsNamedWhereItIs) {
    constexpr std::size_t s = 0x1EF0;   // stack header
    constexpr std::size_t a = 0x25A70;  // app header
    constexpr std::size_t merged_size = 155376;
    const auto flip = [](std::size_t at) { return [at](Bytes& b) { b[at] = static_cast<char>(b[at] ^ 0x01); }; };
    const auto cut = [](std::size_t n) { return [n](Bytes& b) { b.resize(b.size() - n); }; };
    const auto append = [](Bytes& b) { b.push_back('\xFF'); };
    // Swaps the 34-byte pieces i and j counted from `base`.
    const auto swap_blocks = [](std::size_t i, std::size_t j, std::size_t base = 0) {
        return [i, j, base](Bytes& b) {
            const Bytes first = b.substr(base + i * 34, 34);
            b.replace(base + i * 34, 34, b.substr(base + j * 34, 34));
            b.replace(base + j * 34, 34, first);
        };
    };
    struct row {
        const char* what;
        std::string file;
        std::function<void(Bytes&)> damage;
        std::vector<std::string> extra;  // verify's options besides the file
        std::string names;               // in what verify prints
        bool unpack;                     // a flash CRC image: unpack must refuse it
    };
    const std::vector<std::string> raw{"--against", "app.bin"};
    const std::vector<std::string> raw_keyed{"--against", "app.bin", "--keys", keys_a};
    const std::vector<std::string> parts{"--against", "boot.bin,stack.bin,app.bin"};
    const row rows[] = {
        {"block data", "app_crc.bin", flip(3 * 34 + 5), {}, "block 3 at 0x66: CRC-16 stored", true},
        {"block CRC", "app_crc.bin", flip(5 * 34 + 33), {}, "block 5 at 0xAA: CRC-16 stored", true},
        {"cut by a byte", "app_crc.bin", cut(1), {}, "partial last block at 0x41E: 33 bytes", true},
        {"cut by a block", "app_crc.bin", cut(34), {}, "twin app.out: spells 1088 bytes, the image's blocks are 1054",
         true},
        {"cut by a block, against the raw image", "app_crc.bin", cut(34), raw,
         "app.bin: first difference at offset 0x3E0 (image ended", true},
        {"a byte appended", "app_crc.bin", append, {}, "partial last block at 0x440: 1 byte", true},
        {"two blocks swapped", "app_crc.bin", swap_blocks(1, 2), {}, "twin app.out: spells image offset 0x22 differently",
         true},
        {"two blocks swapped, against the raw image", "app_crc.bin", swap_blocks(1, 2), raw,
         "app.bin: first difference at offset 0x20", true},
        {"scrambled block data", "padded.bin", flip(31 * 34), raw_keyed, "block 31 at 0x41E: CRC-16", true},
        {"padding byte", "padded.bin", flip(1200), raw_keyed, "end padding: byte at 0x4B0 is 0xFE, not 0xFF", true},
        {"padding cut by a byte", "padded.bin", cut(1), raw_keyed,
         "end padding at 0x440: 191 bytes ending a 1279-byte file", true},
        {"padding cut by a block", "padded.bin", cut(34), raw_keyed,
         "end padding at 0x440: 158 bytes ending a 1246-byte file", true},
        {"padded image, a byte appended", "padded.bin", append, raw_keyed,
         "end padding at 0x440: 193 bytes ending a 1281-byte file", true},
        {"padded image, two blocks swapped", "padded.bin", swap_blocks(4, 9), raw_keyed,
         "app.bin: first difference at offset 0x80", true},
        {"stack header crc", "app_merge.bin", flip(s + 2), {}, "stack header at 0x1EF0: crc", false},
        {"stack header version", "app_merge.bin", flip(s + 4), {}, "stack and app headers disagree on version", false},
        {"stack header length_words", "app_merge.bin", flip(s + 6), {},
         "stack header at 0x1EF0: length_words 0x9001 (147460 bytes) invalid", false},
        {"stack header reserved", "app_merge.bin", flip(s + 12), {}, "stack header at 0x1EF0: reserved 0xFEFF invalid",
         false},
        {"stack header rom_version", "app_merge.bin", flip(s + 15), {},
         "stack and app headers disagree on rom_version", false},
        {"app header crc", "app_merge.bin", flip(a + 3), {}, "app header at 0x25A70: crc", false},
        {"app header version", "app_merge.bin", flip(a + 5), {}, "stack and app headers disagree on version", false},
        {"app header length_words", "app_merge.bin", flip(a + 6), {},
         "app header at 0x25A70: length_words 0x0121 (1156 bytes) invalid", false},
        {"app header uid, which the stack header's crc covers", "app_merge.bin", flip(a + 8), {},
         "stack header at 0x1EF0: crc", false},
        {"app header reserved", "app_merge.bin", flip(a + 13), {}, "app header at 0x25A70: reserved 0xFFFE invalid",
         false},
        {"app header rom_version", "app_merge.bin", flip(a + 14), {},
         "stack and app headers disagree on rom_version", false},
        {"fill after the boot", "app_merge.bin", flip(0x1000), parts, "fill after the boot: byte at 0x1000 is 0xFE",
         false},
        {"fill after the stack", "app_merge.bin", flip(0x3000), parts, "fill after the stack: byte at 0x3000 is 0xFE",
         false},
        {"fill after the stack, no inputs", "app_merge.bin", flip(0x3000), {}, "stack header at 0x1EF0: crc", false},
        {"end padding", "app_merge.bin", flip(merged_size - 100), parts, "end padding: byte at 0x25E8C is 0xFE",
         false},
        {"boot data", "app_merge.bin", flip(7), parts, "boot.bin: first difference at offset 0x7", false},
        {"stack data", "app_merge.bin", flip(0x1F00 + 1999), parts, "stack.bin: first difference at offset 0x7CF", false},
        {"app data", "app_merge.bin", flip(0x25A80 + 10), parts, "app.bin: first difference at offset 0xA", false},
        {"merged image cut by a byte", "app_merge.bin", cut(1), {},
         "the image ends 255 bytes past a 256-byte page counted from the stack header", false},
        {"merged image cut by a block", "app_merge.bin", cut(34), {},
         "the image ends 222 bytes past a 256-byte page", false},
        {"merged image, a byte appended", "app_merge.bin", append, parts,
         "end padding at 0x25E68: 137 bytes, the 256-byte rule asks for 136", false},
        {"merged image, two blocks swapped", "app_merge.bin", swap_blocks(2, 5, 0x25A80), {},
         "app header at 0x25A70: crc", false},
        {"stack OAD image's crc", "app_stack.bin", flip(0), {}, "stack header at 0x0: crc", false},
        {"stack OAD image's app header", "app_stack.bin", flip(0x23B80 + 12), {},
         "app header at 0x23B80: reserved 0xFEFF invalid", false},
        {"stack OAD image cut by a byte", "app_stack.bin", cut(1), {}, "stack header at 0x0: length_words", false},
        {"app OAD image's length_words", "app_app.bin", flip(7), {}, "app header at 0x0: length_words 0x0020", false},
        {"app OAD image's data", "app_app.bin", flip(100), {}, "app header at 0x0: crc", false},
    };
    for (const row& r : rows) {
        Sandbox box(images());
        // Undamaged, each file verifies.
        std::vector<std::string> args{"verify", r.file};
        args.insert(args.end(), r.extra.begin(), r.extra.end());
        Outcome o = box.run(velk, args);
        ASSERT_EQ(o.status, 0) << r.what << ", undamaged: " << o.out << o.err;

        change(box, r.file, r.damage);
        o = box.run(velk, args);
        EXPECT_EQ(o.status, 1) << r.what << ": " << o.out << o.err;
        EXPECT_NE(o.out.find(r.names), std::string::npos) << r.what << ": " << o.out;

        if (r.unpack) {
            std::vector<std::string> unpack{"unpack", r.file, "-o", "raw.bin", "--length", "1000"};
            if (r.file == "padded.bin") unpack.insert(unpack.end(), {"--keys", keys_a});
            o = box.run(velk, unpack);
            EXPECT_EQ(o.status, 1) << r.what << ": unpack " << o.err;
            EXPECT_EQ(o.files.count("raw.bin"), 0u) << r.what << ": unpack wrote its output";
        }
    }
}

TEST(ReadBack, KeepsTenBadBlocksThenCounts) {
    Sandbox box({{"app.bin", noise(32 * 60, 4)}});
    ASSERT_EQ(box.run(velk, {"crc", "app.bin", "--no-twin"}).status, 0);
    // Blocks 20 to 44 damaged; the first 16 still tell the kind.
    change(box, "app_crc.bin", [](Bytes& b) {
        for (std::size_t i = 20; i < 45; ++i) b[i * 34] = static_cast<char>(b[i * 34] ^ 0x10);
    });
    const Outcome o = box.run(velk, {"verify", "app_crc.bin"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("block 20 at 0x2A8:"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("block 29 at 0x3DA:"), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("block 30 at"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("... and 15 more block-crc problems (25 in all)"), std::string::npos) << o.out;
    const Outcome j = box.run(velk, {"verify", "--json", "app_crc.bin"});
    EXPECT_EQ(python(j.out, "(len(d['files'][0]['problems']), d['files'][0]['problem_counts'], "
                            "d['files'][0]['fields']['bad_blocks'], d['ok'])"),
              "(10, {'block-crc': 25}, 25, False)");
}

TEST(ReadBack, WrongKeysDifferFromTheFirstByte) {
    Sandbox box({{"app.bin", noise(700, 6)}});
    ASSERT_EQ(box.run(velk, {"single", "app.bin", "--keys", keys_a}).status, 0);
    const Outcome o = box.run(velk, {"verify", "app_crc.bin", "--against", "app.bin", "--keys", keys_b});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("app.bin: first difference at offset 0x0 "), std::string::npos) << o.out;
    const Outcome j = box.run(velk, {"verify", "--json", "app_crc.bin", "--against", "app.bin", "--keys", keys_b});
    EXPECT_EQ(python(j.out, "[(p['check'], p['part'], p['offset']) for p in d['files'][0]['problems']]"),
              "[('data-differs', 'raw', 0)]");
}

// --- texts: the twin and Intel HEX by themselves ------------------------------------

TEST(ReadBack, TwinsAndIntelHexAreReadAsTheImagesTheyHold) {
    Sandbox box({{"app.bin", noise(500, 7)}});
    ASSERT_EQ(box.run(velk, {"crc", "app.bin", "--format", "hex"}).status, 0);
    Outcome o = box.run(velk, {"verify", "app.out", "app_crc.hex", "--against", "app.bin"});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("app.out: text twin of a flash CRC image, 2176 bytes (image 544 bytes): ok"),
              std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("app_crc.hex: Intel HEX of a flash CRC image"), std::string::npos) << o.out;

    change(box, "app.out", [](Bytes& b) { b[4 * 9] = 'G'; });
    const std::size_t second_line = box.read("app_crc.hex").find('\n') + 1;
    change(box, "app_crc.hex", [&](Bytes& b) {
        b[second_line + 9] = b[second_line + 9] == '0' ? '1' : '0';  // a data digit
    });
    o = box.run(velk, {"verify", "app.out", "app_crc.hex"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.out.find("line 10 at 0x24 is 'G"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(format("line 2 at 0x%zX: checksum", second_line)), std::string::npos) << o.out;
}

// --- S-records -----------------------------------------------------------------------

// The last line of an S-record file replaced by `lines`, and the last line.
void before_last_line(const Sandbox& box, const std::string& name, const std::string& lines) {
    change(box, name, [&](Bytes& b) { b.insert(b.rfind("S7"), lines); });
}

TEST(ReadBack, SrecImagesAreReadAsTheImagesTheyHold) {
    Sandbox box(damage_inputs());
    ASSERT_EQ(box.run(velk, {"crc", "app.bin", "--format", "srec", "--no-twin", "--base", "0x10000"}).status, 0);
    ASSERT_EQ(box.run(velk, {"merge", "boot.bin", "stack.bin", "app.bin", "--format", "srec", "--image-version",
                             "7"}).status,
              0);
    Outcome o = box.run(velk, {"verify", "app_merge.srec", "--against", "boot.bin,stack.bin,app.bin"});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_NE(o.out.find("app_merge.srec: S-record of a merged image"), std::string::npos) << o.out;
    o = box.run(velk, {"verify", "app_crc.srec", "--against", "app.bin", "--kind", "srec:flash-crc"});
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    o = box.run(velk, {"info", "app_crc.srec"});
    EXPECT_EQ(o.status, 0) << o.err;
    // 1000 bytes: 32 blocks of 34 bytes, 68 records, a header and a termination record.
    EXPECT_NE(o.out.find("app_crc.srec: S-record of a flash CRC image, 3292 bytes (image 1088 bytes)\n"
                         "  s-records     70 lines, 68 data records, image at 0x00010000, start 0x00010000\n"),
              std::string::npos)
        << o.out;
    o = box.run(velk, {"info", "--json", "app_crc.srec"});
    EXPECT_EQ(python(o.out, "(d['files'][0]['encoding'], d['files'][0]['fields']['srec'])"),
              "('s-record', {'lines': 70, 'data_records': 68, 'base': 65536, 'start': 65536, "
              "'termination_record': True})");

    // Damaged one way at a time: verify fails (1), unpack writes nothing (1).
    const Bytes good = box.read("app_crc.srec");
    const std::size_t second_line = good.find('\n') + 1;
    const std::size_t checksum = good.find('\r', second_line) - 1;
    struct row {
        const char* what;
        std::function<void()> damage;
        const char* check;
        std::string text;
    };
    const row rows[] = {
        {"a checksum digit",
         [&] { change(box, "app_crc.srec", [&](Bytes& b) { b[checksum] = b[checksum] == '0' ? '1' : '0'; }); },
         "srec-checksum", format("line 2 at 0x%zX: checksum", second_line)},
        {"a wrong count", [&] { before_last_line(box, "app_crc.srec", "S5030005F7\r\n"); }, "srec-count",
         format("line 70 at 0x%zX: the count record says 5 data records, 68 came before it", good.rfind("S7"))},
        {"no termination record",
         [&] { change(box, "app_crc.srec", [](Bytes& b) { b.erase(b.rfind("S7")); }); }, "srec-end",
         "no termination record (S7, S8 or S9)"},
    };
    for (const row& r : rows) {
        box.write("app_crc.srec", good);
        r.damage();
        o = box.run(velk, {"verify", "app_crc.srec"});
        EXPECT_EQ(o.status, 1) << r.what << o.out << o.err;
        EXPECT_NE(o.out.find(r.text), std::string::npos) << r.what << o.out;
        o = box.run(velk, {"verify", "--json", "app_crc.srec"});
        EXPECT_EQ(python(o.out, "[p['check'] for p in d['files'][0]['problems']]"),
                  std::string("['") + r.check + "']")
            << r.what;
        o = box.run(velk, {"unpack", "app_crc.srec", "-o", "raw.bin"});
        EXPECT_EQ(o.status, 1) << r.what << o.err;
        EXPECT_EQ(o.files.count("raw.bin"), 0u) << r.what;
    }
}

// velk's records leave out leading 0xFF bytes, so the first record may
// lie past the image's first byte: the image is looked for at the first
// record's 64 KiB page, then at the record itself, and --base gives the
// rest.
TEST(ReadBack, ImagesOffTheirPageAreFoundAtTheirFirstRecord) {
    Files inputs = damage_inputs();
    inputs["erased.bin"] = Bytes(32, '\xFF') + noise(500, 11);
    for (const std::string encoding : {"hex", "srec"}) {
        Sandbox box(inputs);
        const std::string crc = "app_crc." + encoding;
        const std::string merged = "app_merge." + encoding;
        const std::string erased = "erased_crc." + encoding;
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"crc", "app.bin"}, std::vector<std::string>{"crc", "erased.bin"},
              std::vector<std::string>{"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "7"}}) {
            std::vector<std::string> all = args;
            for (const char* more : {"--no-twin", "--format", encoding.c_str(), "--base", "0x08004000"}) {
                if (args[0] != "merge" || std::string(more) != "--no-twin") all.push_back(more);
            }
            ASSERT_EQ(box.run(velk, all).status, 0) << encoding << " " << args[1];
        }
        Outcome o = box.run(velk, {"verify", crc, "--against", "app.bin"});
        EXPECT_EQ(o.status, 0) << encoding << o.out << o.err;
        o = box.run(velk, {"verify", merged, "--against", "boot.bin,stack.bin,app.bin"});
        EXPECT_EQ(o.status, 0) << encoding << o.out << o.err;
        o = box.run(velk, {"info", crc});
        EXPECT_NE(o.out.find(", image at 0x08004000"), std::string::npos) << o.out;
        o = box.run(velk, {"unpack", crc, "-o", "raw.bin", "--length", "1000"});
        EXPECT_EQ(o.status, 0) << encoding << o.err;
        EXPECT_EQ(box.read("raw.bin"), box.read("app.bin")) << encoding;

        // The first record of this one is 32 bytes in: neither base fits.
        o = box.run(velk, {"verify", erased});
        EXPECT_EQ(o.status, 3) << encoding << o.out;
        EXPECT_NE(o.err.find("each read as an image at 0x08000000 and at 0x08004020 (the records leave out "
                             "leading 0xFF bytes, so the image may start elsewhere: --base ADDR gives the "
                             "address of its first byte)"),
                  std::string::npos)
            << o.err;
        o = box.run(velk, {"info", "--json", erased});
        EXPECT_EQ(o.status, 3);
        EXPECT_EQ(python(o.out, "[hex(b) for b in d['files'][0]['bases_tried']]"),
                  "['0x8000000', '0x8004020']");
        o = box.run(velk, {"verify", erased, "--base", "0x08004000", "--against", "erased.bin"});
        EXPECT_EQ(o.status, 0) << encoding << o.out << o.err;
    }
}

// --- --verify: outputs read back before they are put in place --------------------

TEST(ReadBack, VerifiedOutputsAreRenamedIntoPlaceOnlyWhenTheyHold) {
    struct row {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> outputs;
        const char* corrupt_at;
    };
    const row rows[] = {
        {"crc, image data", {"crc", "app.bin"}, {"app_crc.bin", "app.out"}, "40"},
        {"crc, first byte", {"crc", "app.bin", "--no-twin"}, {"app_crc.bin"}, "0"},
        {"crc, Intel HEX", {"crc", "app.bin", "--format", "hex", "--no-twin"}, {"app_crc.hex"}, "20"},
        {"single, padding", {"single", "app.bin", "--keys", keys_a}, {"app_crc.bin", "appbim_crc.out"}, "1200"},
        {"single, Intel HEX", {"single", "app.bin", "--format", "hex"}, {"app_crc.hex", "appbim_crc.out"}, "12"},
        {"crc, S-records", {"crc", "app.bin", "--format", "srec", "--no-twin"}, {"app_crc.srec"}, "30"},
        {"merge, S-records", {"merge", "boot.bin", "stack.bin", "app.bin", "--format", "srec", "--image-version", "3"},
         {"app_merge.srec", "app_stack.bin", "app_app.bin"}, "40"},
        {"merge, boot", {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "3"},
         {"app_merge.bin", "app_stack.bin", "app_app.bin"}, "5"},
        {"merge, byte 1100 of each", {"merge", "boot.bin", "stack.bin", "app.bin", "--image-version", "3"},
         {"app_merge.bin", "app_stack.bin", "app_app.bin"}, "1100"},
    };
    for (const row& r : rows) {
        std::vector<std::string> args = r.args;
        args.push_back("--verify");
        {
            Sandbox box(damage_inputs());
            const Outcome o = box.run(velk, args);
            EXPECT_EQ(o.status, 0) << r.what << o.err;
            for (const std::string& name : r.outputs) EXPECT_EQ(o.files.count(name), 1u) << r.what << " " << name;
        }
        Sandbox box(damage_inputs());
        const Outcome o = box.run(velk, args, {}, {{"VELK_TEST_CORRUPT_OUTPUT", r.corrupt_at}});
        EXPECT_EQ(o.status, 1) << r.what << o.err;
        EXPECT_NE(o.err.find("no output was put in place"), std::string::npos) << r.what << o.err;
        EXPECT_EQ(o.files, damage_inputs()) << r.what;  // nothing left but the inputs
    }
}

TEST(ReadBack, VerifyWillNotReadStandardStreams) {
    Sandbox box(damage_inputs());
    Outcome o = box.run(velk, {"crc", "-", "-o", "x.bin", "--verify"});
    EXPECT_EQ(o.status, 2);
    o = box.run(velk, {"crc", "app.bin", "-o", "-", "--no-twin", "--verify"});
    EXPECT_EQ(o.status, 2);
}

// --- what is not an image ----------------------------------------------------------

TEST(ReadBack, AnythingElseIsUnrecognisedWithWhatWasTried) {
    Sandbox box({{"random.bin", noise(3000, 9)}, {"empty.bin", ""}});
    box.mkdir("dir");
    for (const char* name : {"random.bin", "empty.bin", "dir"}) {
        for (const char* command : {"info", "verify"}) {
            const Outcome o = box.run(velk, {command, name});
            EXPECT_EQ(o.status, 3) << command << " " << name;
            EXPECT_EQ(o.err.rfind(std::string("velk: ") + name + ": ", 0), 0u) << o.err;
            EXPECT_NE(o.err.find("tried"), std::string::npos) << o.err;
        }
    }
    const Outcome random = box.run(velk, {"verify", "random.bin"});
    EXPECT_NE(random.err.find("flash CRC image (0 of the first 16 blocks have a good CRC-16)"), std::string::npos)
        << random.err;
    const Outcome j = box.run(velk, {"info", "--json", "random.bin", "dir"});
    EXPECT_EQ(j.status, 3);
    EXPECT_EQ(python(j.out, "([f['kind'] for f in d['files']], [len(f.get('tried', [])) for f in d['files']], "
                            "d['files'][0]['tried'][-1]['kind'], d['ok'], d['velk_json'])"),
              "([None, None], [7, 0], 'flash-crc', False, 1)");
}

TEST(ReadBack, TheWorstOutcomeOfARunIsItsStatus) {
    Sandbox box(images());
    change(box, "app_app.bin", [](Bytes& b) { b[0] = static_cast<char>(b[0] ^ 1); });
    EXPECT_EQ(box.run(velk, {"verify", "app_crc.bin", "app_merge.bin"}).status, 0);
    EXPECT_EQ(box.run(velk, {"verify", "app_crc.bin", "app_app.bin"}).status, 1);
    EXPECT_EQ(box.run(velk, {"verify", "app_app.bin", "missing.bin"}).status, 3);
    EXPECT_EQ(box.run(velk, {"info", "app_app.bin"}).status, 0);  // info reports, it does not judge
    const Outcome o = box.run(velk, {"info", "app_app.bin"});
    EXPECT_NE(o.out.find("invalid - computed 0x"), std::string::npos) << o.out;
    EXPECT_EQ(box.run(velk, {"verify", "app_crc.bin", "--against", "app.bin,stack.bin"}).status, 2);
    EXPECT_EQ(box.run(velk, {"verify", "app_crc.bin", "--kind", "nonsense"}).status, 2);
    EXPECT_EQ(box.run(velk, {"verify", "app_crc.bin", "--against", "nothere.bin"}).status, 3);
}

TEST(ReadBack, UnpackChecksItsLength) {
    Sandbox box({{"app.bin", noise(100, 10)}});
    ASSERT_EQ(box.run(velk, {"crc", "app.bin"}).status, 0);
    struct row {
        const char* length;
        int status;
    };
    // 100 bytes: 4 blocks, the last one holding 4 bytes and 28 of 0xFF.
    // Cutting into the data, or past it, or dropping a block, is refused.
    for (const row& r : {row{"100", 0}, row{"128", 0}, row{"101", 0}, row{"99", 1}, row{"97", 1}, row{"129", 1},
                         row{"96", 1}, row{"0", 1}}) {
        const Outcome o = box.run(velk, {"unpack", "app_crc.bin", "-o", "out.bin", "--length", r.length});
        EXPECT_EQ(o.status, r.status) << r.length << o.err;
        EXPECT_EQ(o.files.count("out.bin"), r.status == 0 ? 1u : 0u) << r.length;
        std::remove((box.path() + "/out.bin").c_str());
    }
    // Without --length: every block's data, the last one filled with 0xFF.
    const Outcome o = box.run(velk, {"unpack", "app_crc.bin"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(box.read("app_crc_raw.bin"), noise(100, 10) + std::string(28, '\xFF'));
}

}  // namespace
}  // namespace velk::test
