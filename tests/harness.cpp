#include "harness.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace velk::test {

const char* const velk_merge = VELK_MERGE_PATH;
const char* const velk_single = VELK_SINGLE_PATH;
const char* const velk = VELK_PATH;

namespace {

std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    if (const char* w = std::getenv("VELK_TEST_WRAPPER")) {
        std::istringstream in(w);
        for (std::string word; in >> word;) words.push_back(word);
    }
    return words;
}

[[noreturn]] void child(const std::string& dir, const std::vector<std::string>& argv_words,
                        int out_fd, int err_fd, const std::string& input_file,
                        const Limits& limits, const Environment& environment) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    unsetenv("SOURCE_DATE_EPOCH");
    for (const auto& [name, value] : environment) {
        if (setenv(name.c_str(), value.c_str(), 1) != 0) _exit(126);
    }
    dup2(out_fd, STDOUT_FILENO);
    close(out_fd);
    dup2(err_fd, STDERR_FILENO);
    close(err_fd);
    const int in = open(input_file.empty() ? "/dev/null" : input_file.c_str(), O_RDONLY);
    if (in >= 0) dup2(in, STDIN_FILENO);
    if (limits.file_size) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{static_cast<rlim_t>(*limits.file_size),
                         static_cast<rlim_t>(*limits.file_size)};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
    }
    std::vector<char*> argv;
    for (const std::string& w : argv_words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());  // the wrapper (say, valgrind) is found on PATH
    _exit(127);
}

// A unique name for the next document kept by this test program: the
// running test's name and a count, so that test programs running at once
// never write the same file.
std::string next_report_name() {
    static int count = 0;
    std::string name = "run";
    if (const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info()) {
        name = std::string(info->test_suite_name()) + "." + info->name();
    }
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_') c = '_';
    }
    return name + "-" + std::to_string(++count);
}

// Every JSON document velk prints in a run with --json is kept, with its
// command line beside it, in the directory VELK_TEST_JSON_DIR names,
// so that a test of its own can hold them all to the report's schema.
void keep_json_report(const std::string& program, const std::vector<std::string>& args, const Outcome& result) {
    const char* dir = std::getenv("VELK_TEST_JSON_DIR");
    if (dir == nullptr || program != velk || result.out.empty()) return;
    bool json = false;
    for (const std::string& a : args) json = json || a == "--json";
    if (!json) return;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path stem = fs::path(dir) / next_report_name();
    std::ofstream(fs::path(stem).concat(".json"), std::ios::binary) << result.out;
    std::ofstream command(fs::path(stem).concat(".args"), std::ios::binary);
    for (const std::string& a : args) command << a << '\n';
}

}  // namespace

Sandbox::Sandbox(const Files& inputs) {
    std::string pattern = (fs::temp_directory_path() / "velk-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    for (const auto& [name, contents] : inputs) write(name, contents);
}

Sandbox::~Sandbox() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void Sandbox::write(const std::string& name, const Bytes& contents) const {
    const fs::path p = fs::path(dir_) / name;
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write fixture " + name);
}

void Sandbox::mkdir(const std::string& name) const { fs::create_directories(fs::path(dir_) / name); }

void Sandbox::symlink(const std::string& target, const std::string& name) const {
    fs::create_symlink(target, fs::path(dir_) / name);
}

void Sandbox::fifo(const std::string& name) const {
    const std::string p = (fs::path(dir_) / name).string();
    if (mkfifo(p.c_str(), 0600) != 0) throw std::runtime_error("cannot make FIFO " + name);
}

Bytes Sandbox::read(const std::string& name) const {
    std::ifstream in(fs::path(dir_) / name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Files Sandbox::files() const {
    Files found;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
        const std::string rel = entry.path().lexically_relative(dir_).generic_string();
        if (entry.is_symlink()) {
            found[rel + "@"] = fs::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            found[rel + "/"] = "";
        } else if (entry.is_regular_file()) {
            found[rel] = read(rel);
        } else if (entry.is_fifo()) {
            found[rel + "|"] = "";  // never opened: that would wait for a writer
        }
    }
    return found;
}

Outcome Sandbox::run(const std::string& program, const std::vector<std::string>& args,
                     const Limits& limits, const Environment& environment,
                     const std::optional<Bytes>& standard_input) const {
    std::vector<std::string> argv_words = wrapper_words();
    argv_words.push_back(program);
    argv_words.insert(argv_words.end(), args.begin(), args.end());

    // Standard input comes from a file outside the sandbox, so it is not
    // among the files the run leaves.
    std::string input_file;
    if (standard_input) {
        input_file = (fs::temp_directory_path() / "velk-stdin-XXXXXX").string();
        const int fd = mkstemp(input_file.data());
        if (fd < 0) throw std::runtime_error("mkstemp failed");
        close(fd);
        std::ofstream(input_file, std::ios::binary)
            .write(standard_input->data(), static_cast<std::streamsize>(standard_input->size()));
    }

    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        child(dir_, argv_words, out_pipe[1], err_pipe[1], input_file, limits, environment);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    // Both streams at once, so that a program filling one pipe never waits
    // for the harness to empty the other.
    Outcome result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_streams = 2;
    char chunk[4096];
    while (open_streams > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_streams;
            }
        }
    }

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (!input_file.empty()) std::remove(input_file.c_str());
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.files = files();
    keep_json_report(program, args, result);
    return result;
}

Feeder::Feeder(std::string path, Bytes bytes) : path_(std::move(path)) {
    thread_ = std::thread([path = path_, bytes = std::move(bytes)] {
        // A write to a FIFO whose reader has gone raises SIGPIPE; blocked in
        // this thread alone, the write fails with EPIPE instead.
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        const int fd = open(path.c_str(), O_WRONLY);  // waits for a reader
        if (fd < 0) return;
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    });
}

Feeder::~Feeder() {
    // A reader of our own lets a writer still waiting to open go on; held
    // until the thread is done, so its write always has a reader.
    const int reader = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    thread_.join();
    if (reader >= 0) close(reader);
}

Outcome run_velk(const std::string& program, const std::vector<std::string>& args,
                 const Files& inputs, const Limits& limits, const Environment& environment) {
    Sandbox box(inputs);
    return box.run(program, args, limits, environment);
}

std::string format(const char* f, ...) {
    va_list args;
    va_start(args, f);
    const int n = std::vsnprintf(nullptr, 0, f, args);
    va_end(args);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    va_start(args, f);
    std::vsnprintf(out.data(), out.size() + 1, f, args);
    va_end(args);
    return out;
}

Bytes hex(const std::string& text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        const int v = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

Bytes counting(std::size_t n, unsigned first) {
    Bytes out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>((first + i) & 0xFF);
    return out;
}

Bytes noise(std::size_t n, std::uint32_t seed) {
    Bytes out(n, '\0');
    std::uint32_t x = seed != 0 ? seed : 1;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

}  // namespace velk::test
