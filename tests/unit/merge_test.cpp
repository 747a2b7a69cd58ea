// The OAD header and the merged image, against the test's own model of the
// merged layout (oad_merge_model.hpp), which builds the whole image in
// memory and takes its CRCs from zlib.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "formats/oad/merge.hpp"
#include "formats/oad/header.hpp"
#include "io/access.hpp"
#include "io/file.hpp"
#include "oad_merge_model.hpp"
#include "support.hpp"

namespace velk {
namespace {

using test::Bytes;
using test::Sandbox;

Bytes str(std::span<const std::uint8_t> v) { return {v.begin(), v.end()}; }

TEST(OadHeader, BytesAreLittleEndianInFieldOrder) {
    const oad_header h = make_oad_header(0x11223344, 0x3F0, 0x10203, 0x42424242, 0xFFFF);
    EXPECT_EQ(str(encode_oad_header(h)),
              test::hex("44 33 22 11 03 02 00 01 42 42 42 42 FF FF FF FF"));
    oad_header fields;
    fields.crc = 0x01020304;
    fields.version = 0x0506;
    fields.length_words = 0x0708;
    fields.uid = 0x090A0B0C;
    fields.reserved = {0x0D, 0x0E};
    fields.rom_version = 0x0F10;
    EXPECT_EQ(str(encode_oad_header(fields)),
              test::hex("04 03 02 01 06 05 08 07 0C 0B 0A 09 0D 0E 10 0F"));
}

TEST(OadHeader, DecodeAndEncodeGiveEachOtherBack) {
    std::mt19937 rng(5);
    for (int i = 0; i < 1000; ++i) {
        const Bytes stored = test::noise(16, static_cast<std::uint32_t>(rng()));
        const oad_header h = decode_oad_header(test::span_of(stored));
        EXPECT_EQ(str(encode_oad_header(h)), stored);
        EXPECT_EQ(decode_oad_header(encode_oad_header(h)), h);
    }
    // Only the first 16 bytes are read.
    const Bytes longer = test::noise(40, 8);
    EXPECT_EQ(str(encode_oad_header(decode_oad_header(test::span_of(longer)))),
              longer.substr(0, 16));
}

TEST(OadHeader, LengthWordsKeepsTheLow16BitsRoundedDown) {
    const struct {
        std::uint64_t body;
        std::uint16_t words;
    } cases[] = {
        {0x3F0, 0x0100}, {0x3FFF0, 0x0000}, {0x43B70, 0x0EE0}, {0x3F1, 0x0100},
        {0x3F3, 0x0100}, {0x3F4, 0x0101},   {0, 4},
    };
    for (const auto& c : cases) {
        const oad_header h = make_oad_header(0, c.body, 0, 0, 0);
        EXPECT_EQ(h.length_words, c.words) << c.body;
        EXPECT_EQ(length_from_words(h.length_words), std::uint64_t{c.words} * 4);
    }
    const oad_header h = make_oad_header(0xCAFEF00D, 0, 0x12345678, 7, 0xABCD);
    EXPECT_EQ(h.crc, 0xCAFEF00Du);
    EXPECT_EQ(h.version, 0x5678);  // low 16 bits
    EXPECT_EQ(h.uid, 7u);
    EXPECT_EQ(h.rom_version, 0xABCD);
    EXPECT_EQ(h.reserved, (std::array<std::uint8_t, 2>{0xFF, 0xFF}));
}

TEST(CheckLayout, RoomForBothHeaders) {
    using kind = layout_error::kind;
    const struct {
        std::uint64_t stack_at, app_at;
        std::optional<kind> error;
    } cases[] = {
        {0x1F00, 0x25A80, std::nullopt},
        {16, 32, std::nullopt},
        {15, 0x100, kind::no_stack_header_room},
        {0, 0, kind::no_stack_header_room},
        {0x100, 0x10F, kind::no_app_header_room},
        {0x100, 0x110, std::nullopt},
        {0x100, 0x20, kind::no_app_header_room},
    };
    for (const auto& c : cases) {
        const auto e = check_layout({c.stack_at, c.app_at});
        ASSERT_EQ(e.has_value(), c.error.has_value()) << c.stack_at << ' ' << c.app_at;
        if (e) {
            EXPECT_EQ(e->what, *c.error);
            EXPECT_EQ(e->at, e->what == kind::no_stack_header_room ? c.stack_at : c.app_at);
        }
    }
}

TEST(CheckFit, AnImageMayReachIntoTheNextHeaderSlotOnlyWithErasedBytes) {
    using obstacle = layout_error::obstacle;
    const merge_layout layout{0x100, 0x200};
    const Bytes erased(16, '\xFF');
    const struct {
        const char* name;
        merge_part part;
        Bytes image;
        std::optional<obstacle> into;
        std::uint64_t at;
    } cases[] = {
        {"boot ending before the slot", merge_part::boot, test::noise(0xF0), {}, 0},
        {"boot with erased bytes in the slot", merge_part::boot, test::noise(0xF0) + erased, {}, 0},
        {"boot with data in the slot", merge_part::boot,
         test::noise(0xF0) + Bytes(15, '\xFF') + Bytes(1, '\0'), obstacle::stack_header, 0xF0},
        {"boot past the slot", merge_part::boot, test::noise(0x101), obstacle::stack_image, 0x100},
        {"stack ending before the slot", merge_part::stack, test::noise(0xF0), {}, 0},
        {"stack with erased bytes in the slot", merge_part::stack, test::noise(0xF0) + erased, {},
         0},
        {"stack with data in the slot", merge_part::stack, test::noise(0xF1),
         obstacle::app_header, 0x1F0},
        {"stack past the slot", merge_part::stack, test::noise(0x101), obstacle::app_image,
         0x200},
    };
    Sandbox box;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box.write("part", c.image);
        const auto e = check_fit(layout, c.part, memory_source(test::span_of(c.image)));
        ASSERT_EQ(e.has_value(), c.into.has_value());
        if (e) {
            EXPECT_EQ(e->into, *c.into);
            EXPECT_EQ(e->at, c.at);
            EXPECT_EQ(e->part, c.part);
            EXPECT_EQ(e->part_length, c.image.size());
        }
    }
}

// ---- merge_images against the model ----

struct Inputs {
    Bytes boot, stack, app;
};

struct Written {
    role failed = role::none;  // the file a fault named
    merge_headers headers{};
    Bytes merged, stack_image, app_image;
};

// A file of its own that the merge may write by offset, as an output
// written to a temporary is.
class positional_file final : public byte_sink {
public:
    explicit positional_file(File& file) : file_(file) {}
    bool write(std::span<const std::uint8_t> bytes) override { return file_.write(bytes); }
    int error_number() const override { return file_.last_error(); }
    random_sink* positional() override { return &file_; }

private:
    File& file_;
};

// The three inputs by offset, each of the length the plan expects.
struct input_files {
    input_files(const Sandbox& box, const Inputs& planned)
        : boot_file(File::open(box.path() + "/boot", File::Mode::read)),
          stack_file(File::open(box.path() + "/stack", File::Mode::read)),
          app_file(File::open(box.path() + "/app", File::Mode::read)),
          boot(boot_file, planned.boot.size()),
          stack(stack_file, planned.stack.size()),
          app(app_file, planned.app.size()) {}
    merge_inputs all() const { return {boot, stack, app}; }

