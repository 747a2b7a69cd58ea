// velk-merge: the edition whose -oad merges boot, stack and app images.
#include "compat/entry.hpp"
#include "compat/console.hpp"
#include "compat/oad_merge.hpp"

int main(int argc, char** argv) {
    velk::compat::console_init();
    return velk::compat::velk_main(argc, argv, velk::compat::oad_merge);
}
