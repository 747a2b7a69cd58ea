#include "support.hpp"

#include <zlib.h>

#include <array>
#include <cstdio>

namespace velk::test {

std::span<const std::uint8_t> span_of(std::string_view bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

Bytes le(std::uint64_t value, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return out;
}

std::uint32_t le32_at(std::string_view bytes, std::size_t at) {
    std::uint32_t word = 0;
    for (std::size_t k = 4; k-- > 0;) word = word << 8 | static_cast<std::uint8_t>(bytes[at + k]);
    return word;
}

std::optional<std::string> shell(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return std::nullopt;
    std::string out;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, n);
    return pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

std::uint16_t ref_crc16_cms(std::string_view message) {
    constexpr unsigned poly = 0x8005;  // x^15 + x^2 + 1; x^16 is the bit shifted out
    unsigned reg = 0xFFFF;
    for (const char c : message) {
        const auto byte = static_cast<std::uint8_t>(c);
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned out = ((reg >> 15) ^ (byte >> bit)) & 1u;
            reg = (reg << 1) & 0xFFFF;
            if (out != 0) reg ^= poly;
        }
    }
    return static_cast<std::uint16_t>(reg);
}

std::uint32_t jamcrc(std::string_view message) {
    const auto data = span_of(message);
    return ~static_cast<std::uint32_t>(
        crc32(0L, data.data(), static_cast<uInt>(data.size())));
}

// ---- The scrambler, one bit at a time ----
//
// A mixer of width w takes w input bits x[0..w-1] and gives, for each bit i,
// the input rotated left by r within the width, x[(i - r) mod w], XORed
// with bit i of a pattern wherever the mixer's pattern mask has a one. The
// pattern is a nibble n of the input repeated from bit 0 up (pattern bit i
// is n's bit i mod 4), except that mix17's bit 16 comes from x[4].

namespace {

bool bit(std::uint32_t word, int n) { return n >= 0 && n < 32 && ((word >> n) & 1u) != 0; }
// A word with only bit n, set to b.
std::uint32_t at(bool b, int n) { return b ? std::uint32_t{1} << n : 0; }

struct mixer {
    int width;
    int rotate;
    std::uint32_t pattern_mask;
    std::array<int, 4> nibble;  // nibble[j]: the input bit that is n's bit j
    int top = -1;               // the input bit of pattern bit 16, if it differs

