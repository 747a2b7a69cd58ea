// The OAD header read back: any 16 bytes decode and encode to themselves;
// the problems found are exactly the promises that fail; a header made for
// a body keeps its length promise and round-trips through its bytes.
//
// Input: 16 header bytes, 4 bytes of CRC, 4 of length, the rest unused.
#include <cstdint>

#include "formats/oad/header.hpp"
#include "formats/oad/header_reader.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cursor in(data, size);
    const std::span<const std::uint8_t> taken = in.take(oad_header_size);
    std::array<std::uint8_t, oad_header_size> bytes{};
    std::copy(taken.begin(), taken.end(), bytes.begin());
    const std::uint32_t crc = in.word();
    const std::uint64_t length = in.word();

    const oad_header h = decode_oad_header(bytes);
    require(encode_oad_header(h) == bytes);

    oad_header_report report;
    report.stored = h;
    report.computed_crc = crc;
    report.length = length;
    problem_list problems;
    check_oad_header(report, image_part::stack_header, problems);
    const std::uint64_t failing = (report.crc_ok() ? 0 : 1) + (report.length_ok() ? 0 : 1) +
                                  (report.reserved_ok() ? 0 : 1);
    require(problems.total() == failing);
    require(!report.wrapped() || report.length >= std::uint64_t{0x10000} * 4);  // 0x10000 words or more
    if (report.length_ok() && length >= oad_header_size) {
        // Within 256 bytes: a length_words that is right is plausible when
        // the reserved bytes are.
        require(header_plausible(bytes, length) == report.reserved_ok());
    }

    if (const auto text = printable_uid(h.uid)) {
        require(text->size() == 4);
        for (const char c : *text) require(c >= 0x20 && c < 0x7F);
    }

    const std::uint64_t body = length & 0x00FFFFFF;
    const oad_header made = make_oad_header(crc, body, h.version, h.uid, h.rom_version);
    require(decode_oad_header(encode_oad_header(made)) == made);
    oad_header_report fresh;
    fresh.stored = made;
    fresh.computed_crc = crc;
    fresh.length = oad_header_size + body;
    problem_list none;
    check_oad_header(fresh, image_part::app_header, none);
    require(none.empty());
    return 0;
}