    File boot_file, stack_file, app_file;
    file_source boot, stack, app;
};

merge_plan plan_of(const Inputs& in, const test::Layout& l) {
    merge_plan plan;
    plan.layout = {l.M, l.L};
    plan.boot_length = in.boot.size();
    plan.stack_length = in.stack.size();
    plan.app_length = in.app.size();
    return plan;
}

// The two ways of merging: streaming to byte sinks, and into files in
// place with the headers written last.
enum class way { streaming, in_place };
constexpr way both_ways[] = {way::streaming, way::in_place};

// Runs merge_images on the three images in `box`, streaming or in place
// (into outputs it may write by offset, all three wanted); an output that
// is not wanted is passed as absent. The outputs are read back unless they are devices.
Written merge(const Sandbox& box, const Inputs& in, const test::Layout& l,
              bool merged = true, bool stack_image = true, bool app_image = true,
              bool read_back = true, way how = way::streaming) {
    box.write("boot", in.boot);
    box.write("stack", in.stack);
    box.write("app", in.app);
    const input_files inputs(box, in);
    File out[3];
    const char* names[3] = {"merged", "stack_image", "app_image"};
    for (int i = 0; i < 3; ++i) out[i] = File::open(box.path() + "/" + names[i], File::Mode::create);
    const merge_header_fields fields{l.version, l.stack_uid, l.app_uid, l.rom};
    Written w;
    result<merge_headers> r = merge_headers{};
    if (how == way::in_place) {
        positional_file a(out[0]), b(out[1]), c(out[2]);
        r = merge_images(plan_of(in, l), fields, inputs.all(), {&a, &b, &c});
    } else {
        r = merge_images(plan_of(in, l), fields, inputs.all(),
                         {merged ? &out[0] : nullptr, stack_image ? &out[1] : nullptr, app_image ? &out[2] : nullptr});
    }
    if (r) w.headers = *r;
    else w.failed = r.error().role;
    for (File& f : out) f.close();
    if (!read_back) return w;
    w.merged = box.read("merged");
    w.stack_image = box.read("stack_image");
    w.app_image = box.read("app_image");
    return w;
}

TEST(MergeImages, AgreeWithTheModelForRandomImagesAndLayouts) {
    std::mt19937 rng(17);
    const auto below = [&](std::uint32_t n) { return n == 0 ? 0u : static_cast<std::uint32_t>(rng()) % n; };
    Sandbox box;
    for (int round = 0; round < 60; ++round) {
        test::Layout l;
        l.M = 16 + below(0x800);
        l.L = l.M + 16 + below(0x800);
        l.version = static_cast<std::uint32_t>(rng());
        l.app_uid = static_cast<std::uint32_t>(rng());
        l.stack_uid = static_cast<std::uint32_t>(rng());
        l.rom = static_cast<std::uint16_t>(rng());
        Inputs in;
        in.boot = test::noise(below(l.M - 16 + 1), static_cast<std::uint32_t>(rng()));
        in.stack = test::noise(below(l.L - 16 - l.M + 1), static_cast<std::uint32_t>(rng()));
        in.app = test::noise(below(0x1000), static_cast<std::uint32_t>(rng()));
        // Now and then images that fill their room up to the header slot,
        // and a slot reached with erased bytes.
        if (round % 5 == 1) in.boot = test::noise(l.M - 16, 3) + Bytes(below(17), '\xFF');
        if (round % 5 == 2) in.stack = test::noise(l.L - 16 - l.M, 4) + Bytes(below(17), '\xFF');

        SCOPED_TRACE(testing::Message() << "round " << round << ": M 0x" << std::hex << l.M
                                        << ", L 0x" << l.L);
        const test::Merged m = test::merge_model(in.boot, in.stack, in.app, l);
        for (const way how : both_ways) {
            SCOPED_TRACE(how == way::in_place ? "in place" : "streaming");
            const Written w = merge(box, in, l, true, true, true, true, how);
            EXPECT_EQ(w.failed, role::none);
            EXPECT_TRUE(w.merged == m.merged);
            EXPECT_TRUE(w.stack_image == m.stack_oad);
            EXPECT_TRUE(w.app_image == m.app_oad);
            EXPECT_EQ(w.headers.stack.crc, m.stack_crc);
            EXPECT_EQ(w.headers.app.crc, m.app_crc);
            EXPECT_EQ(str(encode_oad_header(w.headers.app)), m.app_header);
        }
    }
}

TEST(MergeImages, PlanFiguresOfTheDefaultLayout) {
    merge_plan plan;
    plan.boot_length = 0x1000;
    plan.stack_length = 0x20000;
    plan.app_length = 0x8000;
    EXPECT_EQ(plan.stack_header_at(), 0x1EF0u);
    EXPECT_EQ(plan.app_header_at(), 0x25A70u);
    EXPECT_EQ(plan.data_end(), 0x2DA80u);
    EXPECT_EQ(plan.end_padding(), 0x70u);
    EXPECT_EQ(plan.total_length(), 0x2DAF0u);
    EXPECT_EQ(plan.stack_image_length(), 0x2BC00u);
    EXPECT_EQ(plan.app_image_length(), 0x8080u);
    // A region already a multiple of 256 gets 256 more, never none.
    plan.app_length = 0x8000 + 0x70;
    EXPECT_EQ(plan.end_padding(), 256u);
}

TEST(MergeImages, AnyOutputMayBeLeftOut) {
    const test::Layout l{.M = 0x100, .L = 0x200};
    const Inputs in{test::noise(10, 1), test::noise(20, 2), test::noise(30, 3)};
    const test::Merged m = test::merge_model(in.boot, in.stack, in.app, l);
    Sandbox box;
    for (int mask = 0; mask < 8; ++mask) {
        const bool a = (mask & 1) != 0, b = (mask & 2) != 0, c = (mask & 4) != 0;
        const Written w = merge(box, in, l, a, b, c);
        EXPECT_EQ(w.failed, role::none) << mask;
        EXPECT_EQ(w.merged, a ? m.merged : "") << mask;
        EXPECT_EQ(w.stack_image, b ? m.stack_oad : "") << mask;
        EXPECT_EQ(w.app_image, c ? m.app_oad : "") << mask;
        EXPECT_EQ(w.headers.stack.crc, m.stack_crc) << mask;
    }
}

TEST(MergeImages, AnInputOfAnotherLengthThanPlannedIsAReadFault) {
    const test::Layout l{.M = 0x100, .L = 0x200};
    Sandbox box;
    for (const role which : {role::boot, role::stack, role::app}) {
        Inputs in{test::noise(10, 1), test::noise(20, 2), test::noise(30, 3)};
        Bytes& part = which == role::boot ? in.boot : which == role::stack ? in.stack : in.app;
        const Bytes planned = part;
        for (const Bytes& actual : {planned.substr(1), planned + "x"}) {
            box.write("boot", in.boot);
            box.write("stack", in.stack);
            box.write("app", in.app);
            box.write(which == role::boot ? "boot" : which == role::stack ? "stack" : "app", actual);
            const input_files inputs(box, in);
            File merged = File::open(box.path() + "/merged", File::Mode::create);
            File stack_image = File::open(box.path() + "/stack_image", File::Mode::create);
            File app_image = File::open(box.path() + "/app_image", File::Mode::create);
            const auto r = merge_images(plan_of(in, l), {}, inputs.all(), {&merged, nullptr, nullptr});
            ASSERT_FALSE(r) << actual.size();
            EXPECT_EQ(r.error().what, fault_kind::read) << actual.size();
            EXPECT_EQ(r.error().role, which) << actual.size();
            positional_file a(merged), b(stack_image), c(app_image);
            const auto in_place = merge_images(plan_of(in, l), {}, inputs.all(), {&a, &b, &c});
            ASSERT_FALSE(in_place) << actual.size() << ", in place";
            EXPECT_EQ(in_place.error().role, which) << actual.size() << ", in place";
        }
    }
}

TEST(MergeImages, AFailedWriteNamesTheOutput) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const test::Layout l{.M = 0x100, .L = 0x200};
    const Inputs in{test::noise(10, 1), test::noise(20, 2), test::noise(30, 3)};
    const struct {
        const char* output;
        role which;
    } cases[] = {{"merged", role::merged}, {"stack_image", role::stack_image}, {"app_image", role::app_image}};
    for (const auto& c : cases) {
        for (const way how : both_ways) {
            Sandbox box;
            box.symlink("/dev/full", c.output);
            EXPECT_EQ(merge(box, in, l, true, true, true, false, how).failed, c.which)
                << c.output << (how == way::in_place ? ", in place" : "");
        }
    }
}

