// Text to UTF-8 and the JSON writer, checked through a real JSON parser.
#include <gtest/gtest.h>
#include <iconv.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "json.h"
#include "outline/text.h"

namespace batch {
namespace {

using outline::AppendUtf8Lossy;
using outline::FileTime;
using outline::IconvName;
using outline::Text;
using outline::TextDecoder;

std::string AllBytesFrom(int first) {
  std::string s;
  for (int b = first; b < 256; ++b) s.push_back(static_cast<char>(b));
  return s;
}

TEST(TextDecoder, ConvertsEachCodePageAndReplacesWhatDoesNotConvert) {
  struct Case {
    std::optional<std::uint16_t> codePage;
    std::string stored;
    bool utf8;
    std::string expected;
  };
  const Case cases[] = {
      {1252, "Q3 \x80 caf\xE9", false, "Q3 \u20AC caf\u00E9"},
      {std::nullopt, "\x80\x81", false, "\u20AC\uFFFD"},  // no code page: 1252, where 0x81 is unassigned
      {932, "\x93\xFA\x96\x7B", false, "\u65E5\u672C"},
      {932, "A\x93", false, "A\uFFFD"},  // a lead byte cut at the end of the string
      {10000, "\x80\xA5", false, "\u00C4\u2022"},
      {10002, "\xA4\x75\xA7\x40\xAA\xED", false, "\u5DE5\u4F5C\u8868"},  // a Mac Traditional Chinese sheet name
      {1251, "\xCF\xF0\xE8", false, "\u041F\u0440\u0438"},
      {1258, "a", false, "a"},           // 1258 holds back a base letter until the string is flushed
      {1258, "a\xCC", false, "\u00E0"},  // ... to compose it with a following accent
      {65001, "ok \xC3\xA9 \xC0\x80 \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82", false,
       "ok \u00E9 \uFFFD\uFFFD \uFFFD\uFFFD\uFFFD \uFFFD\uFFFD\uFFFD\uFFFD \uFFFD\uFFFD"},
      {1200, "\xC3\xA9", true, "\u00E9"},  // the readers' UTF-8, checked only
      {1252, "\xC3\xA9", true, "\u00E9"},  // a wide string in any section
      {1, "abc\x80", false, "abc\uFFFD"},  // a code page the C library cannot open
      {0, "abc\xFF", false, "abc\uFFFD"},
  };
  TextDecoder decoder;
  for (const Case& c : cases) {
    EXPECT_EQ(decoder.Decode(Text{c.stored, c.utf8}, c.codePage), c.expected)
        << "code page " << c.codePage.value_or(0) << ", bytes " << c.stored;
  }
}

TEST(TextDecoder, AsciiNeedsNoConversionWhereTheCodePageKeepsIt) {
  // The decoder passes ASCII strings through unconverted in these code pages: the C
  // library must agree byte for byte. In ISO-2022 and EBCDIC code pages it must not.
  std::string ascii;
  for (int b = 1; b < 0x80; ++b) ascii.push_back(static_cast<char>(b));
  TextDecoder decoder;
  for (const int page :
       {874,   932,   936,   949,   950,   1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  10000,
        10001, 10002, 10003, 10004, 10005, 10006, 10007, 10008, 10029, 10079, 10081, 28591, 28592, 28605}) {
    const iconv_t cd = iconv_open("UTF-8", IconvName(static_cast<std::uint16_t>(page)).c_str());
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << page;
    std::string converted(ascii.size() * 4, '\0');
    std::string in = ascii;
    char* from = in.data();
    char* to = converted.data();
    std::size_t fromLeft = in.size(), toLeft = converted.size();
    ASSERT_NE(iconv(cd, &from, &fromLeft, &to, &toLeft), static_cast<std::size_t>(-1)) << page;
    ASSERT_NE(iconv(cd, nullptr, nullptr, &to, &toLeft), static_cast<std::size_t>(-1)) << page;
    iconv_close(cd);
    converted.resize(converted.size() - toLeft);
    EXPECT_EQ(decoder.Decode(Text{ascii, false}, static_cast<std::uint16_t>(page)), converted) << page;
  }
  EXPECT_EQ(decoder.Decode(Text{"\x1B$B$\"\x1B(B", false}, 50220), "\u3042");
  EXPECT_EQ(decoder.Decode(Text{"\xC1", false}, 37), "A");
}

TEST(Json, EveryByteValueRoundTripsThroughAParser) {
  TextDecoder decoder;
  for (const std::optional<std::uint16_t> page :
       {std::optional<std::uint16_t>{}, std::optional<std::uint16_t>{932}, std::optional<std::uint16_t>{65001},
        std::optional<std::uint16_t>{10000}, std::optional<std::uint16_t>{7}}) {
    Record record;
    record.codePage = page;
    record.status = Status::kDamaged;
    record.detail = "parts: count does not fit";
    record.hasHeadings = true;
    const std::string all = AllBytesFrom(1);
    const std::string decoded(decoder.Decode(Text{all, false}, page));
    record.AddHeading(decoded, -7);
    record.hasParts = true;
    record.AddPart(decoded);
    record.AddPart("");
    std::string line;
    FormatRecord(line, "plain/\"quoted\"\\path\t.xls", record);
    ASSERT_EQ(line.back(), '\n');
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one record, one line";
    const nlohmann::json json = nlohmann::json::parse(line);
    EXPECT_EQ(json["path"], "plain/\"quoted\"\\path\t.xls");
    EXPECT_FALSE(json.contains("path_base64"));
    EXPECT_EQ(json["status"], "damaged");
    EXPECT_EQ(json["detail"], "parts: count does not fit");
    EXPECT_EQ(json["codepage"], page ? nlohmann::json(*page) : nlohmann::json(nullptr));
    EXPECT_EQ(json["headings"][0]["heading"], decoded);
    EXPECT_EQ(json["headings"][0]["count"], -7);
    EXPECT_EQ(json["parts"], nlohmann::json::array({decoded, ""}));
  }
}

TEST(Json, TimesAreRfc3339InUtcWithTheFileSystemsDigits) {
  const std::pair<FileTime, const char*> cases[] = {
      {{0, 0}, "1970-01-01T00:00:00Z"},
      {{1796802099, 123456789}, "2026-12-09T07:41:39.123456789Z"},
      {{1796802099, 500000000}, "2026-12-09T07:41:39.5Z"},
      {{-1, 1000}, "1969-12-31T23:59:59.000001Z"},
      {{951782400, 0}, "2000-02-29T00:00:00Z"},
      {{253402300799, 999999999}, "9999-12-31T23:59:59.999999999Z"},
  };
  for (const auto& [time, text] : cases) {
    std::string out;
    AppendRfc3339(out, time);
    EXPECT_EQ(out, text);
  }
}

TEST(Json, APathThatIsNotUtf8KeepsItsBytesInBase64) {
  Record record;
  record.status = Status::kNotFound;
  const std::string path = std::string("dir/") + '\0' + AllBytesFrom(1);
  std::string line;
  FormatRecord(line, path, record);
  const nlohmann::json json = nlohmann::json::parse(line);
  std::string shown;
  AppendUtf8Lossy(shown, path);
  EXPECT_EQ(json["path"], shown);
  EXPECT_EQ(json["status"], "not-found");
  EXPECT_FALSE(json.contains("detail"));
  EXPECT_FALSE(json.contains("headings"));
  EXPECT_FALSE(json.contains("parts"));
  // Decoded here by hand, so that the check does not lean on the writer's own alphabet.
  const std::string b64 = json["path_base64"];
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : b64) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<std::uint32_t>(alphabet.find(c));
    if ((held += 6) >= 8) bytes.push_back(static_cast<char>((bits >> (held -= 8)) & 0xFF));
  }
  EXPECT_EQ(b64.size() % 4, 0u);
  EXPECT_EQ(bytes, path);
}

TEST(Json, ARecordWithoutAPathHasANullPathAndTheSameFields) {
  Record record;
  record.status = Status::kOk;
  record.container = readers::Container::kZip;
  record.size = 42;
  record.mtime = FileTime{1796802099, 5};
  record.hasHeadings = true;
  record.AddHeading("Worksheets", 1);
  record.hasParts = true;
  record.AddPart("Summary");
  std::string withPath;
  FormatRecord(withPath, "a\xFF.xlsx", record);
  std::string without;
  FormatRecord(without, record);
  nlohmann::json expected = nlohmann::json::parse(withPath);
  expected.erase("path_base64");
  expected["path"] = nullptr;
  EXPECT_EQ(nlohmann::json::parse(without), expected);
  EXPECT_EQ(without.rfind("{\"path\":null,\"status\":", 0), 0u) << without;
}

}  // namespace
}  // namespace batch
