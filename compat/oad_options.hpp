#pragma once
// Options of the -oad command, shared by the merge and single-image flows.

#include <array>
#include <cstdint>
#include <optional>

#include "compat/keys.hpp"

namespace velk::compat {

struct oad_options {
    std::uint32_t version = 0;
    std::uint32_t app_uid = 0;
    std::uint32_t stack_app_uid = 0;
    std::uint32_t link_addr = 0;
    std::uint32_t stack_file_addr = 0;
    std::uint16_t rom_version = 0;
    // The four key strings after "-e" (borrowed), or default_key each.
    std::array<const char*, 4> keys{default_key, default_key, default_key, default_key};
    const char* boot_file = nullptr;   // borrowed from the argument vector
    const char* stack_file = nullptr;
    const char* app_file = nullptr;
};

inline constexpr std::uint32_t default_link_addr = 0x25A80;
inline constexpr std::uint32_t default_stack_file_addr = 0x1F00;
inline constexpr std::uint32_t default_app_uid = 0x42424242;
inline constexpr std::uint32_t default_stack_app_uid = 0x53535353;
inline constexpr std::uint16_t default_rom_version = 0xFFFF;

// Whether the flow scrambles with the "-e" keys, and so must refuse a bad
// one rather than ship an image scrambled with another key.
enum class key_use { announced_only, scrambles };

// Reads the -oad options from the whole argument vector and announces the
// defaults it applies, in a fixed order. The default version comes from
// `source_date_epoch` (the variable's value, or null) when it is set, else
// from the clock. Nothing when neither "-oad" nor "-OAD" is present, or
// after one line when an option lacks its value (a value option as the last
// token, "-e" with fewer than four keys), when a key that scrambles is not
// a bare hexadecimal word, or when SOURCE_DATE_EPOCH is malformed:
// guessing would ship an image other than the one asked for.
std::optional<oad_options> parse_oad_options(int argc, const char* const* argv, key_use keys,
                                             const char* source_date_epoch);

}  // namespace velk::compat
