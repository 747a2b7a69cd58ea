#pragma once
// What the -txt and -c end-to-end tests expect to see on the console.

#include <string>

namespace velk::test {

inline std::string txt_settings(const std::string& bin, int comma, int prefix, int type) {
    return "binary file name:" + bin + "\r\ncomma status:" + std::to_string(comma) +
           "\r\nprefix status:" + std::to_string(prefix) + "\r\ntype is " +
           std::to_string(type) + " bits\r\n";
}

// The settings lines of -c, before the output name is known.
inline std::string c_settings(const std::string& bin, const std::string& given_name, int type) {
    return "binary file name:" + bin + "\r\nc file name:" + given_name + "\r\ntype is " +
           std::to_string(type) + " bits\r\n";
}

// The refusal of an output that would land on the input, a.bin.
inline std::string refused(const std::string& output) {
    return output + " is the input a.bin; it would be overwritten, so it is not written\r\n" +
           output + " file can not be created\r\n";
}

inline const std::string bad_type = "set type exceptionally, and it will be 8, 16, 32.\r\n";

}  // namespace velk::test
