#pragma once
// Reading any image velk writes back from its file: what it is
// (detect_image) and whether it keeps every promise of its kind
// (check_image), streamed in one pass in a fixed amount of memory. Both
// return values; nothing is printed and nothing but the `data` sink of a
// request is written.

#include <cstdint>
#include <optional>

#include "formats/core/compare.hpp"
#include "formats/core/findings.hpp"
#include "formats/flash_crc/reader.hpp"
#include "formats/readback/kind.hpp"
#include "formats/intel_hex/reader.hpp"
#include "formats/srec/reader.hpp"
#include "formats/oad/merged_reader.hpp"
#include "formats/scramble/scramble.hpp"
#include "io/access.hpp"

namespace velk {

struct read_options {
    merge_layout layout;  // must pass check_layout
    kind_choice choice;
    intel_hex_read_options hex;  // for every encoding that carries addresses
};

// What `file` holds, read from its start. A file that cannot be read to
// its end is reported with read_failed. An image in an encoding that
// carries addresses, read without a base given, whose content shows no
// kind velk reads at the default base is tried again with its first data
// record's address as its base, even when the caller insists on a kind
// (detection::base says so when that is what was recognised).
detection detect_image(const random_source& file, const read_options& options);

// What an image is checked against, besides its own promises.
struct check_request {
    scramble_keys keys = default_scramble_keys;  // descramble a flash CRC image's data
    byte_source* against_raw = nullptr;  // the raw image a flash CRC image was made from
    merged_expectations expect;          // the inputs and headers of a merge
    const random_source* twin = nullptr;  // the twin beside a flash CRC image
    byte_sink* data = nullptr;           // receives a flash CRC image's descrambled data
};

struct flash_crc_findings {
    std::uint64_t bad_blocks = 0;
    std::uint64_t padding_not_erased = 0;
};

struct image_report {
    detection found;
    problem_list problems;
    std::optional<flash_crc_findings> flash;  // for the flash CRC kinds
    std::optional<merged_report> merged;      // for merged and OAD images
    std::optional<intel_hex_summary> hex;     // for Intel HEX files
    std::optional<srec_summary> srec;         // for S-record files
    std::optional<comparison> against_raw;
    std::optional<comparison> twin;
    bool data_failed = false;  // writing to the request's data sink failed

    bool ok() const { return problems.empty() && !data_failed; }
};

// Reads the image `found` describes from the start of `file` and checks
// everything its kind promises, and what `request` adds.
image_report check_image(const random_source& file, const detection& found, const read_options& options,
                         const check_request& request = {});

}  // namespace velk
