#include "oad/flow.hpp"

#include "cli/names.hpp"
#include "io/console.hpp"
#include "io/file.hpp"

namespace velk {

int end_failed_run(outcome how, std::optional<std::string>& working_file) {
    if (how == outcome::removal_exit) {
        say("create_fexit \r\n");
        remove_working_file(working_file);
    }
    say("open_fexit \r\n");
    return 1;
}

void remove_working_file(std::optional<std::string>& name) {
    if (name && remove_file(*name)) free_file_name(name);
}

void print_oad_start(std::uint32_t version) {
    say("binary version hex:0x%x; dec:%d\r\n", version, static_cast<int>(version));
    say("\r\n");
    say("Arm Image Binary will be converted to OAD format binary file.....\r\n");
}

void print_banner_head(const std::string& download_file) {
    say("/**< @CREATE_FILE_SUCCESS */\r\n");
    say("/**< @Download flash file:%s\r\n", download_file.c_str());
}

void print_banner_tail() {
    say("/**< @author the velk developers */\r\n");
    say("/**< @version v0.3 */\r\n");
}

}  // namespace velk
