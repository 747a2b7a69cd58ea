// The whole entry point of one program, with an argument vector built from
// the fuzz input, run in a scratch directory holding a few small images. A
// word "SOURCE_DATE_EPOCH=value" is not an argument: it sets that variable
// for the run, which is otherwise unset.
// It must not crash or hang, must leave the images as they were (unless
// the command line names one as an output), and must write nothing outside
// that directory.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "compat/entry.hpp"
#include VELK_FUZZ_OAD_HEADER

namespace fs = std::filesystem;

namespace {

struct Image {
    const char* name;
    std::string bytes;
};

std::vector<Image> images;
fs::path scratch;  // holds only the working directory

std::string make_bytes(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131u + seed) & 0xFF);
    return s;
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Tokens that steer the commands; anything else comes from the input.
constexpr std::array<const char*, 40> dictionary = {
    "-crc", "-CRC", "-txt", "-TXT", "-c", "-C", "-oad", "-OAD", "-t", "-l", "-p", "-m", "-v",
    "-rom_v", "-e", "-APP_U", "-STACK_APP_U", "-h", "--help", "boot.bin", "stack.bin", "app.bin",
    "img.bin", "8", "16", "32", "0", "-1", "0x100", "0x200", "0x1F00", "0x25A80", "00A5A5A5",
    "01000000", "out.txt", "out.c", "", ".", "..", "0x7FFFFFFF"};

// True when `name` stands where -txt or -c take an explicit output name:
// two tokens after the command word, not beginning with "-". Counting
// every such place, also of a word that does not decide, errs on the side
// of allowing a write the user asked for.
bool given_output(const std::vector<std::string>& words, const std::string& name) {
    for (std::size_t i = 0; i + 2 < words.size(); ++i) {
        const std::string& w = words[i];
        const bool export_word = w == "-txt" || w == "-TXT" || w == "-c" || w == "-C";
        if (export_word && words[i + 2] == name) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = (fs::temp_directory_path() / "velk-fuzz-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) std::abort();
    scratch = base;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    });
    fs::create_directory(scratch / "work");
    fs::current_path(scratch / "work");
    images = {{"boot.bin", make_bytes(64, 1)},
              {"stack.bin", make_bytes(100, 2)},
              {"app.bin", make_bytes(200, 3)},
              {"img.bin", make_bytes(37, 4)}};
    for (const Image& img : images) {
        std::ofstream(img.name, std::ios::binary) << img.bytes;
    }
    // Layouts may ask for gigabytes of fill; a file-size limit turns that
    // into a write failure, which is a path worth exercising anyway.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit lim{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &lim);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = {"velk"};
    std::size_t i = 0;
    while (i < size && words.size() < 24) {
        const std::uint8_t pick = data[i++];
        if (pick < 0xC0) {
            words.emplace_back(dictionary[pick % dictionary.size()]);
            continue;
        }
        std::string raw;
        while (i < size && data[i] != 0 && raw.size() < 64) {
            const char c = static_cast<char>(data[i++]);
            raw.push_back(c == '/' || c == '\\' ? '_' : c);  // stay in the directory
        }
        ++i;
        words.push_back(raw);
    }
    unsetenv("SOURCE_DATE_EPOCH");
    const std::string variable = "SOURCE_DATE_EPOCH=";
    for (auto w = words.begin() + 1; w != words.end();) {
        if (!w->starts_with(variable)) {
            ++w;
            continue;
        }
        setenv("SOURCE_DATE_EPOCH", w->c_str() + variable.size(), 1);
        w = words.erase(w);
    }
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    argv.push_back(nullptr);

    velk::compat::velk_main(static_cast<int>(words.size()), argv.data(), velk::compat::VELK_FUZZ_OAD_BODY);
    std::fflush(stdout);

    for (const Image& img : images) {
        if (read_all(img.name) == img.bytes) continue;
        // Only a name the command line gives as the output of -txt or -c
        // may be written over; the image is put back for the next run.
        if (!given_output(words, img.name)) std::abort();  // an input was changed
        std::ofstream(img.name, std::ios::binary) << img.bytes;
    }
    for (const auto& entry : fs::directory_iterator(scratch)) {
        if (entry.path().filename() != "work") std::abort();  // wrote outside
    }
    for (const auto& entry : fs::directory_iterator(".")) {
        const std::string name = entry.path().filename().string();
        bool keep = false;
        for (const Image& img : images) keep = keep || name == img.name;
        if (!keep) fs::remove_all(entry.path());
    }
    return 0;
}
