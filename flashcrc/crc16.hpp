#pragma once
// CRC-16 engines built from the parameters a CRC catalogue lists for each
// algorithm, so the constants here can be checked against the catalogue
// entry rather than against hand-written tables.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace velk {

// One catalogue entry: width, polynomial (without its top bit), initial
// register, whether input bytes and the result are bit-reflected, the final
// XOR, the CRC of the ASCII digits "123456789" (check) and the register left
// after a message followed by its own CRC (residue).
struct crc_model {
    std::string_view name;
    unsigned width;
    std::uint32_t poly;
    std::uint32_t init;
    bool refin;
    bool refout;
    std::uint32_t xorout;
    std::uint32_t check;
    std::uint32_t residue;
};

// The block checksum of the flash CRC image.
inline constexpr crc_model crc16_cms_model{
    "CRC-16/CMS", 16, 0x8005, 0xFFFF, false, false, 0x0000, 0xAEE7, 0x0000};

// Table-driven CRC for a 16-bit model that reflects neither its input nor
// its output (data taken most significant bit first).
template <const crc_model& model>
class Crc16 {
    static_assert(model.width == 16 && !model.refin && !model.refout,
                  "Crc16 covers unreflected 16-bit models only");

public:
    // The register before the first byte.
    static constexpr std::uint16_t start() { return static_cast<std::uint16_t>(model.init); }

    // Feeds bytes into a running register; a message may be fed piecewise.
    // Eight bytes at a time go through eight independent lookups, which
    // keeps the register's dependency chain short on long inputs.
    static constexpr std::uint16_t update(std::uint16_t reg, std::span<const std::uint8_t> bytes) {
        const std::uint8_t* p = bytes.data();
        std::size_t left = bytes.size();
        for (; left >= 8; left -= 8, p += 8) {
            reg = static_cast<std::uint16_t>(
                tables[7][(reg >> 8) ^ p[0]] ^ tables[6][(reg & 0xFFu) ^ p[1]] ^
                tables[5][p[2]] ^ tables[4][p[3]] ^ tables[3][p[4]] ^ tables[2][p[5]] ^
                tables[1][p[6]] ^ tables[0][p[7]]);
        }
        for (; left != 0; --left, ++p) {
            reg = static_cast<std::uint16_t>((reg << 8) ^ tables[0][(reg >> 8) ^ *p]);
        }
        return reg;
    }

    // The CRC value of a finished register.
    static constexpr std::uint16_t finish(std::uint16_t reg) {
        return static_cast<std::uint16_t>(reg ^ model.xorout);
    }

    // CRC of one whole message.
    static constexpr std::uint16_t compute(std::span<const std::uint8_t> bytes) {
        return finish(update(start(), bytes));
    }

private:
    using table = std::array<std::uint16_t, 256>;

    // tables[0][v]: the register after shifting top byte v through eight
    // steps. tables[k][v]: the same followed by k zero bytes, which is what
    // byte v contributes when k more bytes follow it in one step of update.
    static constexpr std::array<table, 8> make_tables() {
        std::array<table, 8> t{};
        const auto poly = static_cast<std::uint16_t>(model.poly);
        for (unsigned v = 0; v < 256; ++v) {
            auto reg = static_cast<std::uint16_t>(v << 8);
            for (int bit = 0; bit < 8; ++bit) {
                reg = static_cast<std::uint16_t>((reg & 0x8000u) != 0 ? (reg << 1) ^ poly
                                                                      : reg << 1);
            }
            t[0][v] = reg;
        }
        for (std::size_t k = 1; k < t.size(); ++k) {
            for (unsigned v = 0; v < 256; ++v) {
                const std::uint16_t prev = t[k - 1][v];
                t[k][v] = static_cast<std::uint16_t>((prev << 8) ^ t[0][prev >> 8]);
            }
        }
        return t;
    }
    static constexpr std::array<table, 8> tables = make_tables();
};

using crc16_cms = Crc16<crc16_cms_model>;

}  // namespace velk
