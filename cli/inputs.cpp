#include "cli/inputs.hpp"

#include <algorithm>
#include <cstring>

#include "cli/errors.hpp"
#include "cli/values.hpp"

namespace velk::cli {
namespace {

// Standard input with its first bytes read already, to tell what it is.
class prefixed_stream final : public byte_source {
public:
    prefixed_stream(std::vector<std::uint8_t> head, File& rest) : head_(std::move(head)), rest_(rest) {}
    std::size_t read(std::span<std::uint8_t> buf) override {
        const std::size_t n = std::min(buf.size(), head_.size() - at_);
        if (n != 0) std::memcpy(buf.data(), head_.data() + at_, n);
        at_ += n;
        return n == buf.size() ? n : n + rest_.read(buf.subspan(n));
    }
    bool error() const override { return rest_.error(); }
    int error_number() const override { return rest_.last_error(); }

private:
    std::vector<std::uint8_t> head_;
    std::size_t at_ = 0;
    File& rest_;
};

// The first bytes of standard input.
std::vector<std::uint8_t> read_head(input_file& input) {
    std::vector<std::uint8_t> head(input_head_bytes);
    head.resize(input.file.read(head));
    if (input.file.error()) read_failed(input);
    return head;
}

// Standard input, its first bytes `head` and the rest, copied into an
// anonymous file: the readers of addressed inputs read by offset.
void spool(input_file& input, const std::vector<std::uint8_t>& head) {
    File copy = File::anonymous();
    if (!copy) fail(exit_status::output, system_message("a temporary file", "cannot create", copy.last_error()));
    BlockWriter writer(copy);
    writer.put(head);
    const std::uint64_t rest = copy_file_data(input.file, writer);
    if (input.file.error()) read_failed(input);
    if (!writer.flush() || !copy.seek(0)) {
        fail(exit_status::output, system_message("a temporary file", "write error", copy.last_error()));
    }
    input.file = std::move(copy);
    input.size = head.size() + rest;
}

[[noreturn]] void refused(const std::string& name, const fault& f, const std::string& why) {
    if (f.what == fault_kind::read) fail(exit_status::input, system_message(name, "read error", f.error));
    if (f.what == fault_kind::write) fail(exit_status::output, system_message("a temporary file", "write error", f.error));
    fail(exit_status::input, name + ": " + why);
}

}  // namespace

image_input::image_input(const std::string& name, const input_settings& settings, input_need need, bool need_size)
    : file_(open_input(name, name == "-" ? input_need::any_stream : need)) {
    if (!file_.size) {
        // Standard input (or a pipe): raw unless it starts as another
        // encoding, which is then copied aside to be read by offset.
        const std::vector<std::uint8_t> head = read_head(file_);
        encoding_ = settings.format ? &input_encoding_of(*settings.format) : &detect_input(head);
        if (encoding_->read == nullptr && !need_size) {
            stream_ = std::make_unique<prefixed_stream>(head, file_.file);
            return;
        }
        spool(file_, head);
    }
    whole_.emplace(file_.file, *file_.size);
    spool_ = std::make_unique<scratch_file>();
    std::string why;
    result<placed_input> read = read_input(*whole_, settings.format, *spool_, why);
    if (!read) refused(name, read.error(), why);
    encoding_ = read->encoding;
    if (read->map) {
        map_ = std::move(read->map);
        if (settings.crop) map_ = crop(std::move(*map_), settings.crop->first, settings.crop->second);
    }
}

void image_input::place(std::optional<std::uint64_t> origin, std::uint64_t max_size, const std::string& why_origin) {
    if (!map_) return;
    if (map_->extents.empty()) fail(exit_status::input, name() + ": holds no data to make an image of");
    const std::uint64_t from = origin.value_or(lo());
    std::string why;
    if (const status s = check_span(*map_, from, max_size, why); !s) {
        if (lo() < from && !why_origin.empty()) fail(exit_status::input, name() + ": " + why + " (" + why_origin + ")");
        fail(exit_status::input, name() + ": " + why + (lo() < from ? "" : "; see --max-size"));
    }
    origin_ = from;
    flat_ = std::make_unique<flat_image>(*map_, from);
}

byte_source& image_input::reread() {
    if (flat_) {
        again_ = std::make_unique<flat_image>(*map_, origin_);
        return *again_;
    }
    if (stream_ || !file_.file.seek(0)) read_failed(file_);
    return file_.file;
}

byte_source& image_input::source() {
    if (flat_) return *flat_;
    if (stream_) return *stream_;
    return *whole_;
}

std::optional<std::uint64_t> image_input::size() const {
    if (flat_) return flat_->size();
    if (stream_) return std::nullopt;
    return file_.size;
}

void check_origin(const input_settings& in, const image_input& input) {
    if (in.origin && input.map() == nullptr) {
        usage_error("--origin: " + input.name() + " is raw bytes and carries no addresses");
    }
}

std::uint64_t parse_size(const std::string& option, const std::string& text) {
    std::string digits = text;
    unsigned shift = 0;
    if (!digits.empty()) {
        switch (digits.back()) {
            case 'K': case 'k': shift = 10; break;
            case 'M': case 'm': shift = 20; break;
            case 'G': case 'g': shift = 30; break;
            default: break;
        }
        if (shift != 0) digits.pop_back();
    }
    const std::uint64_t value = parse_number(option, digits, UINT64_MAX >> shift);
    return value << shift;
}

std::pair<std::uint64_t, std::uint64_t> parse_range(const std::string& option, const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) usage_error(option + ": '" + text + "' is not START,END");
    const std::uint64_t start = parse_number(option, text.substr(0, comma), UINT64_MAX);
    const std::uint64_t end = parse_number(option, text.substr(comma + 1), UINT64_MAX);
    if (end <= start) usage_error(option + ": the end " + text.substr(comma + 1) + " is not above the start");
    return {start, end};
}

}  // namespace velk::cli
