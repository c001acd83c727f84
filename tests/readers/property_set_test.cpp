// The property-set reader on damaged and unusual streams: headers and tables that lie,
// counts that cannot fit, the string layouts real writers use, and code pages.
#include "readers/cfb/property_set.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "doc_writer.h"
#include "readers/limits.h"
#include "readers/utf16.h"
#include "scan_harness.h"

namespace readers::propset {
namespace {

using testdoc::Bytes;
using testdoc::PropertySet;
using testdoc::PutU32;
using testdoc::StrLayout;

std::string Join(std::vector<std::string> items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ", ") + item;
  return "[" + out + "]";
}

// A value as text: strings quoted (wide ones converted to UTF-8), numbers by type.
std::string Describe(const PROPVARIANT& v) {
  std::vector<std::string> items;
  switch (v.vt) {
    case VT_EMPTY: return "empty";
    case VT_I2: return "i2 " + std::to_string(v.iVal);
    case VT_I4: return "i4 " + std::to_string(v.lVal);
    case VT_LPSTR: return "'" + std::string(v.pszVal) + "'";
    case VT_LPWSTR: return "w'" + Utf16ToUtf8(WideStringUnits(v.pwszVal)) + "'";
    case VT_VECTOR | VT_LPSTR:
      for (std::uint32_t i = 0; i < v.calpstr.cElems; ++i)
        items.push_back("'" + std::string(v.calpstr.pElems[i]) + "'");
      return "lpstr" + Join(items);
    case VT_VECTOR | VT_LPWSTR:
      for (std::uint32_t i = 0; i < v.calpwstr.cElems; ++i)
        items.push_back("w'" + Utf16ToUtf8(WideStringUnits(v.calpwstr.pElems[i])) + "'");
      return "lpwstr" + Join(items);
    case VT_VECTOR | VT_VARIANT:
      for (std::uint32_t i = 0; i < v.capropvar.cElems; ++i) items.push_back(Describe(v.capropvar.pElems[i]));
      return "variant" + Join(items);
    default: return "type " + std::to_string(v.vt);
  }
}

// Property `id` of the document-summary section, as text: the value, "absent", or why
// the value or the section could not be read.
std::string Read(std::span<const std::uint8_t> stream, PROPID id, const FMTID& fmtid = FMTID_DocSummaryInformation) {
  Section section;
  if (const Fault fault = FindSection(stream, fmtid, section); !fault.ok()) return Describe(fault);
  PROPVARIANT v;
  PropVariantInit(&v);
  const Fault fault = ReadProperty(section, id, v);
  std::string text = fault.ok() ? Describe(v) : fault.defect == Defect::kNotPresent ? "absent" : Describe(fault);
  if (!fault.ok() && v.vt != VT_EMPTY) text += " (value left behind)";
  ClearValue(v);
  return text;
}

// Code page, heading pairs and document parts, as "1: ... | 12: ... | 13: ...".
std::string Outline(std::span<const std::uint8_t> stream) {
  return "1: " + Read(stream, 1) + " | 12: " + Read(stream, 12) + " | 13: " + Read(stream, 13);
}

const std::string kIntact = "1: i2 1252 | 12: variant['Sheets', i4 2] | 13: lpstr['a', 'b']";
std::string Each(const std::string& text) { return "1: " + text + " | 12: " + text + " | 13: " + text; }

TEST(PropertySet, HeadersAndTablesThatLie) {
  struct Case {
    const char* what;
    std::function<void(PropertySet&)> damage;
    std::string expected;
  };
  const auto sectionField = [](std::size_t at, std::uint32_t v) {
    return [at, v](PropertySet& p) { PutU32(p.bytes, p.sections[0].start + at, v); };
  };
  const auto offsetOf = [](std::uint32_t id, std::function<std::uint32_t(const PropertySet&)> v) {
    return [id, v](PropertySet& p) {
      for (const testdoc::PropLoc& loc : p.sections[0].props)
        if (loc.id == id) PutU32(p.bytes, loc.tableEntry + 4, v(p));
    };
  };
  const auto idOf = [](std::uint32_t id, std::uint32_t newId) {
    return [id, newId](PropertySet& p) {
      for (const testdoc::PropLoc& loc : p.sections[0].props)
        if (loc.id == id) PutU32(p.bytes, loc.tableEntry, newId);
    };
  };
  const auto sectionSize = [](const PropertySet& p) { return static_cast<std::uint32_t>(p.sections[0].size); };
  const std::vector<Case> cases = {
      {"intact", [](PropertySet&) {}, kIntact},
      {"byte order 0xFEFF", [](PropertySet& p) { testdoc::PutU16(p.bytes, 0, 0xFEFF); },
       Each("property set: no byte-order mark")},
      {"shorter than a stream header", [](PropertySet& p) { p.bytes.resize(27); },
       Each("property set: runs past its end")},
      {"section count 0", [](PropertySet& p) { PutU32(p.bytes, 24, 0); }, Each("property set: no such section")},
      {"section count 0xFFFFFFFF", [](PropertySet& p) { PutU32(p.bytes, 24, 0xFFFFFFFF); }, kIntact},
      {"section offset past the stream",
       [](PropertySet& p) {
         PutU32(p.bytes, p.sections[0].headerEntry + 16, static_cast<std::uint32_t>(p.bytes.size() + 8));
       },
       Each("section: table does not fit")},
      {"section offset 0xFFFFFFFF", [](PropertySet& p) { PutU32(p.bytes, p.sections[0].headerEntry + 16, 0xFFFFFFFF); },
       Each("section: table does not fit")},
      {"property count 0xFFFFFFFF", sectionField(4, 0xFFFFFFFF), Each("section: table does not fit")},
      {"section size larger than the stream", sectionField(0, 0xFFFFFFFF), kIntact},
      {"section size 0", sectionField(0, 0), Each("section: table does not fit")},
      {"section ends inside the document parts",
       [](PropertySet& p) {
         PutU32(p.bytes, p.sections[0].start,
                static_cast<std::uint32_t>(p.ValueOffset(0, 13) + 10 - p.sections[0].start));
       },
       "1: i2 1252 | 12: variant['Sheets', i4 2] | 13: value: count does not fit"},
      {"heading pairs offset past the section", offsetOf(12, [&](const PropertySet& p) { return sectionSize(p) + 16; }),
       "1: i2 1252 | 12: value: runs past its end | 13: lpstr['a', 'b']"},
      {"heading pairs offset at the section end", offsetOf(12, sectionSize),
       "1: i2 1252 | 12: value: runs past its end | 13: lpstr['a', 'b']"},
      {"heading pairs offset 0xFFFFFFFF", offsetOf(12, [](const PropertySet&) { return 0xFFFFFFFFu; }),
       "1: i2 1252 | 12: value: runs past its end | 13: lpstr['a', 'b']"},
      {"duplicate id 12: the first entry counts", idOf(13, 12),
       "1: i2 1252 | 12: variant['Sheets', i4 2] | 13: absent"},
      {"duplicate id 13: the first entry counts", idOf(12, 13),
       "1: i2 1252 | 12: absent | 13: variant['Sheets', i4 2]"},
  };
  for (const Case& c : cases) {
    testdoc::DocSummaryOptions o;
    PropertySet p = testdoc::BuildDocSummary({{"Sheets", 2}}, {"a", "b"}, o);
    c.damage(p);
    EXPECT_EQ(Outline(p.bytes), c.expected) << c.what;
  }
}

Bytes Utf16Le(std::u16string_view s) {
  Bytes b;
  for (const char16_t u : s) {
    b.push_back(static_cast<std::uint8_t>(u));
    b.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return b;
}
Bytes Cat(std::vector<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes U32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24)};
}
Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A section with a code page, `value` as property 12 and a small document-parts vector
// as property 13, which must read whatever property 12 holds.
Bytes SectionWith(std::uint16_t codePage, const Bytes& value) {
  testdoc::Section s{testdoc::kFmtidDocSummary, {}};
  s.props.emplace_back(1, testdoc::I2(static_cast<std::int16_t>(codePage)));
  s.props.emplace_back(12, value);
  s.props.emplace_back(13, testdoc::VectorLpstr({"p"}));
  return testdoc::PropertySetStream({s});
}

