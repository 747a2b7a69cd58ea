#pragma once
// What every C array file shares, whoever's head and tail it has: the
// elements (written in c_array.cpp) and the spelling of their declaration.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "formats/export/export.hpp"

namespace velk {

// A C array file's elements, ", " between them and `per_line` to a line
// (a line after the first starting "\r\n    "), ending with the last one.
class c_elements : public export_format {
public:
    std::string_view name_suffix() const override { return "_qz.c"; }
    int default_cell_bits() const override { return 32; }
    // The element count is declared before the first element is written.
    bool needs_input_size() const override { return true; }

    void cells(BlockReader& in, BlockWriter& out, const export_settings& settings,
               const export_context& context) const override;
    std::unique_ptr<piecewise> pieces(const export_settings& settings,
                                      const export_context& context) const override;
};

// Elements of `settings` for an input of `input_size` bytes, the last one
// padded with zeros.
std::uint64_t c_element_count(const export_settings& settings, std::uint64_t input_size);
// "unsigned char" or "uint8_t" and so on, for the settings' cell width.
std::string_view c_element_type(const export_settings& settings);
// The length symbol's type: at least 32 bits even where int has 16.
std::string_view c_length_type(const export_settings& settings);

}  // namespace velk
