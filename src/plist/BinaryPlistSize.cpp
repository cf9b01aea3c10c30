#include "plist/BinaryPlistSize.h"

#include <cstdint>
#include <vector>

namespace somnara::plist {
namespace {

constexpr std::size_t kTrailerBytes = 32;
constexpr std::size_t kPerObject = 16;
constexpr int kMaxNesting = 128;

class Graph {
 public:
  Graph(std::string_view bytes, std::size_t limit) : bytes_(bytes), limit_(limit) {}

  std::optional<std::size_t> size() {
    if (bytes_.size() < 8 + kTrailerBytes) return std::nullopt;
    const std::size_t trailer = bytes_.size() - kTrailerBytes;
    offsetSize_ = byte(trailer + 6);
    refSize_ = byte(trailer + 7);
    const auto count = number(trailer + 8, 8);
    const auto top = number(trailer + 16, 8);
    const auto table = number(trailer + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8 || !count || !top || !table ||
        *count == 0 || *top >= *count || *count > trailer / offsetSize_ || *table > trailer ||
        trailer - *table < *count * offsetSize_)
      return std::nullopt;
    table_ = *table;
    state_.assign(*count, 0);
    cost_.assign(*count, 0);
    return objectSize(*top, 0);
  }

 private:
  std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(bytes_[at]); }

  // A big-endian unsigned number of width bytes at at; nullopt past the end.
  std::optional<std::uint64_t> number(std::size_t at, std::size_t width) const {
    if (at > bytes_.size() || bytes_.size() - at < width) return std::nullopt;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < width; ++i) n = (n << 8) | byte(at + i);
    return n;
  }

  // The length in an object's marker, or in the integer object after it.
  std::optional<std::uint64_t> length(std::size_t& at) const {
    const std::uint8_t info = byte(at) & 0x0f;
    ++at;
    if (info != 0x0f) return info;
    if (at >= bytes_.size() || (byte(at) & 0xf0) != 0x10) return std::nullopt;
    const std::size_t width = std::size_t{1} << (byte(at) & 0x0f);
    if (width > 8) return std::nullopt;
    auto n = number(at + 1, width);
    at += 1 + width;
    return n;
  }

  std::optional<std::size_t> objectSize(std::uint64_t index, int depth) {
    if (index >= state_.size() || depth > kMaxNesting) return std::nullopt;
    if (state_[index] == 2) return cost_[index];
    if (state_[index] == 1) return std::nullopt;  // a cycle
    state_[index] = 1;
    const auto offset = number(table_ + index * offsetSize_, offsetSize_);
    if (!offset || *offset < 8 || *offset >= table_) return std::nullopt;
    std::size_t at = *offset;
    const std::uint8_t kind = byte(at) >> 4;
    std::size_t cost = kPerObject;
    if (kind == 0x4 || kind == 0x5 || kind == 0x6 || kind == 0x7) {  // data, strings
      const auto n = length(at);
      if (!n) return std::nullopt;
      cost += *n > limit_ ? limit_ : static_cast<std::size_t>(*n) * (kind == 0x6 ? 2 : 1);
    } else if (kind == 0xa || kind == 0xc || kind == 0xd) {  // array, set, dictionary
      const auto n = length(at);
      if (!n || *n > bytes_.size()) return std::nullopt;
      const std::uint64_t refs = kind == 0xd ? 2 * *n : *n;
      for (std::uint64_t i = 0; i < refs && cost <= limit_; ++i) {
        const auto ref = number(at + i * refSize_, refSize_);
        if (!ref) return std::nullopt;
        const auto child = objectSize(*ref, depth + 1);
        if (!child) return std::nullopt;
        cost += *child;
      }
    }
    if (cost > limit_) cost = limit_ + 1;
    state_[index] = 2;
    cost_[index] = cost;
    return cost;
  }

  std::string_view bytes_;
  std::size_t limit_;
  std::size_t offsetSize_ = 0, refSize_ = 0;
  std::uint64_t table_ = 0;
  std::vector<std::uint8_t> state_;  // 0 unseen, 1 being counted, 2 counted
  std::vector<std::size_t> cost_;
};

}  // namespace

std::optional<std::size_t> expandedBinarySize(std::string_view bytes, std::size_t limit) {
  return Graph(bytes, limit).size();
}

}  // namespace somnara::plist
