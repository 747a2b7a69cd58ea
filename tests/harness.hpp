#pragma once
// End-to-end harness: runs a built velk program with an argument vector in
// a fresh temporary directory and hands back everything a user could see:
// the exact stdout bytes, the exit status and every file left behind.
//
// A case reads as   inputs + argv  ->  expected stdout + expected files:
//
//   Sandbox box({{"a.bin", "abc"}});
//   Outcome r = box.run(velk_single, {"-crc", "a.bin"});
//   EXPECT_EQ(r.out, "...");
//   EXPECT_EQ(r.files, (Files{{"a.bin", "abc"}, {"a_crc.bin", ...}, ...}));

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velk::test {

using Bytes = std::string;                  // raw file contents
using Files = std::map<std::string, Bytes>;  // relative path -> contents;
                                             // a directory shows as "name/" -> "",
                                             // a symbolic link as "name@" -> target,
                                             // a FIFO as "name|" -> ""

// Paths of the programs under test.
extern const char* const velk_merge;
extern const char* const velk_single;
extern const char* const velk;

struct Outcome {
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
    int status = -1;  // exit status, or 128 + signal number
    Files files;      // the directory's contents afterwards
};

struct Limits {
    // Largest file the program may write (RLIMIT_FSIZE). A write past it
    // fails with EFBIG; SIGXFSZ is ignored so the program sees the error.
    std::optional<std::uint64_t> file_size;
};

// Variables set in the program's environment. SOURCE_DATE_EPOCH is removed
// first in every run, so that a value the test machine happens to carry
// cannot change what a program prints or writes; a test that wants it sets
// it here.
using Environment = std::map<std::string, std::string>;

class Sandbox {
public:
    explicit Sandbox(const Files& inputs = {});
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    void write(const std::string& name, const Bytes& contents) const;
    void mkdir(const std::string& name) const;
    // A symbolic link `name` pointing at `target` (for example /dev/full).
    void symlink(const std::string& target, const std::string& name) const;
    // A FIFO (named pipe) `name`; see Feeder for what writes into it.
    void fifo(const std::string& name) const;
    Bytes read(const std::string& name) const;
    const std::string& path() const { return dir_; }

    // Runs program with args (argv[0] is the program's own path) inside the
    // sandbox. When VELK_TEST_WRAPPER is set (for example to a valgrind
    // command line), the program runs under that wrapper. Standard input is
    // `standard_input` when given, else empty (/dev/null). When
    // VELK_TEST_JSON_DIR is set, what velk prints in a run with --json is
    // kept there (NAME.json, its arguments in NAME.args, NAME naming the
    // running test), for the test that holds every report to the schema.
    Outcome run(const std::string& program, const std::vector<std::string>& args,
                const Limits& limits = {}, const Environment& environment = {},
                const std::optional<Bytes>& standard_input = std::nullopt) const;

    Files files() const;

private:
    std::string dir_;
};

// Writes `bytes` into the FIFO at `path` from a thread of its own, as a
// producer at the other end of a pipe would: the write starts once a reader
// opens the FIFO, and the end of the data shows as the writer closing it.
// A program that never opens the FIFO is what some tests want to see; the
// destructor then opens the FIFO itself, so the thread always finishes.
// A reader that leaves early makes the write fail quietly, never with a
// signal to the test program.
class Feeder {
public:
    Feeder(std::string path, Bytes bytes);
    ~Feeder();
    Feeder(const Feeder&) = delete;
    Feeder& operator=(const Feeder&) = delete;

private:
    std::string path_;
    std::thread thread_;
};

// One-shot form: a fresh sandbox holding inputs, one run, sandbox removed.
Outcome run_velk(const std::string& program, const std::vector<std::string>& args,
                 const Files& inputs = {}, const Limits& limits = {},
                 const Environment& environment = {});

// printf into a string, for expected console lines.
std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));

// Bytes from hexadecimal text such as "61 62 63" (blanks ignored).
Bytes hex(const std::string& text);
// n bytes counting up from `first`, wrapping at 256.
Bytes counting(std::size_t n, unsigned first = 0);
// n bytes of a fixed-seed pseudo-random sequence.
Bytes noise(std::size_t n, std::uint32_t seed = 1);

}  // namespace velk::test
