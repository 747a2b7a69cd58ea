#include "formats/encoding/encoding.hpp"

#include <array>

#include "formats/flash_crc/twin_reader.hpp"
#include "formats/intel_hex/writer.hpp"
#include "formats/srec/writer.hpp"

namespace velk {
namespace {

// Binary: the image's bytes are the file's, both ways.
class direct_writer final : public encoding_writer {
public:
    explicit direct_writer(byte_sink& out) : out_(out) {}
    byte_sink& sink() override { return out_; }
    bool finish() override { return true; }

private:
    byte_sink& out_;
};

class direct_reader final : public encoding_reader {
public:
    explicit direct_reader(byte_source& in) : in_(in) {}
    byte_source& source() override { return in_; }

private:
    byte_source& in_;
};

std::unique_ptr<encoding_writer> binary_writer(byte_sink& out, const encoding_write_options&) {
    return std::make_unique<direct_writer>(out);
}

std::unique_ptr<encoding_reader> binary_reader(byte_source& in, problem_list&, const intel_hex_read_options&) {
    return std::make_unique<direct_reader>(in);
}

class hex_writer final : public encoding_writer {
public:
    hex_writer(byte_sink& out, std::uint32_t base) : sink_(out, base) {}
    byte_sink& sink() override { return sink_; }
    bool finish() override { return sink_.finish(); }

private:
    intel_hex_sink sink_;
};

class hex_reader final : public encoding_reader {
public:
    hex_reader(byte_source& in, problem_list& problems, const intel_hex_read_options& options)
        : source_(in, problems, options) {}
    byte_source& source() override { return source_; }
    std::optional<intel_hex_summary> hex_summary() const override { return source_.summary(); }
    std::optional<std::uint64_t> first_address() const override { return source_.summary().first_address; }

private:
    intel_hex_source source_;
};

std::unique_ptr<encoding_writer> intel_hex_writer(byte_sink& out, const encoding_write_options& options) {
    return std::make_unique<hex_writer>(out, options.base);
}

std::unique_ptr<encoding_reader> intel_hex_reader(byte_source& in, problem_list& problems,
                                                  const intel_hex_read_options& options) {
    return std::make_unique<hex_reader>(in, problems, options);
}

class srec_writer final : public encoding_writer {
public:
    srec_writer(byte_sink& out, const encoding_write_options& options)
        : sink_(out, options.base, options.start) {}
    byte_sink& sink() override { return sink_; }
    bool finish() override { return sink_.finish(); }

private:
    srec_sink sink_;
};

class srec_reader final : public encoding_reader {
public:
    srec_reader(byte_source& in, problem_list& problems, const intel_hex_read_options& options)
        : source_(in, problems, srec_read_options{options.base, options.max_length}) {}
    byte_source& source() override { return source_; }
    std::optional<srec_summary> srec_record_summary() const override { return source_.summary(); }
    std::optional<std::uint64_t> first_address() const override { return source_.summary().first_address; }

private:
    srec_source source_;
};

std::unique_ptr<encoding_writer> make_srec_writer(byte_sink& out, const encoding_write_options& options) {
    return std::make_unique<srec_writer>(out, options);
}

std::unique_ptr<encoding_reader> make_srec_reader(byte_source& in, problem_list& problems,
                                                  const intel_hex_read_options& options) {
    return std::make_unique<srec_reader>(in, problems, options);
}

class twin_reader final : public encoding_reader {
public:
    twin_reader(byte_source& in, problem_list& problems) : source_(in, problems) {}
    byte_source& source() override { return source_; }

private:
    twin_source source_;
};

std::unique_ptr<encoding_reader> text_twin_reader(byte_source& in, problem_list& problems,
                                                  const intel_hex_read_options&) {
    return std::make_unique<twin_reader>(in, problems);
}

constexpr std::array<encoding_info, encoding_count> table{{
    {image_encoding::binary, "bin", "binary", "raw image", ".bin", false, binary_writer, binary_reader,
     nullptr, nullptr, "", ""},
    {image_encoding::intel_hex, "hex", "intel-hex", "Intel HEX", ".hex", true, intel_hex_writer,
     intel_hex_reader, fits_intel_hex, looks_like_intel_hex, "not-a-record", "the first line is not a record"},
    {image_encoding::srec, "srec", "s-record", "S-record", ".srec", true, make_srec_writer, make_srec_reader,
     fits_srec, looks_like_srec_image, "not-an-s-record", "the first line is not an S-record"},
    // The twin is written beside a flash CRC image, from the image's bytes,
    // never as the image itself: it has no image writer.
    {image_encoding::text_twin, "twin", "text-twin", "text twin", ".out", true, nullptr, text_twin_reader,
     nullptr, looks_like_twin, "not-twin-text", "the first lines are not hex digit pairs and CR LF"},
}};

constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (static_cast<std::size_t>(table[i].what) != i) return false;
    }
    return true;
}
static_assert(rows_in_order(), "each encoding's row sits at its index");

}  // namespace

std::span<const encoding_info> encodings() { return table; }

const encoding_info& encoding_of(image_encoding encoding) { return table[static_cast<std::size_t>(encoding)]; }

const encoding_info* encoding_named(std::string_view name) {
    for (const encoding_info& e : table) {
        if (name == e.name) return &e;
    }
    return nullptr;
}

}  // namespace velk
