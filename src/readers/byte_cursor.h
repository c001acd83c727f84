// The one bounded reader over file bytes. Every parser reads through it: a read that
// would pass the end fails and moves nothing, and a sub-range that does not fit comes
// back empty. Values are little-endian, as the formats store them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace readers {

class ByteCursor {
 public:
  ByteCursor() = default;
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t size() const { return bytes_.size(); }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return bytes_.size() - pos_; }

  // Moves to an absolute position; false (position unchanged) past the end.
  [[nodiscard]] bool Seek(std::uint64_t pos) {
    if (pos > bytes_.size()) return false;
    pos_ = static_cast<std::size_t>(pos);
    return true;
  }
  [[nodiscard]] bool Skip(std::uint64_t n) { return n <= remaining() && Seek(pos_ + n); }

  [[nodiscard]] bool ReadU8(std::uint8_t& v) { return ReadLe(v); }
  [[nodiscard]] bool ReadU16(std::uint16_t& v) { return ReadLe(v); }
  [[nodiscard]] bool ReadU32(std::uint32_t& v) { return ReadLe(v); }
  [[nodiscard]] bool ReadU64(std::uint64_t& v) { return ReadLe(v); }

  // The next n bytes as a view, advancing past them.
  [[nodiscard]] bool ReadBytes(std::uint64_t n, std::span<const std::uint8_t>& out) {
    if (n > remaining()) return false;
    out = bytes_.subspan(pos_, static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    return true;
  }

  // The bytes [offset, offset + length) of the whole range, or an empty cursor when
  // they do not fit.
  [[nodiscard]] ByteCursor Sub(std::uint64_t offset, std::uint64_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return ByteCursor();
    return ByteCursor(bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
  }

  // The whole range, independent of the position.
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  // Any unsigned little-endian value.
  template <typename T>
  [[nodiscard]] bool ReadLe(T& v) {
    if (remaining() < sizeof(T)) return false;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(bytes_[pos_ + i]) << (8 * i));
    v = value;
    pos_ += sizeof(T);
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Reads a little-endian value at a fixed offset of a small record; 0 when it does not fit.
template <typename T>
T ValueAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return 0;
  T v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
  return v;
}
inline std::uint16_t U16At(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return ValueAt<std::uint16_t>(bytes, offset);
}
inline std::uint32_t U32At(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return ValueAt<std::uint32_t>(bytes, offset);
}
inline std::uint64_t U64At(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return ValueAt<std::uint64_t>(bytes, offset);
}

}  // namespace readers
