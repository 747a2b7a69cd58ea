// velk-single: the edition whose -oad makes one padded flash CRC image.
#include "compat/entry.hpp"
#include "compat/console.hpp"
#include "compat/oad_single.hpp"

int main(int argc, char** argv) {
    velk::console_init();
    return velk::velk_main(argc, argv, velk::oad_single);
}
