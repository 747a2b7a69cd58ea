#pragma once
// The encodings an image file can be in, one row each: what the command
// line and the JSON report call it, the file extension it is written
// under, how an image is written in it and read back from it, and how its
// first bytes show it. Everything that lists, parses, writes, reads or
// detects encodings goes through this table, so that a new encoding is a
// folder for its writer and reader and a row here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "formats/core/findings.hpp"
#include "formats/intel_hex/reader.hpp"
#include "formats/srec/reader.hpp"
#include "io/file.hpp"

namespace velk {

enum class image_encoding { binary, intel_hex, srec, text_twin };
inline constexpr std::size_t encoding_count = static_cast<std::size_t>(image_encoding::text_twin) + 1;

// An image being written in an encoding: its bytes go to sink(); finish()
// ends the encoding's text and says whether every write succeeded.
class encoding_writer {
public:
    virtual ~encoding_writer() = default;
    virtual byte_sink& sink() = 0;
    virtual bool finish() = 0;
};

// An image being read from a file in an encoding: source() gives its
// bytes from the first, and the faults of the text go to the problem
// list the reader was made with.
class encoding_reader {
public:
    virtual ~encoding_reader() = default;
    virtual byte_source& source() = 0;
    // What the records held, for Intel HEX.
    virtual std::optional<intel_hex_summary> hex_summary() const { return std::nullopt; }
    // What the records held, for S-records.
    virtual std::optional<srec_summary> srec_record_summary() const { return std::nullopt; }
    // The address of the first data record read so far, for encodings that
    // carry addresses.
    virtual std::optional<std::uint64_t> first_address() const { return std::nullopt; }
};

struct encoding_write_options {
    std::uint32_t base = 0;  // address of the image's first byte, for encodings that carry addresses
    // The address the records name as the image's start, for encodings
    // that carry one; the base when none.
    std::optional<std::uint32_t> start;
};

struct encoding_info {
    image_encoding what;
    const char* name;       // on the command line: --format, --kind
    const char* id;         // in the JSON report
    const char* words;      // in sentences
    const char* extension;  // of a file written in it
    // The file's text is decoded into the image: reports give both lengths.
    bool decoded;
    // Writes an image to `out`; nullptr for an encoding velk only reads.
    std::unique_ptr<encoding_writer> (*writer)(byte_sink& out, const encoding_write_options& options);
    // Reads the image from `in`, its text's faults going to `problems`;
    // the options' base and length limit serve every encoding that carries
    // addresses.
    std::unique_ptr<encoding_reader> (*reader)(byte_source& in, problem_list& problems,
                                               const intel_hex_read_options& options);
    // Whether an image of `length` bytes at `base` has every address the
    // encoding can write; nullptr for an encoding without addresses, which
    // places any image at 0 and takes no base.
    bool (*fits)(std::uint32_t base, std::uint64_t length);
    // Whether the first bytes of a file are a good start of this encoding;
    // nullptr for the encoding a file is in when it is in no other.
    bool (*looks_like)(std::span<const std::uint8_t> head);
    // Why a file's first bytes are not this encoding: an id for the JSON
    // report and the words for people.
    const char* mismatch_id;
    const char* mismatch_words;
};

// Every encoding, in the order the command line lists them and detection
// tries them.
std::span<const encoding_info> encodings();
const encoding_info& encoding_of(image_encoding encoding);
// The encoding the command line calls `name`; nullptr when none is.
const encoding_info* encoding_named(std::string_view name);

// Whether the encoding's records carry addresses, so that an image in it
// sits at a base.
inline bool carries_addresses(const encoding_info& e) { return e.fits != nullptr; }
// Whether an image of `length` bytes at `base` can be written in `e`.
inline bool fits_in(const encoding_info& e, std::uint32_t base, std::uint64_t length) {
    return e.fits == nullptr || e.fits(base, length);
}

}  // namespace velk
