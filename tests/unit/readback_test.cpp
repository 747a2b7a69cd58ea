// The engine's readers, each against images built here from their
// definitions (CRC-16/CMS bit by bit, CRC-32 from zlib, the layouts from
// the tables of docs/reading-back.md) or by independent tools (srec_cat), never against
// the product's own writers except in round trips, where the property is
// that reading gives back what was written.

#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "formats/core/compare.hpp"
#include "formats/flash_crc/writer.hpp"
#include "formats/flash_crc/reader.hpp"
#include "formats/readback/kind.hpp"
#include "formats/readback/check.hpp"
#include "formats/intel_hex/writer.hpp"
#include "formats/intel_hex/reader.hpp"
#include "formats/oad/merged_reader.hpp"
#include "formats/oad/header_reader.hpp"
#include "formats/flash_crc/twin_reader.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// --- references from the definitions -----------------------------------

// CRC-16/CMS bit by bit: polynomial 0x8005, start 0xFFFF, most significant
// bit first, no final XOR.
std::uint16_t crc16_reference(const std::uint8_t* data, std::size_t n) {
    std::uint16_t reg = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        reg ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = static_cast<std::uint16_t>((reg & 0x8000) != 0 ? (reg << 1) ^ 0x8005 : reg << 1);
        }
    }
    return reg;
}

// CRC-32/JAMCRC: zlib's CRC-32 without its final complement.
std::uint32_t jamcrc(const std::uint8_t* data, std::size_t n) {
    return ~static_cast<std::uint32_t>(crc32(0L, data, static_cast<uInt>(n)));
}

Bytes noise(std::size_t n, std::uint32_t seed) {
    Bytes out(n);
    std::uint32_t x = seed | 1u;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

// The unscrambled flash CRC image of `raw`: 32-byte blocks (the last one
// filled with 0xFF), each followed by its CRC-16 high byte first; padded,
// followed by 1 to 256 bytes of 0xFF up to a multiple of 256.
Bytes flash_image(const Bytes& raw, bool padded) {
    Bytes data = raw;
    data.resize((raw.size() + 31) / 32 * 32, 0xFF);
    Bytes image;
    for (std::size_t at = 0; at < data.size(); at += 32) {
        image.insert(image.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                     data.begin() + static_cast<std::ptrdiff_t>(at + 32));
        const std::uint16_t crc = crc16_reference(data.data() + at, 32);
        image.push_back(static_cast<std::uint8_t>(crc >> 8));
        image.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    }
    if (padded) image.resize(image.size() + 256 - image.size() % 256, 0xFF);
    return image;
}

void put_le(Bytes& b, std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct merge_inputs {
    Bytes boot, stack, app;
    std::uint64_t stack_at = 0x200;
    std::uint64_t app_at = 0x600;
    std::uint16_t version = 0x0102;
    std::uint32_t stack_uid = 0x53535353;
    std::uint32_t app_uid = 0x42424242;
    std::uint16_t rom = 0xFFFF;
};

// The merged image as docs/reading-back.md lays it out: boot at 0, 0xFF, the stack
// header, the stack, 0xFF, the app header, the app, then 1 to 256 bytes of
// 0xFF so that the image from the stack header on is a multiple of 256.
Bytes merged_image(const merge_inputs& in) {
    const std::size_t s = in.stack_at - 16;
    const std::size_t a = in.app_at - 16;
    Bytes m(in.app_at + in.app.size(), 0xFF);
    std::copy(in.boot.begin(), in.boot.end(), m.begin());
    std::copy(in.stack.begin(), in.stack.end(), m.begin() + static_cast<std::ptrdiff_t>(in.stack_at));
    std::copy(in.app.begin(), in.app.end(), m.begin() + static_cast<std::ptrdiff_t>(in.app_at));
    m.resize(m.size() + 256 - (m.size() - s) % 256, 0xFF);
    const auto header = [&](std::size_t at, std::uint32_t uid) {
        put_le(m, at + 4, in.version, 2);
        put_le(m, at + 6, static_cast<std::uint32_t>(((m.size() - at) / 4) & 0xFFFF), 2);
        put_le(m, at + 8, uid, 4);
        m[at + 12] = 0xFF;
        m[at + 13] = 0xFF;
        put_le(m, at + 14, in.rom, 2);
    };
    header(a, in.app_uid);
    put_le(m, a, jamcrc(m.data() + a + 16, m.size() - a - 16), 4);
    header(s, in.stack_uid);
    put_le(m, s, jamcrc(m.data() + s + 16, m.size() - s - 16), 4);
    return m;
}

merge_inputs small_merge() {
    merge_inputs in;
    in.boot = noise(100, 1);
    in.stack = noise(50, 2);
    in.app = noise(70, 3);
    // Each image ends in a byte that is not 0xFF, so that where its data
    // end can be told without its length.
    in.boot.back() = in.stack.back() = in.app.back() = 0x5A;
    return in;
}

// --- plumbing --------------------------------------------------------------

class memory_source final : public byte_source {
public:
    explicit memory_source(const Bytes& bytes) : bytes_(bytes) {}
    explicit memory_source(const std::string& text) : bytes_(text.begin(), text.end()) {}
    std::size_t read(std::span<std::uint8_t> buf) override {
        const std::size_t n = std::min(buf.size(), bytes_.size() - at_);
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), n, buf.begin());
        at_ += n;
        return n;
    }
    bool error() const override { return false; }

private:
    Bytes bytes_;
    std::size_t at_ = 0;
};

