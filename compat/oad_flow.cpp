#include "compat/oad_flow.hpp"

#include "compat/names.hpp"
#include "compat/console.hpp"
#include "io/file.hpp"

namespace velk::compat {

int end_failed_run(outcome how, std::optional<std::string>& working_file) {
    if (how == outcome::removal_exit) {
        say("create_fexit \r\n");
        remove_working_file(working_file);
    }
    say("open_fexit \r\n");
    return 1;
}

void remove_working_file(std::optional<std::string>& name) {
    if (name && remove_file(*name)) name.reset();
}

outcome copy_part(const std::string& from, std::uint64_t offset, std::uint64_t length,
                  const std::string& to, const char* write_failure) {
    File in = File::open(from, File::Mode::read);
    if (!in) {
        say("%s file can not be opened\r\n", from.c_str());
        return outcome::closing_exit;
    }
    File out = File::open(to, File::Mode::create);
    if (!out) {
        say("%s file can not be created\r\n", to.c_str());
        return outcome::closing_exit;
    }
    BlockWriter writer(out);
    // One byte more than expected shows a file that is longer than it
    // should be, or a device that never ends, without copying it forever.
    const std::uint64_t copied = in.seek(offset) ? copy_file_data(in, writer, length + 1) : 0;
    if (!writer.flush() || !out.close()) {
        say("%s", write_failure);
        return outcome::removal_exit;
    }
    if (in.error() || copied != length) {
        say("%s file can not be read\r\n", from.c_str());
        return outcome::removal_exit;
    }
    return outcome::done;
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

}  // namespace velk::compat
