#pragma once
// Options of the -oad command, shared by the merge and single-image flows.

#include <array>
#include <cstdint>
#include <ctime>

namespace velk {

struct cmd_bin_oad_t {
    std::uint32_t version = 0;
    std::uint32_t app_uid = 0;
    std::uint32_t stack_app_uid = 0;
    std::uint32_t link_addr = 0;
    std::uint32_t stack_file_addr = 0;
    const char* boot_file = nullptr;   // borrowed from the argument vector
    const char* stack_file = nullptr;
    const char* app_file = nullptr;
    std::uint16_t rom_version = 0;
};

// Filled by parse_oad_options; read by the -oad flows and the flash CRC writer.
extern cmd_bin_oad_t cmd_bin_oad;
// The four key strings after "-e" (borrowed), or "00A5A5A5" each.
extern std::array<const char*, 4> encrypt_keys;

inline constexpr std::uint32_t default_link_addr = 0x25A80;
inline constexpr std::uint32_t default_stack_file_addr = 0x1F00;
inline constexpr std::uint32_t default_app_uid = 0x42424242;
inline constexpr std::uint32_t default_stack_app_uid = 0x53535353;
inline constexpr std::uint16_t default_rom_version = 0xFFFF;
inline constexpr const char* default_key = "00A5A5A5";

// Reads the -oad options from the whole argument vector and announces the
// defaults it applies, in a fixed order. Returns 0 when "-oad" (or, without
// it, "-OAD") is present, and 1 otherwise or when an option lacks its value
// (a value option as the last token, "-e" with fewer than four keys), which
// gets one line naming the option: scrambling silently with default keys
// would ship an image the user asked to protect.
int parse_oad_options(int argc, const char* const* argv);

// The version used when "-v" is absent: the local year plus month (from 0),
// day, hour, minute and second of now.
std::uint32_t default_version();
std::uint32_t version_from_time(const std::tm& when);

}  // namespace velk
