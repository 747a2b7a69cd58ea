#pragma once
// How a flash CRC image's text twin is named from the image's own name,
// and, the other way, where to look for the twin of an image found on its
// own. Both directions live here so that they cannot drift apart; they
// are string functions only and never look at a file.

#include <string>
#include <string_view>
#include <vector>

namespace velk {

// Which command's default names: crc names its twin after the input,
// single after the input and "bim_crc", as the tools it stands in for did.
enum class twin_default { crc, single };

// Whether `name` ends in a file name a stem can be taken from: not empty,
// not "-", "." or "..".
bool has_file_name(std::string_view name);

// `name` without the last extension of its file name. A file name's
// leading dot begins the name, not an extension (".bin" stays ".bin").
// Directories stay as they are, dots in them included. `name` must
// satisfy has_file_name.
std::string name_stem(std::string_view name);

// The twin of an image named `image` by the user: its stem and ".out".
std::string twin_name(std::string_view image);

// The default image name for `input`, with `extension` (".bin", ".hex").
std::string default_image_name(std::string_view input, std::string_view extension);
// The default twin name for `input`, which sits beside
// default_image_name(input, ...).
std::string default_twin_name(std::string_view input, twin_default which);

// The names the twin of `image` may have, most likely first: the named
// rule's, then the default rule's of `which` when `image` has the form
// of a default image name. Empty when `image` has no file name.
std::vector<std::string> twin_names_for(std::string_view image, twin_default which);

}  // namespace velk
