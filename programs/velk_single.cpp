// velk-single: the edition whose -oad makes one padded flash CRC image.
#include "cli/entry.hpp"
#include "io/console.hpp"
#include "oad/single.hpp"

int main(int argc, char** argv) {
    velk::console_init();
    return velk::velk_main(argc, argv, velk::oad_single);
}
