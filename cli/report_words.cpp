#include "cli/report_words.hpp"

#include <cinttypes>
#include <cstdio>

namespace velk::cli::words {

using u64 = std::uint64_t;

std::string hex(u64 value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, value);
    return text;
}

std::string num(u64 value) { return std::to_string(value); }

std::string plural(u64 n, const char* one, const char* many) {
    return num(n) + " " + (n == 1 ? one : many);
}

const char* part_id(image_part part) {
    switch (part) {
        case image_part::image: return "image";
        case image_part::stack_header: return "stack-header";
        case image_part::app_header: return "app-header";
        case image_part::boot: return "boot";
        case image_part::boot_fill: return "boot-fill";
        case image_part::stack: return "stack";
        case image_part::stack_fill: return "stack-fill";
        case image_part::app: return "app";
        case image_part::end_padding: return "end-padding";
        case image_part::raw: return "raw";
        case image_part::twin: return "twin";
    }
    return "image";
}

const char* part_words(image_part part) {
    switch (part) {
        case image_part::image: return "image";
        case image_part::stack_header: return "stack header";
        case image_part::app_header: return "app header";
        case image_part::boot: return "boot";
        case image_part::boot_fill: return "fill after the boot";
        case image_part::stack: return "stack";
        case image_part::stack_fill: return "fill after the stack";
        case image_part::app: return "app";
        case image_part::end_padding: return "end padding";
        case image_part::raw: return "raw image";
        case image_part::twin: return "twin";
    }
    return "image";
}

const char* field_id(header_field field) {
    switch (field) {
        case header_field::crc: return "crc";
        case header_field::version: return "version";
        case header_field::length_words: return "length_words";
        case header_field::uid: return "uid";
        case header_field::reserved: return "reserved";
        case header_field::rom_version: return "rom_version";
    }
    return "crc";
}

const char* kind_id(image_kind kind) {
    switch (kind) {
        case image_kind::flash_crc: return "flash-crc";
        case image_kind::padded_flash_crc: return "padded-flash-crc";
        case image_kind::merged: return "merged";
        case image_kind::oad_stack: return "oad-stack";
        case image_kind::oad_app: return "oad-app";
    }
    return "flash-crc";
}

const char* encoding_id(image_encoding encoding) { return encoding_of(encoding).id; }

std::string encoding_words(image_encoding encoding) {
    const encoding_info& e = encoding_of(encoding);
    return e.decoded ? std::string(e.words) + " of a " : std::string();
}

// The ids are those of the image encodings where the two meet.
const char* input_encoding_id(input_encoding encoding) {
    switch (encoding) {
        case input_encoding::binary: return encoding_of(image_encoding::binary).id;
        case input_encoding::elf: return "elf";
        case input_encoding::intel_hex: return encoding_of(image_encoding::intel_hex).id;
        case input_encoding::srec: return encoding_of(image_encoding::srec).id;
    }
    return "elf";
}

const char* input_encoding_words(input_encoding encoding) {
    switch (encoding) {
        case input_encoding::binary: return "raw";
        case input_encoding::elf: return "ELF";
        case input_encoding::intel_hex: return "Intel HEX";
        case input_encoding::srec: return "S-record";
    }
    return "ELF";
}

const char* region_id(map_region region) {
    switch (region) {
        case map_region::boot: return "boot";
        case map_region::boot_fill: return "boot-fill";
        case map_region::stack_header: return "stack-header";
        case map_region::stack: return "stack";
        case map_region::stack_fill: return "stack-fill";
        case map_region::app_header: return "app-header";
        case map_region::app: return "app";
        case map_region::end_padding: return "end-padding";
    }
    return "boot";
}

bool is_fill(map_region region) {
    return region == map_region::boot_fill || region == map_region::stack_fill ||
           region == map_region::end_padding;
}

const char* region_words(map_region region) {
    switch (region) {
        case map_region::boot: return "boot";
        case map_region::boot_fill: return "fill";
        case map_region::stack_header: return "stack header";
        case map_region::stack: return "stack";
        case map_region::stack_fill: return "fill";
        case map_region::app_header: return "app header";
        case map_region::app: return "app";
        case map_region::end_padding: return "end padding";
    }
    return "boot";
}

const char* candidate_id(const rejection& r) {
    using candidate = rejection::candidate;
    switch (r.what) {
        case candidate::encoding: return encoding_of(r.encoding).id;
        case candidate::merged: return "merged";
        case candidate::oad: return "oad";
        case candidate::padded_flash_crc: return "padded-flash-crc";
        case candidate::flash_crc: return "flash-crc";
    }
    return "flash-crc";
}

const char* reason_id(const rejection& r) {
    using reason = rejection::reason;
    switch (r.why) {
        case reason::not_encoding: return encoding_of(r.encoding).mismatch_id;
        case reason::too_short: return "too-short";
        case reason::no_header: return "no-header";
        case reason::not_multiple: return "not-multiple-of-256";
        case reason::not_erased_end: return "last-byte-not-erased";
        case reason::block_crcs: return "block-crcs";
        case reason::empty: return "empty";
    }
    return "empty";
}

const char* candidate_words(const rejection& r) {
    using candidate = rejection::candidate;
    switch (r.what) {
        case candidate::encoding: return encoding_of(r.encoding).words;
        case candidate::merged: return "merged image";
        case candidate::oad: return "OAD image";
        case candidate::padded_flash_crc: return "padded flash CRC image";
        case candidate::flash_crc: return "flash CRC image";
    }
    return "image";
}

// The name of what a problem of `part` was compared with.
std::string input_name(image_part part, const report_names& names) {
    switch (part) {
        case image_part::raw: return names.raw.value_or("the raw image");
        case image_part::boot: return names.parts[0].empty() ? "the boot image" : names.parts[0];
        case image_part::stack: return names.parts[1].empty() ? "the stack image" : names.parts[1];
        case image_part::app: return names.parts[2].empty() ? "the app image" : names.parts[2];
        default: return part_words(part);
    }
}

std::string twin_name(const report_names& names) {
    return "twin " + names.twin.value_or(std::string("(beside)"));
}

}  // namespace velk::cli::words
