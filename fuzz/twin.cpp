// The text twin read back: the twin velk spells of any bytes reads back to
// them with no problem; any text reads to one byte a whole line, with at
// most one problem a line and one for a partial last line.
#include <cstdint>

#include "formats/flash_crc/writer.hpp"
#include "formats/flash_crc/twin_reader.hpp"
#include "readback_support.hpp"

using namespace velk;
using namespace velk::fuzz;

namespace {

Bytes decode(std::span<const std::uint8_t> text, problem_list& problems) {
    memory_source file(text);
    twin_source twin(file, problems);
    Bytes out;
    std::uint8_t buf[1000];
    for (;;) {
        const std::size_t n = twin.read(buf);
        out.insert(out.end(), buf, buf + n);
        if (n < sizeof buf) break;
    }
    require(!twin.error());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    {
        problem_list problems;
        const Bytes out = decode(bytes, problems);
        require(out.size() == size / twin_line_bytes);
        require(problems.total() <= out.size() + 1);
        (void)looks_like_twin(bytes);
    }
    Bytes text(size * twin_line_bytes);
    spell_twin(bytes, text);
    require(looks_like_twin(text) == (size != 0));
    problem_list problems;
    require(decode(text, problems) == Bytes(bytes.begin(), bytes.end()));
    require(problems.empty());
    return 0;
}
