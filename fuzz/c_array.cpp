// The C array format, round trip: any input bytes are written out as a C
// array and the file is read back and taken apart. The numbers in its body,
// laid out little-endian, must give the input followed by zeros up to the
// last whole element; the declared count and size must match the body; the
// head, the separators and the lines must be as the format has them.
//
// Byte 0 picks the way in. Below 0x80, the -c command runs in-process on a
// file, and byte 0 picks its flags, byte 1 the "-t" value and byte 2 the
// "-l" value. From 0x80 up, the format runs through write_export with
// settings no command line reaches: byte 0 also picks the element width,
// const and the <stdint.h> types; bytes 1-4 are the elements per line
// (little-endian), byte 5 the length of the array's name, which follows.
// The rest is the image.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compat/c_command.hpp"
#include "formats/export/export.hpp"
#include "io/file.hpp"

namespace fs = std::filesystem;

namespace {

fs::path scratch;

// Option values with what they mean: "-t" gives the element size in bytes
// (any value but 8, 16 or 32 falls back to 32 bits); "-l" reads like
// strtoul base 0 in 32 bits, saturating, a minus negating.
struct TypeValue {
    const char* token;
    std::size_t bytes;
};
constexpr TypeValue type_values[] = {
    {"8", 1},  {"16", 2}, {"32", 4}, {"0x10", 2}, {"010", 1}, {"0x20", 4},
    {"12", 4}, {"0", 4},  {"64", 4}, {"-8", 4},   {"", 4},    {"x8", 4},
};
struct LineValue {
    const char* token;
    std::uint32_t count;
};
constexpr LineValue line_values[] = {
    {"0", 0},
    {"-1", 0xFFFFFFFF},
    {"4294967295", 0xFFFFFFFF},
    {"4294967296", 0xFFFFFFFF},
    {"99999999999", 0xFFFFFFFF},
    {"0x10", 16},
    {"010", 8},
    {"3junk", 3},
    {"junk", 0},
    {"", 0},
    {"-4294967295", 1},
};

void check(bool ok) {
    if (!ok) std::abort();
}

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Removes `prefix` from the front of `text`; false when it is not there.
bool take(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// A decimal number at the front of `text`, taken off it.
std::uint64_t take_decimal(std::string_view& text) {
    std::size_t n = 0;
    std::uint64_t value = 0;
    while (n < text.size() && text[n] >= '0' && text[n] <= '9' && n < 19) {
        value = value * 10 + static_cast<std::uint64_t>(text[n] - '0');
        ++n;
    }
    check(n > 0 && (n == 1 || text[0] != '0'));
    text.remove_prefix(n);
    return value;
}

int upper_hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One element: "0x" and exactly 2 * bytes upper-case digits, appended to
// `image` as `bytes` little-endian bytes.
void take_element(std::string_view& text, std::size_t bytes, std::string& image) {
    check(take(text, "0x") && text.size() >= 2 * bytes);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 2 * bytes; ++i) {
        const int digit = upper_hex(text[i]);
        check(digit >= 0);
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    text.remove_prefix(2 * bytes);
    for (std::size_t k = 0; k < bytes; ++k) image.push_back(static_cast<char>(value >> (8 * k)));
}

// The body between "{\r\n" and "\r\n};": lines of "    " and elements
// joined by ", ". Every line but the last holds `per_line` elements and
// ends with ", "; the last holds 1 to per_line and ends with an element;
// no element at all leaves one line of four spaces.
std::string take_body(std::string_view body, std::size_t bytes, std::uint64_t per_line,
                      std::uint64_t& elements) {
    std::string image;
    elements = 0;
    check(take(body, "    "));
    if (body.empty()) return image;
    std::uint64_t on_line = 0;
    for (;;) {
        take_element(body, bytes, image);
        ++elements;
        ++on_line;
        if (body.empty()) break;
        check(take(body, ", "));
        if (on_line == per_line) {
            check(take(body, "\r\n    "));
            on_line = 0;
        }
    }
    check(on_line >= 1 && on_line <= per_line);
    return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = (fs::temp_directory_path() / "velk-fuzz-c-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) std::abort();
    scratch = base;
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    });
    fs::current_path(scratch);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

namespace {

// What the file must say, and how it was made.
struct Expected {
    std::string name;  // of the file, as its first line shows it
    std::size_t bytes = 4;
    std::uint64_t per_line = 16;
    std::string array = "bin2array";
    bool constant = false;
    bool fixed_width = false;
};

// Runs the -c command on in.bin with options from the first three bytes.
Expected run_command(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = size > 0 ? data[0] : 0;
    const TypeValue type = type_values[(size > 1 ? data[1] : 0) % std::size(type_values)];
    const std::uint8_t line_pick = size > 2 ? data[2] : 0;

    // "-l" as a small decimal number, or one of the tokens above.
    std::string line_token = std::to_string(line_pick % 40);
    std::uint32_t line_count = line_pick % 40;
    if (line_pick >= 0x80) {
        const LineValue& v = line_values[line_pick % std::size(line_values)];
        line_token = v.token;
        line_count = v.count;
    }
    const bool given_name = (flags & 1) != 0;
    const bool with_type = (flags & 2) != 0;
    const bool with_lines = (flags & 4) != 0;
    const bool dangling = (flags & 8) != 0;  // the last option without its value

    std::vector<std::string> args = {"velk", "-c", "in.bin"};
    if (given_name) args.emplace_back("out.c");
    if (with_type) args.insert(args.end(), {"-t", type.token});
    if (with_lines) args.insert(args.end(), {"-l", line_token});
    if (dangling) args.emplace_back((flags & 16) != 0 ? "-t" : "-l");
    // A value option that ends the command line counts as absent; only the
    // first occurrence of an option counts.
    Expected want;
    want.name = given_name ? "out.c" : "in_qz.c";
    want.bytes = with_type ? type.bytes : 4;
    want.per_line = with_lines ? (line_count == 0 ? 1 : line_count) : 16;

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    check(velk::compat::bin2c(static_cast<int>(args.size()), argv.data()) == 0);
    std::fflush(stdout);
    return want;
}

// Runs the format itself on in.bin with the settings the first bytes pick.
Expected run_format(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = data[0];
    Expected want;
    want.name = "out.c";
    constexpr std::size_t widths[] = {1, 2, 4, 4};
    want.bytes = widths[(flags >> 2) & 3];
    want.constant = (flags & 1) != 0;
    want.fixed_width = (flags & 2) != 0;
    std::uint32_t per_line = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        per_line |= static_cast<std::uint32_t>(1 + k < size ? data[1 + k] : 0) << (8 * k);
    }
    want.per_line = per_line == 0 ? 1 : per_line;
    const std::size_t name_end = std::min<std::size_t>(size, 6 + (size > 5 ? data[5] % 16 : 0));
    // The name as given, kept to the characters of a C identifier.
    if (name_end > 6) want.array.clear();
    for (std::size_t i = 6; i < name_end; ++i) {
        constexpr char allowed[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789";
        want.array.push_back(allowed[data[i] % (sizeof allowed - 1)]);
    }

    velk::export_settings settings;
    settings.cell_bits = static_cast<int>(8 * want.bytes);
    settings.per_line = per_line;
    settings.array_name = want.array;
    settings.constant = want.constant;
    settings.fixed_width_types = want.fixed_width;
    velk::File in = velk::File::open("in.bin", velk::File::Mode::read);
    velk::File out = velk::File::open("out.c", velk::File::Mode::create);
    check(in && out);
    const std::optional<std::uint64_t> input_size = in.size();
    const velk::result<std::uint64_t> r =
        velk::write_export(velk::c_array_format(), settings, {"out.c", input_size}, in, out);
    check(r && out.close());
    return want;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool format_itself = size > 0 && data[0] >= 0x80;
    std::size_t image_at = std::min<std::size_t>(size, 3);
    if (format_itself) image_at = std::min<std::size_t>(size, 6 + (size > 5 ? data[5] % 16 : 0));
    const std::string input(reinterpret_cast<const char*>(data) + image_at, size - image_at);
    std::ofstream("in.bin", std::ios::binary) << input;
    const Expected want = format_itself ? run_format(data, size) : run_command(data, size);

    const std::string file = read_all(want.name);
    fs::remove(want.name);
    fs::remove("in.bin");

    std::string_view text(file);
    check(take(text, "\r\n//" + want.name +
                         ", the following array is genearted by the tool: velkmill.exe\r\n\r\n\r\n"));
    if (want.fixed_width) check(take(text, "#include <stdint.h>\r\n\r\n"));
    if (want.constant) check(take(text, "const "));
    const std::size_t bytes = want.bytes;
    const char* type_word =
        want.fixed_width ? (bytes == 1 ? "uint8_t" : bytes == 2 ? "uint16_t" : "uint32_t")
                         : (bytes == 1 ? "unsigned char" : bytes == 2 ? "unsigned short" : "unsigned int");
    check(take(text, type_word) && take(text, " ") && take(text, want.array) && take(text, "["));
    const std::uint64_t declared = take_decimal(text);
    check(take(text, "] ="));
    if (bytes == 1) {
        check(take(text, " \r\n"));
    } else {
        check(take(text, "     //binary file size:"));
        check(take_decimal(text) == input.size());
        check(take(text, " Bytes\r\n"));
    }
    check(take(text, "{\r\n"));
    const std::string_view tail = "\r\n};\r\n\r\n//eof\r\n\r\n";
    check(text.ends_with(tail));
    text.remove_suffix(tail.size());

    std::uint64_t elements = 0;
    const std::string image = take_body(text, bytes, want.per_line, elements);
    check(declared == elements);
    check(elements == (input.size() + bytes - 1) / bytes);
    // The input, then zeros above it in the last element.
    check(image.size() == elements * bytes);
    check(image.compare(0, input.size(), input) == 0);
    check(image.find_first_not_of('\0', input.size()) == std::string::npos);
    return 0;
}
