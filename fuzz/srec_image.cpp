// S-records read back: what velk's writer makes of any bytes at any base
// reads back to those bytes with no problem (the all-0xFF records it
// leaves out come back as 0xFF); any text decodes without passing the
// length limit, and the summary's length is what came out.
//
// Input: a flags byte, 4 bytes of base, then the bytes.
#include <algorithm>
#include <cstdint>

#include "formats/srec/reader.hpp"
#include "formats/srec/writer.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

namespace {

constexpr std::uint64_t limit = std::uint64_t{1} << 20;

Bytes decode(std::span<const std::uint8_t> text, const srec_read_options& options,
             problem_list& problems, srec_summary& summary) {
    memory_source file(text);
    srec_source hex(file, problems, options);
    Bytes out;
    std::uint8_t buf[4096];
    for (;;) {
        const std::size_t n = hex.read(buf);
        out.insert(out.end(), buf, buf + n);
        if (n < sizeof buf) break;
    }
    summary = hex.summary();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cursor in(data, size);
    const std::uint8_t flags = in.byte();
    std::uint32_t base = in.word();
    const std::span<const std::uint8_t> bytes = in.rest();

    {
        srec_read_options options;
        options.max_length = limit;
        if ((flags & 1) != 0) options.base = base;
        problem_list problems;
        srec_summary summary;
        const Bytes out = decode(bytes, options, problems, summary);
        require(out.size() <= limit);
        require(summary.length == out.size());
        (void)looks_like_srec_image(bytes);
    }

    // Runs of 0xFF make the writer leave records out.
    Bytes image(bytes.begin(), bytes.end());
    for (std::size_t i = 0; i < image.size(); ++i) {
        if ((image[i] & 0xF0) == 0xA0) image[i] = 0xFF;
    }
    if (!fits_srec(base, image.size())) base = static_cast<std::uint32_t>(0x100000000 - image.size());
    vector_sink text;
    srec_sink writer(text, base);
    require(writer.write(image));
    require(writer.finish());
    require(looks_like_srec_image(text.data));
    srec_read_options options;
    options.base = base;
    problem_list problems;
    srec_summary summary;
    require(decode(text.data, options, problems, summary) == image);
    require(problems.empty());
    return 0;
}
