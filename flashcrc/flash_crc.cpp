#include "flashcrc/flash_crc.hpp"

namespace velk {

int crc_command(int, const char* const*) { return -1; }

}  // namespace velk
