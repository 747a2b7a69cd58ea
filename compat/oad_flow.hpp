#pragma once
// What the two -oad flows share: how a failed step ends the command, the
// lines that open a run and the lines around its result banner.

#include <cstdint>
#include <optional>
#include <string>

namespace velk::compat {

// How a step of an -oad flow ended.
enum class outcome {
    done,
    removal_exit,  // the working file is deleted, then as closing_exit
    closing_exit,  // every file is left as it is
};

// Ends a failed run: the removal exit prints "create_fexit \r\n" and deletes
// working_file; both then print "open_fexit \r\n". Returns 1, the flows'
// failure result.
int end_failed_run(outcome how, std::optional<std::string>& working_file);

// Deletes a working file; its name is released only once the file is gone,
// so a file that could not be deleted keeps its name for the record.
void remove_working_file(std::optional<std::string>& name);

// Copies the `length` bytes of file `from` that start at `offset` into a
// new file `to`. `from` failing to open prints
// "<from> file can not be opened\r\n", `to` failing to be created prints
// "<to> file can not be created\r\n"; both then give the closing exit. A
// failed write or close prints write_failure, and `from` not holding
// exactly those bytes prints "<from> file can not be read\r\n"; both then
// give the removal exit.
outcome copy_part(const std::string& from, std::uint64_t offset, std::uint64_t length,
                  const std::string& to, const char* write_failure);

// "binary version hex:..." and the announcement that the conversion starts.
void print_oad_start(std::uint32_t version);

// The first lines of the success banner, naming the image to program.
void print_banner_head(const std::string& download_file);
// Its last lines: who made it and the format version.
void print_banner_tail();

}  // namespace velk::compat
