// Text on output is always valid UTF-8: strings stored in a code page are converted with
// the C library's iconv, UTF-8 is checked, and whatever does not convert becomes U+FFFD.
// The outline record holds its text so decoded; front ends use the checks for text of
// their own (paths).
#pragma once

#include <iconv.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace outline {

// A string as the document stores it: bytes in the section's code page, or UTF-8 that
// the readers already made (wide strings, narrow ones in a code page 1200 section, a
// package's text).
struct Text {
  std::string_view bytes;
  bool utf8 = false;
};

// The code page a section without one is read in.
inline constexpr std::uint16_t kDefaultCodePage = 1252;

// True when `bytes` is UTF-8 as the standard defines it: no overlong forms, no
// surrogates, nothing past U+10FFFF, no cut sequence.
bool IsValidUtf8(std::string_view bytes);

// The length of the valid UTF-8 sequence that starts at `bytes[at]` (at < size), or 0.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at);

// Appends `bytes` to `out`, each valid UTF-8 sequence as it is and each byte that does
// not begin one as U+FFFD.
void AppendUtf8Lossy(std::string& out, std::string_view bytes);

// The C library's name for a stored code page ("CP1252", "MACINTOSH", ...), or empty for
// a number that names no code page this front end knows.
std::string IconvName(std::uint16_t codePage);

// Decodes stored strings to UTF-8. Holds one converter per code page met, opened on first
// use and kept: one decoder per thread, since a converter is not safe to share.
class TextDecoder {
 public:
  TextDecoder() = default;
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  // `text` as valid UTF-8: bytes in `codePage` (kDefaultCodePage when absent) converted,
  // UTF-8 checked. The view lives until the next call.
  //   65001 and 1200 (whose narrow strings the readers hand over as UTF-8): checked only.
  //   A code page iconv cannot open: bytes below 0x80 as ASCII, every other byte U+FFFD.
  // Each string is converted on its own: the converter is flushed at its end (some hold
  // back a last character) and starts the next string in its initial state.
  std::string_view Decode(const Text& text, std::optional<std::uint16_t> codePage);

 private:
  struct Converter {
    std::uint16_t codePage;
    iconv_t cd;  // (iconv_t)-1 when the C library does not know the code page
  };
  iconv_t ConverterFor(std::uint16_t codePage);
  void Convert(iconv_t cd, std::string_view bytes);

  std::vector<Converter> converters_;
  std::string out_;
};

}  // namespace outline
