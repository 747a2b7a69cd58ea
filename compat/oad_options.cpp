#include "compat/oad_options.hpp"

#include <string_view>

#include "compat/args.hpp"
#include "compat/console.hpp"
#include "formats/oad/version.hpp"
#include "io/clock.hpp"

namespace velk::compat {
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

// The version when "-v" is absent; false after one line when
// SOURCE_DATE_EPOCH cannot be read as a time.
bool default_version(const char* source_date_epoch, std::uint32_t& version) {
    const source_date epoch = read_source_date_epoch(source_date_epoch);
    const std::optional<std::uint32_t> from_epoch =
        epoch.what == source_date::kind::time ? default_image_version(epoch, local_time_now) : std::nullopt;
    // A time too far ahead for the calendar is no more a date than a word.
    if (epoch.what == source_date::kind::malformed ||
        (epoch.what == source_date::kind::time && !from_epoch)) {
        say("SOURCE_DATE_EPOCH=%s is not a number of seconds since 1970\r\n", source_date_epoch);
        return false;
    }
    version = from_epoch ? *from_epoch : default_image_version(epoch, local_time_now).value_or(0);
    return true;
}

// For keys that scramble: false after the key's own error line and one
// naming it, at the first key that is not a bare hexadecimal word.
bool keys_usable(const std::array<const char*, 4>& keys) {
    for (std::size_t k = 0; k < keys.size(); ++k) {
        if (read_hex_key(keys[k]).bad) {
            parse_hex_key(keys[k]);
            say("key %zu (%s) is not a bare hexadecimal word\r\n", k + 1, keys[k]);
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<oad_options> parse_oad_options(int argc, const char* const* argv, key_use keys,
                                             const char* source_date_epoch) {
    oad_options o;
    bool given = false;

    if (!number_option(argc, argv, "-v", o.version, 0, given)) return std::nullopt;
    if (!given) {
        if (!default_version(source_date_epoch, o.version)) return std::nullopt;
        say("you do not appoint version information default:0x%x\r\n", o.version);
    }
    if (!number_option(argc, argv, "-l", o.link_addr, default_link_addr, given)) return std::nullopt;
    if (!given) say("you do not appoint link addr,default :0x%x\r\n", o.link_addr);

    if (!number_option(argc, argv, "-m", o.stack_file_addr, default_stack_file_addr, given))
        return std::nullopt;
    if (given) say("cmd_bin_oad.stack_file_addr :0x%x\r\n", o.stack_file_addr);

    std::uint32_t rom = 0;
    if (!number_option(argc, argv, "-rom_v", rom, default_rom_version, given)) return std::nullopt;
    o.rom_version = static_cast<std::uint16_t>(rom & 0xFFFFu);
    if (!given) say("you do not appoint rom version,default :0x%x\r\n", o.rom_version);

    const char* key = nullptr;
    switch (find_value(argc, argv, "-e", 4, key)) {
        case lookup::absent:
            say("you do not appoint encrypt:default: \r\n");
            say("b=%s,%s,%s,%s\r\n", o.keys[0], o.keys[1], o.keys[2], o.keys[3]);
            break;
        case lookup::present: {
            const int i = find_option(argc, argv, "-e");
            o.keys = {argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]};
            if (keys == key_use::scrambles && !keys_usable(o.keys)) return std::nullopt;
            break;
        }
        case lookup::missing_value:
            say("option -e needs four key strings\r\n");
            return std::nullopt;
    }

    if (!number_option(argc, argv, "-APP_U", o.app_uid, default_app_uid, given)) return std::nullopt;
    if (!number_option(argc, argv, "-STACK_APP_U", o.stack_app_uid, default_stack_app_uid,
                       given))
        return std::nullopt;

    int at = find_option(argc, argv, "-oad");
    if (at < 0) at = find_option(argc, argv, "-OAD");
    if (at < 0) return std::nullopt;
    const char** names[] = {&o.boot_file, &o.stack_file, &o.app_file};
    for (int k = 0; k < 3; ++k) {
        *names[k] = at + 1 + k < argc ? argv[at + 1 + k] : nullptr;
    }
    return o;
}

}  // namespace velk::compat
