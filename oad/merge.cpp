#include "oad/merge.hpp"

namespace velk {

int oad_merge(int, const char* const*) { return 1; }

}  // namespace velk
