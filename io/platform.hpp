#pragma once
// The only place that knows which operating system velk runs on.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace velk {

// Size in bytes of the object an open stream refers to, without moving
// its position; nothing when the system cannot tell.
std::optional<std::uint64_t> stream_size(std::FILE* stream);

// Moves an open stream to an absolute byte offset, past 2 GiB too.
bool stream_seek(std::FILE* stream, std::uint64_t offset);

// Creates a file that must not exist yet, for reading and writing in
// binary mode; null with `error` set (EEXIST when the name is taken).
std::FILE* create_new_file(const std::string& name, int& error);

// Renames `from` over `to`, replacing what `to` holds in one step; false
// with `error` set.
bool replace_file(const std::string& from, const std::string& to, int& error);

// Stops the C library from turning "\n" into "\r\n" on standard output,
// and from turning "\r\n" into "\n" on standard input.
void set_binary_stdout();
void set_binary_stdin();

}  // namespace velk
