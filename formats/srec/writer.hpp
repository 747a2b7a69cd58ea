#pragma once
// S-records as an output: a header record (S0), the image in S3 records of
// 16 data bytes at 32-bit addresses, and a termination record (S7) with
// the start address; CR LF after every record. As in velk's Intel HEX, a
// record whose 16 bytes are all erased flash (0xFF) is left out, except
// the image's last one, so that the image's length survives: reading the
// file back and filling the gaps with 0xFF gives the image exactly.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "io/access.hpp"

namespace velk {

// Takes the image's bytes in order, as any sink does, and writes its
// records to `out`. finish() writes the held-back last record and the
// termination record; without it the file is incomplete.
class srec_sink final : public byte_sink {
public:
    // `base`: the address of the image's first byte; base plus the image's
    // length must not pass 2^32 (fits_srec tells). `start`: the address the
    // termination record gives, `base` when none. `header`: the S0
    // record's data, at most 250 bytes.
    srec_sink(byte_sink& out, std::uint32_t base, std::optional<std::uint32_t> start = std::nullopt,
              std::string_view header = {});

    bool write(std::span<const std::uint8_t> bytes) override;
    int error_number() const override { return out_.error_number(); }
    // Writes the rest to `out`; false when any write failed.
    bool finish();

private:
    void emit(std::span<const std::uint8_t> data, std::uint64_t address);
    void emit_record(char type, std::uint32_t address, std::size_t address_bytes,
                     std::span<const std::uint8_t> data);
    bool flush();

    byte_sink& out_;
    bool ok_ = true;
    std::vector<std::uint8_t> text_;  // records not yet written to out_
    std::uint64_t next_address_;      // address of pending_[0]
    std::uint32_t start_;
    std::array<std::uint8_t, 16> pending_{};
    std::size_t pending_length_ = 0;
    // The last complete record, kept back until it is known whether it is
    // the image's last.
    std::array<std::uint8_t, 16> held_{};
    bool holding_ = false;
};

// True when an image of `length` bytes at `base` has every address below 2^32.
bool fits_srec(std::uint32_t base, std::uint64_t length);

}  // namespace velk