TEST(MergeCrcTracker, PiecesOfAnySizeGiveTheModelsHeaders) {
    const test::Layout l{.M = 0x100, .L = 0x200, .version = 0x10203, .app_uid = 0x41414141,
                         .stack_uid = 7, .rom = 0x2345};
    const Inputs in{test::noise(0xF0, 1) + Bytes(16, '\xFF'), test::noise(0x33, 2),
                    test::noise(0x1234, 3)};
    const test::Merged m = test::merge_model(in.boot, in.stack, in.app, l);
    // The image as the tracker sees it: header slots as the images and the
    // fill leave them.
    Bytes raw = m.merged;
    raw.replace(l.M - 16, 16, Bytes(16, '\xFF'));
    raw.replace(l.L - 16, 16, Bytes(16, '\xFF'));
    const merge_plan plan = plan_of(in, l);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{16},
                                    std::size_t{255}, raw.size()}) {
        merge_crc_tracker tracker(plan.layout);
        for (std::size_t at = 0; at < raw.size(); at += piece) {
            tracker.track(test::span_of(std::string_view(raw).substr(at, piece)));
        }
        EXPECT_EQ(tracker.position(), raw.size());
        const auto headers = tracker.finish(plan, {l.version, l.stack_uid, l.app_uid, l.rom});
        EXPECT_EQ(str(encode_oad_header(headers.stack)), m.merged.substr(l.M - 16, 16)) << piece;
        EXPECT_EQ(str(encode_oad_header(headers.app)), m.app_header) << piece;
    }
}

}  // namespace
}  // namespace velk
