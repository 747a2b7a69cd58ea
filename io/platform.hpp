#pragma once
// The only place that knows which operating system velk runs on.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace velk {

// Size in bytes of the object an open stream refers to, without moving
// its position; nothing when the system cannot tell.
std::optional<std::uint64_t> stream_size(std::FILE* stream);

// Moves an open stream to an absolute byte offset, past 2 GiB too.
bool stream_seek(std::FILE* stream, std::uint64_t offset);

// Reads into `buf` from an absolute offset of an unbuffered stream's file;
// several threads may read one file at once. Returns the bytes read: short
// at the end of the file, or with `error` set. The stream's position stays
// where it was, so reading in order goes on from there; only when several
// threads make these calls at once (Windows moves the handle's file pointer
// with every ReadFile/WriteFile, offset or not, and puts it back) is the
// position afterwards unspecified, and a caller going on in order seeks first.
std::size_t stream_read_at(std::FILE* stream, std::uint64_t offset, std::span<std::uint8_t> buf,
                           int& error);
// Writes `bytes` at an absolute offset in the same way, with the same
// caveat for the position; false with `error` set when not all were written.
bool stream_write_at(std::FILE* stream, std::uint64_t offset, std::span<const std::uint8_t> bytes,
                     int& error);

// File names are UTF-8 on every system velk runs on (on Windows through
// the programs' manifest, which makes UTF-8 the code page the C library
// opens files in). std::filesystem would read a narrow name in a code page
// of its own there, so every path velk makes goes through these two.
std::filesystem::path path_from_utf8(const std::string& name);
std::string utf8_from_path(const std::filesystem::path& path);

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
