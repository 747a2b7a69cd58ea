#pragma once
// The entry point shared by both programs: it runs every command whose word
// is on the command line, in a fixed order, then prints the hint and help.

namespace velk::compat {

// Every command body takes the whole, unchanged argument vector and reads
// its own options from it. Its result is reported, never turned into the
// exit status.
using command_body = int (*)(int argc, const char* const* argv);

// Runs each command of the table at most once, in table order, when its
// lower- or upper-case word is present; the "-oad" row runs oad_body.
// Then the hint when no command word was present, and the full help when
// a help word was. Always returns 0.
int velk_main(int argc, const char* const* argv, command_body oad_body);

void print_hint();
void print_help();

}  // namespace velk::compat
