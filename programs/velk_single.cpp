// velk-single: the edition whose -oad makes one padded flash CRC image.
#include "compat/entry.hpp"
#include "compat/console.hpp"
#include "compat/oad_single.hpp"

int main(int argc, char** argv) {
    velk::compat::console_init();
    return velk::compat::velk_main(argc, argv, velk::compat::oad_single);
}
