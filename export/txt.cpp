#include "export/txt.hpp"

namespace velk {

int bin2txt(int, const char* const*) { return 1; }

}  // namespace velk
