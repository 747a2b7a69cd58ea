// info and verify in words for people.

#include "cli/read_report.hpp"

#include <cinttypes>
#include <algorithm>
#include <cstdio>

#include "cli/report_words.hpp"
#include "formats/oad/header_reader.hpp"

namespace velk::cli {
namespace {

using u64 = std::uint64_t;
using namespace words;

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
        std::string what = region_words(row.region);
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
    if (encoding_of(d.encoding).decoded) text += " (image " + plural(d.image_size, "byte", "bytes") + ")";
    return text;
}

// The bases an image with addresses was read at, when none was given and
// none gave a kind velk knows.
std::string bases_text(const detection& found) {
    if (found.bases_tried.empty()) return "";
    std::string text = "; each read as an image at " + hex(found.bases_tried[0], 8);
    for (std::size_t i = 1; i < found.bases_tried.size(); ++i) text += " and at " + hex(found.bases_tried[i], 8);
    return text + " (the records leave out leading 0xFF bytes, so the image may start elsewhere: --base ADDR "
                  "gives the address of its first byte)";
}

// An input's segments in address order, with what lies between them: the
// image's fill before the first (from --origin), gaps, and stretches two
// segments share.
std::string segment_lines(const input_summary& in, const std::string& indent) {
    char title[96];
    std::snprintf(title, sizeof title, "%-10s %-10s %10s  %s\n", "address", "end", "length", "what");
    std::string out = indent + title;
    const auto row = [&](u64 from, u64 to, const std::string& what) {
        char text[96];
        std::snprintf(text, sizeof text, "%-10s %-10s %10" PRIu64 "  ", hex(from, 8).c_str(), hex(to, 8).c_str(),
                      to - from);
        out += indent + text + what + "\n";
    };
    u64 reach = in.origin;
    for (const input_segment& s : in.segments) {
        const u64 end = s.address + s.size;
        if (s.address > reach) {
            row(reach, s.address, reach == in.origin && &s == &in.segments.front() ? "fill, 0xFF in the image"
                                                                                   : "gap, 0xFF in the image");
        } else if (s.address < reach) {
            row(s.address, std::min(end, reach), "overlap, the same bytes in both");
        }
        row(s.address, end, s.label.empty() ? std::string("data") : s.label);
        reach = std::max(reach, end);
    }
    return out;
}

std::string input_text(const file_outcome& o) {
    const input_summary& in = *o.input;
    std::string out = o.names.path + ": " + input_encoding_words(in.encoding) + " input, " +
                      plural(o.size.value_or(0), "byte", "bytes") + " (image " +
                      plural(in.image_size, "byte", "bytes") + " from " + hex(in.origin, 8) + ")\n";
    const auto line = [&](const char* name, const std::string& value) {
        char label[24];
        std::snprintf(label, sizeof label, "  %-14s", name);
        out += label + value + "\n";
    };
    u64 data = 0;
    for (const input_segment& s : in.segments) data += s.size;
    line("input", "not an image velk writes; crc, single and merge make one of it");
    line("segments", num(in.segments.size()) + ", " + plural(data, "data byte", "data bytes"));
    if (in.start) line("start", hex(*in.start, 8));
    if (in.image_size > in.max_size) {
        line("image", "more than --max-size " + num(in.max_size) + ": crc, single and merge refuse it");
    }
    if (!in.segments.empty()) out += "  address map\n" + segment_lines(in, "    ");
    return out;
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
        case check::srec_syntax:
            return "line " + num(p.index) + " at " + at + ": not an S-record";
        case check::srec_checksum:
            return "line " + num(p.index) + " at " + at + ": checksum " + hex(p.stored, 2) +
                   ", should be " + hex(p.computed, 2);
        case check::srec_record_type:
            return "line " + num(p.index) + " at " + at + ": record type S" + num(p.stored) +
                   " is not one velk reads (S0 to S3, S5 to S9)";
        case check::srec_count:
            return "line " + num(p.index) + " at " + at + ": the count record says " +
                   plural(p.stored, "data record", "data records") + ", " + num(p.computed) + " came before it";
        case check::srec_address:
            return "line " + num(p.index) + " at " + at + ": address " + hex(p.stored, 8) +
                   " out of place (records ascend from " + hex(p.computed, 8) +
                   " without overlap, below 2^32 and the longest image)";
        case check::srec_end:
            if (p.index == 0) return "no termination record (S7, S8 or S9)";
            return "line " + num(p.index) + " at " + at + ": records after the termination record";
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
        text += candidate_words(r);
        switch (r.why) {
            case reason::not_encoding: text += std::string(" (") + encoding_of(r.encoding).mismatch_words + ")"; break;
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
    return text + bases_text(found);
}

std::string problem_lines(const image_report& report, const report_names& names, const std::string& indent) {
    std::string out;
    for (const problem& p : report.problems.kept()) out += indent + problem_text(p, names) + "\n";
    for (std::size_t k = 0; k < check_count; ++k) {
        const auto what = static_cast<check>(k);
        const u64 total = report.problems.total(what);
        if (total > problem_list::kept_per_check) {
            out += indent + "... and " + num(total - problem_list::kept_per_check) + " more " +
                   check_table[k].id + " problems (" + num(total) + " in all)\n";
        }
    }
    if (report.data_failed) out += indent + "the raw data could not be written\n";
    return out;
}

std::string info_text(const file_outcome& o) {
    if (o.error) return "";
    if (o.input) return input_text(o);
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
    if (r.srec) {
        line("s-records", plural(r.srec->lines, "line", "lines") + ", " +
                              plural(r.srec->data_records, "data record", "data records") +
                              (r.srec->base ? ", image at " + hex(*r.srec->base, 8) : std::string()) +
                              (r.srec->start ? ", start " + hex(*r.srec->start, 8) : std::string()) +
                              (r.srec->end_record ? "" : ", no termination record"));
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

}  // namespace velk::cli
