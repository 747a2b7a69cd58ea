#pragma once
// How the text formats gather their records into an address map: a
// record that starts where a run of records ends joins that run's one
// vector, any other starts a run of its own. Files written in address
// order thus make one run per stretch without gaps, however many records
// it takes, and records out of order still find their place.

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "formats/address_map/address_map.hpp"

namespace velk {

class run_collector {
public:
    // Adds runs to `map`, which must outlive the collector and gain no
    // other extents or chunks meanwhile.
    explicit run_collector(address_map& map) : map_(map) {}

    // `data` at `address`; `label` names the run if this starts one.
    void add(std::uint64_t address, std::span<const std::uint8_t> data, const std::string& label);

private:
    address_map& map_;
    std::map<std::uint64_t, std::size_t> ends_;  // a run's end address: its extent
};

}  // namespace velk
