#include "formats/intel_hex/input.hpp"

#include <vector>

#include "formats/address_map/runs.hpp"
#include "formats/address_map/text_lines.hpp"

namespace velk {
namespace {

// ':', then count, address, type and checksum around up to 255 data bytes.
constexpr std::size_t longest_line = 1 + 2 * (5 + 255);

enum record_type : std::uint8_t {
    data = 0x00,
    end_of_file = 0x01,
    extended_segment = 0x02,
    start_segment = 0x03,
    extended_linear = 0x04,
    start_linear = 0x05,
};

bool is_hex_digit(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The data bytes each type other than data must have.
int length_of_type(std::uint8_t type) {
    switch (type) {
        case end_of_file: return 0;
        case extended_segment:
        case extended_linear: return 2;
        case start_segment:
        case start_linear: return 4;
        default: return -1;
    }
}

std::uint32_t big_endian(std::span<const std::uint8_t> bytes) {
    std::uint32_t v = 0;
    for (const std::uint8_t b : bytes) v = v << 8 | b;
    return v;
}

class hex_decoder {
public:
    hex_decoder(const random_source& text, scratch* spool) : lines_(text, longest_line), runs_(map_, spool) {}

    result<address_map> run(std::string& why) {
        for (;;) {
            const result<bool> more = lines_.next(why);
            if (!more) return more.error();
            if (!*more) break;
            if (lines_.line().empty()) continue;
            if (!take(why)) return spooled_ ? refused() : spooled_.error();
        }
        if (!ended_) {
            why = "no end-of-file record after line " + std::to_string(lines_.number());
            return fault{fault_kind::format, role::none, 0, std::nullopt};
        }
        if (const status s = runs_.finish(); !s) return s.error();
        return std::move(map_);
    }

private:
    fault refused() const { return {fault_kind::format, role::none, 0, lines_.offset()}; }

    bool fail(std::string& why, const std::string& what) {
        why = at_line(lines_.number(), what);
        return false;
    }

    // Parses the current line; false, `why` set, when it is malformed.
    bool take(std::string& why) {
        const std::span<const std::uint8_t> line = lines_.line();
        if (ended_) return fail(why, "a record after the end-of-file record");
        if (line[0] != ':') return fail(why, "does not start with ':'");
        if (const auto bad = decode_hex_pairs(line.subspan(1), record_)) {
            return fail(why, hex_pairs_problem(*bad, line.size() - 1, 2) + " after ':'");
        }
        if (record_.size() < 5) return fail(why, "too short for a record");
        const std::size_t count = record_[0];
        if (record_.size() != count + 5) {
            return fail(why, "the byte count says " + std::to_string(count) +
                                 " data bytes, the record holds " + std::to_string(record_.size() - 5));
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < record_.size(); ++i) sum += record_[i];
        const auto expected = static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
        if (record_.back() != expected) {
            return fail(why, "checksum " + byte_text(record_.back()) + ", should be " + byte_text(expected));
        }
        return apply(why);
    }

    bool apply(std::string& why) {
        const std::uint8_t type = record_[3];
        const std::span<const std::uint8_t> payload(record_.data() + 4, record_[0]);
        if (type != data) {
            const int wanted = length_of_type(type);
            if (wanted < 0) return fail(why, "unknown record type " + byte_text(type));
            if (payload.size() != static_cast<std::size_t>(wanted)) {
                return fail(why, "a type " + byte_text(type) + " record needs " + std::to_string(wanted) +
                                     " data bytes, not " + std::to_string(payload.size()));
            }
        }
        switch (type) {
            case data: {
                const std::uint64_t offset = std::uint64_t{record_[1]} << 8 | record_[2];
                spooled_ = runs_.add(base_ + offset, payload, lines_.number());
                return static_cast<bool>(spooled_);
            }
            case end_of_file: ended_ = true; return true;
            case extended_segment: base_ = std::uint64_t{big_endian(payload)} << 4; return true;
            case extended_linear: base_ = std::uint64_t{big_endian(payload)} << 16; return true;
            case start_segment:
                return set_start(
                    (std::uint64_t{big_endian(payload.first(2))} << 4) + big_endian(payload.subspan(2)), why);
            default: return set_start(big_endian(payload), why);
        }
    }

    bool set_start(std::uint64_t start, std::string& why) {
        if (map_.start && *map_.start != start) {
            return fail(why, "a second start address, " + address_text(start) + " after " +
                                 address_text(*map_.start));
        }
        map_.start = start;
        return true;
    }

    text_lines lines_;
    address_map map_;
    run_collector runs_;
    status spooled_;  // the last write to the spool
    std::vector<std::uint8_t> record_;
    std::uint64_t base_ = 0;  // from the last extended address record
    bool ended_ = false;
};

}  // namespace

result<address_map> read_intel_hex_input(const random_source& text, std::string& why, scratch* spool) {
    return hex_decoder(text, spool).run(why);
}

bool looks_like_intel_hex_input(std::span<const std::uint8_t> head) {
    std::size_t i = 0;
    while (i < head.size() && (head[i] == '\r' || head[i] == '\n')) ++i;
    return i + 1 < head.size() && head[i] == ':' && is_hex_digit(head[i + 1]);
}

}  // namespace velk
