#include "io/cpu.hpp"

namespace velk {

#if defined(__x86_64__)

bool cpu_has_ssse3() {
    static const bool has = __builtin_cpu_supports("ssse3") != 0;
    return has;
}

bool cpu_has_pclmul() {
    static const bool has = __builtin_cpu_supports("pclmul") != 0;
    return has;
}

#else

bool cpu_has_ssse3() { return false; }
bool cpu_has_pclmul() { return false; }

#endif

}  // namespace velk
