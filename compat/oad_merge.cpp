#include "compat/oad_merge.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "compat/console.hpp"
#include "compat/inputs.hpp"
#include "compat/names.hpp"
#include "compat/oad_flow.hpp"
#include "compat/oad_options.hpp"
#include "formats/oad/merge.hpp"
#include "formats/oad/header.hpp"
#include "io/clock.hpp"
#include "io/file.hpp"

namespace velk::compat {
namespace {

using u64 = std::uint64_t;
using ull = unsigned long long;  // for printf's %llx

constexpr u64 header_size = oad_header_size;

class merge_flow {
public:
    explicit merge_flow(const oad_options& options)
        : o_(options),
          M_(options.stack_file_addr),
          L_(options.link_addr),
          layout_{M_, L_},
          tracker_(layout_) {}

    int run();

private:
    outcome check_before_writing() const;
    outcome build_intermediate();
    outcome copy_image(File& image, const char* name, u64 expected, BlockWriter& out,
                       const char* write_failure);
    outcome append_padding();
    void fill_headers();
    outcome write_merged();
    outcome cut_oad_image(const char* suffix, u64 from, std::optional<std::string>& name);

    bool fits(merge_part part, File& file, u64 length);
    bool overwrites_an_input(const std::string& name) const;
    void put_fill(BlockWriter& out, u64 count);

    const oad_options& o_;
    const u64 M_;  // flash offset of the stack image
    const u64 L_;  // flash offset of the app image
    const merge_layout layout_;

    std::optional<std::string> intermediate_;
    std::optional<std::string> merged_;
    std::optional<std::string> stack_oad_;
    std::optional<std::string> app_oad_;

    // The lengths measured as the inputs are copied, and the plan they make:
    // every offset and length after the copy comes from it.
    u64 boot_len_ = 0;
    u64 stack_len_ = 0;
    u64 app_len_ = 0;
    merge_plan plan_{};
    u64 merge_bin_len_ = 0;  // the intermediate as measured: the plan's data_end()
    u64 pad_len_ = 0;
    u64 oad_stack_app_bin_len_ = 0;
    u64 oad_app_bin_len_ = 0;

