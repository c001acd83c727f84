// The package reader alone: the input is a whole file, read as an Office Open XML
// package by one reader kept from input to input, as a batch worker keeps it.
//
// Each run also checks the reader's promises: a failed read leaves both values
// VT_EMPTY; a vector read is of the type promised, its strings are valid UTF-8 and
// terminated, and together they hold no more text than the input could inflate to; and
// nothing crosses from one package to the next: the input is read again after the
// previous input, and must give the same answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "read_again.h"
#include "readers/byte_source.h"
#include "readers/limits.h"
#include "readers/ooxml/package.h"
#include "readers/values.h"

namespace {

using namespace readers;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "package: %s\n", what);
  std::abort();
}

// Whether `s` is UTF-8 as the standard defines it (no surrogates, nothing past
// U+10FFFF, no overlong or cut sequence); reads every byte up to the terminator.
bool ValidUtf8(const char* s, std::size_t& length) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  std::size_t i = 0;
  while (p[i] != 0) {
    const unsigned c = p[i];
    std::size_t n = c < 0x80                 ? 1
                    : c >= 0xC2 && c <= 0xDF ? 2
                    : c >= 0xE0 && c <= 0xEF ? 3
                    : c >= 0xF0 && c <= 0xF4 ? 4
                                             : 0;
    if (n == 0) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
    }
    const unsigned second = n > 1 ? p[i + 1] : 0x80;
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F)) {
      return false;
    }
    i += n;
  }
  length = i;
  return true;
}

std::size_t CheckString(const char* s) {
  std::size_t length = 0;
  if (s == nullptr) Fail("null string");
  if (!ValidUtf8(s, length)) Fail("a string is not UTF-8");
  return length;
}

// Reads `bytes` as a package with `package`, checks the values, and says what it read:
// the fault, then every value's type and text.
std::string ReadChecked(ooxml::Package& package, std::span<const std::uint8_t> bytes) {
  MemorySource source(bytes);
  PROPVARIANT pairs, titles;
  PropVariantInit(&pairs);
  PropVariantInit(&titles);
  const Fault fault = ooxml::ReadPackageOutline(source, package, pairs, titles);
  if (!fault.ok() && (pairs.vt != VT_EMPTY || titles.vt != VT_EMPTY)) Fail("values left behind by a failed read");
  std::string answer = Describe(fault);
  std::size_t text = 0;
  const auto string = [&](const char* s) {
    text += CheckString(s);
    answer.append("\0s=", 3).append(s);
  };
  if (pairs.vt != VT_EMPTY) {
    if (pairs.vt != (VT_VECTOR | VT_VARIANT)) Fail("heading pairs of another type");
    for (const PROPVARIANT& e : std::span<const PROPVARIANT>(pairs.capropvar.pElems, pairs.capropvar.cElems)) {
      if (e.vt == VT_LPSTR) {
        string(e.pszVal);
      } else {
        answer.append("\0", 1).append(std::to_string(e.vt)).append("=").append(std::to_string(e.ulVal));
      }
    }
  }
  answer.append("\0|", 2);
  if (titles.vt != VT_EMPTY) {
    if (titles.vt != (VT_VECTOR | VT_LPSTR)) Fail("titles of parts of another type");
    for (const char* s : std::span<char* const>(titles.calpstr.pElems, titles.calpstr.cElems)) string(s);
  }
  if (text > limits::kMaxPartBytes) Fail("more text than a part may inflate to");
  ClearValue(pairs);
  ClearValue(titles);
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ooxml::Package state;
  if (!SameAfterAnother(state, std::span<const std::uint8_t>(data, size), ReadChecked)) {
    Fail("an input read otherwise after another one");
  }
  return 0;
}
