// Reading velk's S-record images back: what the writer writes comes back
// byte for byte, whichever records its 0xFF rules left out; every fault of
// a file, written here from the format's definition (the checksum is the
// complement of the bytes' sum, checked with srec_cat), is reported once,
// on its line, and the records that can be placed still are.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/srec/reader.hpp"
#include "formats/srec/writer.hpp"
#include "io/access.hpp"

namespace velk {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> span_of(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Bytes read_all(byte_source& source) {
    Bytes out;
    Bytes buffer(7);  // small, so that records and gaps straddle reads
    for (;;) {
        const std::size_t n = source.read(buffer);
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
        if (n < buffer.size()) return out;
    }
}

std::string describe(const problem_list& problems) {
    std::string text;
    for (const problem& p : problems.kept()) {
        text += std::string(info_of(p.what).id) + " line " + std::to_string(p.index) + "; ";
    }
    return text;
}

Bytes noise(std::size_t n, std::uint32_t seed) {
    Bytes out(n);
    std::uint32_t x = seed | 1u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Never 0xFF, so that only the runs erased on purpose are.
        b = static_cast<std::uint8_t>(std::min(x >> 24, 0xFEu));
    }
    return out;
}

std::string written(const Bytes& image, std::uint32_t base, std::optional<std::uint32_t> start = std::nullopt) {
    memory_sink text;
    srec_sink writer(text, base, start);
    EXPECT_TRUE(writer.write(image));
    EXPECT_TRUE(writer.finish());
    return {text.bytes().begin(), text.bytes().end()};
}

void erase_first(Bytes& image, std::size_t n) {
    std::fill_n(image.begin(), std::min(n, image.size()), std::uint8_t{0xFF});
}

void erase_last(Bytes& image, std::size_t n) {
    std::fill(image.end() - static_cast<std::ptrdiff_t>(std::min(n, image.size())), image.end(), 0xFF);
}

// Lengths around one record of 16 bytes, two and three; erased runs where
// the writer leaves records out (the first, the first two), keeps the last
// one although it is erased, and where a partial last record follows an
// erased one.
TEST(SrecReader, ReadsBackWhatTheWriterWrote) {
    using erase = void (*)(Bytes&);
    const std::pair<const char*, erase> patterns[] = {
        {"nothing erased", [](Bytes&) {}},
        {"first record erased", [](Bytes& image) { erase_first(image, 16); }},
        {"first two records erased", [](Bytes& image) { erase_first(image, 32); }},
        {"last 16 bytes erased", [](Bytes& image) { erase_last(image, 16); }},
        {"last 17 bytes erased", [](Bytes& image) { erase_last(image, 17); }},
        {"all erased", [](Bytes& image) { erase_first(image, image.size()); }},
    };
    for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u, 49u}) {
        for (const auto& [name, apply] : patterns) {
            Bytes image = noise(size, static_cast<std::uint32_t>(size * 7 + 3));
            apply(image);
            for (const std::uint32_t base : {0x0u, 0x08004000u, 0xFFFFFF00u}) {
                const std::string text = written(image, base, 0x08000123);
                problem_list problems;
                memory_source source(span_of(text));
                srec_read_options options;
                options.base = base;
                srec_source reader(source, problems, options);
                const std::string what = std::string(name) + ", " + std::to_string(size) + " bytes at " +
                                         std::to_string(base);
                EXPECT_EQ(read_all(reader), image) << what;
                EXPECT_TRUE(problems.empty()) << what << ": " << describe(problems);
                EXPECT_TRUE(reader.summary().end_record) << what;
                EXPECT_EQ(reader.summary().start, 0x08000123u) << what;
                EXPECT_EQ(reader.summary().length, size) << what;
            }
        }
    }
}

// Without a base, the image starts at its first data record's 64 KiB
// page, which is where an image at a page's start begins even when its
// first records were left out.
TEST(SrecReader, TakesTheFirstRecordsPageAsTheDefaultBase) {
    Bytes image(40, 0xFF);
    image[20] = 0x5A;
    const std::string text = written(image, 0x00030000);
    problem_list problems;
    memory_source source(span_of(text));
    srec_source reader(source, problems);
    EXPECT_EQ(read_all(reader), image);
    EXPECT_TRUE(problems.empty()) << describe(problems);
    EXPECT_EQ(reader.summary().base, 0x00030000u);
    EXPECT_EQ(reader.summary().first_address, 0x00030010u);
    EXPECT_EQ(reader.summary().start, 0x00030000u);  // the base, when no start was given
    EXPECT_EQ(reader.summary().data_records, 2u);   // 0x30010 and the last, 0x30020
}

