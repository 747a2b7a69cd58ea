#pragma once
// The -oad command of velk-single: one image turned into a scrambled flash
// CRC image padded with 0xFF to a multiple of 256 bytes.

namespace velk::compat {

int oad_single(int argc, const char* const* argv);

}  // namespace velk::compat
