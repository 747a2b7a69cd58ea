#include "formats/elf/input.hpp"

#include <array>
#include <optional>
#include <vector>

namespace velk {
namespace {

constexpr std::uint32_t pt_load = 1;
constexpr std::uint32_t sht_null = 0;
constexpr std::uint32_t sht_strtab = 3;
constexpr std::uint32_t sht_nobits = 8;
constexpr std::uint64_t shf_alloc = 0x2;
constexpr std::uint16_t pn_xnum = 0xFFFF;
constexpr std::uint16_t shn_xindex = 0xFFFF;

// Where each field of the headers lies, and how long it is, in one class
// of file (32- or 64-bit).
struct field {
    std::size_t at;
    std::size_t size;
};
struct class_layout {
    std::size_t header_size;
    field entry, phoff, shoff, ehsize, phentsize, phnum, shentsize, shnum, shstrndx;
    std::size_t segment_size;
    field p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz;
    std::size_t section_size;
    field sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size, sh_link, sh_info;
};
// clang-format off
constexpr class_layout elf32{
    52, {24, 4}, {28, 4}, {32, 4}, {40, 2}, {42, 2}, {44, 2}, {46, 2}, {48, 2}, {50, 2},
    32, {0, 4}, {4, 4}, {8, 4}, {12, 4}, {16, 4}, {20, 4},
    40, {0, 4}, {4, 4}, {8, 4}, {12, 4}, {16, 4}, {20, 4}, {24, 4}, {28, 4}};
constexpr class_layout elf64{
    64, {24, 8}, {32, 8}, {40, 8}, {52, 2}, {54, 2}, {56, 2}, {58, 2}, {60, 2}, {62, 2},
    56, {0, 4}, {8, 8}, {16, 8}, {24, 8}, {32, 8}, {40, 8},
    64, {0, 4}, {4, 4}, {8, 8}, {16, 8}, {24, 8}, {32, 8}, {40, 4}, {44, 4}};
// clang-format on

struct segment {
    std::uint64_t offset, vaddr, paddr, filesz, memsz;
};

struct section {
    std::uint32_t name, type, link, info;
    std::uint64_t flags, addr, offset, size;
};

// True when [offset, offset + length) lies inside a file of `size` bytes.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

class elf_reader {
public:
    elf_reader(const random_source& file, std::string& why) : file_(file), why_(why) {}

    result<address_map> run() {
        if (!identify() || !read_header() || !read_tables()) return fault_;
        address_map map;
        map.file = &file_;
        map.start = entry_;
        if (sections_ == 0) {
            if (!segments_only(map)) return fault_;
        } else if (!take_sections(map)) {
            return fault_;
        }
        return map;
    }

private:
    // ---- reading and failing ----

    bool fail(std::uint64_t offset, const std::string& what) {
        why_ = what;
        fault_ = {fault_kind::format, role::none, 0, offset};
        return false;
    }

    bool read(std::uint64_t offset, std::span<std::uint8_t> buf, const std::string& what) {
        if (!inside(offset, buf.size(), file_.size())) {
            return fail(offset, what + " ends past the end of the file");
        }
        if (const status s = file_.read_at(offset, buf); !s) {
            fault_ = s.error();
            why_ = what + " cannot be read";
            return false;
        }
        return true;
    }

    std::uint64_t get(std::span<const std::uint8_t> bytes, field f) const {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < f.size; ++i) {
            const std::size_t at = big_ ? f.at + i : f.at + f.size - 1 - i;
            v = v << 8 | bytes[at];
        }
        return v;
    }

    // ---- the file header ----

    bool identify() {
        std::array<std::uint8_t, 16> ident{};
        if (!read(0, ident, "the ELF identification")) return false;
        if (!looks_like_elf(ident)) return fail(0, "ELF identification: no ELF magic number");
        if (ident[4] != 1 && ident[4] != 2)
            return fail(
                4, "ELF identification: class " + std::to_string(ident[4]) + " is neither 32- nor 64-bit");
        if (ident[5] != 1 && ident[5] != 2)
            return fail(5, "ELF identification: data encoding " + std::to_string(ident[5]) +
                               " is neither little- nor big-endian");
        if (ident[6] != 1)
            return fail(6, "ELF identification: version " + std::to_string(ident[6]) + ", not 1");
        layout_ = ident[4] == 2 ? &elf64 : &elf32;
        big_ = ident[5] == 2;
        return true;
    }