    std::uint32_t operator()(std::uint32_t x) const {
        std::uint32_t out = 0;
        for (int i = 0; i < width; ++i) {
            bool b = bit(x, (i - rotate + width) % width);
            if (bit(pattern_mask, i)) b = b != bit(x, i == 16 && top >= 0 ? top : nibble[static_cast<std::size_t>(i % 4)]);
            out |= at(b, i);
        }
        return out;
    }
};

// mix16: n is bits 5-8. mix17: n is bit 1, 5, 9, 13 from its top bit down.
// mix32: n is bits 2-5.
constexpr mixer mix16{16, 9, 0x6371, {5, 6, 7, 8}};
constexpr mixer mix17{17, 7, 0x13659, {13, 9, 5, 1}, 4};
constexpr mixer mix32{32, 17, 0xE519A4F1, {2, 3, 4, 5}};

}  // namespace

std::uint32_t ref_mix16(std::uint32_t x) { return mix16(x); }
std::uint32_t ref_mix17(std::uint32_t x) { return mix17(x); }
std::uint32_t ref_mix32(std::uint32_t x) { return mix32(x); }

// The control word: bits 24-31 the master switch (0x00 and 0xFF: off);
// bits 0, 1, 2 and 3 switch off mix16, mix17, mix32 and key3; bits 5 and 6
// swap the bytes of the address's low and high half before they are folded
// into mix16's input; bits 8-9 shift the address right for mix17's input;
// bits 11-12 rotate it right by whole bytes for mix32's; bit 4 is bit 8 of
// the key part of mix17's input.
std::uint32_t ref_mask(const Keys& keys, std::uint32_t a) {
    const std::uint32_t c = keys.control;
    const std::uint32_t master = c >> 24;
    if (master == 0x00 || master == 0xFF) return 0;

    // mix16's input: the address's halves XORed, bit by bit, then key2's
    // high half. Swapping a half's bytes moves its bit i to bit i + 8 mod 16.
    const bool swap_low = bit(c, 5), swap_high = bit(c, 6);
    std::uint32_t x16 = 0;
    for (int i = 0; i < 16; ++i) {
        const int from = (i + 8) % 16;
        const bool b = (bit(a, swap_low ? from : i) != bit(a, 16 + (swap_high ? from : i))) !=
                       bit(keys.key2, 16 + i);
        x16 |= at(b, i);
    }
    // mix17's input: 17 address bits from bit `shift` up (none above bit 31),
    // XORed with key2's low byte, control bit 4, then key2's second byte.
    const int shift = static_cast<int>((c >> 8) & 3u);
    std::uint32_t x17 = 0;
    for (int i = 0; i < 17; ++i) {
        const bool key = i < 8 ? bit(keys.key2, i) : i == 8 ? bit(c, 4) : bit(keys.key2, i - 1);
        x17 |= at(bit(a, i + shift) != key, i);
    }
    // mix32's input: the address rotated right by 8 * bits 11-12, then key1.
    const int by = 8 * static_cast<int>((c >> 11) & 3u);
    std::uint32_t x32 = 0;
    for (int i = 0; i < 32; ++i) {
        x32 |= at(bit(a, (i + by) % 32) != bit(keys.key1, i), i);
    }

    const std::uint32_t m16 = bit(c, 0) ? 0 : mix16(x16);
    const std::uint32_t m17 = bit(c, 1) ? 0 : mix17(x17);
    const std::uint32_t m32 = bit(c, 2) ? 0 : mix32(x32);
    const std::uint32_t k3 = bit(c, 3) ? 0 : keys.key3;
    // mix16 gives the high half, mix17 the low half (its bit 16 is dropped),
    // mix32 and key3 all 32 bits.
    std::uint32_t mask = 0;
    for (int i = 0; i < 32; ++i) {
        const bool half = i < 16 ? bit(m17, i) : bit(m16, i - 16);
        mask |= at((half != bit(m32, i)) != bit(k3, i), i);
    }
    return mask;
}

Bytes ref_flash_crc_image(Bytes input, const Keys& keys) {
    input.append((32 - input.size() % 32) % 32, '\xFF');
    Bytes image;
    for (std::size_t at = 0; at < input.size(); at += 32) {
        Bytes block;
        for (std::size_t w = at; w < at + 32; w += 4) {
            const std::uint32_t address = static_cast<std::uint32_t>(w);
            block += le(le32_at(input, w) ^ ref_mask(keys, address), 4);
        }
        const std::uint16_t crc = ref_crc16_cms(block);
        image += block;
        image += static_cast<char>(crc >> 8);
        image += static_cast<char>(crc & 0xFF);
    }
    return image;
}

Bytes ref_twin(const Bytes& image) {
    static const char digits[] = "0123456789abcdef";
    Bytes text;
    text.reserve(image.size() * 4);
    for (const char c : image) {
        const auto b = static_cast<std::uint8_t>(c);
        text += digits[b >> 4];
        text += digits[b & 0xF];
        text += "\r\n";
    }
    return text;
}

Bytes padded_to_256(const Bytes& image) { return image + Bytes(256 - image.size() % 256, '\xFF'); }

std::string encrypt_success(std::uint64_t image_size) {
    return format("        Encrypt Seccessfully!\r\n        File Size: 0x%04llx\r\n\r\n",
                  static_cast<unsigned long long>(image_size));
}

std::string oad_notices(const OadLines& run) {
    std::string s;
    if (!run.version_given) {
        s += format("you do not appoint version information default:0x%x\r\n", run.version);
    }
    if (!run.link_given) s += "you do not appoint link addr,default :0x25a80\r\n";
    if (run.stack_at != 0) s += format("cmd_bin_oad.stack_file_addr :0x%x\r\n", run.stack_at);
    if (!run.rom_given) s += "you do not appoint rom version,default :0xffff\r\n";
    if (!run.keys_given) {
        s += "you do not appoint encrypt:default: \r\n"
             "b=00A5A5A5,00A5A5A5,00A5A5A5,00A5A5A5\r\n";
    }
    return s;
}

std::string oad_opening(const OadLines& run) {
    return oad_notices(run) +
           format("binary version hex:0x%x; dec:%d\r\n", run.version, static_cast<int>(run.version)) +
           "\r\n"
           "Arm Image Binary will be converted to OAD format binary file.....\r\n";
}

std::string txt_settings(const std::string& bin, int comma, int prefix, int type) {
    return "binary file name:" + bin + "\r\ncomma status:" + std::to_string(comma) +
           "\r\nprefix status:" + std::to_string(prefix) + "\r\ntype is " +
           std::to_string(type) + " bits\r\n";
}

std::string c_settings(const std::string& bin, const std::string& given_name, int type) {
    return "binary file name:" + bin + "\r\nc file name:" + given_name + "\r\ntype is " +
           std::to_string(type) + " bits\r\n";
}

std::string refused(const std::string& output) {
    return output + " is the input a.bin; it would be overwritten, so it is not written\r\n" +
           output + " file can not be created\r\n";
}

}  // namespace velk::test
