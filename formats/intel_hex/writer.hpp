#pragma once
// Intel HEX, the text form in which flash programmers take an image: 16
// data bytes a record, extended linear address records for addresses past
// 64 KiB, an end-of-file record, CR LF after every record. A record whose
// 16 bytes are all erased flash (0xFF) is left out, except the image's last
// one, so that the image's length survives: reading the file back and
// filling the gaps with 0xFF gives the image exactly.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "io/file.hpp"

namespace velk {

// Takes the image's bytes in order, as any sink does, and writes its
// records to `out`. finish() writes the held-back last record and the
// end-of-file record; without it the file is incomplete.
class intel_hex_sink final : public byte_sink {
public:
    // `base` is the address of the image's first byte; base plus the
    // image's length must not exceed 2^32 (fits_intel_hex tells).
    intel_hex_sink(byte_sink& out, std::uint32_t base);

    bool write(std::span<const std::uint8_t> bytes) override;
    // Flushes everything to `out`; false when any write failed.
    bool finish();

private:
    void emit(std::span<const std::uint8_t> data, std::uint64_t address);
    void emit_record(std::uint8_t type, std::uint16_t address, std::span<const std::uint8_t> data);

    BlockWriter out_;
    std::uint64_t next_address_;  // address of pending_[0]
    std::array<std::uint8_t, 16> pending_{};
    std::size_t pending_length_ = 0;
    // The last complete record, kept back until it is known whether it is
    // the image's last.
    std::array<std::uint8_t, 16> held_{};
    bool holding_ = false;
    std::uint32_t upper_ = 0;  // address bits 16-31 the reader is at
};

// True when an image of `length` bytes at `base` has every address below 2^32.
bool fits_intel_hex(std::uint32_t base, std::uint64_t length);

}  // namespace velk
