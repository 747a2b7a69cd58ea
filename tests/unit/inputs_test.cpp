// The check every command makes of its input name before it creates an
// output: which kinds of file each use refuses, and the one line it prints.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "compat/inputs.hpp"
#include "harness.hpp"

namespace velk::compat {
namespace {

TEST(InputRefused, DirectoriesAlwaysAndUnmeasurableFilesWhenMeasured) {
    test::Sandbox box(test::Files{{"a.bin", "abc"}});
    box.mkdir("d");
    box.symlink("/dev/null", "null.bin");
    // A FIFO no one writes to: a check that opened it would never return.
    box.fifo("p.bin");
    const std::string unmeasured = " is not a regular file; its size cannot be known";
    const struct {
        const char* name;
        input_use use;
        std::string printed;  // before the line end; empty when not refused
    } cases[] = {
        {"a.bin", input_use::measured, ""},
        {"a.bin", input_use::streamed, ""},
        // Opening a missing file fails later, in the command's own words.
        {"none.bin", input_use::measured, ""},
        {"d", input_use::measured, "d is a directory"},
        {"d", input_use::streamed, "d is a directory"},
        {"null.bin", input_use::measured, "null.bin" + unmeasured},
        {"null.bin", input_use::streamed, ""},
        {"p.bin", input_use::measured, "p.bin" + unmeasured},
        {"p.bin", input_use::streamed, ""},
    };
    for (const auto& c : cases) {
        for (const char* line_end : {"\n", "\r\n"}) {
            const std::string path = box.path() + "/" + c.name;
            testing::internal::CaptureStdout();
            const bool refused = input_refused(path.c_str(), c.use, line_end);
            std::fflush(stdout);
            const std::string out = testing::internal::GetCapturedStdout();
            SCOPED_TRACE(std::string(c.name) + (c.use == input_use::measured ? " measured" : " streamed"));
            EXPECT_EQ(refused, !c.printed.empty());
            EXPECT_EQ(out, c.printed.empty() ? "" : box.path() + "/" + c.printed + line_end);
        }
    }
    EXPECT_FALSE(input_refused(nullptr, input_use::measured, "\n"));
}

}  // namespace
}  // namespace velk::compat
