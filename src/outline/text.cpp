#include "outline/text.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace outline {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kKeptOutputCapacity = 4u << 10;

}  // namespace

std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below U+10000
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;  // a continuation byte, an overlong lead (C0, C1) or F5..FF
  }
  if (bytes.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

namespace {

// Where the run of ASCII bytes that starts at `at` ends: eight bytes are looked at a
// time, since most names, headings and paths are ASCII from end to end.
std::size_t AsciiUntil(std::string_view bytes, std::size_t at) {
  for (std::uint64_t w; bytes.size() - at >= 8; at += 8) {
    std::memcpy(&w, bytes.data() + at, 8);
    if ((w & 0x8080808080808080u) != 0) break;
  }
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

bool AllAscii(std::string_view bytes) { return AsciiUntil(bytes, 0) == bytes.size(); }

// Code pages whose bytes below 0x80 are ASCII, whatever surrounds them: an ASCII string
// in one of them needs no conversion. (Not true of EBCDIC, UTF-7 or the ISO-2022 family,
// where ASCII bytes shift state.)
bool AsciiCompatible(std::uint16_t codePage) {
  return (codePage >= 1250 && codePage <= 1258) || codePage == 874 || codePage == 932 || codePage == 936 ||
         codePage == 949 || codePage == 950 || (codePage >= 10000 && codePage <= 10008) || codePage == 10029 ||
         codePage == 10079 || codePage == 10081 || codePage == 65001 || (codePage >= 28591 && codePage <= 28605);
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t at = AsciiUntil(bytes, 0); at < bytes.size(); at = AsciiUntil(bytes, at)) {
    const std::size_t length = Utf8SequenceLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void AppendUtf8Lossy(std::string& out, std::string_view bytes) {
  std::size_t run = 0;  // start of the valid bytes not yet appended
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, at);
    if (length != 0) {
      at += length;
      continue;
    }
    out.append(bytes.substr(run, at - run));
    out.append(kReplacement);
    run = ++at;
  }
  out.append(bytes.substr(run));
}

std::string IconvName(std::uint16_t codePage) {
  // Numbers whose C-library name is not "CP" and the number. Where the C library has no
  // converter for a code page, the nearest one it has stands in (marked "nearest"): the
  // one that decodes the most of the page's own letters as the page does, so that those
  // come out right and the rest comes out as some character or U+FFFD.
  struct Alias {
    std::uint16_t codePage;
    const char* name;
  };
  static constexpr Alias kAliases[] = {
      {708, "ISO-8859-6"},           // ASMO 708 Arabic
      {10000, "MACINTOSH"},          // Mac Roman
      {10001, "CP932"},              // Mac Japanese; nearest: its Shift JIS base
      {10002, "CP950"},              // Mac Traditional Chinese; nearest: its Big5 base
      {10003, "CP949"},              // Mac Korean; nearest: its EUC-KR base
      {10004, "ISO-8859-6"},         // Mac Arabic; nearest: the letters at the same bytes
      {10005, "ISO-8859-8"},         // Mac Hebrew; nearest: the letters at the same bytes
      {10006, "ISO-8859-7"},         // Mac Greek; nearest: Greek, though most letters differ
      {10008, "CP936"},              // Mac Simplified Chinese; nearest: its GB 2312 base
      {10017, "MACUKRAINIAN"},       // Mac Ukrainian
      {10029, "MAC-CENTRALEUROPE"},  // Mac Central European
      {10079, "MAC-IS"},             // Mac Icelandic
      {10081, "MACINTOSH"},          // Mac Turkish; nearest: Mac Roman, all but six letters
      {20106, "DIN_66003"},          // IA5 German
      {20107, "SEN_850200_B"},       // IA5 Swedish
      {20108, "NS_4551-1"},          // IA5 Norwegian
      {20127, "ASCII"},
      {20269, "ISO_6937"},
      {20273, "IBM273"},  // the EBCDIC pages of Windows' 20xxx range
      {20277, "IBM277"},
      {20278, "IBM278"},
      {20280, "IBM280"},
      {20284, "IBM284"},
      {20285, "IBM285"},
      {20290, "IBM290"},
      {20297, "IBM297"},
      {20420, "IBM420"},
      {20423, "IBM423"},
      {20424, "IBM424"},
      {20866, "KOI8-R"},
      {20871, "IBM871"},
      {20880, "IBM880"},
      {20905, "IBM905"},
      {20932, "EUC-JP"},
      {20936, "GB2312"},
      {21025, "IBM1025"},
      {21866, "KOI8-U"},
      {28591, "ISO-8859-1"},
      {28592, "ISO-8859-2"},
      {28593, "ISO-8859-3"},
      {28594, "ISO-8859-4"},
      {28595, "ISO-8859-5"},
      {28596, "ISO-8859-6"},
      {28597, "ISO-8859-7"},
      {28598, "ISO-8859-8"},
      {28599, "ISO-8859-9"},
      {28603, "ISO-8859-13"},
      {28605, "ISO-8859-15"},
      {38598, "ISO-8859-8"},  // logical order: the same bytes
      {50220, "ISO-2022-JP"},
      {50221, "ISO-2022-JP"},
      {50222, "ISO-2022-JP"},
      {50225, "ISO-2022-KR"},
      {50227, "ISO-2022-CN"},
      {50229, "ISO-2022-CN-EXT"},
      {51932, "EUC-JP"},
      {51936, "EUC-CN"},
      {51949, "EUC-KR"},
      {51950, "EUC-TW"},
      {54936, "GB18030"},
      {65000, "UTF-7"},
  };
  for (const Alias& alias : kAliases) {
    if (alias.codePage == codePage) return alias.name;
  }
  // Code pages 1200, 1201 and 65001 are Unicode and never reach iconv.
  if (codePage == 0 || codePage == 1200 || codePage == 1201 || codePage == 65001) return {};
  std::string number = std::to_string(codePage);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');  // EBCDIC 37 is "CP037"
  return "CP" + number;  // among them CP10007, the C library's own table of Mac Cyrillic
}

TextDecoder::~TextDecoder() {
  for (const Converter& c : converters_) {
    if (c.cd != kNoConverter) iconv_close(c.cd);
  }
}

iconv_t TextDecoder::ConverterFor(std::uint16_t codePage) {
  for (const Converter& c : converters_) {
    if (c.codePage == codePage) return c.cd;
  }
  const std::string name = IconvName(codePage);
  // The failure is cached too: each unknown code page is looked up once per thread.
  const iconv_t cd = name.empty() ? kNoConverter : iconv_open("UTF-8", name.c_str());
  converters_.push_back({codePage, cd});
  return cd;
}

void TextDecoder::Convert(iconv_t cd, std::string_view bytes) {
  // iconv's interface takes a non-const input pointer; it only reads through it.
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  std::size_t used = 0;
  out_.resize(bytes.size() * 3 + 16);
  // Runs one call (flush when `flushOnly`); false on a byte that does not convert.
  const auto step = [&](bool flushOnly) {
    for (;;) {
      char* to = out_.data() + used;
      std::size_t toLeft = out_.size() - used;
      const std::size_t result =
          flushOnly ? iconv(cd, nullptr, nullptr, &to, &toLeft) : iconv(cd, &in, &inLeft, &to, &toLeft);
      used = out_.size() - toLeft;
      if (result != static_cast<std::size_t>(-1)) return true;
      if (errno != E2BIG) return false;
      out_.resize(out_.size() * 2);
    }
  };
  while (!step(false) && inLeft > 0) {
    // EILSEQ or EINVAL: the next byte starts no character (or a cut one). What the
    // converter holds back comes out first, then U+FFFD, and conversion goes on after
    // the byte.
    step(true);
    if (out_.size() - used < kReplacement.size()) out_.resize(out_.size() * 2);
    out_.replace(used, kReplacement.size(), kReplacement);
    used += kReplacement.size();
    const std::string_view rest = bytes.substr(bytes.size() - inLeft + 1);
    in = const_cast<char*>(rest.data());
    inLeft = rest.size();
  }
  step(true);  // the last character some converters hold back, and back to the initial state
  out_.resize(used);
}

std::string_view TextDecoder::Decode(const Text& text, std::optional<std::uint16_t> codePage) {
  if (out_.capacity() > kKeptOutputCapacity) std::string().swap(out_);  // one long string is not kept
  const std::uint16_t page = codePage.value_or(kDefaultCodePage);
  // ASCII is UTF-8 already, in every code page that keeps it: most names and headings.
  if ((text.utf8 || AsciiCompatible(page)) && AllAscii(text.bytes)) return text.bytes;
  if (text.utf8 || page == 65001 || page == 1200) {
    if (IsValidUtf8(text.bytes)) return text.bytes;
    out_.clear();
    AppendUtf8Lossy(out_, text.bytes);
    return out_;
  }
  const iconv_t cd = ConverterFor(page);
  if (cd == kNoConverter) {
    out_.clear();
    for (const char c : text.bytes) {
      if (static_cast<unsigned char>(c) < 0x80) {
        out_.push_back(c);
      } else {
        out_.append(kReplacement);
      }
    }
    return out_;
  }
  Convert(cd, text.bytes);
  // The C library's output is UTF-8; checked all the same, so that no converter can
  // make the output invalid.
  if (IsValidUtf8(out_)) return out_;
  std::string checked;
  AppendUtf8Lossy(checked, out_);
  out_.swap(checked);
  return out_;
}

}  // namespace outline
