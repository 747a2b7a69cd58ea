#pragma once
// Image operands as velk reads them: raw bytes, or the tool chain's own
// files (ELF, Intel HEX, S-records) placed by their addresses, told apart
// by content. Every refusal ends the run with exit status 3 and one line
// naming the file and the place.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/files.hpp"
#include "formats/address_map/address_map.hpp"
#include "formats/inputs/inputs.hpp"

namespace velk::cli {

// The options every command that reads image operands takes.
struct input_settings {
    std::optional<input_encoding> format;  // --input-format; none: by content
    std::optional<std::uint64_t> origin;   // --origin: the image's first address
    std::uint64_t max_size = std::uint64_t{256} << 20;  // --max-size
    std::optional<std::pair<std::uint64_t, std::uint64_t>> crop;  // --crop START,END
};

// One image operand, opened and read as what it holds. It stays where it
// was made: the engine's sources refer into it.
class image_input {
public:
    // `need`: whether a file that is not standard input must be a regular
    // file; `spool`: raw standard input is copied aside to be measured.
    image_input(const std::string& name, const input_settings& settings, input_need need, bool spool = false);
    image_input(const image_input&) = delete;
    image_input& operator=(const image_input&) = delete;

    const std::string& name() const { return file_.name; }
    const input_encoding_info& encoding() const { return *encoding_; }
    // The map of an input that carries addresses; null for raw bytes.
    const address_map* map() const { return map_ ? &*map_ : nullptr; }
    std::uint64_t lo() const { return map_ ? velk::lo(*map_) : 0; }
    std::uint64_t hi() const { return map_ ? velk::hi(*map_) : 0; }
    // The start (entry) address the input gives, when it gives one that
    // a 32-bit record can carry.
    std::optional<std::uint32_t> start() const {
        if (!map_ || !map_->start || *map_->start > UINT32_MAX) return std::nullopt;
        return static_cast<std::uint32_t>(*map_->start);
    }

    // Lays an input with addresses out from `origin` (its lo when none):
    // exit status 3 when data lie below it or the image would be larger
    // than `max_size`, naming what made it so. Raw input: nothing to do.
    void place(std::optional<std::uint64_t> origin, std::uint64_t max_size, const std::string& why_origin);

    // The image's bytes, once placed: by offset when they can be.
    byte_source& source();
    // Its size, when known before it is read (raw standard input: not).
    std::optional<std::uint64_t> size() const;
    // The image's bytes again from the first, for a check that compares
    // an output with them; exit status 3 when they cannot be.
    byte_source& reread();

private:
    input_file file_;
    const input_encoding_info* encoding_ = nullptr;
    std::unique_ptr<scratch_file> spool_;  // what a text input decodes to
    std::optional<address_map> map_;
    std::optional<file_source> whole_;
    std::uint64_t origin_ = 0;
    std::unique_ptr<flat_image> flat_;
    std::unique_ptr<flat_image> again_;
    std::unique_ptr<byte_source> stream_;  // raw standard input, its first bytes read already
};

// --origin is an address in the inputs' address space: a usage error for
// an input of raw bytes, which has none.
void check_origin(const input_settings& in, const image_input& input);

// The value of --max-size: a number, decimal or 0x, with an optional K, M
// or G (powers of 1024).
std::uint64_t parse_size(const std::string& option, const std::string& text);
// --crop START,END, END above START.
std::pair<std::uint64_t, std::uint64_t> parse_range(const std::string& option, const std::string& text);

}  // namespace velk::cli
