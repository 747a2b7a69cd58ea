#include "formats/oad/header.hpp"

#include <cassert>

#include "formats/core/le_words.hpp"

namespace velk {

std::array<std::uint8_t, oad_header_size> encode_oad_header(const oad_header& h) {
    std::array<std::uint8_t, oad_header_size> out{};
    store_le32(&out[0], h.crc);
    store_le16(&out[4], h.version);
    store_le16(&out[6], h.length_words);
    store_le32(&out[8], h.uid);
    out[12] = h.reserved[0];
    out[13] = h.reserved[1];
    store_le16(&out[14], h.rom_version);
    return out;
}

oad_header decode_oad_header(std::span<const std::uint8_t> bytes) {
    assert(bytes.size() >= oad_header_size);
    const std::uint8_t* b = bytes.data();
    oad_header h;
    h.crc = load_le32(b);
    h.version = load_le16(b + 4);
    h.length_words = load_le16(b + 6);
    h.uid = load_le32(b + 8);
    h.reserved = {b[12], b[13]};
    h.rom_version = load_le16(b + 14);
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