TEST(PropertySet, Values) {
  using namespace testdoc;
  const std::string kCountDoesNotFit = "value: count does not fit";
  const Bytes byteCounted = VectorVariant(
      {ElemRaw(kVtLpstr, Cat({U32(5), Text({"a\0b\0\0???", 8})})), ElemRaw(8, Cat({U32(3), Text({"x\0y?", 4})})),
       ElemRaw(65, Cat({U32(1), Text("\1???")})), ElemRaw(70, Cat({U32(5), Text("12345???")})),
       ElemRaw(71, Cat({U32(7), Text("1234567?")})), ElemI4(7)});
  const std::string x255(255, 'x');
  const Bytes variantOfVector =
      VectorVariant({ElemLpstr("x"), ElemRaw(kVtVector | kVtLpstr, Cat({U32(1), U32(2), Text({"y\0", 2})}))});
  struct Case {
    const char* what;
    std::uint16_t codePage;
    Bytes value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"padded strings in heading pairs", 1252, HeadingPairs({{"Sheets", 2}, {"Charts", 1}}, StrLayout::Padded),
       "variant['Sheets', i4 2, 'Charts', i4 1]"},
      {"unpadded strings in heading pairs", 1252, HeadingPairs({{"Sheets", 2}, {"Charts", 1}}, StrLayout::Unpadded),
       "variant['Sheets', i4 2, 'Charts', i4 1]"},
      {"padded string vector", 1252, VectorLpstr({"ab", "c", "def", ""}, StrLayout::Padded),
       "lpstr['ab', 'c', 'def', '']"},
      {"unpadded string vector", 1252, VectorLpstr({"ab", "c", "def", ""}, StrLayout::Unpadded),
       "lpstr['ab', 'c', 'def', '']"},
      {"unpadded empty names", 1252, VectorLpstr({"", "", "x"}), "lpstr['', '', 'x']"},
      {"unpadded, next count with a zero low byte", 1252, VectorLpstr({"ab", x255, "c"}),
       "lpstr['ab', '" + x255 + "', 'c']"},
      {"count padded with garbage after the NUL", 1252,
       VectorVariant({ElemLpstr("Page-1", StrLayout::CountPadded, "0"), ElemI4(3)}), "variant['Page-1', i4 3]"},
      {"count padded string vector", 1252, VectorLpstr({"Page-1", "x"}, StrLayout::CountPadded, {}, "0"),
       "lpstr['Page-1', 'x']"},
      {"vector count 0x7FFFFFFF", 1252, VectorLpstr({"a"}, StrLayout::Unpadded, 0x7FFFFFFF), kCountDoesNotFit},
      {"variant vector count 0x7FFFFFFF", 1252, VectorVariant({ElemI4(1)}, 0x7FFFFFFF), kCountDoesNotFit},
      {"wide vector count 0xFFFFFFFF", 1252, VectorLpwstr({u"a"}, 0xFFFFFFFF), kCountDoesNotFit},
      {"one element more than stored", 1252, VectorLpstr({"a", "b"}, StrLayout::Unpadded, 3), kCountDoesNotFit},
      {"string count 0xFFFFFFFF", 1252, ElemRaw(kVtLpstr, Cat({U32(0xFFFFFFFF), Text("a")})), kCountDoesNotFit},
      {"string count 0xFFFFFFFF in a vector", 1252,
       ElemRaw(kVtVector | kVtLpstr, Cat({U32(1), U32(0xFFFFFFFF), Text("abc")})), kCountDoesNotFit},
      {"wide string count 0x80000000", 1252, ElemRaw(kVtLpwstr, Cat({U32(0x80000000), Text("a\0b\0")})),
       kCountDoesNotFit},
      {"vector of variants holding a vector", 1252, variantOfVector, "value: nested vector"},
      {"vector of a type not allowed", 1252, ElemRaw(kVtVector | kVtI4, Cat({U32(1), U32(7)})), "value: unknown type"},
      {"type not known", 1252, ElemRaw(0x0049, Cat({U32(1)})), "value: unknown type"},
      {"element type not known", 1252, VectorVariant({ElemI4(1), ElemRaw(0x0049, {})}), "value: unknown type"},
      // Code page 1200: narrow strings are stored as UTF-16LE and byte-counted.
      {"narrow string in a 1200 section", 1200, ElemRaw(kVtLpstr, Cat({U32(12), Utf16Le(u"Gr\u00FC\u00DFe"), {0, 0}})),
       "'Gr\303\274\303\237e'"},  // UTF-8
      // UTF-16 data is always padded to 4 bytes, whatever the padding holds.
      {"narrow vector in a 1200 section", 1200,
       ElemRaw(kVtVector | kVtLpstr,
               Cat({U32(2), U32(6), Utf16Le(u"ab"), {0, 0, '?', '?'}, U32(4), Utf16Le(u"c"), {0, 0}})),
       "lpstr['ab', 'c']"},
      {"wide vector with garbage padding", 1252,
       ElemRaw(kVtVector | kVtLpwstr,
               Cat({U32(2), U32(3), Utf16Le(u"ab"), {0, 0, '?', '?'}, U32(2), Utf16Le(u"c"), {0, 0}})),
       "lpwstr[w'ab', w'c']"},
      {"the same bytes in a 1252 section stay bytes", 1252, ElemRaw(kVtLpstr, Cat({U32(5), Text("Gr\374\337e")})),
       "'Gr\374\337e'"},
      {"wide vector", 1200, VectorLpwstr({u"Sheet1", u"\u00DC"}), "lpwstr[w'Sheet1', w'\303\234']"},
      // Every byte-counted element of a 1200 section is padded to 4, whatever the padding
      // holds; elsewhere non-zero padding means the data was not padded.
      {"odd counts and non-zero padding in a 1200 section", 1200, byteCounted,
       "variant['ab', type 8, type 65, type 70, type 71, i4 7]"},
      {"the same elements in a 1252 section", 1252, byteCounted, "value: unknown type"},
  };
  for (const Case& c : cases) {
    const Bytes stream = SectionWith(c.codePage, c.value);
    EXPECT_EQ(Read(stream, 12), c.expected) << c.what;
    EXPECT_EQ(Read(stream, 13), "lpstr['p']") << c.what;
  }
}