class vector_sink final : public byte_sink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }
    Bytes data;
};

Bytes read_all(byte_source& source) {
    Bytes out;
    std::uint8_t buf[777];
    for (;;) {
        const std::size_t n = source.read(buf);
        out.insert(out.end(), buf, buf + n);
        if (n < sizeof buf) return out;
    }
}

// A file holding `bytes`, removed at the end of the test.
class temp_file {
public:
    explicit temp_file(const Bytes& bytes) {
        std::string pattern = (fs::temp_directory_path() / "velk-readback-XXXXXX").string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0) throw std::runtime_error("mkstemp");
        close(fd);
        path_ = pattern;
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~temp_file() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    File open() const { return File::open(path_, File::Mode::read); }

private:
    std::string path_;
};

// Feeds `bytes` to a checker in pieces of 1 to 97 bytes, so that blocks,
// headers and regions straddle the pieces.
template <class Checker>
void feed_in_pieces(Checker& checker, const Bytes& bytes, std::uint32_t seed) {
    std::mt19937 pick(seed);
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - at, 1 + pick() % 97);
        checker.feed(std::span(bytes.data() + at, n));
        at += n;
    }
}

bool has(const problem_list& list, check what, image_part part, std::uint64_t offset) {
    return std::any_of(list.kept().begin(), list.kept().end(), [&](const problem& p) {
        return p.what == what && p.part == part && p.offset == offset;
    });
}

std::string describe(const problem_list& list) {
    std::string text;
    for (const problem& p : list.kept()) {
        text += "check " + std::to_string(static_cast<int>(p.what)) + " part " +
                std::to_string(static_cast<int>(p.part)) + " offset " + std::to_string(p.offset) + "; ";
    }
    return text;
}

// --- CRC-16 of whole blocks ----------------------------------------------------

TEST(BlockCrc, AgreesWithTheBitwiseDefinitionAndCatchesEveryBitFlip) {
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        Bytes block = noise(32, seed);
        const std::uint16_t crc = crc16_reference(block.data(), 32);
        block.push_back(static_cast<std::uint8_t>(crc >> 8));
        block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        ASSERT_TRUE(block_crc_ok(block.data())) << seed;
        if (seed > 5) continue;
        for (std::size_t bit = 0; bit < 34 * 8; ++bit) {
            Bytes flipped = block;
            flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
            EXPECT_FALSE(block_crc_ok(flipped.data())) << "seed " << seed << " bit " << bit;
        }
    }
    // 32 bytes of 0xFF do not carry 0xFFFF, which is what lets padding
    // never pass for a block.
    EXPECT_EQ(crc16_reference(Bytes(32, 0xFF).data(), 32), 0x000C);
}

// --- where the blocks end ------------------------------------------------------

TEST(FlashLayout, BlocksEndWhereTheyWereWrittenEvenWithOneByteDamaged) {
    enum class damage { none, last_block_data, last_block_crc, padding_first, padding_middle };
    const std::size_t sizes[] = {0, 1, 31, 32, 33, 200, 223, 224, 255, 256, 257, 1000, 4096, 4128, 8000};
    for (const std::size_t n : sizes) {
        for (const damage d : {damage::none, damage::last_block_data, damage::last_block_crc,
                               damage::padding_first, damage::padding_middle}) {
            Bytes image = flash_image(noise(n, static_cast<std::uint32_t>(n + 7)), true);
            const std::uint64_t blocks = (n + 31) / 32;
            const std::uint64_t end = blocks * 34;
            if (blocks == 0 && (d == damage::last_block_data || d == damage::last_block_crc)) continue;
            switch (d) {
                case damage::none: break;
                case damage::last_block_data: image[end - 34 + 5] ^= 0x20; break;
                case damage::last_block_crc: image[end - 1] ^= 0x01; break;
                case damage::padding_first: image[end] = 0x00; break;
                case damage::padding_middle: image[end + (image.size() - end) / 2] = 0x12; break;
            }
            const std::size_t keep = std::min(image.size(), layout_tail_bytes);
            const std::span<const std::uint8_t> tail(image.data() + image.size() - keep, keep);
            const flash_crc_layout layout = padded_flash_layout(image.size(), tail);
            EXPECT_EQ(layout.blocks, blocks) << "input " << n << " damage " << static_cast<int>(d);
            EXPECT_TRUE(layout.padded);
            if (d == damage::none) {
                EXPECT_TRUE(reads_as_padded(image.size(), tail)) << n;
                const Bytes plain = flash_image(noise(n, static_cast<std::uint32_t>(n + 7)), false);
                const std::size_t plain_keep = std::min(plain.size(), layout_tail_bytes);
                EXPECT_FALSE(reads_as_padded(plain.size(), std::span(plain.data() + plain.size() - plain_keep,
                                                                      plain_keep)))
                    << n;
            }
        }
    }
}

