#pragma once
// Inputs and outputs as the velk commands handle them: names derived from
// the input, inputs checked before anything is written, outputs written
// whole or not at all, and every failure turned into its exit status and
// one line naming the file.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "io/fault.hpp"
#include "io/file.hpp"
#include "io/output.hpp"

namespace velk::cli {

// The input's name up to its last extension, its directory kept:
// "fw/app.v1.bin" gives "fw/app.v1", "app" gives "app". A leading dot
// is part of the name, not an extension. Usage error when there is no
// base name to derive from ("dir/", "-").
std::string stem_of(const std::string& name);

// What a command needs to know of its input before reading it.
enum class input_need { any_stream, known_size };

struct input_file {
    std::string name;  // as given; "-" for standard input
    File file;
    std::optional<std::uint64_t> size;  // for a regular file, whatever the need
};

// Opens an input, "-" being standard input. Exit status 3 for a name that
// is missing, a directory, unreadable, or (when its size is needed) not a
// regular file.
input_file open_input(const std::string& name, input_need need);

// Refuses (usage error) an output that is one of the inputs, by name or
// through a link, and two outputs of one run with the same name.
void check_outputs_apart(const std::vector<std::string>& outputs,
                         const std::vector<std::string>& inputs);

// An output being written: a sink that the engine writes in order or, when
// it is a file of its own, by offset; it counts its bytes for the summary
// line.
class output_file final : public byte_sink {
public:
    // Creates the output ("-" for standard output); exit status 4 when it
    // cannot be created.
    explicit output_file(const std::string& name);

    bool write(std::span<const std::uint8_t> bytes) override { return output_.write(bytes); }
    int error_number() const override { return output_.error_number(); }
    random_sink* positional() override { return output_.positional(); }

    const std::string& name() const { return output_.name(); }
    std::uint64_t bytes() const { return output_.bytes(); }
    bool to_standard_output() const { return output_.name() == "-"; }
    // The output as written so far, from its first byte, to be read back
    // before commit(); null when it cannot be (standard output).
    File* read_back() { return output_.read_back(); }

    // Puts the output in place; exit status 4 when that fails.
    void commit();

private:
    Output output_;
};

// The files of a run by the roles the engine names them with.
struct role_name {
    role who;
    const std::string* name;
};

// Ends the run for an engine's fault, in one place for every command:
// exit status 3 for an input that cannot be read (or a layout or format
// the inputs break), 4 for an output that cannot be written or memory that
// cannot be had, with one line naming the file and the system's reason.
[[noreturn]] void failed(const fault& f, std::initializer_list<role_name> names);

// Exit status 3: reading the input failed.
[[noreturn]] void read_failed(const input_file& input);
// Exit status 4: writing the output failed.
[[noreturn]] void write_failed(const output_file& output);

// Commits every output in order, then prints one line for each on stdout
// unless `quiet` (or the output is standard output itself).
void commit_all(std::initializer_list<output_file*> outputs, bool quiet);

}  // namespace velk::cli
