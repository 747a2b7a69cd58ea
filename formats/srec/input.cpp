#include "formats/srec/input.hpp"

#include <vector>

#include "formats/address_map/runs.hpp"
#include "formats/address_map/text_lines.hpp"

namespace velk {
namespace {

// 'S', the type, then count, address, data and checksum: 255 bytes at most
// after the count.
constexpr std::size_t longest_line = 2 + 2 * (1 + 255);

// The address bytes of each type, S0 to S9; 0 for the reserved S4.
constexpr int address_bytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

bool is_data(int type) { return type >= 1 && type <= 3; }
bool is_count(int type) { return type == 5 || type == 6; }
bool is_termination(int type) { return type >= 7; }

std::uint64_t big_endian(std::span<const std::uint8_t> bytes) {
    std::uint64_t v = 0;
    for (const std::uint8_t b : bytes) v = v << 8 | b;
    return v;
}

class srec_decoder {
public:
    srec_decoder(const random_source& text, scratch* spool) : lines_(text, longest_line), runs_(map_, spool) {}

    result<address_map> run(std::string& why) {
        for (;;) {
            const result<bool> more = lines_.next(why);
            if (!more) return more.error();
            if (!*more) break;
            if (lines_.line().empty()) continue;
            if (!take(why)) return spooled_ ? fault{fault_kind::format, role::none, 0, lines_.offset()} : spooled_.error();
        }
        if (!ended_) {
            why = "no termination record (S7, S8 or S9) after line " + std::to_string(lines_.number());
            return fault{fault_kind::format, role::none, 0, std::nullopt};
        }
        if (const status s = runs_.finish(); !s) return s.error();
        return std::move(map_);
    }

private:
    bool fail(std::string& why, const std::string& what) {
        why = at_line(lines_.number(), what);
        return false;
    }

    // Parses the current line; false, `why` set, when it is malformed.
    bool take(std::string& why) {
        const std::span<const std::uint8_t> line = lines_.line();
        if (ended_) return fail(why, "a record after the termination record");
        if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') {
            return fail(why, "does not start with 'S' and a digit");
        }
        const int type = line[1] - '0';
        if (type == 4) return fail(why, "S4 is not a record type");
        if (const auto bad = decode_hex_pairs(line.subspan(2), record_)) {
            return fail(why, hex_pairs_problem(*bad, line.size() - 2, 3) + " after S" + std::to_string(type));
        }
        const auto address_length = static_cast<std::size_t>(address_bytes[type]);
        if (record_.empty() || record_[0] + std::size_t{1} != record_.size()) {
            return fail(why, "the byte count does not match the bytes of the record");
        }
        if (record_.size() < 1 + address_length + 1) {
            return fail(why, "too short for an S" + std::to_string(type) + " record");
        }
        unsigned sum = 0;
        for (std::size_t i = 0; i + 1 < record_.size(); ++i) sum += record_[i];
        const auto expected = static_cast<std::uint8_t>(~sum & 0xFF);
        if (record_.back() != expected) {
            return fail(why, "checksum " + byte_text(record_.back()) + ", should be " + byte_text(expected));
        }
        const std::uint64_t address = big_endian(std::span(record_).subspan(1, address_length));
        const std::span<const std::uint8_t> payload(record_.data() + 1 + address_length,
                                                    record_.size() - 2 - address_length);
        return apply(type, address, payload, why);
    }

    bool apply(int type, std::uint64_t address, std::span<const std::uint8_t> payload, std::string& why) {
        if (!is_data(type) && type != 0 && !payload.empty()) {
            return fail(why, "an S" + std::to_string(type) + " record holds no data");
        }
        if (is_data(type)) {
            spooled_ = runs_.add(address, payload, lines_.number());
            if (!spooled_) return false;
            ++data_records_;
        } else if (is_count(type) && address != data_records_) {
            return fail(why, "the count says " + std::to_string(address) + " data records, " +
                                 std::to_string(data_records_) + " came before it");
        } else if (is_termination(type)) {
            map_.start = address;
            ended_ = true;
        }
        return true;
    }

    text_lines lines_;
    address_map map_;
    run_collector runs_;
    status spooled_;  // the last write to the spool
    std::vector<std::uint8_t> record_;
    std::uint64_t data_records_ = 0;
    bool ended_ = false;
};

}  // namespace

result<address_map> read_srec(const random_source& text, std::string& why, scratch* spool) {
    return srec_decoder(text, spool).run(why);
}

bool looks_like_srec(std::span<const std::uint8_t> head) {
    return head.size() >= 2 && head[0] == 'S' && head[1] >= '0' && head[1] <= '9';
}

}  // namespace velk
