#include "compat/oad_single.hpp"

#include <cstdint>
#include <optional>
#include <string>

#include "compat/console.hpp"
#include "compat/crc_command.hpp"
#include "compat/inputs.hpp"
#include "compat/keys.hpp"
#include "compat/names.hpp"
#include "compat/oad_flow.hpp"
#include "compat/oad_options.hpp"
#include "io/clock.hpp"
#include "io/file.hpp"

namespace velk::compat {
namespace {

using ull = unsigned long long;  // for printf's %llx

class single_flow {
public:
    explicit single_flow(const oad_options& options) : options_(options), input_(options.boot_file) {}
    int run();

private:
    outcome make_working_copy();
    outcome pad_crc_image();
    outcome copy_to_output();

    const oad_options& options_;
    const char* input_;
    std::optional<std::string> working_;    // the input's copy, named "<stem>bim_crc.bin"
    std::optional<std::string> crc_image_;  // its flash CRC image
    std::optional<std::string> output_;     // "<stem>_crc.bin"
    std::uint64_t padded_len_ = 0;          // the CRC image's length after padding
};

outcome single_flow::make_working_copy() {
    if (input_ == nullptr) {
        say("-oad needs the name of the image to convert after it\r\n");
        return outcome::closing_exit;
    }
    // The copy is as long as the input measures: a pipe or a device would
    // give an empty image. Refused before any name is derived from it, so
    // nothing is created beside a device either.
    if (input_refused(input_, input_use::measured, "\r\n")) return outcome::closing_exit;
    // Every file the run writes is checked against the input before the
    // first one exists: the working copy, the CRC image and twin the
    // writer makes of it, and the output. A link under any of those names
    // to the input would otherwise truncate it.
    if (const std::optional<std::string> copy_name = derived_file_name(input_, "bim_crc.bin")) {
        const crc_image_names crc_names = crc_output_names(*copy_name);
        const std::optional<std::string> output_name = derived_file_name(input_, "_crc.bin");
        for (const std::string* name : {&*copy_name, &crc_names.image, &crc_names.twin,
                                        output_name ? &*output_name : &*copy_name}) {
            if (overwrites_input(*name, {input_})) return outcome::closing_exit;
        }
    }
    working_ = derive_file_name(input_, "bim_crc.bin");
    if (!working_) return outcome::closing_exit;
    File copy = File::open(*working_, File::Mode::create);
    if (!copy) {
        say("%s file can not be created\r\n", working_->c_str());
        return outcome::closing_exit;
    }
    File in = File::open(input_, File::Mode::read);
    if (!in) {
        say("%s file can not be opened\r\n", input_);
        return outcome::closing_exit;
    }

    const std::uint64_t input_len = in.size().value_or(0);
    BlockWriter writer(copy);
    // One byte more than measured shows an input that grows, or a device
    // that never ends, without copying it forever.
    const std::uint64_t copied = copy_file_data(in, writer, input_len + 1);
    if (!writer.flush() || !copy.close()) {
        say("write boot unsuccessfully in merge\r\n");
        return outcome::removal_exit;
    }
    if (in.error() || copied != input_len) {
        say("%s file can not be read\r\n", input_);
        return outcome::removal_exit;
    }
    say("cmd_bin_oad.stack_file_addr=%x\r\n", options_.stack_file_addr);
    say("boot_bin_len=%llx\r\n", static_cast<ull>(input_len));
    return outcome::done;
}

// 1 to 256 bytes of 0xFF: the image always ends on a 256-byte boundary
// with at least one erased byte after the last block.
outcome single_flow::pad_crc_image() {
    // Opened for update, never created: a missing image means the writer
    // failed, and padding an empty new file would hide that.
    File image = File::open(*crc_image_, File::Mode::update);
    if (!image) {
        say("%s file can not be opened\r\n", crc_image_->c_str());
        return outcome::closing_exit;
    }
    const std::optional<std::uint64_t> n = image.seek_end() ? image.size() : std::nullopt;
    if (!n) {
        say("%s file can not be read\r\n", crc_image_->c_str());
        return outcome::closing_exit;
    }
    padded_len_ = *n + 256 - (*n % 256);
    BlockWriter writer(image);
    writer.fill(0xFF, padded_len_ - *n);
    if (!writer.flush() || !image.close()) {
        say("write merge flie 0xff unsuccessfully.\r\n");
        return outcome::closing_exit;
    }
    return outcome::done;
}

outcome single_flow::copy_to_output() {
    output_ = derive_file_name(input_, "_crc.bin");
    if (!output_) return outcome::closing_exit;
    if (overwrites_input(*output_, {input_})) return outcome::removal_exit;
    return copy_part(*crc_image_, 0, padded_len_, *output_, "write merge bin err\r\n");
}

int single_flow::run() {
    outcome result = make_working_copy();
    if (result == outcome::done) {
        crc_image_ = encrypt_with_keys(*working_, parse_scramble_keys(options_.keys));
        // No name: the writer failed and has said why.
        if (!crc_image_) result = outcome::closing_exit;
    }
    if (result == outcome::done) result = pad_crc_image();
    if (result == outcome::done) result = copy_to_output();
    if (result != outcome::done) return end_failed_run(result, working_);

    // The text twin of the CRC image stays beside the output.
    remove_working_file(working_);
    remove_working_file(crc_image_);
    print_banner_head(*output_);
    print_banner_tail();
    return 0;
}

}  // namespace

int oad_single(int argc, const char* const* argv) {
    const std::optional<oad_options> options =
        parse_oad_options(argc, argv, key_use::scrambles, environment_variable("SOURCE_DATE_EPOCH"));
    if (!options) return 1;
    print_oad_start(options->version);
    return single_flow(*options).run();
}

}  // namespace velk::compat
