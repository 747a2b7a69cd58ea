#include "io/output.hpp"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "io/platform.hpp"

namespace velk {
namespace {

namespace fs = std::filesystem;

// The file a name leads to: symbolic links followed one by one, each
// relative target taken from its link's directory, so that a link to a
// file not yet there is followed too.
std::string follow_links(const std::string& name) {
    fs::path path = path_from_utf8(name);
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec) break;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return utf8_from_path(path);
}

// A name beside `target` that no file has: "<dir>/.<base>.<random>.tmp".
std::string temporary_name(const std::string& target, std::uint32_t salt) {
    const fs::path path = path_from_utf8(target);
    constexpr char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string base(1, '.');
    base.append(utf8_from_path(path.filename()));
    base.push_back('.');
    for (int i = 0; i < 6; ++i, salt /= 36) base.push_back(digits[salt % 36]);
    base.append(".tmp");
    return utf8_from_path(path.parent_path() / path_from_utf8(base));
}

}  // namespace

Output Output::create(const std::string& name) {
    Output out;
    out.name_ = name;
    out.target_ = follow_links(name);
    const path_kind kind = kind_of(out.target_);
    if (kind == path_kind::directory) {
        out.error_ = EISDIR;
        return out;
    }
    if (kind == path_kind::other) {
        out.file_ = File::open(out.target_, File::Mode::create);
        out.error_ = out.file_.last_error();
        return out;
    }
    std::random_device seed;
    std::mt19937 salts(seed());  // 32-bit results
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = temporary_name(out.target_, static_cast<std::uint32_t>(salts()));
        std::FILE* stream = create_new_file(temporary, out.error_);
        if (stream != nullptr) {
            out.temporary_ = temporary;
            out.file_ = File::adopt(stream);
            out.error_ = 0;
            return out;
        }
        if (out.error_ != EEXIST) return out;
    }
    return out;
}

Output Output::standard_output() {
    set_binary_stdout();
    Output out;
    out.name_.assign(1, '-');  // (not = "-": g++ 12 warns wrongly of overlap there)
    out.file_ = File::adopt(stdout, File::Buffering::keep);
    return out;
}

Output::Output(Output&& other) noexcept
    : name_(std::exchange(other.name_, {})),
      target_(std::exchange(other.target_, {})),
      temporary_(std::exchange(other.temporary_, {})),
      file_(std::move(other.file_)),
      error_(other.error_),
      in_order_(std::exchange(other.in_order_, 0)) {
    // Nothing is written through an Output while it is moved.
}

Output& Output::operator=(Output&& other) noexcept {
    if (this != &other) {
        discard();
        name_ = std::exchange(other.name_, {});
        target_ = std::exchange(other.target_, {});
        temporary_ = std::exchange(other.temporary_, {});
        file_ = std::move(other.file_);
        error_ = other.error_;
        in_order_ = std::exchange(other.in_order_, 0);
    }
    return *this;
}

Output::~Output() { discard(); }

bool Output::write(std::span<const std::uint8_t> bytes) {
    in_order_ += bytes.size();
    return file_.write(bytes);
}

random_sink* Output::positional() {
    if (temporary_.empty() || in_order_ != 0 || by_offset_.end() != 0) return nullptr;
    by_offset_.rebind(file_);
    return &by_offset_;
}

status Output::offset_writer::write_at(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    status s = file_->write_at(offset, bytes);
    if (!s) return s;
    const std::uint64_t end = offset + bytes.size();
    std::uint64_t seen = end_.load(std::memory_order_relaxed);
    while (seen < end && !end_.compare_exchange_weak(seen, end, std::memory_order_relaxed)) {
    }
    return s;
}

File* Output::read_back() {
    if (name_ == "-" || !file_ || !file_.seek(0)) return nullptr;
    return &file_;
}

bool Output::commit() {
    if (name_ == "-") {
        // Standard output stays open for the rest of the program; what
        // matters is that every byte reached it.
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            error_ = errno != 0 ? errno : EIO;
            return false;
        }
        file_.release();
        return true;
    }
    if (!file_.close()) {
        error_ = file_.last_error() != 0 ? file_.last_error() : EIO;
        discard();
        return false;
    }
    if (temporary_.empty()) return true;
    if (!replace_file(temporary_, target_, error_)) {
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void Output::discard() {
    if (name_ == "-") {
        file_.release();
        return;
    }
    file_.close();
    if (!temporary_.empty()) {
        remove_file(temporary_);
        temporary_.clear();
    }
}

}  // namespace velk
