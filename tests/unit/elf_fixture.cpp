#include "elf_fixture.hpp"

#include <fstream>
#include <iterator>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {
namespace {

Image slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Image(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spill(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A program with what a firmware's link has: code and constants in flash,
// a section after a gap in flash, initialised data run from RAM but
// loaded in flash (AT>), zeroed and never-initialised data in RAM only.
// The constants cross a 64 KiB boundary, so that the HEX output needs an
// extended address record in the middle of the data.
constexpr const char* program_source = R"(
  .syntax unified
  .thumb
  .section .text,"ax",%progbits
  .global reset
  .type reset, %function
reset:
  ldr r0, =message
  ldr r1, =counter
  b reset
  .balign 4
  .ltorg
  .section .rodata,"a",%progbits
message:
  .asciz "hello, flash"
  .balign 4
  .word 0x11223344, 0xFFFFFFFF, 0xDEADBEEF
  .fill 0x11000, 1, 0x5A
  .word 0x01020304
  .section .cfg,"a",%progbits
  .word 0xCAFEF00D
  .byte 1, 2, 3, 4
  .section .data,"aw",%progbits
counter:
  .word 0x0A0B0C0D
  .ascii "initialised"
  .balign 4
  .section .bss,"aw",%nobits
  .space 64
  .section .noinit,"aw",%nobits
  .space 32
)";

constexpr const char* linker_script = R"(
MEMORY {
  FLASH (rx) : ORIGIN = 0x08000000, LENGTH = 256K
  RAM (rwx) : ORIGIN = 0x20000000, LENGTH = 16K
}
ENTRY(reset)
SECTIONS {
  .text : { *(.text*) } > FLASH
  .rodata : { *(.rodata*) } > FLASH
  .cfg 0x08030000 : { KEEP(*(.cfg)) } > FLASH
  .data : { *(.data*) } > RAM AT> FLASH
  .bss (NOLOAD) : { *(.bss*) } > RAM
  .noinit (NOLOAD) : { *(.noinit*) } > RAM
}
)";

std::uint64_t field(const Image& bytes, std::size_t at, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = size; i-- > 0;) v = v << 8 | bytes[at + i];
    return v;
}

}  // namespace

