#include "formats/inputs/inputs.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "formats/core/hex.hpp"
#include "formats/elf/input.hpp"
#include "formats/intel_hex/input.hpp"
#include "formats/srec/input.hpp"

namespace velk {
namespace {

// A first line wholly of a text record: `prefix`, then only hex digits up
// to its line end, at least `least` of them. Stricter than the readers'
// own tests so that raw bytes that merely start with ':' or "S1" stay raw;
// a file that passes and then breaks the rules is refused.
bool first_line_is_record(std::span<const std::uint8_t> head, std::string_view prefix, std::size_t least) {
    if (head.size() < prefix.size() ||
        !std::equal(prefix.begin(), prefix.end(), head.begin(),
                    [](char p, std::uint8_t b) { return p == '*' ? b >= '0' && b <= '9' : p == static_cast<char>(b); })) {
        return false;
    }
    std::size_t digits = 0;
    for (std::size_t i = prefix.size(); i < head.size(); ++i) {
        const std::uint8_t b = head[i];
        if (b == '\r' || b == '\n') return digits >= least;
        const int v = digit_value(static_cast<char>(b));
        if (v < 0 || v >= 16) return false;
        ++digits;
    }
    return false;  // no line end within the head: not a record's line
}

bool looks_like_hex_file(std::span<const std::uint8_t> head) {
    return looks_like_intel_hex_input(head) && first_line_is_record(head, ":", 10);
}

bool looks_like_srec_file(std::span<const std::uint8_t> head) {
    return looks_like_srec(head) && first_line_is_record(head, "S*", 8);
}

// ELF's bytes stay in the file, read by range: it needs no spool.
result<address_map> elf_input(const random_source& file, scratch&, std::string& why) { return read_elf(file, why); }
result<address_map> hex_input(const random_source& file, scratch& spool, std::string& why) {
    return read_intel_hex_input(file, why, &spool);
}
result<address_map> srec_input(const random_source& file, scratch& spool, std::string& why) {
    return read_srec(file, why, &spool);
}

constexpr std::array<input_encoding_info, 4> table{{
    {input_encoding::elf, "elf", "ELF", looks_like_elf, elf_input},
    {input_encoding::intel_hex, "hex", "Intel HEX", looks_like_hex_file, hex_input},
    {input_encoding::srec, "srec", "S-records", looks_like_srec_file, srec_input},
    {input_encoding::binary, "bin", "raw binary", nullptr, nullptr},
}};

}  // namespace

std::span<const input_encoding_info> input_encodings() { return table; }

const input_encoding_info& input_encoding_of(input_encoding what) {
    for (const input_encoding_info& row : table) {
        if (row.what == what) return row;
    }
    return table.back();
}

const input_encoding_info* input_encoding_named(std::string_view name) {
    for (const input_encoding_info& row : table) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

const input_encoding_info& detect_input(std::span<const std::uint8_t> head) {
    for (const input_encoding_info& row : table) {
        if (row.looks_like != nullptr && row.looks_like(head)) return row;
    }
    return table.back();
}

result<placed_input> read_input(const random_source& file, std::optional<input_encoding> forced,
                                scratch& spool, std::string& why) {
    placed_input input;
    if (forced) {
        input.encoding = &input_encoding_of(*forced);
    } else {
        std::vector<std::uint8_t> head(static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), input_head_bytes)));
        if (const status s = file.read_at(0, head); !s) return s.error();
        input.encoding = &detect_input(head);
    }
    if (input.encoding->read == nullptr) return input;
    result<address_map> map = input.encoding->read(file, spool, why);
    if (!map) return map.error();
    sort_extents(*map);
    if (const status s = check_overlaps(*map, why); !s) return s.error();
    input.map = std::move(*map);
    return input;
}

}  // namespace velk