// --- the flash CRC checker ------------------------------------------------------

TEST(FlashCrcChecker, NamesEachFaultWhereItIs) {
    const Bytes raw = noise(300, 11);  // 10 blocks, the last one partly 0xFF
    struct row {
        const char* what;
        bool padded;
        void (*damage)(Bytes&);
        check expected;
        std::uint64_t offset;
        std::uint64_t index;
    };
    const row rows[] = {
        {"data byte of block 3", false, [](Bytes& b) { b[3 * 34 + 7] ^= 0x40; }, check::block_crc, 102, 3},
        {"CRC byte of block 0", false, [](Bytes& b) { b[33] ^= 0x01; }, check::block_crc, 0, 0},
        {"last block's data, padded", true, [](Bytes& b) { b[9 * 34] ^= 0x80; }, check::block_crc, 306, 9},
        {"cut by one byte", false, [](Bytes& b) { b.pop_back(); }, check::partial_block, 306, 0},
        {"one byte appended", false, [](Bytes& b) { b.push_back(0); }, check::partial_block, 340, 0},
        {"padding byte", true, [](Bytes& b) { b[345] = 0x00; }, check::padding_byte, 345, 0},
        {"padding grown by a byte", true, [](Bytes& b) { b.push_back(0xFF); }, check::padding_length, 340, 0},
    };
    for (const row& r : rows) {
        Bytes image = flash_image(raw, r.padded);
        const Bytes good = image;
        r.damage(image);
        const flash_crc_layout layout =
            r.padded ? flash_crc_layout{image.size(), 10, true} : plain_flash_layout(image.size());
        for (const bool pieces : {false, true}) {
            problem_list problems;
            flash_crc_checker checker(layout, problems);
            if (pieces) feed_in_pieces(checker, image, 5);
            else checker.feed(image);
            EXPECT_TRUE(checker.finish());
            ASSERT_EQ(problems.total(), 1u) << r.what << ": " << describe(problems);
            const problem& p = problems.kept()[0];
            EXPECT_EQ(p.what, r.expected) << r.what;
            EXPECT_EQ(p.offset, r.offset) << r.what;
            EXPECT_EQ(p.index, r.index) << r.what;
            if (p.what == check::block_crc) {
                const std::uint8_t* block = image.data() + r.index * 34;
                EXPECT_EQ(p.stored, std::uint64_t{block[32]} << 8 | block[33]) << r.what;
                EXPECT_EQ(p.computed, crc16_reference(block, 32)) << r.what;
                EXPECT_EQ(checker.bad_blocks(), 1u);
            }
        }
    }
}