TEST(PropertySet, CodePageIsReadUnsigned) {
  for (const std::uint16_t codePage : std::initializer_list<std::uint16_t>{1200, 1252, 65001, 0xFFFF}) {
    const Bytes stream = SectionWith(codePage, testdoc::I4(0));
    Section section;
    ASSERT_EQ(FindSection(stream, FMTID_DocSummaryInformation, section), kOk);
    EXPECT_EQ(section.codePage, codePage);
  }
}

TEST(PropertySet, SectionsAreMatchedByFormatIdentifier) {
  using testdoc::Section;
  const auto dsi = [](const std::string& part) {
    Section s{testdoc::kFmtidDocSummary, {}};
    s.props.emplace_back(1, testdoc::I2(1252));
    s.props.emplace_back(12, testdoc::HeadingPairs({{"Group", 1}}));
    s.props.emplace_back(13, testdoc::DocParts({part}));
    return s;
  };
  Section user{testdoc::kFmtidUserDefined, {}};
  user.props.emplace_back(1, testdoc::I2(1252));
  user.props.emplace_back(12, testdoc::Lpstr("not the heading pairs"));
  struct Case {
    const char* what;
    std::vector<Section> sections;
    std::string listing;
  };
  const std::vector<Case> cases = {
      {"only the user-defined section", {user}, ""},
      {"the summary section second", {user, dsi("second")}, "Group\r\n\tsecond\r\n"},
      {"two summary sections: the first counts", {dsi("first"), dsi("again")}, "Group\r\n\tfirst\r\n"},
  };
  for (const Case& c : cases) {
    const Bytes stream = testdoc::PropertySetStream(c.sections);
    const testdoc::Built doc = testdoc::BuildCompoundFile({testdoc::StreamOf(testdoc::kDocSummaryName, stream)});
    EXPECT_EQ(scantest::ReportOf(doc.bytes), c.listing) << c.what;
  }
  EXPECT_EQ(Read(testdoc::PropertySetStream({user}), 12, FMTID_UserDefinedProperties), "'not the heading pairs'");
}

}  // namespace
}  // namespace readers::propset

