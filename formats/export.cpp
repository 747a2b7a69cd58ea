#include "formats/export.hpp"

namespace velk {

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

}  // namespace velk
