// velk-merge: the edition whose -oad merges boot, stack and app images.
#include "compat/entry.hpp"
#include "compat/console.hpp"
#include "compat/oad_merge.hpp"

int main(int argc, char** argv) {
    velk::console_init();
    return velk::velk_main(argc, argv, velk::oad_merge);
}
