#include "oad/merge.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "cli/names.hpp"
#include "io/console.hpp"
#include "io/file.hpp"
#include "oad/crc32.hpp"
#include "oad/flow.hpp"
#include "oad/header.hpp"
#include "oad/options.hpp"

namespace velk {
namespace {

using u64 = std::uint64_t;
using ull = unsigned long long;  // for printf's %llx

constexpr u64 header_size = oad_header_size;
// Length from which length_words can no longer count the image's words.
constexpr u64 length_words_limit = u64{0x10000} * 4;

class merge_flow {
public:
    explicit merge_flow(const cmd_bin_oad_t& options)
        : o_(options), M_(options.stack_file_addr), L_(options.link_addr) {}

    int run();

private:
    outcome build_intermediate();
    outcome copy_image(File& image, const char* name, u64 expected, BlockWriter& out,
                       const char* write_failure);
    outcome append_padding();
    void fill_headers();
    outcome write_merged();
    outcome cut_oad_image(const char* suffix, u64 from, std::optional<std::string>& name);

    bool layout_has_room() const;
    struct image_place {
        const char* kind;  // "boot" or "stack"
        const char* name;
        u64 at;
        u64 len;
    };
    bool fits_before(const image_place& image, File& file, u64 header_at, const char* header_name,
                     const char* next_name);
    static bool refuse(const image_place& image, const char* what, u64 at);
    bool overwrites_an_input(const std::string& name) const;
    void track(std::span<const std::uint8_t> data);
    void put_fill(BlockWriter& out, u64 count);

    const cmd_bin_oad_t& o_;
    const u64 M_;  // flash offset of the stack image
    const u64 L_;  // flash offset of the app image

    std::optional<std::string> intermediate_;
    std::optional<std::string> merged_;
    std::optional<std::string> stack_oad_;
    std::optional<std::string> app_oad_;

    u64 pos_ = 0;  // bytes written to the intermediate so far
    u64 merge_bin_len_ = 0;
    u64 pad_len_ = 0;
    u64 oad_stack_app_bin_len_ = 0;
    u64 oad_app_bin_len_ = 0;

    // Running CRCs over what the intermediate receives, so the headers are
    // known without reading the data back: the stack body up to the app
    // header slot, and the app body from a zero register (see crc32_shift).
    std::uint32_t stack_prefix_crc_ = crc32_init;
    std::uint32_t app_body_crc0_ = 0;

    OAD_HDR_T stack_header_;
    OAD_HDR_T app_header_;
};

// Feeds the part of data that lands in [begin, end) of the image, given
// that data starts at offset `at`.
std::uint32_t crc_of_range(std::uint32_t crc, std::span<const std::uint8_t> data, u64 at,
                           u64 begin, u64 end) {
    const u64 from = std::max(at, begin);
    const u64 to = std::min(at + data.size(), end);
    if (from >= to) return crc;
    return crc32_update(crc, data.subspan(static_cast<std::size_t>(from - at),
                                          static_cast<std::size_t>(to - from)));
}

void merge_flow::track(std::span<const std::uint8_t> data) {
    stack_prefix_crc_ = crc_of_range(stack_prefix_crc_, data, pos_, M_, L_ - header_size);
    app_body_crc0_ = crc_of_range(app_body_crc0_, data, pos_, L_, UINT64_MAX);
    pos_ += data.size();
}

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
        track(piece);
        out.put(piece);
        count -= n;
    }
}

bool merge_flow::overwrites_an_input(const std::string& name) const {
    return overwrites_input(name, {o_.boot_file, o_.stack_file, o_.app_file});
}

// Both header slots need room: the stack header lies before the stack, the
// app header after it.
bool merge_flow::layout_has_room() const {
    if (M_ < header_size) {
        say("stack_file_addr 0x%llx leaves no room for the 16-byte stack header before it\r\n",
            static_cast<ull>(M_));
        return false;
    }
    if (L_ < M_ + header_size) {
        say("link_addr 0x%llx leaves no room for the 16-byte app header after the stack at "
            "0x%llx\r\n",
            static_cast<ull>(L_), static_cast<ull>(M_));
        return false;
    }
    return true;
}

// An image at `at` of `len` bytes must end before the header slot at
// header_at. It may reach into the slot only with erased bytes (0xFF),
// which the header then replaces; anything else would be firmware lost.
bool merge_flow::fits_before(const image_place& image, File& file, u64 header_at,
                             const char* header_name, const char* next_name) {
    const u64 end = image.at + image.len;
    const u64 slot_end = header_at + header_size;
    if (end > slot_end) return refuse(image, next_name, slot_end);
    if (end <= header_at) return true;

    std::array<std::uint8_t, header_size> tail{};
    const auto covered = static_cast<std::size_t>(end - header_at);
    const bool read = file.seek(header_at - image.at) &&
                      file.read(std::span(tail.data(), covered)) == covered && file.seek(0);
    const bool erased =
        read && std::all_of(tail.begin(), tail.begin() + covered, [](auto b) { return b == 0xFF; });
    return erased || refuse(image, header_name, header_at);
}

bool merge_flow::refuse(const image_place& image, const char* what, u64 at) {
    say("%s image %s is 0x%llx bytes long and runs into the %s at 0x%llx\r\n", image.kind,
        image.name, static_cast<ull>(image.len), what, static_cast<ull>(at));
    return false;
}