    // Follows what the intermediate receives, so the headers are known
    // without reading the data back.
    merge_crc_tracker tracker_;
    merge_crc_tracker::headers headers_{};
};

void merge_flow::put_fill(BlockWriter& out, u64 count) {
    static constexpr auto erased = [] {
        std::array<std::uint8_t, 4096> a{};
        a.fill(0xFF);
        return a;
    }();
    // Once a write has failed the fill is lost anyway; going on would spend
    // the CRC work of up to 4 GiB of fill before the failure is reported.
    while (count != 0 && out.ok()) {
        const auto n = static_cast<std::size_t>(std::min<u64>(count, erased.size()));
        const std::span<const std::uint8_t> piece(erased.data(), n);
        tracker_.track(piece);
        out.put(piece);
        count -= n;
    }
}

bool merge_flow::overwrites_an_input(const std::string& name) const {
    return overwrites_input(name, {o_.boot_file, o_.stack_file, o_.app_file});
}

// Says why `part` does not fit where the layout puts it; true when it does.
bool merge_flow::fits(merge_part part, File& file, u64 length) {
    const std::optional<layout_error> e = check_fit(layout_, part, file_source(file, length));
    // Reading by offset may move the position on some systems; the copy
    // that follows reads in order from the start.
    if (!file.seek(0)) {
        say("%s file can not be read\r\n", part == merge_part::boot ? o_.boot_file : o_.stack_file);
        return false;
    }
    if (!e) return true;
    const bool boot = part == merge_part::boot;
    const char* into = "";
    switch (e->into) {
        case layout_error::obstacle::stack_header: into = "stack header"; break;
        case layout_error::obstacle::stack_image: into = "stack image"; break;
        case layout_error::obstacle::app_header: into = "app header"; break;
        case layout_error::obstacle::app_image: into = "app image"; break;
    }
    say("%s image %s is 0x%llx bytes long and runs into the %s at 0x%llx\r\n",
        boot ? "boot" : "stack", boot ? o_.boot_file : o_.stack_file,
        static_cast<ull>(e->part_length), into, static_cast<ull>(e->at));
    return false;
}

// Both header slots need room: the stack header lies before the stack, the
// app header after it.
bool layout_has_room(const merge_layout& layout) {
    const std::optional<layout_error> e = check_layout(layout);
    if (!e) return true;
    if (e->what == layout_error::kind::no_stack_header_room) {
        say("stack_file_addr 0x%llx leaves no room for the 16-byte stack header before it\r\n",
            static_cast<ull>(layout.stack_at));
    } else {
        say("link_addr 0x%llx leaves no room for the 16-byte app header after the stack at "
            "0x%llx\r\n",
            static_cast<ull>(layout.app_at), static_cast<ull>(layout.stack_at));
    }
    return false;
}

outcome merge_flow::copy_image(File& image, const char* name, u64 expected, BlockWriter& out,
                               const char* write_failure) {
    // One byte more than measured shows a file that grows, or a device that
    // never ends, without copying it forever.
    const u64 copied =
        copy_file_data(image, out, expected + 1, [this](auto data) { tracker_.track(data); });
    if (!out.flush()) {
        say("%s", write_failure);
        return outcome::removal_exit;
    }
    // A file that changed length while it was read would shift everything
    // after it; treat that like any other failed read.
    if (image.error() || copied != expected) {
        say("%s file can not be read\r\n", name);
        return outcome::removal_exit;
    }
    return outcome::done;
}

// Everything that can be refused from the names alone is refused before
// the first file is created, so that a refusal never leaves part of a set
// of outputs behind: an input whose length cannot be measured (the layout
// and both headers depend on the lengths), and a file the run would write
// (the intermediate or an output) that is one of the inputs. Nothing exists
// yet, so a refusal takes the closing exit. A name without a stem passes
// here; deriving it where it is used says so.
outcome merge_flow::check_before_writing() const {
    for (const char* input : {o_.boot_file, o_.stack_file, o_.app_file}) {
        if (input_refused(input, input_use::measured, "\r\n")) return outcome::closing_exit;
    }
    for (const char* suffix : {"_merge_boot_stack.bin", "_merge.bin", "_stack.bin", "_app.bin"}) {
        const std::optional<std::string> name = derived_file_name(o_.app_file, suffix);
        if (name && overwrites_an_input(*name)) return outcome::closing_exit;
    }
    return outcome::done;
}

outcome merge_flow::build_intermediate() {
    intermediate_ = derive_file_name(o_.app_file, "_merge_boot_stack.bin");
    if (!intermediate_) return outcome::closing_exit;
    File out = File::open(*intermediate_, File::Mode::create);
    if (!out) {
        say("%s file can not be created\r\n", intermediate_->c_str());
        return outcome::closing_exit;
    }
    if (!layout_has_room(layout_)) return outcome::removal_exit;
    BlockWriter writer(out);

    File boot = File::open(o_.boot_file, File::Mode::read);
    if (!boot) {
        say("%s file can not be opened\r\n", o_.boot_file);
        return outcome::closing_exit;
    }
    const u64 b = boot_len_ = boot.size().value_or(0);
    if (!fits(merge_part::boot, boot, b)) return outcome::removal_exit;
    if (auto r = copy_image(boot, o_.boot_file, b, writer, "write boot unsuccessfully in merge\r\n");
        r != outcome::done)
        return r;
    say("cmd_bin_oad.stack_file_addr=%llx\r\n", static_cast<ull>(M_));
    say("boot_bin_len=%llx\r\n", static_cast<ull>(b));
    put_fill(writer, M_ - b);
    if (!writer.flush()) {
        say("write oad flie unsuccessfully in oad.\r\n");
        return outcome::removal_exit;
    }
    boot.close();

    say("add stack bin start\r\n");
    File stack = File::open(o_.stack_file, File::Mode::read);
    if (!stack) {
        say("%s file can not be opened\r\n", o_.stack_file);
        return outcome::closing_exit;
    }
    const u64 s = stack_len_ = stack.size().value_or(0);
    if (!fits(merge_part::stack, stack, s)) return outcome::removal_exit;
    if (auto r = copy_image(stack, o_.stack_file, s, writer, "write bin unsuccessfully in oad.\r\n");
        r != outcome::done)
        return r;
    put_fill(writer, L_ - s - M_);
    if (!writer.flush()) {
        say("write oad flie unsuccessfully in oad.\r\n");
        return outcome::removal_exit;
    }
    stack.close();

    File app = File::open(o_.app_file, File::Mode::read);
    if (!app) {
        say("%s file can not be opened\r\n", o_.app_file);
        return outcome::closing_exit;
    }
    const u64 a = app_len_ = app.size().value_or(0);
    if (auto r = copy_image(app, o_.app_file, a, writer, "write bin unsuccessfully in oad.\r\n");
        r != outcome::done)
        return r;
    app.close();
    if (!out.close()) {
        say("write bin unsuccessfully in oad.\r\n");
        return outcome::removal_exit;
    }
    return outcome::done;
}

outcome merge_flow::append_padding() {
    File out = File::open(*intermediate_, File::Mode::update);
    if (!out) {
        say("%s file can not be opened\r\n", intermediate_->c_str());
        return outcome::closing_exit;
    }
    const std::optional<u64> length = out.size();
    if (!length || !out.seek_end()) {
        say("%s file can not be read\r\n", intermediate_->c_str());
        return outcome::closing_exit;
    }
    // Every later length is taken from this one; an intermediate that is not
    // what was written (a link to a device, say) must stop the run here.
    plan_ = merge_plan{layout_, boot_len_, stack_len_, app_len_};
    if (*length != tracker_.position() || *length != plan_.data_end()) {
        say("%s file can not be read\r\n", intermediate_->c_str());
        return outcome::removal_exit;
    }
    merge_bin_len_ = *length;
    // 1 to 256 bytes: the stack-and-app region always ends on a 256-byte
    // boundary with at least one erased byte.
    pad_len_ = plan_.end_padding();

    BlockWriter writer(out);
    put_fill(writer, pad_len_);
    if (!writer.flush() || !out.close()) {
        say("write merge flie 0xff unsuccessfully.\r\n");
        return outcome::closing_exit;
    }
    oad_stack_app_bin_len_ = plan_.stack_image_length();
    oad_app_bin_len_ = plan_.app_image_length();
    say("oad_stack_app_bin_len=%llx\r\n", static_cast<ull>(oad_stack_app_bin_len_));
    say("oad_app_bin_len=%llx\r\n", static_cast<ull>(oad_app_bin_len_));
    for (const auto& [what, len] : {std::pair{"stack", oad_stack_app_bin_len_},
                                    std::pair{"app", oad_app_bin_len_}}) {
        if (len >= length_words_limit) {
            say("warning: the %s OAD image is 0x%llx bytes long; its header's length_words "
                "keeps only the low 16 bits of 0x%llx words\r\n",
                what, static_cast<ull>(len), static_cast<ull>(len / 4));
        }
    }
    return outcome::done;
}

void merge_flow::fill_headers() {
    headers_ = tracker_.finish(plan_, {.version = o_.version,
                                       .stack_uid = o_.stack_app_uid,
                                       .app_uid = o_.app_uid,
                                       .rom_version = o_.rom_version});
    for (std::uint8_t byte : encode_oad_header(headers_.app)) say("%02x ", byte);
}

outcome merge_flow::write_merged() {
    merged_ = derive_file_name(o_.app_file, "_merge.bin");
    if (!merged_) return outcome::closing_exit;
    File in = File::open(*intermediate_, File::Mode::read);
    if (!in) {
        say("%s file can not be opened\r\n", intermediate_->c_str());
        return outcome::closing_exit;
    }
    File out = File::open(*merged_, File::Mode::create);
    if (!out) {
        say("%s file can not be created\r\n", merged_->c_str());
        return outcome::closing_exit;
    }
    BlockWriter writer(out);

    // The image in five runs, so a failed write is told apart by what it
    // hit: a header or the data around it.
    const auto stack_bytes = encode_oad_header(headers_.stack);
    const auto app_bytes = encode_oad_header(headers_.app);
    const u64 total = plan_.total_length();
    const struct {
        u64 length;
        const std::array<std::uint8_t, header_size>* header;
    } runs[] = {
        {plan_.stack_header_at(), nullptr},
        {header_size, &stack_bytes},
        {plan_.app_header_at() - M_, nullptr},
        {header_size, &app_bytes},
        {total - L_, nullptr},
    };
    u64 copied = 0;
    for (const auto& run : runs) {
        if (run.header != nullptr) {
            std::array<std::uint8_t, header_size> slot{};
            copied += in.read(slot);
            writer.put(*run.header);
        } else {
            copied += copy_file_data(in, writer, run.length);
        }
        if (!writer.flush()) {
            say(run.header != nullptr ? "write merge msg err\r\n" : "write merge bin err\r\n");
            return outcome::removal_exit;
        }
    }
    if (!out.close()) {
        say("write merge bin err\r\n");
        return outcome::removal_exit;
    }
    if (in.error() || copied != total) {
        say("%s file can not be read\r\n", intermediate_->c_str());
        return outcome::removal_exit;
    }
    return outcome::done;
}

outcome merge_flow::cut_oad_image(const char* suffix, u64 from,
                                  std::optional<std::string>& name) {
    name = derive_file_name(o_.app_file, suffix);
    if (!name) return outcome::closing_exit;
    return copy_part(*merged_, from, plan_.total_length() - from, *name,
                     "write oad bin err\r\n");
}

int merge_flow::run() {
    outcome result = check_before_writing();
    if (result == outcome::done) result = build_intermediate();
    if (result == outcome::done) result = append_padding();
    if (result == outcome::done) {
        fill_headers();
        result = write_merged();
    }
    if (result == outcome::done) result = cut_oad_image("_stack.bin", plan_.stack_header_at(), stack_oad_);
    if (result == outcome::done) result = cut_oad_image("_app.bin", plan_.app_header_at(), app_oad_);
    if (result != outcome::done) return end_failed_run(result, intermediate_);

    remove_working_file(intermediate_);
    print_banner_head(*merged_);
    say("/**< @OAD file :%s,CRC = 0x%08x\r\n", stack_oad_->c_str(), headers_.stack.crc);
    say("/**< @OAD file :%s,CRC = 0x%08x\r\n", app_oad_->c_str(), headers_.app.crc);
    print_banner_tail();
    return 0;
}

}  // namespace

int oad_merge(int argc, const char* const* argv) {
    const std::optional<oad_options> options =
        parse_oad_options(argc, argv, key_use::announced_only, environment_variable("SOURCE_DATE_EPOCH"));
    if (!options) return 1;
    if (options->boot_file == nullptr || options->stack_file == nullptr ||
        options->app_file == nullptr) {
        say("-oad needs three file names after it: boot, stack and app\r\n");
        return 1;
    }
    print_oad_start(options->version);
    return merge_flow(*options).run();
}

}  // namespace velk::compat