namespace readers::propset {
namespace {

TEST(PropertySet, EntriesAtOneOffsetShareOneDecodedValue) {
  // Every property the scan asks for points at one stored vector: each reads it as it
  // would alone, and the six records share the one block it was decoded into.
  std::vector<testdoc::Group> groups(40, {"Sheets", 1});
  testdoc::Section section{testdoc::kFmtidDocSummary, {}};
  section.props.emplace_back(12, testdoc::HeadingPairs(groups));
  for (const std::uint32_t id : {1u, 2u, 13u, 14u, 15u}) section.props.emplace_back(id, testdoc::I4(0));
  PropertySet set = testdoc::BuildPropertySet({section});
  const std::uint32_t shared = static_cast<std::uint32_t>(set.ValueOffset(0, 12) - set.sections[0].start);
  for (const testdoc::PropLoc& p : set.sections[0].props) PutU32(set.bytes, p.tableEntry + 4, shared);

  Section s;
  ASSERT_EQ(FindSection(set.bytes, FMTID_DocSummaryInformation, s), kOk);
  PROPVARIANT alone;
  PropVariantInit(&alone);
  ASSERT_EQ(ReadProperty(s, 12, alone), kOk);
  const PROPID ids[6] = {14, 15, 2, 12, 13, 1};
  PROPVARIANT values[6];
  Fault faults[6];
  ReadProperties(s, ids, values, faults);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(faults[i], kOk) << i;
    EXPECT_EQ(Describe(values[i]), Describe(alone)) << i;
    EXPECT_EQ(values[i].capropvar.pElems, values[0].capropvar.pElems) << i;
  }
  ClearValues(values);  // the sanitizers see the block freed once, by the last
  ClearValue(alone);
}

TEST(PropertySet, StreamsUpToTwoMebibytesAreRead) {
  // A summary stream of exactly the largest size read, and one byte more: the section
  // at its start, zeros after it.
  for (const std::uint64_t size : {limits::kMaxPropertyStreamBytes, limits::kMaxPropertyStreamBytes + 1}) {
    testdoc::Entry summary =
        testdoc::StreamOf(testdoc::kDocSummaryName, testdoc::DocSummaryStream({{"Parts", 1}}, {"first"}));
    summary.fillerSize = size;
    const testdoc::Built doc = testdoc::BuildCompoundFile({summary});
    EXPECT_EQ(scantest::ReportOf(doc.bytes), size == limits::kMaxPropertyStreamBytes ? "Parts\r\n\tfirst\r\n" : "")
        << size;
  }
}

}  // namespace
}  // namespace readers::propset
