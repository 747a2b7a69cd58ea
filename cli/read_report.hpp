#pragma once
// What info and verify say about a file: the engine's report in words for
// people, and as JSON for scripts. Nothing here reads a file.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/inputs/inputs.hpp"
#include "formats/readback/check.hpp"

namespace velk::cli {

// The names a report's problems refer to.
struct report_names {
    std::string path;
    std::optional<std::string> twin;  // the twin checked with the image
    std::optional<std::string> raw;   // --against RAW
    std::array<std::string, 3> parts;  // --against BOOT,STACK,APP (empty when not given)
};

// A file that is none of velk's images but an input that says where its
// bytes go (ELF, Intel HEX, S-records): what crc, single and merge would
// make of it.
struct input_segment {
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    std::string label;  // an ELF section's name, or where in a text file the data begin
};

struct input_summary {
    input_encoding encoding = input_encoding::elf;
    std::vector<input_segment> segments;  // by address; they may overlap where their bytes agree
    std::optional<std::uint64_t> start;   // the entry or start address
    std::uint64_t origin = 0;             // the image's first address: --origin, else the lowest
    std::uint64_t image_size = 0;         // from the origin to the end of the highest segment
    std::uint64_t max_size = 0;           // --max-size, which the build commands hold it to
};

// What became of one file of an info or verify run.
struct file_outcome {
    report_names names;
    std::optional<std::string> error;    // why it could not be read or recognised
    std::optional<detection> found;      // set when it was read
    std::optional<image_report> report;  // set when it was recognised and checked
    std::optional<std::uint64_t> size;   // the file's length, when known
    std::optional<input_summary> input;  // set when it is an input, not an image

    bool ok() const { return !error && report && report->ok(); }
};

// "flash CRC image", "stack OAD image", ...
std::string kind_words(image_kind kind);
// One problem as a sentence, without a line end.
std::string problem_text(const problem& p, const report_names& names);
// The kinds tried on an unrecognised file, and why each did not fit.
std::string tried_text(const detection& found);

// info: every field of the file, with the problems found.
std::string info_text(const file_outcome& outcome);
// verify: one line for the file, then one a problem.
std::string verify_text(const file_outcome& outcome);
// The problems of a report, one indented line each, then how many more
// of each check were not listed.
std::string problem_lines(const image_report& report, const report_names& names,
                          const std::string& indent);

// The JSON document of a whole run (its shape: docs/reading-back.md), with a
// line end.
std::string json_document(const std::string& command, const std::vector<file_outcome>& outcomes);

}  // namespace velk::cli
