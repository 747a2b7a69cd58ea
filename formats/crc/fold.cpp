// Folding a reflected CRC-32 128 bits at a time with carry-less
// multiplication: four lanes of 128 bits are each multiplied forward by
// x^512 (two 64-bit halves, two constants) and the next 64 bytes XORed in;
// then the lanes are folded into one, the one reduced to 64 bits and then,
// by Barrett's method, to the 32-bit register. The same arithmetic the
// tables do bit by bit, with the constants from crc32_fold_constants.

#include "formats/crc/crc.hpp"

#include <cassert>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace velk {

#if defined(__x86_64__)

namespace {

// x * k, the two 64-bit halves of x multiplied by the two of k.
__attribute__((target("pclmul,sse2"))) __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) __m128i load(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

}  // namespace

__attribute__((target("pclmul,sse2"))) std::uint32_t fold_crc32(
    std::uint32_t reg, std::span<const std::uint8_t> data, const crc32_fold_constants& k) {
    assert(data.size() >= 64 && data.size() % 16 == 0);
    const std::uint8_t* p = data.data();
    std::size_t left = data.size();

    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x2 = load(p + 16);
    __m128i x3 = load(p + 32);
    __m128i x4 = load(p + 48);
    p += 64;
    left -= 64;
    const __m128i by512 = _mm_set_epi64x(static_cast<long long>(k.k480), static_cast<long long>(k.k544));
    for (; left >= 64; p += 64, left -= 64) {
        x1 = _mm_xor_si128(fold(x1, by512), load(p));
        x2 = _mm_xor_si128(fold(x2, by512), load(p + 16));
        x3 = _mm_xor_si128(fold(x3, by512), load(p + 32));
        x4 = _mm_xor_si128(fold(x4, by512), load(p + 48));
    }

    const __m128i by128 = _mm_set_epi64x(static_cast<long long>(k.k96), static_cast<long long>(k.k160));
    x1 = _mm_xor_si128(fold(x1, by128), x2);
    x1 = _mm_xor_si128(fold(x1, by128), x3);
    x1 = _mm_xor_si128(fold(x1, by128), x4);
    for (; left >= 16; p += 16, left -= 16) x1 = _mm_xor_si128(fold(x1, by128), load(p));

    // 128 bits to 64: the low half times x^96 into the high half...
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x = _mm_xor_si128(_mm_clmulepi64_si128(x1, by128, 0x10), _mm_srli_si128(x1, 8));
    // ...then its low 32 bits times x^64 into the rest.
    const __m128i by64 = _mm_set_epi64x(0, static_cast<long long>(k.k64));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), by64, 0x00), _mm_srli_si128(x, 4));

    // Barrett: the quotient by P from mu, and P times it taken away.
    const __m128i poly_mu = _mm_set_epi64x(static_cast<long long>(k.mu), static_cast<long long>(k.poly));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), poly_mu, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly_mu, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

#else

std::uint32_t fold_crc32(std::uint32_t reg, std::span<const std::uint8_t>, const crc32_fold_constants&) {
    return reg;  // never called: cpu_has_pclmul() is false
}

#endif

}  // namespace velk
