#include "cli/read_report.hpp"

#include <nlohmann/json.hpp>

#include <cinttypes>
#include <cstdio>

#include "formats/oad/header_reader.hpp"

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

namespace velk::cli {
namespace {

using u64 = std::uint64_t;
using json = nlohmann::ordered_json;

// The version of the JSON document's shape; raised when a key changes
// meaning or goes away (new keys may come without it).
constexpr int json_shape_version = 1;

std::string hex(u64 value, int digits = 1) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*" PRIX64, digits, value);
    return text;
}

std::string num(u64 value) { return std::to_string(value); }

std::string plural(u64 n, const char* one, const char* many) {
    return num(n) + " " + (n == 1 ? one : many);
}

// What each check's problems carry, for JSON, and how wide its values are
// in hexadecimal (0: they are counts, not values).
struct check_info {
    const char* id;
    bool offset, index, stored, computed, count, field;
    int digits;
};

constexpr check_info checks[] = {
    {"block-crc", true, true, true, true, false, false, 4},
    {"partial-block", true, false, false, false, true, false, 0},
    {"padding-length", true, false, true, false, true, false, 0},
    {"padding-byte", true, false, true, false, true, false, 2},
    {"header-missing", true, false, false, false, true, false, 0},
    {"header-crc", true, false, true, true, false, false, 8},
    {"header-length", true, false, true, true, true, false, 4},
    {"header-reserved", true, false, true, true, false, false, 4},
    {"header-field", true, false, true, true, false, true, 4},
    {"headers-disagree", true, false, true, true, false, true, 4},
    {"fill-byte", true, false, true, false, true, false, 2},
    {"end-padding", true, false, true, true, true, false, 0},
    {"data-differs", true, false, true, true, true, false, 2},
    {"length-differs", false, false, true, true, false, false, 0},
    {"twin-line", true, true, true, false, true, false, 8},
    {"twin-differs", true, false, false, false, true, false, 0},
    {"twin-length", false, false, true, true, false, false, 0},
    {"hex-syntax", true, true, false, false, false, false, 0},
    {"hex-checksum", true, true, true, true, false, false, 2},
    {"hex-record-type", true, true, true, false, false, false, 2},
    {"hex-address", true, true, true, true, false, false, 8},
    {"hex-end", true, true, false, false, false, false, 0},
    {"read-error", true, false, false, false, false, false, 0},
};
static_assert(std::size(checks) == check_count);

const check_info& info_of(check what) { return checks[static_cast<std::size_t>(what)]; }

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

const char* encoding_id(image_encoding encoding) {
    switch (encoding) {
        case image_encoding::binary: return "binary";
        case image_encoding::intel_hex: return "intel-hex";
        case image_encoding::text_twin: return "text-twin";
    }
    return "binary";
}

const char* encoding_words(image_encoding encoding) {
    switch (encoding) {
        case image_encoding::binary: return "";
        case image_encoding::intel_hex: return "Intel HEX of a ";
        case image_encoding::text_twin: return "text twin of a ";
    }
    return "";
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

std::string words_of_four(u64 bytes, u64 count) {
    std::string text = "'";
    for (u64 i = 0; i < count && i < 4; ++i) {
        const auto c = static_cast<unsigned>((bytes >> (8 * (3 - i))) & 0xFF);
        if (c == '\r') text += "\\r";
        else if (c == '\n') text += "\\n";
        else if (c >= 0x20 && c < 0x7F) text += static_cast<char>(c);
        else text += "\\x" + hex(c, 2).substr(2);
    }
    return text + "'";
}

// Header fields in the order they are stored, with their validity.
std::string header_lines(const oad_header_report& h, const std::string& indent) {
    const oad_header& s = h.stored;
    std::string out;
    const auto line = [&](const char* name, const std::string& value) {
        char label[24];
        std::snprintf(label, sizeof label, "%-14s", name);
        out += indent + label + value + "\n";
    };
    line("crc", hex(s.crc, 8) + (h.crc_ok() ? " (valid)" : " (invalid - computed " + hex(h.computed_crc, 8) + ")"));
    line("version", hex(s.version, 4));
    std::string length = hex(s.length_words, 4) + " words = " + num(h.implied_length()) + " bytes; the image is " +
                         num(h.length) + " bytes";
    if (!h.length_ok()) {
        length += " (invalid - " + hex(h.expected_words(), 4) + " words expected)";
    } else if (h.wrapped()) {
        length += " (" + hex(h.length / 4) + " words, kept to their low 16 bits)";
    }
    line("length_words", length);
    const std::optional<std::string> text = printable_uid(s.uid);
    line("uid", hex(s.uid, 8) + (text ? " \"" + *text + "\"" : std::string()));
    char reserved[16];
    std::snprintf(reserved, sizeof reserved, "%02X %02X", s.reserved[0], s.reserved[1]);
    line("reserved", std::string(reserved) + (h.reserved_ok() ? "" : " (invalid - must be FF FF)"));
    line("rom_version", hex(s.rom_version, 4));
    return out;
}

std::string map_lines(const merged_report& m, const std::string& indent) {
    char title[96];
    std::snprintf(title, sizeof title, "%-10s %-10s %10s  %s\n", "offset", "end", "length", "region");
    std::string out = indent + title;
    for (const map_row& row : m.map) {
        std::string what;
        switch (row.region) {
            case map_region::boot: what = "boot"; break;
            case map_region::boot_fill: what = "fill"; break;
            case map_region::stack_header: what = "stack header"; break;
            case map_region::stack: what = "stack"; break;
            case map_region::stack_fill: what = "fill"; break;
            case map_region::app_header: what = "app header"; break;
            case map_region::app: what = "app"; break;
            case map_region::end_padding: what = "end padding"; break;
        }
        if (is_fill(row.region)) {
            what += row.not_erased == 0 ? ", all 0xFF" : ", " + num(row.not_erased) + " bytes not 0xFF";
        } else if (!m.lengths_known &&
                   (row.region == map_region::boot || row.region == map_region::stack ||
                    row.region == map_region::app)) {
            what += " (to its last byte that is not 0xFF)";
        }
        char text[96];
        std::snprintf(text, sizeof text, "%-10s %-10s %10" PRIu64 "  ", hex(row.offset, 6).c_str(),
                      hex(row.offset + row.length, 6).c_str(), row.length);
        out += indent + text + what + "\n";
    }
    return out;
}

std::string heading(const file_outcome& o) {
    const detection& d = *o.found;
    std::string text = o.names.path + ": " + encoding_words(d.encoding) + kind_words(d.kind) + ", " +
                       plural(d.file_size, "byte", "bytes");
    if (d.encoding != image_encoding::binary) text += " (image " + plural(d.image_size, "byte", "bytes") + ")";
    return text;
}

json problem_json(const problem& p, const report_names& names) {
    const check_info& info = info_of(p.what);
    json j;
    j["check"] = info.id;
    j["part"] = part_id(p.part);
    if (info.field) j["field"] = field_id(p.field);
    if (info.offset) j["offset"] = p.offset;
    if (info.index) j["index"] = p.index;
    if (info.stored) {
        j["stored"] = p.stored;
        if (info.digits != 0) j["stored_hex"] = hex(p.stored, info.digits);
    }
    if (info.computed) {
        j["computed"] = p.computed;
        if (info.digits != 0) j["computed_hex"] = hex(p.computed, info.digits);
    }
    if (info.count) j["count"] = p.count;
    j["message"] = problem_text(p, names);
    return j;
}

json header_json(const oad_header_report& h) {
    const oad_header& s = h.stored;
    json j;
    j["offset"] = h.offset;
    j["crc"] = s.crc;
    j["crc_hex"] = hex(s.crc, 8);
    j["crc_computed"] = h.computed_crc;
    j["crc_computed_hex"] = hex(h.computed_crc, 8);
    j["crc_ok"] = h.crc_ok();
    j["version"] = s.version;
    j["length_words"] = s.length_words;
    j["implied_length"] = h.implied_length();
    j["length"] = h.length;
    j["length_ok"] = h.length_ok();
    j["length_wrapped"] = h.wrapped();
    j["uid"] = s.uid;
    j["uid_hex"] = hex(s.uid, 8);
    const std::optional<std::string> text = printable_uid(s.uid);
    j["uid_text"] = text ? json(*text) : json(nullptr);
    j["reserved"] = {s.reserved[0], s.reserved[1]};
    j["reserved_ok"] = h.reserved_ok();
    j["rom_version"] = s.rom_version;
    return j;
}

json comparison_json(const comparison& c, const std::string& path) {
    json j;
    j["path"] = path;
    j["equal"] = c.equal();
    j["image_bytes"] = c.actual_length;
    j["expected_bytes"] = c.expected_length;
    j["first_difference"] = c.first ? json(*c.first) : json(nullptr);
    j["differing_bytes"] = c.differing;
    return j;
}

json fields_json(const image_report& r, const report_names& names) {
    const detection& d = r.found;
    json f = json::object();
    if (r.flash) {
        f["blocks"] = d.flash.blocks;
        f["block_bytes"] = block_bytes;
        f["data_bytes"] = d.flash.data_bytes();
        f["bad_blocks"] = r.flash->bad_blocks;
        if (d.flash.padded) {
            f["padding"] = {{"offset", d.flash.blocks_end()},
                            {"length", d.flash.tail()},
                            {"erased", r.flash->padding_not_erased == 0}};
        } else {
            f["partial_block_bytes"] = d.flash.tail();
        }
    }
    if (r.merged) {
        const merged_report& m = *r.merged;
        f["layout"] = {{"stack_at", m.layout.stack_at}, {"app_at", m.layout.app_at}};
        f["origin"] = m.origin;
        f["stack_header"] = m.stack_header ? header_json(*m.stack_header) : json(nullptr);
        f["app_header"] = m.app_header ? header_json(*m.app_header) : json(nullptr);
        f["lengths_known"] = m.lengths_known;
        json map = json::array();
        for (const map_row& row : m.map) {
            json entry{{"region", region_id(row.region)}, {"offset", row.offset}, {"length", row.length}};
            if (is_fill(row.region)) entry["erased"] = row.not_erased == 0;
            map.push_back(entry);
        }
        f["map"] = map;
    }
    if (r.hex) {
        f["intel_hex"] = {{"lines", r.hex->lines},
                          {"data_records", r.hex->data_records},
                          {"base", r.hex->base ? json(*r.hex->base) : json(nullptr)},
                          {"end_record", r.hex->end_record}};
    }
    if (r.against_raw) f["against"] = comparison_json(*r.against_raw, names.raw.value_or(""));
    if (r.twin) f["twin"] = comparison_json(*r.twin, names.twin.value_or(""));
    return f;
}

const char* candidate_id(rejection::candidate what) {
    using candidate = rejection::candidate;
    switch (what) {
        case candidate::intel_hex: return "intel-hex";
        case candidate::text_twin: return "text-twin";
        case candidate::merged: return "merged";
        case candidate::oad: return "oad";
        case candidate::padded_flash_crc: return "padded-flash-crc";
        case candidate::flash_crc: return "flash-crc";
    }
    return "flash-crc";
}

const char* reason_id(rejection::reason why) {
    using reason = rejection::reason;
    switch (why) {
        case reason::not_a_record: return "not-a-record";
        case reason::not_twin_text: return "not-twin-text";
        case reason::too_short: return "too-short";
        case reason::no_header: return "no-header";
        case reason::not_multiple: return "not-multiple-of-256";
        case reason::not_erased_end: return "last-byte-not-erased";
        case reason::block_crcs: return "block-crcs";
        case reason::empty: return "empty";
    }
    return "empty";
}

json tried_json(const detection& d) {
    json tried = json::array();
    for (const rejection& r : d.tried) {
        detection one;
        one.tried = {r};
        tried.push_back({{"kind", candidate_id(r.what)}, {"reason", reason_id(r.why)}, {"message", tried_text(one)}});
    }
    return tried;
}

}  // namespace

std::string kind_words(image_kind kind) {
    switch (kind) {
        case image_kind::flash_crc: return "flash CRC image";
        case image_kind::padded_flash_crc: return "padded flash CRC image";
        case image_kind::merged: return "merged image";
        case image_kind::oad_stack: return "stack OAD image";
        case image_kind::oad_app: return "app OAD image";
    }
    return "image";
}

std::string problem_text(const problem& p, const report_names& names) {
    const std::string at = hex(p.offset);
    const std::string part = part_words(p.part);
    switch (p.what) {
        case check::block_crc:
            return "block " + num(p.index) + " at " + at + ": CRC-16 stored " + hex(p.stored, 4) +
                   ", computed " + hex(p.computed, 4);
        case check::partial_block:
            return "partial last block at " + at + ": " + plural(p.count, "byte", "bytes") + ", not " +
                   num(block_bytes);
        case check::padding_length:
            return "end padding at " + at + ": " + plural(p.stored, "byte", "bytes") + " ending a " +
                   num(p.count) + "-byte file; it must be 1 to 256 bytes that end the file on a multiple of 256";
        case check::padding_byte:
        case check::fill_byte:
            return part + ": byte at " + at + " is " + hex(p.stored, 2) + ", not 0xFF (" +
                   plural(p.count, "byte", "bytes") + " not 0xFF)";
        case check::header_missing:
            return part + " missing: the image is " + num(p.count) + " bytes and ends before " +
                   hex(p.offset + oad_header_size);
        case check::header_crc:
            return part + " at " + at + ": crc " + hex(p.stored, 8) + " invalid - computed " + hex(p.computed, 8);
        case check::header_length:
            return part + " at " + at + ": length_words " + hex(p.stored, 4) + " (" + num(p.stored * 4) +
                   " bytes) invalid - the image is " + num(p.count) + " bytes, " + hex(p.computed, 4) +
                   " words in 16 bits";
        case check::header_reserved:
            return part + " at " + at + ": reserved " + hex(p.stored, 4) + " invalid - must be 0xFFFF";
        case check::header_field:
            return part + " at " + at + ": " + field_id(p.field) + " " + hex(p.stored) +
                   " is not what was written, " + hex(p.computed);
        case check::headers_disagree:
            return "stack and app headers disagree on " + std::string(field_id(p.field)) + ": " +
                   hex(p.stored, 4) + " and " + hex(p.computed, 4);
        case check::end_padding:
            if (p.computed != 0) {
                return "end padding at " + at + ": " + plural(p.stored, "byte", "bytes") +
                       ", the 256-byte rule asks for " + num(p.computed);
            }
            if (p.count != 0) {
                return "the image ends " + plural(p.count, "byte", "bytes") +
                       " past a 256-byte page counted from the stack header; the end padding must "
                       "complete the page";
            }
            return "no end padding: the image's last byte is not 0xFF";
        case check::data_differs:
            return input_name(p.part, names) + ": first difference at offset " + at + " (image " +
                   (p.stored > 0xFF ? std::string("ended") : hex(p.stored, 2)) + ", " +
                   input_name(p.part, names) + " " +
                   (p.computed > 0xFF ? std::string("ended") : hex(p.computed, 2)) + "); " +
                   plural(p.count, "byte differs", "bytes differ");
        case check::length_differs:
            if (p.part == image_part::raw) {
                return input_name(p.part, names) + ": the image's blocks hold " + num(p.stored) +
                       " data bytes; it is " + num(p.computed) + " bytes filled to whole blocks";
            }
            return input_name(p.part, names) + ": the image holds " + plural(p.stored, "byte", "bytes") +
                   " of it, which has " + num(p.computed);
        case check::twin_line:
            return (p.part == image_part::twin ? twin_name(names) + ": line " : "line ") + num(p.index) +
                   " at " + at + " is " + words_of_four(p.stored, p.count) +
                   ", not two lower-case hex digits and CR LF";
        case check::twin_differs:
            return twin_name(names) + ": spells image offset " + at + " differently (" +
                   plural(p.count, "byte differs", "bytes differ") + ")";
        case check::twin_length:
            return twin_name(names) + ": spells " + plural(p.stored, "byte", "bytes") +
                   ", the image's blocks are " + num(p.computed);
        case check::hex_syntax:
            return "line " + num(p.index) + " at " + at + ": not an Intel HEX record";
        case check::hex_checksum:
            return "line " + num(p.index) + " at " + at + ": checksum " + hex(p.stored, 2) +
                   ", should be " + hex(p.computed, 2);
        case check::hex_record_type:
            return "line " + num(p.index) + " at " + at + ": record type " + hex(p.stored, 2) +
                   " is not one velk reads (00, 01, 04)";
        case check::hex_address:
            return "line " + num(p.index) + " at " + at + ": address " + hex(p.stored, 8) +
                   " out of place (records ascend from " + hex(p.computed, 8) +
                   " without overlap, each inside its 64 KiB page and the longest image)";
        case check::hex_end:
            if (p.index == 0) return "no end-of-file record";
            return "line " + num(p.index) + " at " + at + ": records after the end-of-file record";
        case check::read_error:
            return (p.part == image_part::twin ? twin_name(names) + ": read error" :
                    p.part == image_part::image ? std::string("read error")
                                                : input_name(p.part, names) + ": read error") +
                   " after " + num(p.offset) + " bytes";
    }
    return "problem";
}

std::string tried_text(const detection& found) {
    using candidate = rejection::candidate;
    using reason = rejection::reason;
    std::string text;
    for (const rejection& r : found.tried) {
        if (!text.empty()) text += "; ";
        switch (r.what) {
            case candidate::intel_hex: text += "Intel HEX"; break;
            case candidate::text_twin: text += "text twin"; break;
            case candidate::merged: text += "merged image"; break;
            case candidate::oad: text += "OAD image"; break;
            case candidate::padded_flash_crc: text += "padded flash CRC image"; break;
            case candidate::flash_crc: text += "flash CRC image"; break;
        }
        switch (r.why) {
            case reason::not_a_record: text += " (the first line is not a record)"; break;
            case reason::not_twin_text: text += " (the first lines are not hex digit pairs and CR LF)"; break;
            case reason::too_short: text += " (shorter than the " + num(r.needed) + " bytes it needs)"; break;
            case reason::no_header:
                text += r.what == candidate::merged
                            ? " (no OAD header at " + hex(r.offset) + " or " + hex(r.offset2) + ")"
                            : " (no OAD header at 0)";
                break;
            case reason::not_multiple: text += " (not a multiple of 256 bytes)"; break;
            case reason::not_erased_end: text += " (the last byte is not 0xFF)"; break;
            case reason::block_crcs:
                text += " (" + num(r.good) + " of the first " + plural(r.checked, "block", "blocks") +
                        " have a good CRC-16)";
                break;
            case reason::empty: text += " (empty)"; break;
        }
    }
    return text;
}

std::string problem_lines(const image_report& report, const report_names& names, const std::string& indent) {
    std::string out;
    for (const problem& p : report.problems.kept()) out += indent + problem_text(p, names) + "\n";
    for (std::size_t k = 0; k < check_count; ++k) {
        const auto what = static_cast<check>(k);
        const u64 total = report.problems.total(what);
        if (total > problem_list::kept_per_check) {
            out += indent + "... and " + num(total - problem_list::kept_per_check) + " more " +
                   checks[k].id + " problems (" + num(total) + " in all)\n";
        }
    }
    if (report.data_failed) out += indent + "the raw data could not be written\n";
    return out;
}

std::string info_text(const file_outcome& o) {
    if (o.error) return "";
    const image_report& r = *o.report;
    const detection& d = r.found;
    std::string out = heading(o) + "\n";
    const auto line = [&](const char* name, const std::string& value) {
        char label[24];
        std::snprintf(label, sizeof label, "  %-14s", name);
        out += label + value + "\n";
    };
    if (r.hex) {
        line("intel hex", plural(r.hex->lines, "line", "lines") + ", " +
                              plural(r.hex->data_records, "data record", "data records") +
                              (r.hex->base ? ", image at " + hex(*r.hex->base, 8) : std::string()) +
                              (r.hex->end_record ? "" : ", no end record"));
    }
    if (r.flash) {
        const flash_crc_layout& f = d.flash;
        line("blocks", num(f.blocks) + " of " + num(block_bytes) + " bytes (" + num(f.data_bytes()) +
                           " data bytes, CRC-16 high byte first)");
        if (f.padded) {
            line("end padding", plural(f.tail(), "byte", "bytes") + " at " + hex(f.blocks_end()) +
                                    (r.flash->padding_not_erased == 0
                                         ? ", all 0xFF"
                                         : ", " + num(r.flash->padding_not_erased) + " not 0xFF"));
        } else if (f.tail() != 0) {
            line("partial block", plural(f.tail(), "byte", "bytes") + " at " + hex(f.blocks_end()));
        }
        line("block CRCs", r.flash->bad_blocks == 0
                               ? (f.blocks == 0 ? std::string("none") : "all " + num(f.blocks) + " good")
                               : num(r.flash->bad_blocks) + " of " + num(f.blocks) + " bad");
    }
    if (r.merged) {
        const merged_report& m = *r.merged;
        line("layout", "stack at " + hex(m.layout.stack_at) + ", app at " + hex(m.layout.app_at) +
                           (m.origin != 0 ? "; the file is the merged image from " + hex(m.origin) : ""));
        if (m.stack_header) {
            out += "  stack header at " + hex(m.stack_header->offset) + "\n";
            out += header_lines(*m.stack_header, "    ");
        }
        if (m.app_header) {
            out += "  app header at " + hex(m.app_header->offset) + "\n";
            out += header_lines(*m.app_header, "    ");
        }
        out += "  flash map" + std::string(m.origin != 0 ? " (offsets in the file)" : "") + "\n";
        out += map_lines(m, "    ");
    }
    if (!r.problems.empty() || r.data_failed) {
        out += "  problems\n" + problem_lines(r, o.names, "    ");
    }
    return out;
}

std::string verify_text(const file_outcome& o) {
    if (o.error) return "";
    const image_report& r = *o.report;
    std::string out = heading(o);
    if (r.ok()) {
        std::string held;
        if (r.against_raw) held += "holds " + o.names.raw.value_or("the raw image");
        if (r.merged && r.merged->lengths_known) {
            const std::uint64_t origin = r.merged->origin;
            held += origin == 0 ? "holds " + o.names.parts[0] + ", " + o.names.parts[1] + " and " + o.names.parts[2]
                    : origin < r.merged->layout.app_at - oad_header_size
                        ? "holds " + o.names.parts[1] + " and " + o.names.parts[2]
                        : "holds " + o.names.parts[2];
        }
        if (r.twin) held += std::string(held.empty() ? "" : "; ") + "twin " + o.names.twin.value_or("") + " spells it";
        return out + ": ok" + (held.empty() ? "" : " (" + held + ")") + "\n";
    }
    out += ": " + plural(r.problems.total() + (r.data_failed ? 1 : 0), "problem", "problems") + "\n";
    return out + problem_lines(r, o.names, "  ");
}

std::string json_document(const std::string& command, const std::vector<file_outcome>& outcomes) {
    json doc;
    doc["velk_json"] = json_shape_version;
    doc["velk_version"] = VELK_VERSION;
    doc["command"] = command;
    bool all_ok = true;
    json files = json::array();
    for (const file_outcome& o : outcomes) {
        json f;
        f["path"] = o.names.path;
        const bool ok = command == "info" ? !o.error : o.ok();
        all_ok = all_ok && ok;
        f["ok"] = ok;
        f["error"] = o.error ? json(*o.error) : json(nullptr);
        f["kind"] = o.report ? json(kind_id(o.found->kind)) : json(nullptr);
        f["encoding"] = o.found ? json(encoding_id(o.found->encoding)) : json(nullptr);
        f["size"] = o.size ? json(*o.size) : json(nullptr);
        f["image_size"] = o.report ? json(o.found->image_size) : json(nullptr);
        if (o.report) {
            f["fields"] = fields_json(*o.report, o.names);
            json problems = json::array();
            for (const problem& p : o.report->problems.kept()) problems.push_back(problem_json(p, o.names));
            f["problems"] = problems;
            f["problem_count"] = o.report->problems.total();
            json counts = json::object();
            for (std::size_t k = 0; k < check_count; ++k) {
                const u64 total = o.report->problems.total(static_cast<check>(k));
                if (total != 0) counts[checks[k].id] = total;
            }
            f["problem_counts"] = counts;
        } else {
            f["fields"] = json::object();
            f["problems"] = json::array();
            f["problem_count"] = 0;
            f["problem_counts"] = json::object();
        }
        if (o.found && !o.found->recognised && !o.found->read_failed) f["tried"] = tried_json(*o.found);
        files.push_back(f);
    }
    doc["ok"] = all_ok;
    doc["files"] = files;
    return doc.dump(2) + "\n";
}

}  // namespace velk::cli
