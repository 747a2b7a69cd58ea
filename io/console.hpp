#pragma once
// How a printf-like function is marked so that the compiler checks its
// calls against the printf the platform's C library really uses.

#if defined(__MINGW32__)
// MinGW's C++ mode routes printf to its own C99 implementation, not to the
// system runtime whose rules "printf" would check against (no %zu there).
#define VELK_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(gnu_printf, fmt_index, first_arg)))
#elif defined(__GNUC__) || defined(__clang__)
#define VELK_PRINTF_LIKE(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VELK_PRINTF_LIKE(fmt_index, first_arg)
#endif
