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
#include <vector>

#include "io/access.hpp"

#include "formats/address_map/address_map.hpp"

namespace velk {

class run_collector {
public:
    // Adds runs to `map`, which must outlive the collector and gain no
    // other extents or chunks meanwhile. With a `spool`, the data are set
    // aside there instead of in memory, in the order they come: a record
    // joins the run before it only when it follows it both in the address
    // space and in the spool, so records in order make one run a stretch
    // and records out of order a run each place where the order breaks.
    // The map then reads its data from the spool, which must outlive it.
    explicit run_collector(address_map& map, scratch* spool = nullptr);

    // `data` at `address`, from the record on line `line` (which names the
    // run if this starts one). False when the spool could not be written.
    status add(std::uint64_t address, std::span<const std::uint8_t> data, std::uint64_t line);
    // Writes what is still held for the spool; call before reading the map.
    status finish();

private:
    status add_to_spool(std::uint64_t address, std::span<const std::uint8_t> data, std::uint64_t line);

    address_map& map_;
    std::map<std::uint64_t, std::size_t> ends_;  // a run's end address: its extent
    scratch* spool_;
    std::vector<std::uint8_t> held_;  // data not yet written to the spool
    std::uint64_t held_at_ = 0;       // where in the spool held_[0] goes
    std::uint64_t last_end_ = 0;      // the address after the last record's data
};

}  // namespace velk
