#include "formats/pieces/pieces.hpp"

#include <algorithm>
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
    piece_run(const piecewise& conversion, File& input, std::uint64_t input_start,
              std::uint64_t size, std::span<const piece_target> outputs)
        : conversion_(conversion),
          input_(input),
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
    void work(buffers& b) {
        piecewise::buffers out{};
        for (std::size_t k = 0; k < outputs_.size(); ++k) out[k] = b.out[k];
        while (!stopped_.load(std::memory_order_relaxed)) {
            const std::uint64_t index = next_.fetch_add(1, std::memory_order_relaxed);
            if (index >= count_) return;
            if (!convert_one(index, b.input, out)) return;
        }
    }

    // After every thread has ended.
    pieces_result result() {
        if (fault_.what == pieces_result::fault::read) input_.record_error(fault_.error);
        if (fault_.what == pieces_result::fault::write) outputs_[fault_.output].file->record_error(fault_.error);
        pieces_result r;
        r.what = fault_.what;
        r.output = fault_.output;
        for (std::size_t k = 0; k < outputs_.size(); ++k) r.end[k] = count_ == 0 ? outputs_[k].start : end_[k];
        return r;
    }

private:
    bool convert_one(std::uint64_t index, std::vector<std::uint8_t>& in, const piecewise::buffers& out) {
        const std::uint64_t from = index * piece_;
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(piece_, size_ - from));
        int error = 0;
        if (input_.read_at(input_start_ + from, std::span(in.data(), length), error) != length) {
            fail(index, pieces_result::fault::read, 0, error);
            return false;
        }
        const piecewise::lengths written = conversion_.convert(index, in, length, out);
        for (std::size_t k = 0; k < outputs_.size(); ++k) {
            const std::uint64_t at = outputs_[k].start + conversion_.output_offset(k, index);
            if (!outputs_[k].file->write_at(at, out[k].first(written[k]), error)) {
                fail(index, pieces_result::fault::write, k, error);
                return false;
            }
            // Only the thread that has the last piece writes this; the
            // caller reads it after joining them all.
            if (index + 1 == count_) end_[k] = at + written[k];
        }
        return true;
    }

    void fail(std::uint64_t index, pieces_result::fault what, std::size_t output, int error) {
        const std::lock_guard lock(mutex_);
        if (index < fault_.piece) fault_ = {index, what, output, error};
        stopped_.store(true, std::memory_order_relaxed);
    }

    struct fault_record {
        std::uint64_t piece = UINT64_MAX;
        pieces_result::fault what = pieces_result::fault::none;
        std::size_t output = 0;
        int error = 0;
    };

    const piecewise& conversion_;
    File& input_;
    std::uint64_t input_start_;
    std::uint64_t size_;
    std::span<const piece_target> outputs_;
    std::uint64_t piece_;
    std::uint64_t count_;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    fault_record fault_;
    std::array<std::uint64_t, max_piece_outputs> end_{};
};

}  // namespace

pieces_result convert_pieces(const piecewise& conversion, File& input, std::uint64_t input_start,
                             std::uint64_t size, std::span<const piece_target> outputs,
                             unsigned max_threads) {
    piece_run run(conversion, input, input_start, size,
                  outputs.first(std::min(outputs.size(), conversion.output_count())));
    const std::uint64_t pieces = (size + conversion.piece_bytes() - 1) / conversion.piece_bytes();
    const auto threads = static_cast<unsigned>(std::clamp<std::uint64_t>(pieces / 2, 1, std::max(max_threads, 1u)));
    std::vector<piece_run::buffers> buffers;
    for (unsigned t = 0; t < threads; ++t) buffers.push_back(run.make_buffers());

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
    return run.result();
}

unsigned available_threads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 4u); }

}  // namespace velk
