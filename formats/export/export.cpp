#include "formats/export/export.hpp"

#include <vector>

#include "io/access.hpp"

namespace velk {
namespace {

// What a part of the text writes, collected in memory.
template <class Part>
std::vector<std::uint8_t> text_of(Part part) {
    memory_sink sink(UINT64_MAX, false);
    {
        BlockWriter out(sink, std::size_t{1} << 12);
        part(out);
        out.flush();
    }
    return sink.bytes();
}

// The text streamed through one thread, from wherever the input stands.
result<std::uint64_t> stream_export(const export_format& format, const export_settings& settings,
                                    const export_context& context, byte_source& input,
                                    byte_sink& output) {
    BlockReader in(input);
    BlockWriter out(output);
    format.head(out, settings, context);
    format.cells(in, out, settings, context);
    format.tail(out, settings, context);
    const bool written = out.flush();
    if (in.error()) return read_fault(role::input, input.error_number());
    if (!written) return write_fault(role::output, output.error_number());
    return out.total();
}

// The same text with its cells converted in pieces; the head and tail are
// made in memory and written whole where they belong.
result<std::uint64_t> export_in_pieces(const export_format& format, const piecewise& pieces,
                                       const export_settings& settings, const export_context& context,
                                       const random_source& input, random_sink& output,
                                       unsigned max_threads) {
    const std::vector<std::uint8_t> head =
        text_of([&](BlockWriter& out) { format.head(out, settings, context); });
    if (status s = output.write_at(0, head); !s) return s.error().of(role::output);
    const piece_target target{&output, head.size(), role::output};
    const result<piece_ends> ends =
        convert_pieces(pieces, input, role::input, 0, input.size(), std::span(&target, 1), max_threads);
    if (!ends) return ends.error();
    const std::vector<std::uint8_t> tail =
        text_of([&](BlockWriter& out) { format.tail(out, settings, context); });
    if (status s = output.write_at((*ends)[0], tail); !s) return s.error().of(role::output);
    return (*ends)[0] + tail.size();
}

}  // namespace

result<std::uint64_t> write_export(const export_format& format, const export_settings& settings,
                                   const export_context& context, byte_source& input,
                                   byte_sink& output, unsigned max_threads) {
    const random_source* whole = input.positional();
    // Less than two pieces gains nothing, and small files are where a size
    // can mislead (a system file that says 0 or 4096 bytes and holds
    // something else): they stream, read to their end.
    if (whole != nullptr && context.input_size == whole->size()) {
        const std::unique_ptr<piecewise> pieces = format.pieces(settings, context);
        if (pieces && whole->size() / pieces->piece_bytes() >= 2) {
            if (random_sink* const at = output.positional()) {
                return export_in_pieces(format, *pieces, settings, context, *whole, *at, max_threads);
            }
        }
    }
    return stream_export(format, settings, context, input, output);
}

}  // namespace velk