    bool read_header() {
        std::array<std::uint8_t, 64> h{};
        const std::span<std::uint8_t> header = std::span(h).first(layout_->header_size);
        if (!read(0, header, "the ELF header")) return false;
        if (get(header, {20, 4}) != 1)
            return fail(20, "ELF header: version " + std::to_string(get(header, {20, 4})) + ", not 1");
        if (get(header, layout_->ehsize) != layout_->header_size) {
            return fail(layout_->ehsize.at, "ELF header: its size is given as " +
                                                std::to_string(get(header, layout_->ehsize)) + ", not " +
                                                std::to_string(layout_->header_size));
        }
        entry_ = get(header, layout_->entry);
        phoff_ = get(header, layout_->phoff);
        shoff_ = get(header, layout_->shoff);
        phentsize_ = get(header, layout_->phentsize);
        shentsize_ = get(header, layout_->shentsize);
        segments_ = get(header, layout_->phnum);
        sections_ = get(header, layout_->shnum);
        shstrndx_ = get(header, layout_->shstrndx);
        return true;
    }

    // ---- the tables ----

    bool read_tables() {
        if (!read_section_zero()) return false;
        if (!check_table(phoff_, segments_, phentsize_, layout_->segment_size, "program header table"))
            return false;
        if (sections_ > 0 &&
            !check_table(shoff_, sections_, shentsize_, layout_->section_size, "section header table")) {
            return false;
        }
        return read_segments();
    }

    // Section 0 holds the counts too large for the header's 16-bit fields.
    bool read_section_zero() {
        if (shoff_ == 0) {
            if (sections_ != 0)
                return fail(layout_->shnum.at, "ELF header: " + std::to_string(sections_) +
                                                   " sections but no section header table");
            if (segments_ == pn_xnum)
                return fail(layout_->phnum.at,
                            "ELF header: the program header count is in a section header table there is not");
            return true;
        }
        if (shentsize_ != layout_->section_size) {
            return fail(layout_->shentsize.at, "ELF header: section header size " +
                                                   std::to_string(shentsize_) + ", not " +
                                                   std::to_string(layout_->section_size));
        }
        section zero;
        if (!read_section(0, zero)) return false;
        if (sections_ == 0) sections_ = zero.size;
        if (shstrndx_ == shn_xindex) shstrndx_ = zero.link;
        if (segments_ == pn_xnum) segments_ = zero.info;
        return true;
    }

    bool check_table(std::uint64_t offset, std::uint64_t count, std::uint64_t entry_size,
                     std::uint64_t wanted_size, const std::string& what) {
        if (count == 0) return true;
        if (entry_size != wanted_size) {
            return fail(offset, what + ": entries of " + std::to_string(entry_size) + " bytes, not " +
                                    std::to_string(wanted_size));
        }
        if (offset > file_.size() || count > (file_.size() - offset) / entry_size) {
            return fail(offset, what + ": " + std::to_string(count) + " entries at offset " +
                                    std::to_string(offset) + " end past the end of the file");
        }
        return true;
    }

    bool read_segments() {
        std::array<std::uint8_t, 56> e{};
        const std::span<std::uint8_t> entry = std::span(e).first(layout_->segment_size);
        for (std::uint64_t i = 0; i < segments_; ++i) {
            const std::uint64_t at = phoff_ + i * layout_->segment_size;
            const std::string what = "program header " + std::to_string(i);
            if (!read(at, entry, what)) return false;
            if (get(entry, layout_->p_type) != pt_load) continue;
            const segment s{get(entry, layout_->p_offset), get(entry, layout_->p_vaddr),
                            get(entry, layout_->p_paddr), get(entry, layout_->p_filesz),
                            get(entry, layout_->p_memsz)};
            if (s.filesz > 0 && !inside(s.offset, s.filesz, file_.size())) {
                return fail(at, what + ": its contents end past the end of the file");
            }
            if (s.filesz > s.memsz) return fail(at, what + ": more bytes in the file than in memory");
            if (s.vaddr + s.memsz < s.vaddr || s.paddr + s.memsz < s.paddr) {
                return fail(at, what + ": its addresses run past the end of the address space");
            }
            loads_.push_back(s);
        }
        return true;
    }

    bool read_section(std::uint64_t index, section& s) {
        std::array<std::uint8_t, 64> e{};
        const std::span<std::uint8_t> entry = std::span(e).first(layout_->section_size);
        if (!read(shoff_ + index * layout_->section_size, entry, "section header " + std::to_string(index)))
            return false;
        s = {static_cast<std::uint32_t>(get(entry, layout_->sh_name)),
             static_cast<std::uint32_t>(get(entry, layout_->sh_type)),
             static_cast<std::uint32_t>(get(entry, layout_->sh_link)),
             static_cast<std::uint32_t>(get(entry, layout_->sh_info)),
             get(entry, layout_->sh_flags),
             get(entry, layout_->sh_addr),
             get(entry, layout_->sh_offset),
             get(entry, layout_->sh_size)};
        return true;
    }

