// velk-samples: writes the small images the demo converts, into the
// directory given as the only argument (default: the current one).
//
// Every image is made here from a fixed rule, so each run gives the same
// bytes and no firmware from anywhere else is needed. Each pattern is easy
// to spot in a hex dump of velk's outputs:
//   boot.bin   2 KiB  "velk demo boot  " then bytes counting 00..FF
//   stack.bin  8 KiB  "velk demo stack " then 32-bit words equal to their offset
//   app.bin    4 KiB  "velk demo app   " then fixed-seed pseudo-random bytes
//   small.bin  20 B   bytes counting 00..13
// The sizes fit the default flash layout: boot below the stack header at
// 0x1EF0, stack from 0x1F00 well short of the app header at 0x25A70.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "io/file.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The first 16 bytes of an image: its name in ASCII, padded with blanks.
Bytes tagged(std::string_view tag, std::size_t size) {
    Bytes image(size, 0);
    for (std::size_t i = 0; i < 16 && i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i < tag.size() ? tag[i] : ' ');
    }
    return image;
}

Bytes boot_image() {
    Bytes image = tagged("velk demo boot", 2048);
    for (std::size_t i = 16; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    return image;
}

Bytes stack_image() {
    Bytes image = tagged("velk demo stack", 8192);
    for (std::size_t i = 16; i < image.size(); i += 4) {
        const auto word = static_cast<std::uint32_t>(i);
        for (std::size_t k = 0; k < 4; ++k) image[i + k] = static_cast<std::uint8_t>(word >> (8 * k));
    }
    return image;
}

Bytes app_image() {
    Bytes image = tagged("velk demo app", 4096);
    std::uint32_t x = 0x2545F491;  // xorshift32 with a fixed seed
    for (std::size_t i = 16; i < image.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        image[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return image;
}

Bytes small_image() {
    Bytes image(20);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i);
    return image;
}

bool save(const std::string& dir, const char* name, const Bytes& image) {
    const std::string path = dir + "/" + name;
    velk::File file = velk::File::open(path, velk::File::Mode::create);
    const bool written = file && file.write(image);
    if (file.close() && written) return true;
    std::fprintf(stderr, "velk-samples: cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    struct Sample {
        const char* name;
        Bytes (*make)();
    };
    const Sample samples[] = {
        {"boot.bin", boot_image},
        {"stack.bin", stack_image},
        {"app.bin", app_image},
        {"small.bin", small_image},
    };
    bool ok = true;
    for (const Sample& sample : samples) ok = save(dir, sample.name, sample.make()) && ok;
    return ok ? 0 : 1;
}
