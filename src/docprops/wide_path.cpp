#include <cstdint>

#include "property_access.h"
#include "readers/utf16.h"

namespace docprops {
namespace {

bool Continuation(std::string_view s, std::size_t i, std::uint8_t low = 0x80, std::uint8_t high = 0xBF) {
  if (i >= s.size()) return false;
  const auto b = static_cast<std::uint8_t>(s[i]);
  return b >= low && b <= high;
}

// The length of the well-formed UTF-8 sequence at s[i] (0 when there is none) and its
// code point. Overlong forms, surrogates and values above U+10FFFF are not well formed.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
  const auto b = static_cast<std::uint8_t>(s[i]);
  const auto bits = [&](std::size_t k) { return static_cast<char32_t>(static_cast<std::uint8_t>(s[i + k]) & 0x3F); };
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  if (b >= 0xC2 && b <= 0xDF && Continuation(s, i + 1)) {
    cp = (static_cast<char32_t>(b & 0x1F) << 6) | bits(1);
    return 2;
  }
  if (b >= 0xE0 && b <= 0xEF) {
    const std::uint8_t low = b == 0xE0 ? 0xA0 : 0x80;
    const std::uint8_t high = b == 0xED ? 0x9F : 0xBF;
    if (Continuation(s, i + 1, low, high) && Continuation(s, i + 2)) {
      cp = (static_cast<char32_t>(b & 0x0F) << 12) | (bits(1) << 6) | bits(2);
      return 3;
    }
  }
  if (b >= 0xF0 && b <= 0xF4) {
    const std::uint8_t low = b == 0xF0 ? 0x90 : 0x80;
    const std::uint8_t high = b == 0xF4 ? 0x8F : 0xBF;
    if (Continuation(s, i + 1, low, high) && Continuation(s, i + 2) && Continuation(s, i + 3)) {
      cp = (static_cast<char32_t>(b & 0x07) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
      return 4;
    }
  }
  return 0;
}

}  // namespace

std::u16string WidePath(std::string_view bytes) {
  std::u16string out;
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t cp = 0;
    const std::size_t n = DecodeUtf8(bytes, i, cp);
    if (n == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 | static_cast<std::uint8_t>(bytes[i])));
      ++i;
    } else if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      i += n;
    } else {
      out.push_back(static_cast<char16_t>(cp));
      i += n;
    }
  }
  return out;
}

std::string PathFromWide(std::u16string_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xDC80 && u <= 0xDCFF) {
      out.push_back(static_cast<char>(u & 0xFF));  // a byte that was not UTF-8
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      readers::EncodeUtf8(
          2, [&](std::size_t k) { return units[i + k]; }, [&](char c) { out.push_back(c); });
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      // Any other unpaired surrogate: its three-byte form, the nearest thing a path has.
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      readers::EncodeUtf8(
          1, [&](std::size_t) { return u; }, [&](char c) { out.push_back(c); });
    }
  }
  return out;
}

}  // namespace docprops
