#include "compat/entry.hpp"

#include <cstdio>
#include <string_view>

#include "compat/args.hpp"
#include "compat/c_command.hpp"
#include "compat/txt_command.hpp"
#include "compat/crc_command.hpp"
#include "compat/console.hpp"

namespace velk::compat {
namespace {

struct command {
    std::string_view lower;
    std::string_view upper;
    command_body body;
};

constexpr std::string_view help_words[] = {"-h",    "-H",     "--h",    "--H",
                                           "-help", "--help", "--hlep", "--hepl"};

constexpr const char* help_text[] = {
    "velk - binary file convert tool.\r\n",
    "       Opition:\r\n",
    "                -oad    convert binary file for oad mode, and it will add oad header, modify ",
    "boundary start//end structure for primary section.\r\n",
    "                        -v   version information\r\n",
    "                        -u   uid value: 0x41414141 or 0x42424242, default value is 0x42424242\r\n",
    "\r\n",
    "                -crc    convert binary file to crc file, for the special cache and spi flash of taluvo corp.\r\n",
    "                -c      convert binary file to c file, which includes an array.\r\n",
    "                        -t   set the array element's type: 8 or 16 or 32\r\n",
    "                        -l   how many data cell in one line\r\n",
    "                        c_file_name   if no c_file_name, the default name is the prefix of binary name\r\n",
    "\r\n",
    "                -txt    convert binary file to text file, which includes binary raw data based on text format.\r\n",
    "                        -t   set the raw data's type: 8 or 16 or 32\r\n",
    "                        -c   add comma as separator\r\n",
    "                        -p   add prefix: 0x\r\n",
    "                        -l   how many data cell in one line\r\n",
    "                        c_file_name   if no c_file_name, the default name is the prefix of binary name\r\n",
    "                -e      entrypt data  4*32Byte\r\n",
    "\r\n",
};

}  // namespace

void print_hint() {
    say("\r\n");
    say("Try velk --help' for more information.\r\n");
    say("\r\n");
}

void print_help() {
    for (const char* piece : help_text) std::fputs(piece, stdout);
}

int velk_main(int argc, const char* const* argv, command_body oad_body) {
    const command commands[] = {
        {"-crc", "-CRC", crc_command},
        {"-txt", "-TXT", bin2txt},
        {"-c", "-C", bin2c},
        {"-oad", "-OAD", oad_body},
    };

    bool any_command = false;
    for (const command& row : commands) {
        if (option_present(argc, argv, row.lower) + option_present(argc, argv, row.upper) != 0) {
            any_command = true;
            row.body(argc, argv);
        }
    }
    if (!any_command) print_hint();

    int help = 0;
    for (std::string_view word : help_words) help += option_present(argc, argv, word);
    if (help != 0) print_help();
    std::fflush(stdout);
    return 0;
}

}  // namespace velk::compat
