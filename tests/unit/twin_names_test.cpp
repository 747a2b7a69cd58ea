// The twin's name both ways: from the image's name (what crc and single
// write) and back (where verify and unpack look), and the same rule as
// the CMake package's functions spell it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/flash_crc/names.hpp"
#include "support.hpp"

namespace velk {
namespace {

bool has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Image names given with -o, and their twins, written out from the rule:
// the last extension of the file name goes, ".out" comes.
const struct {
    const char* image;
    const char* twin;
} named[] = {
    {"app.bin", "app.out"},
    {"app", "app.out"},
    {"app.v1.2.bin", "app.v1.2.out"},
    {"out/app.hex", "out/app.out"},
    {"build.d/app", "build.d/app.out"},
    {"build.d/app.bin", "build.d/app.out"},
    {".bin", ".bin.out"},
    {"out/.image.bin", "out/.image.out"},
    {"app.", "app.out"},
    {"/abs/dir/app_crc.bin", "/abs/dir/app_crc.out"},
    {"dir\\app.bin", "dir\\app.out"},
};

TEST(TwinNames, NamedImageGivesItsStemAndOut) {
    for (const auto& c : named) EXPECT_EQ(twin_name(c.image), c.twin) << c.image;
}

// Whatever the image's name, the first name looked for is the one it was
// given; the second, when the name has the default's form, the default's.
TEST(TwinNames, ReverseFindsTheNamedTwinFirst) {
    for (const auto& c : named) {
        for (const twin_default which : {twin_default::crc, twin_default::single}) {
            const std::vector<std::string> found = twin_names_for(c.image, which);
            ASSERT_FALSE(found.empty()) << c.image;
            EXPECT_EQ(found.front(), c.twin) << c.image;
        }
    }
}

// Default names: the input's stem with "_crc" and the extension for the
// image; with ".out" (crc) or "bim_crc.out" (single) for the twin.
TEST(TwinNames, DefaultsForwardThenBack) {
    const struct {
        const char* input;
        const char* image;
        const char* crc_twin;
        const char* single_twin;
    } cases[] = {
        {"app.bin", "app_crc.bin", "app.out", "appbim_crc.out"},
        {"app", "app_crc.bin", "app.out", "appbim_crc.out"},
        {"fw.v2.bin", "fw.v2_crc.bin", "fw.v2.out", "fw.v2bim_crc.out"},
        {"in.d/app.bin", "in.d/app_crc.bin", "in.d/app.out", "in.d/appbim_crc.out"},
        {".hidden", ".hidden_crc.bin", ".hidden.out", ".hiddenbim_crc.out"},
        {"x_crc.bin", "x_crc_crc.bin", "x_crc.out", "x_crcbim_crc.out"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(default_image_name(c.input, ".bin"), c.image) << c.input;
        EXPECT_EQ(default_twin_name(c.input, twin_default::crc), c.crc_twin) << c.input;
        EXPECT_EQ(default_twin_name(c.input, twin_default::single), c.single_twin) << c.input;
        EXPECT_TRUE(has(twin_names_for(c.image, twin_default::crc), c.crc_twin)) << c.input;
        EXPECT_TRUE(has(twin_names_for(c.image, twin_default::single), c.single_twin)) << c.input;
        // The extension the image was written with does not matter.
        const std::string hex_image = default_image_name(c.input, ".hex");
        EXPECT_TRUE(has(twin_names_for(hex_image, twin_default::single), c.single_twin)) << c.input;
    }
}

TEST(TwinNames, NamesThatAreNotDefaultsGetOneGuess) {
    for (const char* image : {"app.bin", "_crc.bin", "dir/_crc.bin", "appcrc.bin", "dir_crc/app.bin"}) {
        EXPECT_EQ(twin_names_for(image, twin_default::single).size(), 1u) << image;
    }
}

TEST(TwinNames, NoFileNameNoTwin) {
    for (const char* image : {"", "-", ".", "..", "dir/", "dir/..", "dir\\"}) {
        EXPECT_FALSE(has_file_name(image)) << image;
        EXPECT_TRUE(twin_names_for(image, twin_default::crc).empty()) << image;
    }
}

// velk_flash_crc() declares the twin as an output of the build step; a
// different name there would make the build rerun velk every time, or
// never notice a lost twin.
TEST(TwinNames, CMakeFunctionsAgree) {
    std::string list;
    std::string expected;
    for (const auto& c : named) {
        const std::string image = std::string("/work/") + c.image;
        list += (list.empty() ? "" : "|") + image;
        expected += twin_name(image) + "\n";
    }
    const std::optional<std::string> out =
        test::shell("'" VELK_CMAKE_COMMAND "' '-DFUNCTIONS=" VELK_SOURCE_DIR "/cmake/package/velkFunctions.cmake' '-DNAMES=" +
              list + "' -P '" VELK_SOURCE_DIR "/tests/cmake/twin_name.cmake'");
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, expected);
}

}  // namespace
}  // namespace velk
