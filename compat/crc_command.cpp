#include "compat/crc_command.hpp"

#include <cinttypes>

#include "compat/console.hpp"
#include "compat/inputs.hpp"
#include "compat/keys.hpp"
#include "formats/flash_crc/writer.hpp"
#include "io/file.hpp"

namespace velk::compat {
namespace {

bool ends_in_bin(std::string_view name) { return name.ends_with(".bin"); }

// Writing an output over the input would destroy the input before it has
// been read; the names differ, but a link can still make them one file.
bool outputs_apart(const char* input, const crc_image_names& names) {
    for (const std::string* output : {&names.image, &names.twin}) {
        if (same_file(input, *output)) {
            say("Can't open file %s.\n", output->c_str());
            say("It is the input file %s itself.\n", input);
            return false;
        }
    }
    return true;
}

// Reports the first failure of an encoding; true when there was none.
bool converted(const status& done, const char* input, const crc_image_names& names) {
    if (done) return true;
    switch (done.error().role) {
        case role::image:
            say("Can't write file %s.\n", names.image.c_str());
            break;
        case role::twin:
            say("Can't write file %s.\n", names.twin.c_str());
            break;
        default:
            say("Can't read file %s.\n", input);
            break;
    }
    return false;
}

}  // namespace

crc_image_names crc_output_names(std::string_view input) {
    if (ends_in_bin(input)) {
        const std::string_view stem = input.substr(0, input.size() - 4);
        return {std::string(stem) + "_crc.bin", std::string(stem) + ".out"};
    }
    return {std::string(input) + "_crc.bin", std::string(input) + ".out"};
}

int write_crc_image(const char* input_name, const scramble_keys& keys) {
    // The input is converted for the length it is measured at: a pipe or a
    // device measures 0 bytes and would pass as an empty image, and a
    // directory fails only after both outputs were truncated. Neither is
    // opened, so a FIFO with no writer cannot hold the command up.
    if (input_refused(input_name, input_use::measured, "\n")) return -1;
    File input = input_name != nullptr ? File::open(input_name, File::Mode::read) : File();
    if (!input) {
        say("Can't open file %s.\n", shown(input_name));
        return -1;
    }
    const crc_image_names names = crc_output_names(input_name);
    if (!outputs_apart(input_name, names)) return -1;
    File image = File::open(names.image, File::Mode::create);
    if (!image) {
        say("Can't open file %s.\n", names.image.c_str());
        return -1;
    }
    File twin = File::open(names.twin, File::Mode::create);
    if (!twin) {
        say("Can't open file %s.\n", names.twin.c_str());
        return -1;
    }

    const std::optional<std::uint64_t> size = input.size();
    if (!size) {
        say("Can't read file %s.\n", input_name);
        return -1;
    }
    // The input is read in order for the length it was measured at; the
    // outputs are plain files written in order.
    file_source measured(input, *size);
    const result<flash_crc_written> written = encode_flash_crc(measured, {keys, false}, {image, &twin});
    status done = written ? status{} : status{written.error()};
    // What the stream still buffers shows a failed write only at close.
    if (done && !image.close()) done = write_fault(role::image, image.last_error());
    if (done && !twin.close()) done = write_fault(role::twin, twin.last_error());
    if (!converted(done, input_name, names)) return -1;

    say("        Encrypt Seccessfully!\r\n");
    say("        File Size: 0x%04" PRIx64 "\r\n\r\n", crc_image_size(*size));
    return 0;
}

int crc_command(int argc, const char* const* argv) {
    const char* input = argc >= 3 ? argv[2] : nullptr;
    return write_crc_image(input, parse_scramble_keys({default_key, default_key, default_key,
                                                       default_key}));
}

std::optional<std::string> encrypt_with_keys(const std::string& name, const scramble_keys& keys) {
    if (!ends_in_bin(name)) return std::nullopt;
    if (write_crc_image(name.c_str(), keys) != 0) return std::nullopt;
    return crc_output_names(name).image;
}

}  // namespace velk::compat
