#pragma once
// The one way the engine and io say that something failed: a `fault`,
// carried in a `result<T>` instead of a value. A fault says what failed
// (reading, writing, a layout that cannot be, a format's rule broken), which
// of the run's files it hit (by its role; the front end knows the names),
// the system's error number when the system gave one, and the offset when
// it is known. Front ends turn a fault into words and an exit status in one
// place each; nothing below them prints.

#include <cassert>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace velk {

enum class fault_kind : std::uint8_t {
    read,    // an input could not be read, or ended before its known size
    write,   // an output could not be written, flushed or closed
    layout,  // what was asked for cannot be laid out (sizes, offsets)
    format,  // the data break a rule of their format
    memory,  // the memory needed could not be had
};

// Which of a run's files a fault hit. Engines name files by role only.
enum class role : std::uint8_t {
    none,
    input,        // the one input of a conversion
    boot,         // the three inputs of a merge
    stack,
    app,
    image,        // the flash image written
    twin,         // its text twin
    output,       // the one output of an export
    merged,       // the three outputs of a merge
    stack_image,
    app_image,
};

struct fault {
    fault_kind what = fault_kind::read;
    velk::role role = role::none;
    int error = 0;  // the system's error number; 0 when it gave none
    std::optional<std::uint64_t> offset;

    // A read that came up short with no error from the system: the file
    // ended before the size it had when it was measured.
    bool shrank() const { return what == fault_kind::read && error == 0; }
    // The same fault, told of the file it hit.
    fault of(velk::role r) const {
        fault f = *this;
        f.role = r;
        return f;
    }
    friend bool operator==(const fault&, const fault&) = default;
};

inline fault read_fault(role r, int error, std::optional<std::uint64_t> offset = std::nullopt) {
    return {fault_kind::read, r, error, offset};
}
inline fault write_fault(role r, int error, std::optional<std::uint64_t> offset = std::nullopt) {
    return {fault_kind::write, r, error, offset};
}

// A value, or the fault that stopped it. Small on purpose: the subset of
// C++23's std::expected this code base needs.
template <class T>
class [[nodiscard]] result {
public:
    result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    result(fault f) : v_(std::in_place_index<1>, f) {}                 // NOLINT

    bool has_value() const { return v_.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& value() {
        assert(has_value());
        return std::get<0>(v_);
    }
    const T& value() const {
        assert(has_value());
        return std::get<0>(v_);
    }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const fault& error() const {
        assert(!has_value());
        return std::get<1>(v_);
    }

private:
    std::variant<T, fault> v_;
};

// Success with nothing to return, or a fault.
template <>
class [[nodiscard]] result<void> {
public:
    result() = default;
    result(fault f) : fault_(f) {}  // NOLINT: implicit by design

    bool has_value() const { return !fault_; }
    explicit operator bool() const { return has_value(); }
    const fault& error() const {
        assert(fault_);
        return *fault_;
    }

private:
    std::optional<fault> fault_;
};

using status = result<void>;

}  // namespace velk
