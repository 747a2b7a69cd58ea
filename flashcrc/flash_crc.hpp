#pragma once
// The flash CRC image: 32-byte blocks, each followed by its CRC-16, and the
// ".out" text twin that spells every byte of the image.

#include <optional>
#include <string>

namespace velk {

// The -crc command: the image of the third command-line token, unscrambled.
int crc_command(int argc, const char* const* argv);

}  // namespace velk
