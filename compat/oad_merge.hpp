#pragma once
// The -oad command of velk-merge: boot, stack and app images merged at
// their flash offsets, with an OAD header before the stack and the app.

namespace velk::compat {

int oad_merge(int argc, const char* const* argv);

}  // namespace velk::compat
