#pragma once
// The -txt command: the image as a hexadecimal text dump.

namespace velk {

int bin2txt(int argc, const char* const* argv);

}  // namespace velk
