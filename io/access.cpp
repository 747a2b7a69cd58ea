#include "io/access.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velk {

std::size_t memory_source::read(std::span<std::uint8_t> buf) {
    const std::size_t n = std::min(buf.size(), bytes_.size() - position_);
    if (n != 0) std::memcpy(buf.data(), bytes_.data() + position_, n);
    position_ += n;
    return n;
}

status memory_source::read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const {
    if (offset > bytes_.size() || buf.size() > bytes_.size() - offset) {
        return read_fault(role::none, 0, std::min<std::uint64_t>(offset, bytes_.size()));
    }
    if (!buf.empty()) std::memcpy(buf.data(), bytes_.data() + offset, buf.size());
    return {};
}

std::size_t source_reader::read(std::span<std::uint8_t> buf) {
    if (error_ != 0) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), source_.size() - std::min(at_, source_.size())));
    if (status s = source_.read_at(at_, buf.first(n)); !s) {
        error_ = s.error().error != 0 ? s.error().error : EIO;
        return 0;
    }
    at_ += n;
    return n;
}

bool ordered_writes::write(std::span<const std::uint8_t> bytes) {
    if (error_ != 0) return false;
    if (status s = sink_.write_at(at_, bytes); !s) {
        error_ = s.error().error != 0 ? s.error().error : EIO;
        return false;
    }
    at_ += bytes.size();
    return true;
}

status memory_scratch::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const std::uint64_t end = offset + bytes.size();
    if (bytes_.size() < end) bytes_.resize(static_cast<std::size_t>(end));
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

status memory_scratch::read_at(std::uint64_t offset, std::span<std::uint8_t> buf) const {
    if (offset > bytes_.size() || buf.size() > bytes_.size() - offset) return read_fault(role::none, 0, offset);
    if (!buf.empty()) std::memcpy(buf.data(), bytes_.data() + offset, buf.size());
    return {};
}

bool memory_sink::write(std::span<const std::uint8_t> bytes) {
    const std::lock_guard lock(mutex_);
    if (failed_ || bytes.size() > limit_ - std::min<std::uint64_t>(limit_, bytes_.size())) {
        failed_ = true;
        return false;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return true;
}

status memory_sink::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t end = offset + bytes.size();
    if (failed_ || end > limit_) {
        failed_ = true;
        return write_fault(role::none, no_space, offset);
    }
    if (bytes_.size() < end) bytes_.resize(static_cast<std::size_t>(end));
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

}  // namespace velk