TEST(SrecReader, ReportsEachFaultOnItsLine) {
    const std::string h = "S00600004844521B\r\n";  // header "HDR"
    const std::string a = "S107000001020304EE\r\n";  // 01 02 03 04 at 0x0000
    const std::string b = "S10500100506DF\r\n";      // 05 06 at 0x0010: 12 bytes of 0xFF before it
    const std::string end = "S9030000FC\r\n";
    const std::string count2 = "S5030002FA\r\n";
    struct row {
        const char* what;
        std::string text;
        check expected;
        std::uint64_t line;
        Bytes data;
    };
    const Bytes both{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6};
    Bytes only_b = both;  // the image still starts at b's page, 0x0000
    std::fill_n(only_b.begin(), 4, std::uint8_t{0xFF});
    const row rows[] = {
        {"bad checksum", h + "S107000001020304EF\r\n" + b + end, check::srec_checksum, 2, both},
        {"not hex digits", h + "S1070000010203G4EE\r\n" + b + end, check::srec_syntax, 2, only_b},
        {"count does not match", h + "S108000001020304EE\r\n" + b + end, check::srec_syntax, 2, only_b},
        {"odd number of digits", h + "S107000001020304E\r\n" + b + end, check::srec_syntax, 2, only_b},
        {"no S", h + "107000001020304EE\r\n" + b + end, check::srec_syntax, 2, only_b},
        {"empty line", h + a + "\r\n" + b + end, check::srec_syntax, 3, both},
        {"S4", h + a + "S4030000FC\r\n" + b + end, check::srec_record_type, 3, both},
        {"data in a count record", h + a + b + "S504000207F2\r\n" + end, check::srec_syntax, 4, both},
        {"wrong S5 count", h + a + b + "S5030003F9\r\n" + end, check::srec_count, 4, both},
        {"wrong S6 count", h + a + "S604000002F9\r\n" + b + end, check::srec_count, 3, both},
        {"records out of order", h + b + a + end, check::srec_address, 3, only_b},
        {"overlap", h + a + "S104000209F0\r\n" + end, check::srec_address, 3, {1, 2, 3, 4}},
        {"past 2^32", h + "S309FFFFFFFE01020304F1\r\n" + end, check::srec_address, 2, {}},
        {"no termination record", h + a + b, check::srec_end, 0, both},
        {"records after the termination record", h + a + end + b, check::srec_end, 4, {1, 2, 3, 4}},
        // The count takes in every data record of the file, placed or not.
        {"a count after a record out of place", h + b + a + count2 + end, check::srec_address, 3, only_b},
    };
    for (const row& r : rows) {
        problem_list problems;
        memory_source source(span_of(r.text));
        srec_source reader(source, problems);
        EXPECT_EQ(read_all(reader), r.data) << r.what;
        ASSERT_EQ(problems.total(), 1u) << r.what << ": " << describe(problems);
        EXPECT_EQ(problems.kept()[0].what, r.expected) << r.what;
        EXPECT_EQ(problems.kept()[0].index, r.line) << r.what;
    }
    // The correct file, with or without its header and count, CR LF or LF.
    for (const std::string& text : {h + a + b + count2 + end, a + b + end,
                                    std::string("S107000001020304EE\nS10500100506DF\nS5030002FA\nS9030000FC\n")}) {
        problem_list problems;
        memory_source source(span_of(text));
        srec_source reader(source, problems);
        EXPECT_EQ(read_all(reader), both) << text;
        EXPECT_TRUE(problems.empty()) << describe(problems);
    }
}

TEST(SrecReader, ReportsTheCountsValues) {
    const std::string text = "S107000001020304EE\r\nS5030003F9\r\nS9030000FC\r\n";
    problem_list problems;
    memory_source source(span_of(text));
    srec_source reader(source, problems);
    read_all(reader);
    ASSERT_EQ(problems.total(check::srec_count), 1u);
    EXPECT_EQ(problems.kept()[0].stored, 3u);
    EXPECT_EQ(problems.kept()[0].computed, 1u);
    EXPECT_EQ(problems.kept()[0].offset, 20u);  // the count record's line in the file
}

TEST(SrecReader, NeverDecodesPastItsLimit) {
    // A second record 4 GiB - 16 bytes past the first.
    const std::string text = "S3060000000001F8\r\nS306FFFFFFF002FB\r\nS70500000000FA\r\n";
    problem_list problems;
    memory_source source(span_of(text));
    srec_read_options options;
    options.max_length = 1 << 20;
    srec_source reader(source, problems, options);
    EXPECT_EQ(read_all(reader), Bytes{1});
    EXPECT_EQ(problems.total(check::srec_address), 1u) << describe(problems);
}

TEST(SrecReader, RecognisesOnlyAWellFormedFirstRecord) {
    const auto head = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    EXPECT_TRUE(looks_like_srec_image(head("S00600004844521B\r\nS1")));
    EXPECT_TRUE(looks_like_srec_image(head("S107000001020304EE\n")));
    EXPECT_FALSE(looks_like_srec_image(head("S107000001020304EF\r\n")));  // checksum
    EXPECT_FALSE(looks_like_srec_image(head("S107000001020304EE")));      // no line end yet
    EXPECT_FALSE(looks_like_srec_image(head("S4030000FC\r\n")));          // no such type
    EXPECT_FALSE(looks_like_srec_image(head(":00000001FF\r\n")));         // Intel HEX
    EXPECT_FALSE(looks_like_srec_image(head("53\r\n30\r\n")));             // a twin
    EXPECT_FALSE(looks_like_srec_image(head("")));
}

}  // namespace
}  // namespace velk
