#pragma once
// An independent model of the merged flash layout, built whole in memory
// with zlib's CRC-32, to check velk's merged images against.

#include <cstdint>
#include <string>

#include "harness.hpp"
#include "support.hpp"

namespace velk::test {

struct Layout {
    std::uint32_t M = 0x1F00;
    std::uint32_t L = 0x25A80;
    std::uint32_t version = 0x0102;
    std::uint32_t app_uid = 0x42424242;
    std::uint32_t stack_uid = 0x53535353;
    std::uint16_t rom = 0xFFFF;
};

struct Merged {
    Bytes merged, stack_oad, app_oad, app_header;
    std::uint32_t stack_crc = 0, app_crc = 0;
    std::size_t pad = 0;
};

inline Bytes header(std::uint32_t crc, std::size_t image_len, const Layout& l, std::uint32_t uid) {
    return le(crc, 4) + le(l.version & 0xFFFF, 2) + le((image_len / 4) & 0xFFFF, 2) + le(uid, 4) +
           "\xFF\xFF" + le(l.rom, 2);
}

inline Merged merge_model(const Bytes& boot, const Bytes& stack, const Bytes& app,
                          const Layout& l = {}) {
    Bytes image(l.L + app.size(), '\xFF');
    image.replace(0, boot.size(), boot);
    image.replace(l.M, stack.size(), stack);
    image.replace(l.L, app.size(), app);
    Merged m;
    m.pad = 256 - ((image.size() - (l.M - 16)) & 0xFF);
    image.append(m.pad, '\xFF');
    m.app_crc = jamcrc(image.substr(l.L));
    m.app_header = header(m.app_crc, image.size() - (l.L - 16), l, l.app_uid);
    image.replace(l.L - 16, 16, m.app_header);
    m.stack_crc = jamcrc(image.substr(l.M));
    image.replace(l.M - 16, 16, header(m.stack_crc, image.size() - (l.M - 16), l, l.stack_uid));
    m.merged = image;
    m.stack_oad = image.substr(l.M - 16);
    m.app_oad = image.substr(l.L - 16);
    return m;
}

}  // namespace velk::test
