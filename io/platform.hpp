#pragma once
// The only place that knows which operating system velk runs on.

#include <cstdint>
#include <cstdio>
#include <optional>

namespace velk {

// Size in bytes of the object an open stream refers to, without moving
// its position; nothing when the system cannot tell.
std::optional<std::uint64_t> stream_size(std::FILE* stream);

// Moves an open stream to an absolute byte offset, past 2 GiB too.
bool stream_seek(std::FILE* stream, std::uint64_t offset);

// Stops the C library from turning "\n" into "\r\n" on standard output.
void set_binary_stdout();

}  // namespace velk
