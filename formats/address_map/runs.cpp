#include "formats/address_map/runs.hpp"

namespace velk {
namespace {

// What the spool is written in: large enough that its writes are few.
constexpr std::size_t spool_block = std::size_t{1} << 20;

std::string run_label(std::uint64_t line) { return "data from line " + std::to_string(line); }

}  // namespace

run_collector::run_collector(address_map& map, scratch* spool) : map_(map), spool_(spool) {
    if (spool_ != nullptr) {
        held_.reserve(spool_block);
        map_.file = spool_;
    }
}

status run_collector::add(std::uint64_t address, std::span<const std::uint8_t> data, std::uint64_t line) {
    if (data.empty()) return {};
    if (spool_ != nullptr) return add_to_spool(address, data, line);
    std::size_t index = 0;
    if (const auto run = ends_.find(address); run != ends_.end()) {
        index = run->second;
        ends_.erase(run);
    } else {
        index = map_.extents.size();
        extent e;
        e.address = address;
        e.chunk = map_.chunks.size();
        e.label = run_label(line);
        map_.extents.push_back(std::move(e));
        map_.chunks.emplace_back();
    }
    extent& e = map_.extents[index];
    std::vector<std::uint8_t>& bytes = map_.chunks[*e.chunk];
    bytes.insert(bytes.end(), data.begin(), data.end());
    e.length = bytes.size();
    ends_[address + data.size()] = index;
    return {};
}

status run_collector::add_to_spool(std::uint64_t address, std::span<const std::uint8_t> data, std::uint64_t line) {
    if (map_.extents.empty() || address != last_end_) {
        extent e;
        e.address = address;
        e.offset = held_at_ + held_.size();
        e.label = run_label(line);
        map_.extents.push_back(std::move(e));
    }
    map_.extents.back().length += data.size();
    last_end_ = address + data.size();
    if (held_.size() + data.size() > spool_block) {
        if (const status s = finish(); !s) return s;
    }
    held_.insert(held_.end(), data.begin(), data.end());
    return {};
}

status run_collector::finish() {
    if (spool_ == nullptr || held_.empty()) return {};
    if (status s = spool_->write_at(held_at_, held_); !s) return s.error().of(role::none);
    held_at_ += held_.size();
    held_.clear();
    return {};
}

}  // namespace velk