outcome merge_flow::copy_image(File& image, const char* name, u64 expected, BlockWriter& out,
                               const char* write_failure) {
    // One byte more than measured shows a file that grows, or a device that
    // never ends, without copying it forever.
    const u64 copied =
        copy_file_data(image, out, expected + 1, [this](auto data) { track(data); });
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

outcome merge_flow::build_intermediate() {
    intermediate_ = derive_file_name(o_.app_file, "_merge_boot_stack.bin");
    if (!intermediate_ || overwrites_an_input(*intermediate_)) return outcome::closing_exit;
    File out = File::open(*intermediate_, File::Mode::create);
    if (!out) return outcome::closing_exit;
    if (!layout_has_room()) return outcome::removal_exit;
    BlockWriter writer(out);

    File boot = File::open(o_.boot_file, File::Mode::read);
    if (!boot) return outcome::closing_exit;
    const u64 b = file_size(boot).value_or(0);
    if (!fits_before({"boot", o_.boot_file, 0, b}, boot, M_ - header_size, "stack header",
                     "stack image"))
        return outcome::removal_exit;
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
    if (!stack) return outcome::closing_exit;
    const u64 s = file_size(stack).value_or(0);
    if (!fits_before({"stack", o_.stack_file, M_, s}, stack, L_ - header_size, "app header",
                     "app image"))
        return outcome::removal_exit;
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
    if (!app) return outcome::closing_exit;
    const u64 a = file_size(app).value_or(0);
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
    if (!out) return outcome::closing_exit;
    const std::optional<u64> length = file_size(out);
    if (!length || !out.seek_end()) return outcome::closing_exit;
    // Every later length is taken from this one; an intermediate that is not
    // what was written (a link to a device, say) must stop the run here.
    if (*length != pos_) {
        say("%s file can not be read\r\n", intermediate_->c_str());
        return outcome::removal_exit;
    }
    merge_bin_len_ = *length;
    // 1 to 256 bytes: the stack-and-app region always ends on a 256-byte
    // boundary with at least one erased byte.
    pad_len_ = 256 - ((merge_bin_len_ - (M_ - header_size)) & 0xFF);

    BlockWriter writer(out);
    put_fill(writer, pad_len_);
    if (!writer.flush() || !out.close()) {
        say("write merge flie 0xff unsuccessfully.\r\n");
        return outcome::closing_exit;
    }
    oad_stack_app_bin_len_ = merge_bin_len_ - (M_ - header_size) + pad_len_;
    oad_app_bin_len_ = merge_bin_len_ - (L_ - header_size) + pad_len_;
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
    const u64 app_body = oad_app_bin_len_ - header_size;
    const std::uint32_t app_crc = crc32_shift(crc32_init, app_body) ^ app_body_crc0_;
    app_header_ = make_oad_header(app_crc, app_body, o_.version, o_.app_uid, o_.rom_version);
    const auto app_bytes = header_bytes(app_header_);
    for (std::uint8_t byte : app_bytes) say("%02x ", byte);

    // The stack body runs through the finished app header into the app body.
    const std::uint32_t through_header = crc32_update(stack_prefix_crc_, app_bytes);
    const std::uint32_t stack_crc = crc32_shift(through_header, app_body) ^ app_body_crc0_;
    stack_header_ = make_oad_header(stack_crc, oad_stack_app_bin_len_ - header_size, o_.version,
                                    o_.stack_app_uid, o_.rom_version);
}

outcome merge_flow::write_merged() {
    merged_ = derive_file_name(o_.app_file, "_merge.bin");
    if (!merged_) return outcome::closing_exit;
    if (overwrites_an_input(*merged_)) return outcome::removal_exit;
    File in = File::open(*intermediate_, File::Mode::read);
    if (!in) return outcome::closing_exit;
    File out = File::open(*merged_, File::Mode::create);
    if (!out) return outcome::closing_exit;
    BlockWriter writer(out);

    // The image in five runs, so a failed write is told apart by what it
    // hit: a header or the data around it.
    const auto stack_bytes = header_bytes(stack_header_);
    const auto app_bytes = header_bytes(app_header_);
    const u64 total = merge_bin_len_ + pad_len_;
    const struct {
        u64 length;
        const std::array<std::uint8_t, header_size>* header;
    } runs[] = {
        {M_ - header_size, nullptr},
        {header_size, &stack_bytes},
        {L_ - header_size - M_, nullptr},
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
    if (overwrites_an_input(*name)) return outcome::removal_exit;
    return copy_part(*merged_, from, merge_bin_len_ + pad_len_ - from, *name,
                     "write oad bin err\r\n");
}

int merge_flow::run() {
    outcome result = build_intermediate();
    if (result == outcome::done) result = append_padding();
    if (result == outcome::done) {
        fill_headers();
        result = write_merged();
    }
    if (result == outcome::done) result = cut_oad_image("_stack.bin", M_ - header_size, stack_oad_);
    if (result == outcome::done) result = cut_oad_image("_app.bin", L_ - header_size, app_oad_);
    if (result != outcome::done) return end_failed_run(result, intermediate_);

    remove_working_file(intermediate_);
    print_banner_head(*merged_);
    say("/**< @OAD file :%s,CRC = 0x%08x\r\n", stack_oad_->c_str(), stack_header_.crc);
    say("/**< @OAD file :%s,CRC = 0x%08x\r\n", app_oad_->c_str(), app_header_.crc);
    print_banner_tail();
    return 0;
}

}  // namespace

int oad_merge(int argc, const char* const* argv) {
    crc32_init_table();
    if (parse_oad_options(argc, argv) != 0) return 1;
    if (cmd_bin_oad.boot_file == nullptr || cmd_bin_oad.stack_file == nullptr ||
        cmd_bin_oad.app_file == nullptr) {
        say("-oad needs three file names after it: boot, stack and app\r\n");
        return 1;
    }
    print_oad_start(cmd_bin_oad.version);
    crc32_init_table();
    return merge_flow(cmd_bin_oad).run();
}

}  // namespace velk
