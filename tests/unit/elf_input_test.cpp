// ELF files as an input. A program built by the Arm tool chain must give
// the image objcopy makes of it, byte for byte at the same address; files
// laid out here from the ELF definitions cover the other classes and byte
// orders, the load address of a section run from RAM, and every rule whose
// breach must be refused.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "elf_fixture.hpp"
#include "formats/address_map/address_map.hpp"
#include "formats/elf/input.hpp"
#include "io/access.hpp"

namespace velk {
namespace {

using test::Image;

// The flat image from the map's lowest address, its overlaps checked.
Image flat_image(address_map map) {
    sort_extents(map);
    std::string why;
    EXPECT_TRUE(check_overlaps(map, why)) << why;
    memory_sink out;
    EXPECT_TRUE(flatten(map, lo(map), std::uint64_t{1} << 30, out, why)) << why;
    return out.bytes();
}

std::set<std::string> labels(const address_map& map) {
    std::set<std::string> names;
    for (const extent& e : map.extents) names.insert(e.label);
    return names;
}

TEST(ElfInput, ArmProgramGivesObjcopysImage) {
    std::string missing;
    const auto program = test::build_arm_program(missing);
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
    ASSERT_TRUE(program);
    const memory_source file(program->elf);
    std::string why;
    const auto map = read_elf(file, why);
    ASSERT_TRUE(map) << why;
    EXPECT_EQ(labels(*map), (std::set<std::string>{".text", ".rodata", ".cfg", ".data"}));
    EXPECT_EQ(lo(*map), program->base);
    EXPECT_EQ(map->start, program->entry);
    EXPECT_EQ(flat_image(*map), program->binary);
}

// Without section headers the PT_LOAD segments' file contents are what
// is taken; in this program they hold the same bytes as its sections.
TEST(ElfInput, ArmProgramWithoutSectionHeadersGivesItsSegments) {
    std::string missing;
    const auto program = test::build_arm_program(missing);
    if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
    ASSERT_TRUE(program);
    Image elf = program->elf;
    test::put(elf, 32, 0, 4, false);  // e_shoff
    test::put(elf, 48, 0, 2, false);  // e_shnum
    test::put(elf, 50, 0, 2, false);  // e_shstrndx
    const memory_source file(elf);
    std::string why;
    const auto map = read_elf(file, why);
    ASSERT_TRUE(map) << why;
    EXPECT_EQ(lo(*map), program->base);
    EXPECT_EQ(flat_image(*map), program->binary);
}

// Code in flash; data run from RAM at 0x20000000 but loaded in flash
// right after the code; zeroed data, a note that takes no memory and an
// empty section, none of which are taken.
test::elf_layout sample(bool is64, bool big_endian) {
    const std::uint64_t high = is64 ? std::uint64_t{0x3} << 32 : 0;  // 64-bit addresses need 64-bit fields
    test::elf_layout layout;
    layout.is64 = is64;
    layout.big_endian = big_endian;
    layout.entry = high + 0x08000001;
    layout.sections = {
        {".text", test::sht_progbits, test::shf_alloc, high + 0x08000000, {1, 2, 3, 4, 5, 6, 7, 8}},
        {".data",
         test::sht_progbits,
         test::shf_alloc | test::shf_write,
         high + 0x20000000,
         {0xD0, 0xD1, 0xD2, 0xD3}},
        {".bss", test::sht_nobits, test::shf_alloc | test::shf_write, high + 0x20000004, Image(12)},
        {".comment", test::sht_progbits, 0, 0, {'n', 'o', 't', 'e'}},
        {".empty", test::sht_progbits, test::shf_alloc, high + 0x08000008, {}},
    };
    layout.segments = {{0, 1, high + 0x08000000}, {1, 2, high + 0x08000010}};
    return layout;
}

TEST(ElfInput, EveryClassAndByteOrder) {
    const Image expected{1,    2,    3,    4,    5,    6,    7,    8,    0xFF, 0xFF,
                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD0, 0xD1, 0xD2, 0xD3};
    for (const bool is64 : {false, true}) {
        for (const bool big : {false, true}) {
            SCOPED_TRACE(std::string(is64 ? "64" : "32") + (big ? " big-endian" : " little-endian"));
            const std::uint64_t high = is64 ? std::uint64_t{0x3} << 32 : 0;
            for (const bool headers : {true, false}) {
                test::elf_layout layout = sample(is64, big);
                layout.section_headers = headers;
                const Image elf = test::make_elf(layout).bytes;
                const memory_source file(elf);
                std::string why;
                const auto map = read_elf(file, why);
                ASSERT_TRUE(map) << why;
                EXPECT_EQ(map->start, high + 0x08000001);
                EXPECT_EQ(lo(*map), high + 0x08000000);
                const std::set<std::string> names = headers ? std::set<std::string>{".text", ".data"}
                                                            : std::set<std::string>{"segment 0", "segment 1"};
                EXPECT_EQ(labels(*map), names);
                EXPECT_EQ(flat_image(*map), expected);
            }
        }
    }
}

TEST(ElfInput, ContentTest) {
    EXPECT_TRUE(looks_like_elf(Image{0x7F, 'E', 'L', 'F'}));
    EXPECT_FALSE(looks_like_elf(Image{0x7F, 'E', 'L'}));
    EXPECT_FALSE(looks_like_elf(Image{0x7F, 'E', 'L', 'G', 1}));
}

// Each case breaks one rule of a good file; `what` must appear in the
// message.
TEST(ElfInput, RefusesWhatBreaksTheRules) {
    using mutation = std::function<void(test::elf_file&)>;
    auto set = [](std::size_t at, std::uint64_t value, std::size_t size) {
        return [=](test::elf_file& f) { test::put(f.bytes, at, value, size, false); };
    };
    // A field of section header `index`.
    auto section = [](std::size_t index, std::size_t at, std::uint64_t value) {
        return [=](test::elf_file& f) {
            test::put(f.bytes, f.shoff + index * f.section_header_size + at, value, 4, false);
        };
    };
    const std::uint64_t huge = 0x7FFFFFF0;
    const struct {
        const char* name;
        mutation change;
        std::string what;
    } cases[] = {
        {"short", [](test::elf_file& f) { f.bytes.resize(10); }, "ELF identification ends past the end"},
        {"magic", set(1, 'X', 1), "no ELF magic number"},
        {"class", set(4, 3, 1), "class 3"},
        {"encoding", set(5, 0, 1), "data encoding 0"},
        {"ident version", set(6, 2, 1), "ELF identification: version 2"},
        {"short header", [](test::elf_file& f) { f.bytes.resize(40); }, "ELF header ends past the end"},
        {"version", set(20, 0, 4), "ELF header: version 0"},
        {"header size", set(40, 50, 2), "its size is given as 50"},
        {"segment entry size", set(42, 33, 2), "program header table: entries of 33 bytes"},
        {"segment count", set(44, 0x7FFF, 2), "program header table: 32767 entries"},
        {"section table offset", set(32, huge, 4), "section header 0 ends past the end"},
        {"section entry size", set(46, 41, 2), "section header size 41"},
        {"section count", set(48, 0xFFF0, 2), "section header table: 65520 entries"},
        {"no section table", set(32, 0, 4), "sections but no section header table"},
        {"names index", set(50, 7, 2), "section name string table 7 of 7 sections"},
        {"names type", section(6, 4, test::sht_progbits), "not a string table"},
        {"names size", section(6, 20, huge), "section name string table: ends past the end"},
        {"name offset", section(1, 0, huge), "section header 1: its name lies past the string table"},
        {"name unended",
         [](test::elf_file& f) {
             const std::size_t h = f.shoff + 6 * f.section_header_size + 20;
             test::put(f.bytes, h, f.bytes[h] - 1u, 4, false);
         },
         "section header 6: its name runs past the end of the string table"},
        {"contents", section(1, 16, huge), "section header 1 (.text): its contents end past the end"},
        {"segment contents", set(52 + 4, huge, 4), "program header 0: its contents end past the end"},
        {"segment sizes", set(52 + 20, 1, 4), "program header 0: more bytes in the file than in memory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::elf_file f = test::make_elf(sample(false, false));
        ASSERT_EQ(f.shstrtab, 6u);
        c.change(f);
        const memory_source file(f.bytes);
        std::string why;
        const auto map = read_elf(file, why);
        ASSERT_FALSE(map);
        EXPECT_EQ(map.error().what, fault_kind::format);
        EXPECT_NE(why.find(c.what), std::string::npos) << why;
    }
}

TEST(ElfInput, RefusesAddressesPastTheAddressSpace) {
    test::elf_layout layout = sample(true, true);
    layout.sections[0].address = ~std::uint64_t{0} - 3;
    layout.segments.erase(layout.segments.begin());
    const Image elf = test::make_elf(layout).bytes;
    const memory_source file(elf);
    std::string why;
    const auto map = read_elf(file, why);
    ASSERT_FALSE(map);
    EXPECT_NE(why.find("section header 1 (.text): its addresses run past"), std::string::npos) << why;
}

class failing_file final : public random_source {
public:
    std::uint64_t size() const override { return 4096; }
    status read_at(std::uint64_t offset, std::span<std::uint8_t>) const override {
        return read_fault(role::none, 5, offset);
    }
};

TEST(ElfInput, PassesOnReadFaults) {
    std::string why;
    const auto map = read_elf(failing_file(), why);
    ASSERT_FALSE(map);
    EXPECT_EQ(map.error().what, fault_kind::read);
    EXPECT_EQ(map.error().error, 5);
}

}  // namespace
}  // namespace velk