    // ---- what the file holds ----

    bool segments_only(address_map& map) {
        for (std::size_t i = 0; i < loads_.size(); ++i) {
            const segment& s = loads_[i];
            if (s.filesz == 0) continue;
            map.extents.push_back(
                {s.paddr, s.filesz, s.offset, std::nullopt, "segment " + std::to_string(i)});
        }
        return true;
    }

    bool take_sections(address_map& map) {
        if (!find_names()) return false;
        for (std::uint64_t i = 1; i < sections_; ++i) {
            section s;
            if (!read_section(i, s)) return false;
            std::string name;
            if (!name_of(i, s, name)) return false;
            const std::uint64_t at = shoff_ + i * layout_->section_size;
            const std::string what = "section header " + std::to_string(i) + " (" + name + ")";
            if (s.type == sht_nobits || s.type == sht_null || s.size == 0) continue;
            if (!inside(s.offset, s.size, file_.size()))
                return fail(at, what + ": its contents end past the end of the file");
            if ((s.flags & shf_alloc) == 0) continue;
            if (s.addr + s.size < s.addr)
                return fail(at, what + ": its addresses run past the end of the address space");
            map.extents.push_back({load_address(s), s.size, s.offset, std::nullopt, name});
        }
        return true;
    }

    // The section's address moved as the segment holding it is.
    std::uint64_t load_address(const section& s) const {
        for (const segment& g : loads_) {
            if (s.offset >= g.offset && s.offset - g.offset + s.size <= g.filesz && s.addr >= g.vaddr &&
                s.addr - g.vaddr + s.size <= g.memsz) {
                return s.addr + (g.paddr - g.vaddr);
            }
        }
        return s.addr;
    }

    bool find_names() {
        if (shstrndx_ == 0) return true;
        if (shstrndx_ >= sections_) {
            return fail(layout_->shstrndx.at, "ELF header: section name string table " +
                                                  std::to_string(shstrndx_) + " of " +
                                                  std::to_string(sections_) + " sections");
        }
        section names;
        if (!read_section(shstrndx_, names)) return false;
        const std::uint64_t at = shoff_ + shstrndx_ * layout_->section_size;
        if (names.type != sht_strtab) return fail(at, "section name string table: not a string table");
        if (!inside(names.offset, names.size, file_.size())) {
            return fail(at, "section name string table: ends past the end of the file");
        }
        names_ = names;
        return true;
    }

    bool name_of(std::uint64_t index, const section& s, std::string& name) {
        if (!names_) {
            name = "section " + std::to_string(index);
            return true;
        }
        const std::uint64_t at = shoff_ + index * layout_->section_size;
        if (s.name >= names_->size)
            return fail(at,
                        "section header " + std::to_string(index) + ": its name lies past the string table");
        std::array<char, 64> piece{};
        for (std::uint64_t from = s.name; from < names_->size;) {
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), names_->size - from));
            const auto bytes = std::as_writable_bytes(std::span(piece).first(n));
            if (!read(names_->offset + from, {reinterpret_cast<std::uint8_t*>(bytes.data()), n},
                      "section name string table"))
                return false;
            for (std::size_t i = 0; i < n; ++i) {
                if (piece[i] == '\0') {
                    name.append(piece.data(), i);
                    return true;
                }
            }
            name.append(piece.data(), n);
            from += n;
        }
        return fail(at, "section header " + std::to_string(index) +
                            ": its name runs past the end of the string table");
    }

    const random_source& file_;
    std::string& why_;
    fault fault_{};
    const class_layout* layout_ = &elf32;
    bool big_ = false;
    std::uint64_t entry_ = 0, phoff_ = 0, shoff_ = 0, phentsize_ = 0, shentsize_ = 0;
    std::uint64_t segments_ = 0, sections_ = 0, shstrndx_ = 0;
    std::vector<segment> loads_;
    std::optional<section> names_;
};

}  // namespace

result<address_map> read_elf(const random_source& file, std::string& why) {
    return elf_reader(file, why).run();
}

bool looks_like_elf(std::span<const std::uint8_t> head) {
    return head.size() >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

}  // namespace velk
