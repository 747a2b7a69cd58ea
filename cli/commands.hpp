#pragma once
// The velk commands, each a function of its settings. The command line
// (app.cpp) fills the settings; nothing here reads argv.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/inputs.hpp"
#include "formats/encoding/encoding.hpp"
#include "formats/export/export.hpp"
#include "formats/readback/kind.hpp"
#include "formats/oad/merge.hpp"
#include "formats/scramble/scramble.hpp"

namespace velk::cli {

struct common_settings {
    bool quiet = false;  // no summary lines on stdout
};

struct flash_settings {
    std::string input;
    std::optional<std::string> output;  // -o
    scramble_keys keys = default_scramble_keys;
    bool twin = true;
    image_encoding format = image_encoding::binary;  // of the flash image
    std::uint32_t base = 0;
    bool verify = false;  // read the outputs back and check them before they are put in place
    input_settings inputs;
};

struct merge_settings {
    std::string boot;
    std::string stack;
    std::string app;
    std::optional<std::string> prefix;  // -o
    merge_layout layout;
    bool stack_at_given = false;  // --stack-at, else the stack input's address or the default
    bool app_at_given = false;
    std::optional<std::uint16_t> image_version;
    std::uint16_t rom_version = 0xFFFF;
    std::uint32_t app_uid = 0x42424242;
    std::uint32_t stack_uid = 0x53535353;
    image_encoding format = image_encoding::binary;  // of the flash image
    std::uint32_t base = 0;
    bool verify = false;
    input_settings inputs;
};

struct export_command_settings {
    std::string input;                  // "-" for standard input
    std::optional<std::string> output;  // -o; "-" for standard output
    std::optional<std::string> header;  // c --header: a header declaring the array
    export_settings cells;
    input_settings inputs;
};

// info and verify: images read back.
struct read_settings {
    std::vector<std::string> files;
    merge_layout layout;
    kind_choice kind;                     // --kind
    std::optional<std::uint32_t> base;    // --base: Intel HEX address of the image's first byte
    std::optional<scramble_keys> keys;    // --keys
    std::vector<std::string> against;     // --against: RAW, or BOOT, STACK and APP
    bool json = false;
    // How a file that is an input, not an image, is laid out (info), and
    // how the --against inputs are (verify).
    input_settings inputs;
};

struct unpack_settings {
    std::string image;
    std::optional<std::string> output;  // -o
    scramble_keys keys = default_scramble_keys;
    std::optional<std::uint64_t> length;  // --length
    kind_choice kind;
    std::optional<std::uint32_t> base;
};

// Each returns normally on success and throws cli::failure otherwise.
void run_crc(const flash_settings& settings, const common_settings& common);
void run_single(const flash_settings& settings, const common_settings& common);
void run_merge(const merge_settings& settings, const common_settings& common);
void run_export(const export_format& format, const export_command_settings& settings,
                const common_settings& common);
// info and verify return the exit status: they go on past a file that
// fails, and the status tells the worst that happened.
int run_info(const read_settings& settings);
int run_verify(const read_settings& settings);
void run_unpack(const unpack_settings& settings, const common_settings& common);

}  // namespace velk::cli