void put(Image& bytes, std::size_t at, std::uint64_t value, std::size_t size, bool big_endian) {
    if (bytes.size() < at + size) bytes.resize(at + size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t to = big_endian ? at + size - 1 - i : at + i;
        bytes[to] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

elf_file make_elf(const elf_layout& layout) {
    elf_file f;
    const bool w = layout.is64;
    const std::size_t word = w ? 8 : 4;  // an address or offset
    const std::size_t ehsize = w ? 64 : 52;
    f.segment_header_size = w ? 56 : 32;
    f.section_header_size = w ? 64 : 40;
    Image& b = f.bytes;
    auto at = [&](std::size_t o, std::uint64_t v, std::size_t n) { put(b, o, v, n, layout.big_endian); };

    // The section data, then the names, then the tables.
    f.phoff = layout.segments.empty() ? 0 : ehsize;
    std::size_t offset = ehsize + layout.segments.size() * f.segment_header_size;
    std::vector<std::size_t> offsets;
    std::string names(1, '\0');
    std::vector<std::size_t> name_at;
    b.resize(offset);
    for (const elf_section& s : layout.sections) {
        offsets.push_back(offset);
        if (s.type != sht_nobits) {
            b.insert(b.end(), s.data.begin(), s.data.end());
            offset += s.data.size();
        }
        name_at.push_back(names.size());
        names += s.name + '\0';
    }
    const std::size_t shstrtab_name = names.size();
    names += std::string(".shstrtab") + '\0';
    const std::size_t names_offset = offset;
    b.insert(b.end(), names.begin(), names.end());
    offset += names.size();
    offset = (offset + 7) / 8 * 8;
    b.resize(offset);

    // The file header.
    const unsigned char ident[] = {0x7F,
                                   'E',
                                   'L',
                                   'F',
                                   static_cast<unsigned char>(w ? 2 : 1),
                                   static_cast<unsigned char>(layout.big_endian ? 2 : 1),
                                   1};
    std::copy(std::begin(ident), std::end(ident), b.begin());
    at(16, 2, 2);   // ET_EXEC
    at(18, 40, 2);  // EM_ARM; any machine will do
    at(20, 1, 4);   // EV_CURRENT
    at(24, layout.entry, word);
    at(24 + word, f.phoff, word);
    const std::size_t rest = 24 + 3 * word + 4;  // past e_shoff and e_flags
    at(rest, ehsize, 2);
    at(rest + 2, f.segment_header_size, 2);
    at(rest + 4, layout.segments.size(), 2);

    // The program headers.
    for (std::size_t i = 0; i < layout.segments.size(); ++i) {
        const elf_segment& g = layout.segments[i];
        const std::size_t h = ehsize + i * f.segment_header_size;
        std::uint64_t filesz = 0;
        std::uint64_t memsz = 0;
        for (std::size_t k = g.first; k < g.first + g.count; ++k) {
            const elf_section& s = layout.sections[k];
            if (s.type != sht_nobits) filesz += s.data.size();
            memsz += s.data.size();
        }
        const elf_section& first = layout.sections[g.first];
        at(h, 1, 4);  // PT_LOAD
        if (w) {
            at(h + 4, 5, 4);
            at(h + 8, offsets[g.first], 8);
            at(h + 16, first.address, 8);
            at(h + 24, g.physical, 8);
            at(h + 32, filesz, 8);
            at(h + 40, memsz, 8);
            at(h + 48, 4, 8);
        } else {
            at(h + 4, offsets[g.first], 4);
            at(h + 8, first.address, 4);
            at(h + 12, g.physical, 4);
            at(h + 16, filesz, 4);
            at(h + 20, memsz, 4);
            at(h + 24, 5, 4);
            at(h + 28, 4, 4);
        }
    }
    if (!layout.section_headers) return f;

    // The section headers: the null one, the sections, the names.
    f.shoff = offset;
    f.shstrtab = layout.sections.size() + 1;
    at(24 + 2 * word, f.shoff, word);
    at(rest + 6, f.section_header_size, 2);
    at(rest + 8, layout.sections.size() + 2, 2);
    at(rest + 10, f.shstrtab, 2);
    b.resize(offset + (layout.sections.size() + 2) * f.section_header_size);
    auto header = [&](std::size_t index, std::size_t name, std::uint32_t type, std::uint64_t flags,
                      std::uint64_t address, std::uint64_t off, std::uint64_t size) {
        const std::size_t h = f.shoff + index * f.section_header_size;
        at(h, name, 4);
        at(h + 4, type, 4);
        at(h + 8, flags, word);
        at(h + 8 + word, address, word);
        at(h + 8 + 2 * word, off, word);
        at(h + 8 + 3 * word, size, word);
    };
    for (std::size_t i = 0; i < layout.sections.size(); ++i) {
        const elf_section& s = layout.sections[i];
        header(i + 1, name_at[i], s.type, s.flags, s.address, offsets[i], s.data.size());
    }
    header(f.shstrtab, shstrtab_name, sht_strtab, 0, 0, names_offset, names.size());
    return f;
}

bool have_tool(const std::string& tool) {
    return shell("command -v " + tool + " >/dev/null 2>&1").has_value();
}

std::optional<std::string> objcopy(const arm_program& program, const std::string& arguments) {
    const std::string out = program.dir + "/objcopy.out";
    if (!shell("arm-none-eabi-objcopy " + arguments + " " + program.dir + "/p.elf " + out + " 2>&1")) {
        return std::nullopt;
    }
    const Image bytes = slurp(out);
    return std::string(bytes.begin(), bytes.end());
}

std::optional<arm_program> build_arm_program(std::string& missing) {
    for (const char* tool : {"arm-none-eabi-as", "arm-none-eabi-ld", "arm-none-eabi-objcopy"}) {
        if (!have_tool(tool)) {
            missing = tool;
            return std::nullopt;
        }
    }
    // One build for the whole test program: the tools take a while.
    static const std::optional<arm_program> built = []() -> std::optional<arm_program> {
        static const Sandbox box;  // removed when the test program ends
        arm_program p;
        p.dir = box.path();
        spill(p.dir + "/p.s", program_source);
        spill(p.dir + "/p.ld", linker_script);
        const std::string d = p.dir;
        if (!shell("arm-none-eabi-as -o " + d + "/p.o " + d + "/p.s 2>&1") ||
            !shell("arm-none-eabi-ld -T " + d + "/p.ld -o " + d + "/p.elf " + d + "/p.o 2>&1")) {
            return std::nullopt;
        }
        p.elf = slurp(d + "/p.elf");
        p.entry = field(p.elf, 24, 4);
        const auto bin = objcopy(p, "-O binary --gap-fill 0xFF");
        const auto ihex = objcopy(p, "-O ihex");
        const auto srec = objcopy(p, "-O srec");
        if (!bin || !ihex || !srec) return std::nullopt;
        p.binary.assign(bin->begin(), bin->end());
        p.ihex = *ihex;
        p.srec = *srec;
        p.base = 0x08000000;  // .text's load address, the lowest, from the linker script
        return p;
    }();
    return built;
}

}  // namespace velk::test
