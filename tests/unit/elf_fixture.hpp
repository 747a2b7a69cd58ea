#pragma once
// ELF files for the tests of the inputs that carry addresses: small ones
// laid out here byte by byte from the ELF definitions (for the classes and
// byte orders the Arm tool chain does not make), and a real program built
// by the Arm assembler and linker, with the images objcopy makes of it as
// the independent reference.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velk::test {

using Image = std::vector<std::uint8_t>;

constexpr std::uint32_t sht_progbits = 1;
constexpr std::uint32_t sht_strtab = 3;
constexpr std::uint32_t sht_nobits = 8;
constexpr std::uint64_t shf_write = 0x1;
constexpr std::uint64_t shf_alloc = 0x2;

struct elf_section {
    std::string name;
    std::uint32_t type = sht_progbits;
    std::uint64_t flags = shf_alloc;
    std::uint64_t address = 0;
    Image data;  // its contents; for SHT_NOBITS only the size counts
};

// A PT_LOAD segment over sections first .. first + count - 1, which lie
// back to back in the file and in memory.
struct elf_segment {
    std::size_t first = 0;  // index into elf_layout::sections
    std::size_t count = 1;
    std::uint64_t physical = 0;  // its physical address
};

struct elf_layout {
    bool is64 = false;
    bool big_endian = false;
    std::uint64_t entry = 0;
    std::vector<elf_section> sections;  // after the null section; .shstrtab is added last
    std::vector<elf_segment> segments;
    bool section_headers = true;
};

// Where the tests find the fields they break.
struct elf_file {
    Image bytes;
    std::uint64_t phoff = 0;
    std::uint64_t shoff = 0;     // 0 without section headers
    std::uint64_t shstrtab = 0;  // index of the name string table
    std::size_t section_header_size = 0;
    std::size_t segment_header_size = 0;
};

elf_file make_elf(const elf_layout& layout);

// `value` as `size` bytes at `at`, in the file's byte order.
void put(Image& bytes, std::size_t at, std::uint64_t value, std::size_t size, bool big_endian);

// The program below, linked, and objcopy's images of it; nothing when a
// tool is missing (`missing` names it) or fails.
struct arm_program {
    std::string dir;  // where the files are
    Image elf;
    Image binary;         // objcopy -O binary --gap-fill 0xFF
    std::uint64_t base;   // the binary's first address: the lowest load address
    std::uint64_t entry;  // from the ELF header
    std::string ihex;     // objcopy -O ihex
    std::string srec;     // objcopy -O srec
};
std::optional<arm_program> build_arm_program(std::string& missing);

// The output of objcopy with these arguments on the program's ELF file.
std::optional<std::string> objcopy(const arm_program& program, const std::string& arguments);

// True when `tool` is on the PATH.
bool have_tool(const std::string& tool);

}  // namespace velk::test
