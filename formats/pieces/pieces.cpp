#include "formats/pieces/pieces.hpp"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <new>
#include <optional>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace velk {
namespace {

// One conversion in progress: the pieces handed out in order to whichever
// thread asks next, and the first fault among them.
class piece_run {
public:
    piece_run(const piecewise& conversion, const random_source& input, role input_role,
              std::uint64_t input_start, std::uint64_t size, std::span<const piece_target> outputs)
        : conversion_(conversion),
          input_(input),
          input_role_(input_role),
          input_start_(input_start),
          size_(size),
          outputs_(outputs),
          piece_(conversion.piece_bytes()),
          count_((size + piece_ - 1) / piece_) {}

    // One thread's buffers, made by the caller before any thread starts so
    // that a failed allocation is the caller's exception, not a thread's.
    struct buffers {
        std::vector<std::uint8_t> input;
        std::array<std::vector<std::uint8_t>, max_piece_outputs> out;
    };
    buffers make_buffers() const {
        buffers b;
        b.input.resize(piece_);
        for (std::size_t k = 0; k < outputs_.size(); ++k) b.out[k].resize(conversion_.output_room(k));
        return b;
    }

    // Converts pieces until there are none left or a fault stopped the run.
    // Nothing in a conversion allocates; should anything throw all the
    // same, it stops the run as a fault rather than leave the thread.
    void work(buffers& b) noexcept {
        piecewise::buffers out{};
        for (std::size_t k = 0; k < outputs_.size(); ++k) out[k] = b.out[k];
        try {
            while (!stopped_.load(std::memory_order_relaxed)) {
                const std::uint64_t index = next_.fetch_add(1, std::memory_order_relaxed);
                if (index >= count_) return;
                if (!convert_one(index, b.input, out)) return;
            }
        } catch (...) {
            fail(0, fault{fault_kind::memory, role::none, ENOMEM, std::nullopt});
        }
    }

    // After every thread has ended.
    result<piece_ends> outcome() const {
        if (fault_) return *fault_;
        piece_ends ends{};
        for (std::size_t k = 0; k < outputs_.size(); ++k) ends[k] = count_ == 0 ? outputs_[k].start : end_[k];
        return ends;
    }

private:
    bool convert_one(std::uint64_t index, std::vector<std::uint8_t>& in, const piecewise::buffers& out) {
        const std::uint64_t from = index * piece_;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(piece_, size_ - from));
        if (status s = input_.read_at(input_start_ + from, std::span(in.data(), length)); !s) {
            fail(index, s.error().of(input_role_));
            return false;
        }
        const piecewise::lengths written = conversion_.convert(index, in, length, out);
        for (std::size_t k = 0; k < outputs_.size(); ++k) {
            const std::uint64_t at = outputs_[k].start + conversion_.output_offset(k, index);
            if (status s = outputs_[k].sink->write_at(at, out[k].first(written[k])); !s) {
                fail(index, s.error().of(outputs_[k].role));
                return false;
            }
            // Only the thread that has the last piece writes this; the
            // caller reads it after joining them all.
            if (index + 1 == count_) end_[k] = at + written[k];
        }
        return true;
    }

    void fail(std::uint64_t index, const fault& f) {
        const std::lock_guard lock(mutex_);
        if (index < fault_piece_ || !fault_) {
            fault_piece_ = index;
            fault_ = f;
        }
        stopped_.store(true, std::memory_order_relaxed);
    }

    const piecewise& conversion_;
    const random_source& input_;
    role input_role_;
    std::uint64_t input_start_;
    std::uint64_t size_;
    std::span<const piece_target> outputs_;
    std::uint64_t piece_;
    std::uint64_t count_;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    std::uint64_t fault_piece_ = UINT64_MAX;
    std::optional<fault> fault_;
    std::array<std::uint64_t, max_piece_outputs> end_{};
};

}  // namespace

result<piece_ends> convert_pieces(const piecewise& conversion, const random_source& input,
                                  role input_role, std::uint64_t input_start, std::uint64_t size,
                                  std::span<const piece_target> outputs, unsigned max_threads) {
    assert(outputs.size() >= conversion.output_count());
    assert(input_start <= input.size() && size <= input.size() - input_start);
    piece_run run(conversion, input, input_role, input_start, size, outputs.first(conversion.output_count()));
    const std::uint64_t pieces = (size + conversion.piece_bytes() - 1) / conversion.piece_bytes();
    const auto threads = static_cast<unsigned>(std::clamp<std::uint64_t>(pieces / 2, 1, std::max(max_threads, 1u)));
    // Every thread's buffers are made here, before any thread starts, so
    // that memory that cannot be had is one fault of the run's and no
    // thread ever throws.
    std::vector<piece_run::buffers> buffers;
    try {
        for (unsigned t = 0; t < threads; ++t) buffers.push_back(run.make_buffers());
    } catch (const std::bad_alloc&) {
        if (buffers.empty()) return fault{fault_kind::memory, role::none, ENOMEM, std::nullopt};
    }

    std::vector<std::thread> helpers;
    helpers.reserve(buffers.size());
    for (std::size_t t = 1; t < buffers.size(); ++t) {
        try {
            helpers.emplace_back([&run, &b = buffers[t]] { run.work(b); });
        } catch (const std::system_error&) {
            break;  // fewer threads: slower, never wrong
        }
    }
    run.work(buffers[0]);
    for (std::thread& helper : helpers) helper.join();
    return run.outcome();
}

unsigned available_threads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

}  // namespace velk
