// velk-merge: the edition whose -oad merges boot, stack and app images.
#include "cli/entry.hpp"
#include "io/console.hpp"
#include "oad/merge.hpp"

int main(int argc, char** argv) {
    velk::console_init();
    return velk::velk_main(argc, argv, velk::oad_merge);
}
