#include "formats/oad/header.hpp"

namespace velk {
namespace {

void put_le(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_le(const std::uint8_t* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint32_t{at[i]} << (8 * i);
    return value;
}

}  // namespace

std::array<std::uint8_t, oad_header_size> encode_oad_header(const oad_header& h) {
    std::array<std::uint8_t, oad_header_size> out{};
    put_le(&out[0], h.crc, 4);
    put_le(&out[4], h.version, 2);
    put_le(&out[6], h.length_words, 2);
    put_le(&out[8], h.uid, 4);
    out[12] = h.reserved[0];
    out[13] = h.reserved[1];
    put_le(&out[14], h.rom_version, 2);
    return out;
}

oad_header decode_oad_header(std::span<const std::uint8_t> bytes) {
    const std::uint8_t* b = bytes.data();
    oad_header h;
    h.crc = get_le(b, 4);
    h.version = static_cast<std::uint16_t>(get_le(b + 4, 2));
    h.length_words = static_cast<std::uint16_t>(get_le(b + 6, 2));
    h.uid = get_le(b + 8, 4);
    h.reserved = {b[12], b[13]};
    h.rom_version = static_cast<std::uint16_t>(get_le(b + 14, 2));
    return h;
}

oad_header make_oad_header(std::uint32_t crc, std::uint64_t body_len, std::uint32_t version,
                           std::uint32_t uid, std::uint16_t rom_version) {
    oad_header h;
    h.crc = crc;
    h.version = static_cast<std::uint16_t>(version & 0xFFFFu);
    h.length_words = static_cast<std::uint16_t>(((oad_header_size + body_len) / 4) & 0xFFFFu);
    h.uid = uid;
    h.rom_version = rom_version;
    return h;
}

}  // namespace velk
