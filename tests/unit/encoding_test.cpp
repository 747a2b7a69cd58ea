// The encoding table: its rows, and the hand-written lists of encodings
// (shell completion, manual page) held against it, so that an encoding
// added to the table and forgotten in a list fails here.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "formats/encoding/encoding.hpp"
#include "io/file.hpp"

namespace velk {
namespace {

using names = std::set<std::string>;

struct vector_sink final : byte_sink {
    std::vector<std::uint8_t> bytes;
    bool write(std::span<const std::uint8_t> b) override {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return true;
    }
};

struct vector_source final : byte_source {
    explicit vector_source(const std::vector<std::uint8_t>& b) : bytes(b) {}
    std::size_t read(std::span<std::uint8_t> buf) override {
        const std::size_t n = std::min(buf.size(), bytes.size() - at);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, buf.begin());
        at += n;
        return n;
    }
    bool error() const override { return false; }
    const std::vector<std::uint8_t>& bytes;
    std::size_t at = 0;
};

names all_names() {
    names n;
    for (const encoding_info& e : encodings()) n.insert(e.name);
    return n;
}

names written_names() {
    names n;
    for (const encoding_info& e : encodings()) {
        if (e.writer != nullptr) n.insert(e.name);
    }
    return n;
}

std::string source_file(const std::string& path) {
    std::ifstream in(std::string(VELK_SOURCE_DIR) + "/" + path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

names words(const std::string& text, const std::string& separators = " ") {
    names n;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, at), text.size());
        if (end > at) n.insert(text.substr(at, end - at));
        at = end + 1;
    }
    return n;
}

// Every match of `pattern`'s first group in `text`, each split into words.
std::vector<names> lists(const std::string& text, const std::string& pattern, const std::string& separators = " ") {
    std::vector<names> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it) {
        found.push_back(words((*it)[1].str(), separators));
    }
    return found;
}

bool includes(const names& list, const names& part) {
    return std::includes(list.begin(), list.end(), part.begin(), part.end());
}

TEST(Encodings, RowsAreFoundByTheirNames) {
    for (const encoding_info& e : encodings()) {
        EXPECT_EQ(&encoding_of(e.what), &e) << e.name;
        EXPECT_EQ(encoding_named(e.name), &e) << e.name;
        EXPECT_NE(e.reader, nullptr) << e.name;
        EXPECT_EQ(std::string(e.extension).front(), '.') << e.name;
    }
    EXPECT_EQ(encoding_named("binary"), nullptr);
    EXPECT_EQ(encoding_named(""), nullptr);
    // Detection falls back to one encoding, and only one.
    EXPECT_EQ(std::count_if(encodings().begin(), encodings().end(),
                            [](const encoding_info& e) { return e.looks_like == nullptr; }),
              1);
}

// What a row's writer writes, its reader reads back, and its content test
// knows as its own and not as any other row's.
TEST(Encodings, WritersRoundTripThroughReadersAndTests) {
    const std::vector<std::uint8_t> image{0x00, 0x01, 0xFF, 0x7E, 0x20, 0x0D, 0x0A, 0x3A};
    for (const encoding_info& e : encodings()) {
        if (e.writer == nullptr) continue;
        vector_sink out;
        const auto writer = e.writer(out, {});
        ASSERT_TRUE(writer->sink().write(image)) << e.name;
        ASSERT_TRUE(writer->finish()) << e.name;
        vector_source in(out.bytes);
        problem_list problems;
        const auto reader = e.reader(in, problems, {});
        std::vector<std::uint8_t> back(64);
        back.resize(reader->source().read(back));
        EXPECT_EQ(back, image) << e.name;
        EXPECT_TRUE(problems.empty()) << e.name;
        for (const encoding_info& other : encodings()) {
            if (other.looks_like == nullptr) continue;
            EXPECT_EQ(other.looks_like(out.bytes), &other == &e) << e.name << " as " << other.name;
        }
    }
}

// The encodings with addresses write 32-bit ones: an image must end at
// 2^32 at the latest. The others place any image.
TEST(Encodings, ImagesFitTheirAddresses) {
    for (const image_encoding with : {image_encoding::intel_hex, image_encoding::srec}) {
        const encoding_info& e = encoding_of(with);
        EXPECT_TRUE(carries_addresses(e)) << e.name;
        EXPECT_TRUE(fits_in(e, 0xFFFFFFF0, 16)) << e.name;
        EXPECT_FALSE(fits_in(e, 0xFFFFFFF0, 17)) << e.name;
        EXPECT_TRUE(fits_in(e, 0, std::uint64_t{1} << 32)) << e.name;
        EXPECT_FALSE(fits_in(e, 1, std::uint64_t{1} << 32)) << e.name;
    }
    for (const image_encoding without : {image_encoding::binary, image_encoding::text_twin}) {
        const encoding_info& e = encoding_of(without);
        EXPECT_FALSE(carries_addresses(e)) << e.name;
        EXPECT_TRUE(fits_in(e, 0xFFFFFFFF, std::uint64_t{1} << 40)) << e.name;
    }
}

TEST(Encodings, BashCompletionListsThem) {
    const std::string bash = source_file("completions/velk.bash");
    const std::vector<names> format = lists(bash, R"re(--format\) COMPREPLY=\(\$\(compgen -W "([^"]*)")re");
    ASSERT_EQ(format.size(), 1u);
    EXPECT_EQ(format[0], written_names());
    const std::vector<names> kind = lists(bash, R"re(--kind\) COMPREPLY=\(\$\(compgen -W "([^"]*)")re");
    ASSERT_EQ(kind.size(), 1u);
    EXPECT_TRUE(includes(kind[0], all_names()));
}

TEST(Encodings, ZshCompletionListsThem) {
    const std::string zsh = source_file("completions/_velk");
    const std::vector<names> format = lists(zsh, R"re(:format:\(([^)]*)\))re");
    ASSERT_FALSE(format.empty());
    for (const names& n : format) EXPECT_EQ(n, written_names());
    const std::vector<names> kind = lists(zsh, R"re(:kind:\(([^)]*)\))re");
    ASSERT_FALSE(kind.empty());
    for (const names& n : kind) EXPECT_TRUE(includes(n, all_names()));
}

// The manual page: --format's values on its tag line, and the encodings of
// --kind as a parenthesised list of bold names.
TEST(Encodings, ManualPageListsThem) {
    const std::string page = source_file("docs/velk.1");
    const std::vector<names> format = lists(page, R"re(\.BR \\-\\-format " ([^\n]*))re", "\" |");
    ASSERT_EQ(format.size(), 1u);
    EXPECT_EQ(format[0], written_names());
    const std::vector<names> kind = lists(page, R"re(an encoding\n\.RB \(([^)]*)\))re", " ,\n.RB");
    ASSERT_EQ(kind.size(), 1u);
    EXPECT_EQ(kind[0], all_names());
}

}  // namespace
}  // namespace velk
