#include "oad/options.hpp"

#include <string_view>

#include "cli/args.hpp"
#include "io/console.hpp"

namespace velk {

cmd_bin_oad_t cmd_bin_oad;
std::array<const char*, 4> encrypt_keys{default_key, default_key, default_key, default_key};

namespace {

// Where a value option stands, if anywhere; a value option that is the
// last token has no value and cannot be honoured.
enum class lookup { absent, present, missing_value };

lookup find_value(int argc, const char* const* argv, std::string_view word, int values,
                  const char*& first) {
    const int i = find_option(argc, argv, word);
    if (i < 0) return lookup::absent;
    if (argc - 1 - i < values) return lookup::missing_value;
    first = argv[i + 1];
    return lookup::present;
}

// Reads one numeric option; false after reporting a missing value.
bool number_option(int argc, const char* const* argv, std::string_view word,
                   std::uint32_t& field, std::uint32_t fallback, bool& given) {
    const char* value = nullptr;
    switch (find_value(argc, argv, word, 1, value)) {
        case lookup::absent:
            field = fallback;
            given = false;
            return true;
        case lookup::present:
            field = read_number(value);
            given = true;
            return true;
        case lookup::missing_value:
            break;
    }
    say("option %.*s needs a value\r\n", static_cast<int>(word.size()), word.data());
    return false;
}

}  // namespace

std::uint32_t version_from_time(const std::tm& when) {
    const auto year = static_cast<std::uint32_t>(when.tm_year + 1900) & 0xFFFFu;
    const auto spread =
        static_cast<std::uint32_t>(when.tm_mon + when.tm_mday + when.tm_hour + when.tm_min +
                                   when.tm_sec) &
        0xFFFFu;
    return year + spread;
}

std::uint32_t default_version() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return local != nullptr ? version_from_time(*local) : 0;
}

int parse_oad_options(int argc, const char* const* argv) {
    cmd_bin_oad_t& o = cmd_bin_oad;
    bool given = false;

    if (!number_option(argc, argv, "-v", o.version, 0, given)) return 1;
    if (!given) {
        o.version = default_version();
        say("you do not appoint version information default:0x%x\r\n", o.version);
    }
    if (!number_option(argc, argv, "-l", o.link_addr, default_link_addr, given)) return 1;
    if (!given) say("you do not appoint link addr,default :0x%x\r\n", o.link_addr);

    if (!number_option(argc, argv, "-m", o.stack_file_addr, default_stack_file_addr, given))
        return 1;
    if (given) say("cmd_bin_oad.stack_file_addr :0x%x\r\n", o.stack_file_addr);

    std::uint32_t rom = 0;
    if (!number_option(argc, argv, "-rom_v", rom, default_rom_version, given)) return 1;
    o.rom_version = static_cast<std::uint16_t>(rom & 0xFFFFu);
    if (!given) say("you do not appoint rom version,default :0x%x\r\n", o.rom_version);

    const char* key = nullptr;
    switch (find_value(argc, argv, "-e", 4, key)) {
        case lookup::absent:
            encrypt_keys = {default_key, default_key, default_key, default_key};
            say("you do not appoint encrypt:default: \r\n");
            say("b=%s,%s,%s,%s\r\n", encrypt_keys[0], encrypt_keys[1], encrypt_keys[2],
                encrypt_keys[3]);
            break;
        case lookup::present: {
            const int i = find_option(argc, argv, "-e");
            encrypt_keys = {argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]};
            break;
        }
        case lookup::missing_value:
            say("option -e needs four key strings\r\n");
            return 1;
    }

    if (!number_option(argc, argv, "-APP_U", o.app_uid, default_app_uid, given)) return 1;
    if (!number_option(argc, argv, "-STACK_APP_U", o.stack_app_uid, default_stack_app_uid,
                       given))
        return 1;

    int at = find_option(argc, argv, "-oad");
    if (at < 0) at = find_option(argc, argv, "-OAD");
    if (at < 0) return 1;
    const char** names[] = {&o.boot_file, &o.stack_file, &o.app_file};
    for (int k = 0; k < 3; ++k) {
        *names[k] = at + 1 + k < argc ? argv[at + 1 + k] : nullptr;
    }
    return 0;
}

}  // namespace velk
