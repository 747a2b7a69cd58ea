#pragma once
// The -c command: the image as a C source file holding one array.

namespace velk {

int bin2c(int argc, const char* const* argv);

}  // namespace velk