TEST(FlashCrcChecker, KeepsTheFirstTenBadBlocksAndCountsTheRest) {
    Bytes image = flash_image(noise(32 * 40, 3), false);
    for (std::size_t i = 5; i < 30; ++i) image[i * 34 + 1] ^= 0xFF;
    problem_list problems;
    flash_crc_checker checker(plain_flash_layout(image.size()), problems);
    checker.feed(image);
    checker.finish();
    EXPECT_EQ(checker.bad_blocks(), 25u);
    EXPECT_EQ(problems.total(check::block_crc), 25u);
    ASSERT_EQ(problems.kept().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(problems.kept()[i].index, 5 + i);
}

// Encoding with velk's writer and reading back with the checker gives the
// input, filled with 0xFF to its last block, whatever the keys.
TEST(FlashCrcChecker, DescrambledDataAreTheInputForEveryKeySet) {
    const scramble_keys key_sets[] = {
        default_scramble_keys,
        {0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0x01000000},
        {0xDEADBEEF, 0x00000001, 0xCAFEF00D, 0x7F00017F},
        {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFE0000FF},
    };
    for (const std::size_t n : {0u, 1u, 31u, 32u, 33u, 255u, 256u, 5000u}) {
        const Bytes raw = noise(n, static_cast<std::uint32_t>(n * 3 + 1));
        const temp_file input(raw);
        for (const scramble_keys& keys : key_sets) {
            File in = input.open();
            vector_sink image;
            file_source whole(in, raw.size());
            ASSERT_TRUE(encode_flash_crc(whole, {keys, false}, {image, nullptr}));
            if (keys == default_scramble_keys) {
                EXPECT_EQ(image.data, flash_image(raw, false)) << n;
            }
            problem_list problems;
            vector_sink data;
            flash_crc_checker checker(plain_flash_layout(image.data.size()), problems, keys, &data);
            feed_in_pieces(checker, image.data, static_cast<std::uint32_t>(n));
            EXPECT_TRUE(checker.finish());
            EXPECT_TRUE(problems.empty()) << describe(problems);
            Bytes expected = raw;
            expected.resize((n + 31) / 32 * 32, 0xFF);
            EXPECT_EQ(data.data, expected) << "input " << n << " control " << keys.control;
        }
    }
}

TEST(FlashCrcChecker, CutToALengthKeepsOnlyWhatTheLastBlockCanHold) {
    const flash_crc_layout three{102, 3, false};  // 96 data bytes
    struct row {
        std::uint64_t length;
        cut_fault expected;
    };
    for (const row& r : {row{96, cut_fault::none}, row{65, cut_fault::none}, row{97, cut_fault::longer_than_data},
                         row{64, cut_fault::drops_blocks}, row{0, cut_fault::drops_blocks}}) {
        EXPECT_EQ(check_cut(three, r.length), r.expected) << r.length;
    }
    EXPECT_EQ(check_cut(flash_crc_layout{0, 0, false}, 0), cut_fault::none);

    vector_sink out;
    cut_sink cut(out, 5);
    const Bytes data{1, 2, 3, 4, 5, 6, 0xFF, 0xFF};
    cut.write(std::span(data).first(3));
    cut.write(std::span(data).subspan(3));
    EXPECT_EQ(out.data, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(cut.dropped_data(), 1u);  // the 6; the two 0xFF were filling
}

// --- Intel HEX -----------------------------------------------------------------

TEST(IntelHexReader, DecodesWhatSrecCatWrites) {
    if (std::system("srec_cat --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat is not installed";
    Bytes raw = noise(3000, 21);
    std::fill(raw.begin() + 100, raw.begin() + 400, 0xFF);
    const temp_file bin(raw);
    const std::string hex_path = bin.path() + ".hex";
    // 0x2FFF0: the image runs across a 64 KiB page.
    const std::string command = "srec_cat " + bin.path() + " -binary -offset 0x2FFF0 -o " + hex_path +
                                " -intel -output_block_size=16 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(hex_path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    std::remove(hex_path.c_str());

    // Given its base, the image; by default, from the start of the first
    // record's 64 KiB page, 0xFFF0 bytes of 0xFF first.
    for (const std::uint32_t base : {0x2FFF0u, 0x20000u}) {
        problem_list problems;
        memory_source source(text);
        intel_hex_read_options options;
        if (base == 0x2FFF0) options.base = base;
        intel_hex_source hex(source, problems, options);
        Bytes expected(0x2FFF0 - base, 0xFF);
        expected.insert(expected.end(), raw.begin(), raw.end());
        EXPECT_EQ(read_all(hex), expected);
        EXPECT_TRUE(problems.empty()) << describe(problems);
        EXPECT_EQ(hex.summary().base, base);
        EXPECT_TRUE(hex.summary().end_record);
    }
}

// velk's writer leaves out all-0xFF records; with the base given, reading
// back fills them in, at the start, in the middle and at the end.
TEST(IntelHexReader, ReadsBackWhatVelksWriterWrote) {
    struct row {
        std::size_t size;
        std::uint32_t base;
        std::size_t erased_from, erased_to;  // a run of 0xFF in the image
    };
    const row rows[] = {
        {0, 0, 0, 0},          {1, 0, 0, 0},          {16, 0x100, 0, 16},   {40, 0, 0, 40},
        {100, 0xFFF8, 0, 48},  {300, 0x1234, 50, 200}, {70000, 0x8000, 65000, 66000},
        {500, 0xFFFFFE00, 480, 500},
    };
    for (const row& r : rows) {
        Bytes raw = noise(r.size, static_cast<std::uint32_t>(r.size + 1));
        std::fill(raw.begin() + static_cast<std::ptrdiff_t>(r.erased_from),
                  raw.begin() + static_cast<std::ptrdiff_t>(r.erased_to), 0xFF);
        vector_sink text;
        intel_hex_sink writer(text, r.base);
        writer.write(raw);
        ASSERT_TRUE(writer.finish());
        problem_list problems;
        memory_source source(text.data);
        intel_hex_read_options options;
        options.base = r.base;
        intel_hex_source hex(source, problems, options);
        EXPECT_EQ(read_all(hex), raw) << "size " << r.size << " base " << r.base;
        EXPECT_TRUE(problems.empty()) << describe(problems);
    }
}

TEST(IntelHexReader, ReportsEachFaultOnItsLine) {
    // Two data records at 0x0000 and 0x0010, an end record.
    const std::string a = ":0400000001020304F2\r\n";
    const std::string b = ":020010000506E3\r\n";  // at 0x10: 12 bytes of 0xFF before it
    const std::string end = ":00000001FF\r\n";
    struct row {
        const char* what;
        std::string text;
        check expected;
        std::uint64_t line;
        Bytes data;
    };
    const Bytes both{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6};
    // b alone: the image starts at its page, 0x0000.
    const Bytes only_b{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6};
    const row rows[] = {
        {"bad checksum", ":0400000001020304F3\r\n" + b + end, check::hex_checksum, 1, both},
        {"not hex digits", ":04000000010203G4F2\r\n" + b + end, check::hex_syntax, 1, only_b},
        {"count does not match", ":0500000001020304F2\r\n" + b + end, check::hex_syntax, 1, only_b},
        {"no colon", "0400000001020304F2\r\n" + b + end, check::hex_syntax, 1, only_b},
        {"empty line", a + "\r\n" + b + end, check::hex_syntax, 2, both},
        {"segment address record", a + ":020000021000EC\r\n" + b + end, check::hex_record_type, 2, both},
        {"records out of order", b + a + end, check::hex_address, 2,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 6}},
        {"overlap", a + ":0100020009F4\r\n" + end, check::hex_address, 2, {1, 2, 3, 4}},
        {"across a 64 KiB page", ":02FFFF000102FD\r\n" + end, check::hex_address, 1, {}},
        {"no end record", a + b, check::hex_end, 0, both},
        {"records after the end", a + end + b, check::hex_end, 3, {1, 2, 3, 4}},
    };
    for (const row& r : rows) {
        problem_list problems;
        memory_source source(r.text);
        intel_hex_source hex(source, problems);
        EXPECT_EQ(read_all(hex), r.data) << r.what;
        ASSERT_EQ(problems.total(), 1u) << r.what << ": " << describe(problems);
        EXPECT_EQ(problems.kept()[0].what, r.expected) << r.what;
        EXPECT_EQ(problems.kept()[0].index, r.line) << r.what;
    }
    // The correct file, with LF or CR LF line ends, has no problem.
    for (const std::string& text : {a + b + end, std::string(":0400000001020304F2\n:020010000506E3\n:00000001FF\n")}) {
        problem_list problems;
        memory_source source(text);
        intel_hex_source hex(source, problems);
        EXPECT_EQ(read_all(hex), both);
        EXPECT_TRUE(problems.empty()) << describe(problems);
    }
}

TEST(IntelHexReader, NeverDecodesPastItsLimit) {
    // An address record that puts the second record 4 GiB - 64 KiB away.
    const std::string text = ":0100000001FE\r\n:02000004FFFFFC\r\n:0100000002FD\r\n:00000001FF\r\n";
    problem_list problems;
    memory_source source(text);
    intel_hex_read_options options;
    options.max_length = 1 << 20;
    intel_hex_source hex(source, problems, options);
    EXPECT_EQ(read_all(hex), Bytes{1});
    EXPECT_EQ(problems.total(check::hex_address), 1u);
}

TEST(IntelHexReader, RecognisesOnlyAWellFormedFirstRecord) {
    const auto head = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    EXPECT_TRUE(looks_like_intel_hex(head(":020000040000FA\r\n:10")));
    EXPECT_TRUE(looks_like_intel_hex(head(":00000001FF\n")));
    EXPECT_FALSE(looks_like_intel_hex(head(":020000040000FB\r\n")));  // checksum
    EXPECT_FALSE(looks_like_intel_hex(head(":020000040000FA")));      // no line end yet
    EXPECT_FALSE(looks_like_intel_hex(head(":020000030000FB\r\n")));  // start address record
    EXPECT_FALSE(looks_like_intel_hex(head("020000040000FA\r\n")));
}

// --- text twin -------------------------------------------------------------------

TEST(TwinReader, DecodesLinesAndNamesEveryBadOne) {
    struct row {
        const char* what;
        std::string text;
        Bytes data;
        std::uint64_t bad_line;  // 0: none
    };
    const row rows[] = {
        {"good", "00\r\n7f\r\nff\r\n", {0x00, 0x7F, 0xFF}, 0},
        {"upper case", "00\r\n7F\r\nff\r\n", {0x00, 0x70, 0xFF}, 2},
        {"LF only", "00\n\r7f\r\n", {0x00, 0x7F}, 1},
        {"not a digit", "0g\r\n12\r\n", {0x00, 0x12}, 1},
        {"partial last line", "12\r\n34\r", {0x12}, 2},
        {"empty", "", {}, 0},
    };
    for (const row& r : rows) {
        problem_list problems;
        memory_source source(r.text);
        twin_source twin(source, problems);
        EXPECT_EQ(read_all(twin), r.data) << r.what;
        if (r.bad_line == 0) {
            EXPECT_TRUE(problems.empty()) << r.what;
        } else {
            ASSERT_EQ(problems.total(), 1u) << r.what;
            EXPECT_EQ(problems.kept()[0].what, check::twin_line);
            EXPECT_EQ(problems.kept()[0].index, r.bad_line) << r.what;
            EXPECT_EQ(problems.kept()[0].offset, (r.bad_line - 1) * 4) << r.what;
        }
    }
    const auto head = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    EXPECT_TRUE(looks_like_twin(head("a0\r\n1")));
    EXPECT_FALSE(looks_like_twin(head("A0\r\n")));
    EXPECT_FALSE(looks_like_twin(head("a0\r")));
}

// --- OAD headers -------------------------------------------------------------------

TEST(OadHeader, EachFieldsPromise) {
    oad_header_report good;
    good.offset = 0x40;
    good.length = 0x400;
    good.stored.crc = good.computed_crc = 0x12345678;
    good.stored.length_words = 0x100;
    good.stored.uid = 0x42424242;
    struct row {
        const char* what;
        void (*change)(oad_header_report&);
        std::vector<check> expected;
    };
    const row rows[] = {
        {"good", [](oad_header_report&) {}, {}},
        {"crc", [](oad_header_report& h) { h.stored.crc ^= 1; }, {check::header_crc}},
        {"length_words", [](oad_header_report& h) { h.stored.length_words = 0xFF; }, {check::header_length}},
        {"reserved", [](oad_header_report& h) { h.stored.reserved[1] = 0xFE; }, {check::header_reserved}},
        {"length not whole words", [](oad_header_report& h) { h.length = 0x403; }, {}},
        {"crc and reserved", [](oad_header_report& h) {
             h.computed_crc = 0;
             h.stored.reserved[0] = 0;
         }, {check::header_crc, check::header_reserved}},
    };
    for (const row& r : rows) {
        oad_header_report h = good;
        r.change(h);
        problem_list problems;
        check_oad_header(h, image_part::app_header, problems);
        std::vector<check> found;
        for (const problem& p : problems.kept()) {
            found.push_back(p.what);
            EXPECT_EQ(p.offset, 0x40u);
            EXPECT_EQ(p.part, image_part::app_header);
        }
        EXPECT_EQ(found, r.expected) << r.what;
    }
    // An image of 0x10010 words keeps 0x0010: right, through the wrap.
    oad_header_report wrapped = good;
    wrapped.length = 0x40040;
    wrapped.stored.length_words = 0x0010;
    EXPECT_TRUE(wrapped.length_ok());
    EXPECT_TRUE(wrapped.wrapped());
    EXPECT_FALSE(good.wrapped());

    EXPECT_EQ(printable_uid(0x42424242), "BBBB");
    EXPECT_EQ(printable_uid(0x64636261), "abcd");
    EXPECT_EQ(printable_uid(0x4242420A), std::nullopt);
    EXPECT_EQ(printable_uid(0x80414141), std::nullopt);
}

TEST(OadHeader, PlausibleHeadersTolerateAFewBytesOfLength) {
    const auto header = [](std::uint16_t words, std::uint8_t reserved) {
        Bytes h(16, 0);
        put_le(h, 6, words, 2);
        h[12] = reserved;
        h[13] = 0xFF;
        return h;
    };
    EXPECT_TRUE(header_plausible(header(0x100, 0xFF), 0x400));
    EXPECT_TRUE(header_plausible(header(0x100, 0xFF), 0x400 - 256));
    EXPECT_TRUE(header_plausible(header(0x100, 0xFF), 0x400 + 256));
    EXPECT_FALSE(header_plausible(header(0x100, 0xFF), 0x400 + 260));
    EXPECT_FALSE(header_plausible(header(0x100, 0xFE), 0x400));
    EXPECT_TRUE(header_plausible(header(0x0010, 0xFF), 0x40040));  // the 16-bit wrap
    EXPECT_FALSE(header_plausible(header(0x0010, 0xFF), 15));
}

// --- merged images and the OAD images cut from them ----------------------------------

TEST(MergedChecker, MapsAMergedImageAndEveryWindowOfIt) {
    const merge_inputs in = small_merge();
    const Bytes m = merged_image(in);
    const merge_layout layout{in.stack_at, in.app_at};
    const std::uint64_t s = in.stack_at - 16;
    const std::uint64_t a = in.app_at - 16;
    struct window {
        const char* what;
        std::uint64_t origin;
    };
    for (const window& w : {window{"merged", 0}, window{"stack OAD", s}, window{"app OAD", a}}) {
        const Bytes file(m.begin() + static_cast<std::ptrdiff_t>(w.origin), m.end());
        problem_list problems;
        merged_checker checker(layout, w.origin, file.size(), problems);
        feed_in_pieces(checker, file, 9);
        const merged_report r = checker.finish();
        EXPECT_TRUE(problems.empty()) << w.what << ": " << describe(problems);
        ASSERT_TRUE(r.app_header) << w.what;
        EXPECT_EQ(r.app_header->offset, a - w.origin);
        EXPECT_EQ(r.app_header->computed_crc, jamcrc(m.data() + in.app_at, m.size() - in.app_at));
        EXPECT_EQ(r.app_header->stored.uid, in.app_uid);
        EXPECT_EQ(r.app_header->stored.version, in.version);
        EXPECT_EQ(r.stack_header.has_value(), w.origin <= s) << w.what;
        if (r.stack_header) {
            EXPECT_EQ(r.stack_header->computed_crc, jamcrc(m.data() + in.stack_at, m.size() - in.stack_at));
            EXPECT_EQ(r.stack_header->length, m.size() - s);
        }
        // The regions, from the last byte of each image that is not 0xFF.
        std::vector<map_row> expected;
        const auto add = [&](map_region region, std::uint64_t from, std::uint64_t to) {
            if (from >= w.origin) expected.push_back({region, from - w.origin, to - from, 0});
        };
        const std::uint64_t app_end = in.app_at + in.app.size();
        add(map_region::boot, 0, in.boot.size());
        add(map_region::boot_fill, in.boot.size(), s);
        add(map_region::stack_header, s, in.stack_at);
        add(map_region::stack, in.stack_at, in.stack_at + in.stack.size());
        add(map_region::stack_fill, in.stack_at + in.stack.size(), a);
        add(map_region::app_header, a, in.app_at);
        add(map_region::app, in.app_at, app_end);
        add(map_region::end_padding, app_end, m.size());
        ASSERT_EQ(r.map.size(), expected.size()) << w.what;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(r.map[i].region, expected[i].region) << w.what << " row " << i;
            EXPECT_EQ(r.map[i].offset, expected[i].offset) << w.what << " row " << i;
            EXPECT_EQ(r.map[i].length, expected[i].length) << w.what << " row " << i;
        }
    }
}

TEST(MergedChecker, NamesEachDamagedPlace) {
    const merge_inputs in = small_merge();
    const Bytes good = merged_image(in);
    const merge_layout layout{in.stack_at, in.app_at};
    const std::uint64_t s = in.stack_at - 16;
    const std::uint64_t a = in.app_at - 16;
    using P = image_part;
    struct row {
        const char* what;
        std::function<void(Bytes&)> damage;
        bool against;  // read with the three inputs
        check expected;
        image_part part;
        std::uint64_t offset;
    };
    const auto flip = [](std::size_t at) { return [at](Bytes& b) { b[at] ^= 0x01; }; };
    const row rows[] = {
        {"stack header crc", flip(s + 1), false, check::header_crc, P::stack_header, s},
        {"stack header version", flip(s + 4), false, check::headers_disagree, P::stack_header, s},
        {"stack header length_words", flip(s + 6), false, check::header_length, P::stack_header, s},
        {"stack header reserved", flip(s + 13), false, check::header_reserved, P::stack_header, s},
        {"stack header rom_version", flip(s + 15), false, check::headers_disagree, P::stack_header, s},
        {"app header crc", flip(a), false, check::header_crc, P::app_header, a},
        {"app header uid, covered by the stack's crc", flip(a + 9), false, check::header_crc, P::stack_header, s},
        {"app data", flip(in.app_at + 3), false, check::header_crc, P::app_header, a},
        {"fill after the boot", flip(150), true, check::fill_byte, P::boot_fill, 150},
        {"fill after the stack", flip(in.stack_at + 60), true, check::fill_byte, P::stack_fill, in.stack_at + 60},
        {"end padding", flip(good.size() - 5), true, check::fill_byte, P::end_padding, good.size() - 5},
        {"boot data", flip(7), true, check::data_differs, P::boot, 7},
        {"stack data", flip(in.stack_at + 49), true, check::data_differs, P::stack, 49},
        {"app data", flip(in.app_at), true, check::data_differs, P::app, 0},
        {"cut by a byte", [](Bytes& b) { b.pop_back(); }, false, check::end_padding, P::end_padding,
         in.app_at + in.app.size()},
        {"one byte appended", [](Bytes& b) { b.push_back(0xFF); }, true, check::end_padding, P::end_padding,
         in.app_at + in.app.size()},
    };
    for (const row& r : rows) {
        Bytes m = good;
        r.damage(m);
        memory_source boot(in.boot), stack(in.stack), app(in.app);
        merged_expectations expect;
        if (r.against) {
            expect.parts = std::array<part_input, 3>{part_input{&boot, in.boot.size()},
                                                     part_input{&stack, in.stack.size()},
                                                     part_input{&app, in.app.size()}};
        }
        problem_list problems;
        merged_checker checker(layout, 0, m.size(), problems, expect);
        feed_in_pieces(checker, m, 3);
        checker.finish();
        EXPECT_TRUE(has(problems, r.expected, r.part, r.offset)) << r.what << ": " << describe(problems);
    }
    // The good image holds its inputs.
    memory_source boot(in.boot), stack(in.stack), app(in.app);
    merged_expectations expect;
    expect.parts = std::array<part_input, 3>{part_input{&boot, in.boot.size()}, part_input{&stack, in.stack.size()},
                                             part_input{&app, in.app.size()}};
    problem_list problems;
    merged_checker checker(layout, 0, good.size(), problems, expect);
    checker.feed(good);
    EXPECT_TRUE(checker.finish().lengths_known);
    EXPECT_TRUE(problems.empty()) << describe(problems);
}

// --- kinds from content ------------------------------------------------------------

TEST(ImageKind, TellsEveryKindFromItsContentAlone) {
    const merge_inputs in = small_merge();
    const Bytes m = merged_image(in);
    const std::uint64_t s = in.stack_at - 16;
    const std::uint64_t a = in.app_at - 16;
    // A boot that is itself a flash CRC image of 20 blocks, so that the
    // first 16 blocks of the merged image all check out.
    merge_inputs crc_boot = in;
    crc_boot.stack_at = 0x400;
    crc_boot.app_at = 0x800;
    crc_boot.boot = flash_image(noise(640, 12), false);
    const Bytes stack_oad(m.begin() + static_cast<std::ptrdiff_t>(s), m.end());
    const Bytes app_oad(m.begin() + static_cast<std::ptrdiff_t>(a), m.end());
    const Bytes flash = flash_image(noise(1000, 4), false);
    Bytes twin;
    for (const std::uint8_t b : flash) {
        char line[5];
        std::snprintf(line, sizeof line, "%02x\r\n", b);
        twin.insert(twin.end(), line, line + 4);
    }
    vector_sink hex;
    intel_hex_sink writer(hex, 0);
    writer.write(m);
    writer.finish();

    struct row {
        const char* what;
        Bytes file;
        image_encoding encoding;
        image_kind kind;
        merge_layout layout = {0x200, 0x600};  // small_merge's
    };
    using E = image_encoding;
    using K = image_kind;
    const auto damaged = [](Bytes b, std::size_t at) {
        b[at] ^= 0x10;
        return b;
    };
    const row rows[] = {
        {"flash CRC image", flash, E::binary, K::flash_crc},
        {"padded flash CRC image", flash_image(noise(1000, 4), true), E::binary, K::padded_flash_crc},
        {"padded image of nothing", Bytes(256, 0xFF), E::binary, K::padded_flash_crc},
        {"flash CRC image, first block damaged", damaged(flash, 3), E::binary, K::flash_crc},
        {"merged image", m, E::binary, K::merged},
        {"merged image, stack header's reserved damaged", damaged(m, s + 12), E::binary, K::merged},
        {"merged image, app header's length damaged", damaged(m, a + 7), E::binary, K::merged},
        {"merged image whose boot is a flash CRC image", merged_image(crc_boot), E::binary, K::merged,
         {0x400, 0x800}},
        {"stack OAD image", stack_oad, E::binary, K::oad_stack},
        {"stack OAD image, app header's reserved damaged", damaged(stack_oad, a - s + 12), E::binary, K::oad_stack},
        {"app OAD image", app_oad, E::binary, K::oad_app},
        {"app OAD image, header's reserved damaged", damaged(app_oad, 13), E::binary, K::oad_app},
        {"text twin", twin, E::text_twin, K::flash_crc},
        {"Intel HEX of a merged image", hex.data, E::intel_hex, K::merged},
    };
    for (const row& r : rows) {
        read_options options;
        options.layout = r.layout;
        const velk::memory_source f(std::span(r.file.data(), r.file.size()));
        const detection d = detect_image(f, options);
        EXPECT_TRUE(d.recognised) << r.what;
        EXPECT_EQ(d.encoding, r.encoding) << r.what;
        EXPECT_EQ(d.kind, r.kind) << r.what;
        if (r.kind == K::flash_crc && r.encoding == E::binary) {
            EXPECT_EQ(d.flash.blocks, 32u) << r.what;
        }
    }
}

TEST(ImageKind, SaysWhatItTriedOnAnythingElse) {
    for (const Bytes& file : {noise(5000, 8), Bytes{}, Bytes(200, 0x00)}) {
        const velk::memory_source in(std::span(file.data(), file.size()));
        const detection d = detect_image(in, read_options{});
        EXPECT_FALSE(d.recognised);
        EXPECT_FALSE(d.read_failed);
        using C = rejection::candidate;
        using E = image_encoding;
        std::vector<std::pair<C, E>> tried;
        for (const rejection& r : d.tried) tried.push_back({r.what, r.encoding});
        const std::vector<std::pair<C, E>> expected{{C::encoding, E::intel_hex}, {C::encoding, E::srec},
                                                    {C::encoding, E::text_twin},
                                                    {C::merged, E::binary},      {C::oad, E::binary},
                                                    {C::padded_flash_crc, E::binary}, {C::flash_crc, E::binary}};
        EXPECT_EQ(tried, expected) << file.size();
    }
}

TEST(ImageKind, AKindGivenIsTakenWhateverTheContent) {
    const Bytes image = noise(100, 9);
    const velk::memory_source in(std::span(image.data(), image.size()));
    read_options options;
    options.choice.family = kind_family::flash_crc;
    const detection d = detect_image(in, options);
    ASSERT_TRUE(d.recognised);
    EXPECT_EQ(d.kind, image_kind::flash_crc);
    const image_report r = check_image(in, d, options);
    EXPECT_EQ(r.problems.total(check::block_crc), 2u);
    EXPECT_EQ(r.problems.total(check::partial_block), 1u);
}

// --- comparisons ----------------------------------------------------------------------

TEST(Compare, FirstDifferenceAndHowManyDiffer) {
    struct row {
        Bytes actual, expected;
        std::uint64_t limit;
        std::optional<std::uint64_t> first;
        std::uint64_t differing;
    };
    const row rows[] = {
        {{1, 2, 3}, {1, 2, 3}, UINT64_MAX, std::nullopt, 0},
        {{1, 2, 3, 4}, {1, 9, 3, 9}, UINT64_MAX, 1, 2},
        {{1, 2, 3, 4}, {1, 2}, UINT64_MAX, 2, 2},
        {{1, 2}, {1, 2, 3, 4, 5}, UINT64_MAX, 2, 3},
        {{1, 2}, {1, 2, 3, 4, 5}, 2, std::nullopt, 0},
        {{}, {7}, UINT64_MAX, 0, 1},
    };
    for (const row& r : rows) {
        memory_source expected(r.expected);
        stream_comparer c(expected, r.limit);
        for (const std::uint8_t b : r.actual) c.write(std::span(&b, 1));
        const comparison result = c.finish();
        EXPECT_EQ(result.first, r.first);
        EXPECT_EQ(result.differing, r.differing);
        EXPECT_EQ(result.actual_length, r.actual.size());
    }
    for (const std::size_t n : {0u, 1u, 31u, 32u, 33u}) {
        memory_source raw(Bytes(n, 7));
        erased_to_multiple filled(raw, 32);
        const Bytes out = read_all(filled);
        EXPECT_EQ(out.size(), (n + 31) / 32 * 32) << n;
        EXPECT_TRUE(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(),
                                [](std::uint8_t b) { return b == 0xFF; }));
    }
}

}  // namespace
}  // namespace velk
