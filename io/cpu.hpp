#pragma once
// What the processor can do beyond the baseline the programs are built
// for, asked once; the engine's vector paths choose by these.

namespace velk {

// x86-64 SSSE3 (byte shuffles in vector registers); false elsewhere.
bool cpu_has_ssse3();

// x86-64 PCLMULQDQ (carry-less multiplication); false elsewhere.
bool cpu_has_pclmul();

}  // namespace velk
