#include "formats/export/export.hpp"

#include <vector>

namespace velk {
namespace {

// Collects what is written, for the head and the tail of a positional
// export, which are written whole where they belong.
class memory_sink final : public byte_sink {
public:
    bool write(std::span<const std::uint8_t> bytes) override {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return true;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

template <class Part>
std::vector<std::uint8_t> text_of(Part part) {
    memory_sink sink;
    {
        BlockWriter out(sink, std::size_t{1} << 12);
        part(out);
        out.flush();
    }
    return sink.bytes();
}

}  // namespace

export_result write_export(const export_format& format, const export_settings& settings,
                           const export_context& context, File& input, byte_sink& output) {
    BlockReader in(input);
    BlockWriter out(output);
    format.head(out, settings, context);
    format.cells(in, out, settings, context);
    format.tail(out, settings, context);
    export_result result;
    result.read_failed = in.error();
    result.write_failed = !out.flush();
    return result;
}

std::optional<export_result> write_export_in_pieces(const export_format& format,
                                                    const export_settings& settings,
                                                    const export_context& context, File& input,
                                                    File& output, unsigned max_threads) {
    if (!context.input_size) return std::nullopt;
    const std::unique_ptr<piecewise> pieces = format.pieces(settings, context);
    // Less than two pieces gains nothing, and small files are where a size
    // can mislead (a system file that says 0 or 4096 bytes and holds
    // something else): they stream, read to their end.
    if (!pieces || *context.input_size / pieces->piece_bytes() < 2) return std::nullopt;

    export_result result;
    int error = 0;
    const std::vector<std::uint8_t> head =
        text_of([&](BlockWriter& out) { format.head(out, settings, context); });
    if (!output.write_at(0, head, error)) {
        output.record_error(error);
        result.write_failed = true;
        return result;
    }
    const piece_target target{&output, head.size()};
    const pieces_result r = convert_pieces(*pieces, input, 0, *context.input_size,
                                           std::span(&target, 1), max_threads);
    result.read_failed = r.what == pieces_result::fault::read;
    result.write_failed = r.what == pieces_result::fault::write;
    if (r.what != pieces_result::fault::none) return result;

    const std::vector<std::uint8_t> tail =
        text_of([&](BlockWriter& out) { format.tail(out, settings, context); });
    if (!output.write_at(r.end[0], tail, error)) {
        output.record_error(error);
        result.write_failed = true;
        return result;
    }
    result.length = r.end[0] + tail.size();
    return result;
}

}  // namespace velk
