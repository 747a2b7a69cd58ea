#pragma once
// The -crc command, and the flash CRC image writer that velk-single's -oad
// flow runs on its working copy.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/scramble/scramble.hpp"

namespace velk::compat {

// Output names: for an input ending in ".bin", "<name without .bin>_crc.bin"
// and "<name without bin>out"; for any other input, "<name>_crc.bin" and
// "<name>.out".
struct crc_image_names {
    std::string image;
    std::string twin;
};
crc_image_names crc_output_names(std::string_view input);

// Writes the image and twin of the named input, scrambled with `keys`.
// Refuses, before either output is created, an input that is a directory
// or not a regular file (see input_refused), and an output that is the
// input file itself. Returns 0 after printing the success and size lines,
// or -1 after one line on the failure: such a refusal, an input that cannot
// be opened or read in full, an output that cannot be created, written or
// closed.
int write_crc_image(const char* input_name, const scramble_keys& keys);

// The -crc command: the unscrambled image of the third command-line token,
// wherever "-crc" stands; without a third token no file is touched.
int crc_command(int argc, const char* const* argv);

// Writes the image of name, which must end in ".bin", scrambled with
// `keys`, and returns the image's name. Nothing when the name does not end
// in ".bin" (then nothing is written) or when the writer failed.
std::optional<std::string> encrypt_with_keys(const std::string& name, const scramble_keys& keys);

}  // namespace velk::compat
