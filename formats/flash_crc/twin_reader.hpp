#pragma once
// Reading a text twin (".out") back into the image it spells: every image
// byte is one line of two lower-case hexadecimal digits and CR LF. A line
// that is anything else is a problem; its byte still comes out (its
// digits read as far as they are digits), so that a twin with one bad line
// still lines up with its image after it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/core/findings.hpp"
#include "io/file.hpp"

namespace velk {

class twin_source final : public byte_source {
public:
    // Problems found in the text go to `problems` with `part` (image when
    // the twin is the file being read, twin when it is read beside one).
    twin_source(byte_source& text, problem_list& problems, image_part part = image_part::image);

    std::size_t read(std::span<std::uint8_t> buf) override;
    bool error() const override { return text_.error(); }

private:
    byte_source& text_;
    problem_list& problems_;
    image_part part_;
    std::vector<std::uint8_t> in_;
    std::uint64_t lines_ = 0;
    bool ended_ = false;
};

// True when `head`, the first bytes of a file, is twin text: its first
// line well formed, and no more than one in 16 of its whole lines not (a
// twin with a damaged line is still a twin, to be checked as one).
bool looks_like_twin(std::span<const std::uint8_t> head);

}  // namespace velk
