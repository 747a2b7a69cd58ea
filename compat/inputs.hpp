#pragma once
// What every command checks of an input name before it creates or
// truncates any output.

#include <string_view>

namespace velk::compat {

// How a command reads its input: streamed to the end (the text dump), or
// measured first, because its output depends on the length before the
// first byte is read (-crc, -c, both -oad flows).
enum class input_use { streamed, measured };

// True, after one line naming the input, when `name` cannot be this
// command's input: a directory, for every command ("%s is a directory"),
// and for a measured input anything else that is not a regular file, such
// as a pipe, a FIFO, a socket or a device, whose size cannot be told in
// advance ("%s is not a regular file; its size cannot be known"). Each line
// ends in `line_end`, the command's own line end. A missing name, or none,
// passes: opening it fails, and the command says so in its own words.
// A FIFO is never opened here, so a refusal never waits for a writer.
bool input_refused(const char* name, input_use use, const char* line_end);

}  // namespace velk::compat
