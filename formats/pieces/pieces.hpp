#pragma once
// Converting an input in pieces, several at once. For a format whose
// output for a piece of input depends on nothing but that piece and where
// it starts, every piece's output can be written straight to its place in
// the output files. Each thread reads its own pieces, converts them in
// buffers of its own and writes them there, so the data never move from
// one core's cache to another's: on two cores that halves the time of the
// text formats, where one thread formatting and another writing what it
// formatted gained little, the other core's copy stalling on every line.
//
// Needs a source and sinks that read and write by offset (see
// io/access.hpp: files of their own, or memory); the streaming converters
// remain for the others, and give the same bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "io/access.hpp"
#include "io/fault.hpp"

namespace velk {

// At most this many outputs per conversion (an image and its twin).
inline constexpr std::size_t max_piece_outputs = 2;

// One format's pieces: their size, where their outputs go, and the
// conversion of one. Implementations hold only settings, so one object
// serves every thread at once.
class piecewise {
public:
    virtual ~piecewise() = default;
    // Input bytes per piece: every piece has this many but the last, which
    // may have fewer. At least 1.
    virtual std::size_t piece_bytes() const = 0;
    // How many outputs each piece writes (1 or 2).
    virtual std::size_t output_count() const = 0;
    // Room the output `which` of one piece may need, the last piece's too.
    virtual std::size_t output_room(std::size_t which) const = 0;
    // Where the output `which` of piece `index` starts, counted from where
    // the conversion's output starts in that file.
    virtual std::uint64_t output_offset(std::size_t which, std::uint64_t index) const = 0;
    // Converts piece `index`, whose input is the first `length` bytes of
    // `input` (which has room for piece_bytes() and may be changed), into
    // `out` (one buffer of output_room() per output) and returns the
    // length written to each.
    using buffers = std::array<std::span<std::uint8_t>, max_piece_outputs>;
    using lengths = std::array<std::size_t, max_piece_outputs>;
    virtual lengths convert(std::uint64_t index, std::span<std::uint8_t> input, std::size_t length,
                            const buffers& out) const = 0;
};

// Where one output of a conversion goes: a sink written by offset, from
// an offset in it, and the role a fault there is reported with.
struct piece_target {
    random_sink* sink = nullptr;
    std::uint64_t start = 0;
    velk::role role = role::none;
};

// One past the last byte written to each output: its start plus the
// length of all its pieces.
using piece_ends = std::array<std::uint64_t, max_piece_outputs>;

// Converts `size` bytes of `input` from offset `input_start` with up to
// `max_threads` threads (the caller's among them) and writes each output
// from its target's start. It takes fewer threads when there are not two
// pieces for each, as no thread pays for itself on less, or when no more
// can be started. The first fault, in the order of the pieces, stops the
// others soon after and is returned with the role of its file (the input's
// is `input_role`): threads never throw, and a buffer that cannot be had
// is a memory fault. Nothing is flushed or closed. An empty input writes
// nothing.
result<piece_ends> convert_pieces(const piecewise& conversion, const random_source& input,
                                  role input_role, std::uint64_t input_start, std::uint64_t size,
                                  std::span<const piece_target> outputs, unsigned max_threads);

// The threads worth asking for on this machine: one per core, at most four
// (past that the writes, which the file system takes one at a time, are
// all there is left to wait for).
unsigned available_threads();

}  // namespace velk
