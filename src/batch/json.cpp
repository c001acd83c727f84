#include "json.h"

#include <algorithm>
#include <charconv>
#include <array>
#include <cstdint>
#include <cstring>

#include "outline/text.h"

namespace batch {

namespace {

// The bytes a JSON string holds as they are: printable ASCII but for '"' and '\\'.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain = {};
  for (int c = 0x20; c < 0x80; ++c) plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
  return plain;
}();

// Where the run of plain bytes that starts at `at` ends: eight bytes are looked at a
// time, since most text (names, headings, paths) is plain from end to end.
std::size_t PlainUntil(std::string_view text, std::size_t at) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kHighs = 0x8080808080808080u;
  const auto hasZero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  for (; text.size() - at >= 8; at += 8) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + at, 8);
    const std::uint64_t special =
        (w & kHighs) | ((w - 0x20 * kOnes) & ~w & kHighs) | hasZero(w ^ ('"' * kOnes)) | hasZero(w ^ ('\\' * kOnes));
    if (special != 0) break;
  }
  while (at < text.size() && kPlain[static_cast<unsigned char>(text[at])]) ++at;
  return at;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet appended, all plain
  const auto flush = [&](std::size_t at) { out.append(text.substr(run, at - run)); };
  for (std::size_t at = 0; at < text.size();) {
    at = PlainUntil(text, at);
    if (at == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      // A valid sequence is copied as it is; anything else is replaced byte by byte.
      const std::size_t length = outline::Utf8SequenceLength(text, at);
      if (length != 0) {
        at += length;
        continue;
      }
      flush(at);
      out.append("\xEF\xBF\xBD");
      run = ++at;
      continue;
    }
    flush(at);
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\f': out.append("\\f"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      default:
        out.append("\\u00");
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
    run = ++at;
  }
  flush(text.size());
  out.push_back('"');
}

void AppendBase64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - at);
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      group <<= 8;
      if (i < n) group |= static_cast<unsigned char>(bytes[at + i]);
    }
    for (std::size_t i = 0; i < 4; ++i) {
      out.push_back(i <= n ? kAlphabet[(group >> (18 - 6 * i)) & 0x3F] : '=');
    }
  }
}

namespace {

// The proleptic Gregorian date of a day counted from 1970-01-01 (H. Hinnant's
// days-to-civil): exact for every day an int64 of seconds can name.
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;  // from 0000-03-01
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;  // months from March
  day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  month = shifted < 10 ? shifted + 3 : shifted - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Writes `value` as `width` decimal digits ending just before `end`.
void PutDigits(char* end, unsigned value, int width) {
  for (int i = 0; i < width; ++i, value /= 10) *--end = static_cast<char>('0' + value % 10);
}

}  // namespace

void AppendRfc3339(std::string& out, const outline::FileTime& time) {
  std::int64_t days = time.seconds / 86400;
  std::int64_t second = time.seconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, year, month, day);
  if (year < 0 || year > 9999) {
    out.append("1970-01-01T00:00:00");  // a time RFC 3339 cannot write; never from a real file system
  } else {
    char text[] = "YYYY-MM-DDThh:mm:ss";
    PutDigits(text + 4, static_cast<unsigned>(year), 4);
    PutDigits(text + 7, month, 2);
    PutDigits(text + 10, day, 2);
    PutDigits(text + 13, static_cast<unsigned>(second / 3600), 2);
    PutDigits(text + 16, static_cast<unsigned>(second / 60 % 60), 2);
    PutDigits(text + 19, static_cast<unsigned>(second % 60), 2);
    out.append(text, sizeof text - 1);
  }
  if (time.nanoseconds != 0 && time.nanoseconds < 1'000'000'000) {
    // The digits the file system keeps: nanoseconds, less their trailing zeros.
    char fraction[10] = {'.'};
    PutDigits(fraction + 10, time.nanoseconds, 9);
    std::size_t length = 10;
    while (fraction[length - 1] == '0') --length;
    out.append(fraction, length);
  }
  out.push_back('Z');
}

namespace {

// Appends an integer in decimal, without the allocation std::to_string makes.
template <typename Integer>
void AppendNumber(std::string& out, Integer value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// Everything after the path: from ",\"status\"" to the end of the line.
void AppendRecordFields(std::string& out, const Record& record) {
  out.append(",\"status\":\"");
  out.append(StatusWord(record.status));
  out.push_back('"');
  if (!record.detail.empty()) {
    out.append(",\"detail\":");
    AppendJsonString(out, record.detail);
  }
  out.append(",\"container\":");
  out.append(record.container == readers::Container::kCompoundFile ? "\"compound-file\""
             : record.container == readers::Container::kZip        ? "\"zip\""
                                                                   : "null");
  out.append(",\"codepage\":");
  if (record.codePage) {
    AppendNumber(out, *record.codePage);
  } else {
    out.append("null");
  }
  if (record.size) {
    out.append(",\"size\":");
    AppendNumber(out, *record.size);
  }
  if (record.mtime) {
    out.append(",\"mtime\":\"");
    AppendRfc3339(out, *record.mtime);
    out.push_back('"');
  }
  if (record.hasHeadings) {
    out.append(",\"headings\":[");
    for (std::size_t i = 0; i < record.headings.size(); ++i) {
      if (i != 0) out.push_back(',');
      out.append("{\"heading\":");
      AppendJsonString(out, record.TextOf(record.headings[i].text));
      out.append(",\"count\":");
      AppendNumber(out, record.headings[i].count);
      out.push_back('}');
    }
    out.push_back(']');
  }
  if (record.hasParts) {
    out.append(",\"parts\":[");
    for (std::size_t i = 0; i < record.parts.size(); ++i) {
      if (i != 0) out.push_back(',');
      AppendJsonString(out, record.TextOf(record.parts[i]));
    }
    out.push_back(']');
  }
  out.append("}\n");
}

}  // namespace

void FormatRecord(std::string& out, std::string_view path, const Record& record) {
  out.append("{\"path\":");
  AppendJsonString(out, path);
  if (!outline::IsValidUtf8(path)) {
    out.append(",\"path_base64\":\"");
    AppendBase64(out, path);
    out.push_back('"');
  }
  AppendRecordFields(out, record);
}

void FormatRecord(std::string& out, const Record& record) {
  out.append("{\"path\":null");
  AppendRecordFields(out, record);
}

}  // namespace batch
