#pragma once
// The velk program: its command table, read by both dispatch and help.

namespace velk::cli {

// Runs one velk command line and returns the exit status.
int run(int argc, const char* const* argv);

}  // namespace velk::cli
