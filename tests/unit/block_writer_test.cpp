// BlockWriter: every byte reaches its sink in order, whatever the mix of
// calls that filled it, and a failed write is never passed over.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "io/file.hpp"

namespace velk {
namespace {

// Records what it is given; fails every write from the `fail_at`-th on.
class recording_sink final : public byte_sink {
public:
    explicit recording_sink(int fail_at = -1) : fail_at_(fail_at) {}
    bool write(std::span<const std::uint8_t> bytes) override {
        if (fail_at_ >= 0 && writes_ >= fail_at_) return false;
        ++writes_;
        data.insert(data.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::vector<std::uint8_t> data;

private:
    int fail_at_;
    int writes_ = 0;
};

std::vector<std::uint8_t> pattern(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
    return v;
}

TEST(BlockWriter, EveryByteArrivesInOrderWhateverTheOutputsLength) {
    // Shorter than a block (no thread), exactly one, and many blocks with a
    // part block at the end, through each way of filling the buffer.
    for (const std::size_t length : {0u, 100u, 4096u, 4097u, 100000u}) {
        const std::vector<std::uint8_t> input = pattern(length);
        recording_sink sink;
        {
            BlockWriter out(sink, 4096);
            std::size_t at = 0;
            for (std::size_t step = 0; at < input.size(); ++step) {
                const std::size_t n = std::min<std::size_t>(input.size() - at, 1 + step % 700);
                switch (step % 4) {
                    case 0: out.put(std::span(input).subspan(at, n)); break;
                    case 1: {
                        std::copy_n(input.data() + at, n, out.reserve(n));
                        out.commit(n);
                        break;
                    }
                    case 2: {
                        const auto room = out.room();
                        const std::size_t m = std::min(n, room.size());
                        std::copy_n(input.data() + at, m, room.data());
                        out.commit(m);
                        at += m;
                        continue;
                    }
                    default: out.put(input[at]); at += 1; continue;
                }
                at += n;
            }
            EXPECT_TRUE(out.flush());
            EXPECT_EQ(sink.data, input) << length;  // all there at flush, not only at the end
        }
        EXPECT_EQ(sink.data, input) << length;
    }
}

TEST(BlockWriter, AFailedWriteStopsEverythingAfterItAndIsReported) {
    for (const int fail_at : {0, 1, 3}) {
        recording_sink sink(fail_at);
        BlockWriter out(sink, 1024);
        const std::vector<std::uint8_t> input = pattern(10000);
        out.put(input);
        EXPECT_FALSE(out.flush()) << fail_at;
        EXPECT_FALSE(out.ok());
        // What arrived is the blocks before the failed one, and nothing after.
        EXPECT_EQ(sink.data.size(), static_cast<std::size_t>(fail_at) * 1024) << fail_at;
        EXPECT_TRUE(std::equal(sink.data.begin(), sink.data.end(), input.begin()));
        out.put(input);
        EXPECT_FALSE(out.flush());
        EXPECT_EQ(sink.data.size(), static_cast<std::size_t>(fail_at) * 1024);
    }
}

TEST(BlockWriter, FillWritesTheByteCountAskedFor) {
    recording_sink sink;
    BlockWriter out(sink, 512);
    out.fill(0xFF, 5000);
    out.put(std::uint8_t{1});
    ASSERT_TRUE(out.flush());
    ASSERT_EQ(sink.data.size(), 5001u);
    EXPECT_EQ(std::count(sink.data.begin(), sink.data.end(), 0xFF), 5000);
    EXPECT_EQ(sink.data.back(), 1);
}

}  // namespace
}  // namespace velk
