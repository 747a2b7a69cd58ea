#include "formats/address_map/runs.hpp"

namespace velk {

void run_collector::add(std::uint64_t address, std::span<const std::uint8_t> data, const std::string& label) {
    if (data.empty()) return;
    std::size_t index = 0;
    if (const auto run = ends_.find(address); run != ends_.end()) {
        index = run->second;
        ends_.erase(run);
    } else {
        index = map_.extents.size();
        extent e;
        e.address = address;
        e.chunk = map_.chunks.size();
        e.label = label;
        map_.extents.push_back(std::move(e));
        map_.chunks.emplace_back();
    }
    extent& e = map_.extents[index];
    std::vector<std::uint8_t>& bytes = map_.chunks[*e.chunk];
    bytes.insert(bytes.end(), data.begin(), data.end());
    e.length = bytes.size();
    ends_[address + data.size()] = index;
}

}  // namespace velk
