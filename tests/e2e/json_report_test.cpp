// Runs of info --json and verify --json on images damaged in every way a
// report has words for. What the documents hold is checked by
// json_reports_valid, which holds every document the end-to-end tests see
// to docs/velk-report.schema.json: these runs are here so that each kind,
// encoding, check and part the schema describes is met in a real report,
// not only in the schema's own text.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "harness.hpp"

namespace velk::test {
namespace {

// Every image velk makes of three inputs, made once: a flash CRC image
// with its twin, the same in Intel HEX, a padded one, a merged image and
// its stack and app OAD images.
const Files& images() {
    static const Files made = [] {
        Sandbox box({{"boot.bin", noise(3000, 11)}, {"stack.bin", noise(2000, 12)}, {"app.bin", noise(1000, 13)}});
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"crc", "app.bin"},
              std::vector<std::string>{"crc", "app.bin", "-o", "hexed.hex", "--format", "hex"},
              std::vector<std::string>{"single", "app.bin", "-o", "padded.bin"},
              std::vector<std::string>{"merge", "boot.bin", "stack.bin", "app.bin"}}) {
            if (box.run(velk, args).status != 0) throw std::runtime_error("cannot make the images");
        }
        return box.files();
    }();
    return made;
}

using Damage = std::function<void(Bytes&)>;

Damage flip(std::size_t at) {
    return [at](Bytes& b) { b[at] = static_cast<char>(b[at] ^ 0x01); };
}
Damage put(std::size_t at, char c) {
    return [at, c](Bytes& b) { b[at] = c; };
}
// Another hexadecimal digit in place of the one at `at`.
Damage other_digit(std::size_t at) {
    return [at](Bytes& b) { b[at] = b[at] == '0' ? '1' : '0'; };
}
Damage cut(std::size_t n) {
    return [n](Bytes& b) { b.resize(b.size() - n); };
}
Damage append(const Bytes& tail) {
    return [tail](Bytes& b) { b += tail; };
}
// The second line of a text file, from its first character.
std::size_t second_line(const Bytes& text) { return text.find('\n') + 1; }

TEST(JsonReport, EveryDamageIsReportedInTheDocumentsShape) {
    constexpr std::size_t s = 0x1EF0;   // the merged image's stack header
    constexpr std::size_t a = 0x25A70;  // its app header
    const std::vector<std::string> parts{"--against", "boot.bin,stack.bin,app.bin"};
    struct row {
        const char* what;
        std::string file;
        Damage damage;
        std::vector<std::string> extra;  // verify's options besides the file
        const char* check;               // a check the document counts
    };
    const Bytes hex_text = images().at("hexed.hex");
    const row rows[] = {
        {"a partial block", "app_crc.bin", cut(1), {}, "partial-block"},
        {"padding cut", "padded.bin", cut(1), {}, "padding-length"},
        {"a padding byte", "padded.bin", flip(1200), {}, "padding-byte"},
        {"a header's crc", "app_merge.bin", flip(s + 2), {}, "header-crc"},
        {"a header's length", "app_merge.bin", flip(a + 6), {}, "header-length"},
        {"a header's reserved bytes", "app_merge.bin", flip(a + 13), {}, "header-reserved"},
        {"headers that disagree", "app_merge.bin", flip(s + 4), {}, "headers-disagree"},
        {"a fill byte", "app_merge.bin", flip(0x1000), parts, "fill-byte"},
        {"an end padding byte", "app_merge.bin", flip(155376 - 100), parts, "fill-byte"},
        {"end padding too long", "app_merge.bin", append("\xFF"), parts, "end-padding"},
        {"an input's data", "app_merge.bin", flip(0x1F00 + 7), parts, "data-differs"},
        {"a record's checksum", "hexed.hex", other_digit(second_line(hex_text) + 12), {}, "hex-checksum"},
        {"a record that is not one", "hexed.hex", put(second_line(hex_text), 'x'), {}, "hex-syntax"},
        {"no end record", "hexed.hex", cut(hex_text.size() - hex_text.rfind(':')), {}, "hex-end"},
    };
    for (const row& r : rows) {
        Sandbox box(images());
        Bytes bytes = box.read(r.file);
        r.damage(bytes);
        box.write(r.file, bytes);
        std::vector<std::string> args{"verify", "--json", r.file};
        args.insert(args.end(), r.extra.begin(), r.extra.end());
        const Outcome o = box.run(velk, args);
        EXPECT_NE(o.status, 3) << r.what << ": " << o.err;
        EXPECT_NE(o.out.find("\"" + std::string(r.check) + "\":"), std::string::npos) << r.what << ": " << o.out;
        EXPECT_EQ(box.run(velk, {"info", "--json", r.file}).status, 0) << r.what;
    }
}

// The twin beside a flash CRC image, and the twin read by itself.
TEST(JsonReport, TwinsAreReportedInTheDocumentsShape) {
    Sandbox box(images());
    Bytes twin = box.read("app.out");
    twin[second_line(twin)] = 'g';
    box.write("app.out", twin);
    Outcome o = box.run(velk, {"verify", "--json", "app_crc.bin", "--against", "app.bin"});
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find("\"twin-line\":"), std::string::npos) << o.out;
    o = box.run(velk, {"info", "--json", "app.out"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("\"text-twin\""), std::string::npos) << o.out;
}

// verify turns an input away: a document with its kind and an error.
TEST(JsonReport, AnInputIsReportedInTheDocumentsShape) {
    const Bytes hex = ":0400000001020304F2\r\n:0401000005060708E1\r\n:00000001FF\r\n";
    const Outcome o = run_velk(velk, {"verify", "--json", "in.hex"}, {{"in.hex", hex}});
    EXPECT_EQ(o.status, 3) << o.err;
    EXPECT_NE(o.out.find("\"kind\": \"input\""), std::string::npos) << o.out;
}

}  // namespace
}  // namespace velk::test
