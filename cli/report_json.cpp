// info and verify as JSON for scripts.

#include "cli/read_report.hpp"

#include <nlohmann/json.hpp>

#include "cli/report_words.hpp"
#include "formats/oad/header_reader.hpp"

#ifndef VELK_VERSION
#define VELK_VERSION "unknown"
#endif

namespace velk::cli {
namespace {

using u64 = std::uint64_t;
using json = nlohmann::ordered_json;
using namespace words;

using json = nlohmann::ordered_json;

// The version of the JSON document's shape; raised when a key changes
// meaning or goes away (new keys may come without it).
constexpr int json_shape_version = 1;

json problem_json(const problem& p, const report_names& names) {
    const check_info& info = info_of(p.what);
    const check_fields& used = info.fields;
    json j;
    j["check"] = info.id;
    j["part"] = part_id(p.part);
    if (used.field != nullptr) j["field"] = field_id(p.field);
    if (used.offset != nullptr) j["offset"] = p.offset;
    if (used.index != nullptr) j["index"] = p.index;
    if (used.stored != nullptr) {
        j["stored"] = p.stored;
        if (info.hex_digits != 0) j["stored_hex"] = hex(p.stored, info.hex_digits);
    }
    if (used.computed != nullptr) {
        j["computed"] = p.computed;
        if (info.hex_digits != 0) j["computed_hex"] = hex(p.computed, info.hex_digits);
    }
    if (used.count != nullptr) j["count"] = p.count;
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
    if (r.srec) {
        f["srec"] = {{"lines", r.srec->lines},
                     {"data_records", r.srec->data_records},
                     {"base", r.srec->base ? json(*r.srec->base) : json(nullptr)},
                     {"start", r.srec->start ? json(*r.srec->start) : json(nullptr)},
                     {"termination_record", r.srec->end_record}};
    }
    if (r.against_raw) f["against"] = comparison_json(*r.against_raw, names.raw.value_or(""));
    if (r.twin) f["twin"] = comparison_json(*r.twin, names.twin.value_or(""));
    return f;
}

json tried_json(const detection& d) {
    json tried = json::array();
    for (const rejection& r : d.tried) {
        detection one;
        one.tried = {r};
        tried.push_back({{"kind", candidate_id(r)}, {"reason", reason_id(r)}, {"message", tried_text(one)}});
    }
    return tried;
}

// An input that is not an image: what it is and where its bytes go; the
// keys of an image's report keep their places.
void add_input(json& f, const input_summary& in) {
    f["kind"] = "input";
    f["encoding"] = input_encoding_id(in.encoding);
    f["image_size"] = in.image_size;
    f["origin"] = in.origin;
    if (in.start) f["start"] = *in.start;
    json segments = json::array();
    for (const input_segment& s : in.segments) {
        json entry{{"address", s.address}, {"size", s.size}};
        if (in.encoding == input_encoding::elf) entry["name"] = s.label;
        segments.push_back(entry);
    }
    f["segments"] = segments;
}

}  // namespace

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
        if (o.input) add_input(f, *o.input);
        if (o.report) {
            f["fields"] = fields_json(*o.report, o.names);
            json problems = json::array();
            for (const problem& p : o.report->problems.kept()) problems.push_back(problem_json(p, o.names));
            f["problems"] = problems;
            f["problem_count"] = o.report->problems.total();
            json counts = json::object();
            for (std::size_t k = 0; k < check_count; ++k) {
                const u64 total = o.report->problems.total(static_cast<check>(k));
                if (total != 0) counts[check_table[k].id] = total;
            }
            f["problem_counts"] = counts;
        } else {
            f["fields"] = json::object();
            f["problems"] = json::array();
            f["problem_count"] = 0;
            f["problem_counts"] = json::object();
        }
        if (o.found && !o.found->recognised && !o.found->read_failed && !o.input) {
            f["tried"] = tried_json(*o.found);
            if (!o.found->bases_tried.empty()) f["bases_tried"] = o.found->bases_tried;
        }
        files.push_back(f);
    }
    doc["ok"] = all_ok;
    doc["files"] = files;
    return doc.dump(2) + "\n";
}

}  // namespace velk::cli
