// The package reader on crafted packages: which check fires in the zip, the
// relationships and the extended properties, and how the outline's elements read.
#include "readers/ooxml/package.h"

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fault_print.h"
#include "readers/limits.h"
#include "readers/outline.h"
#include "zip_writer.h"

namespace readers::ooxml {
namespace {

using D = Defect;
using S = Structure;
using testdoc::Bytes;
using testdoc::PackageItems;
using testdoc::PropertiesXml;
using testdoc::Relationship;
using testdoc::ZipItem;
using Items = std::vector<ZipItem>;

// The outline as text: "Heading=count,..|part,..", "-" for a vector not read.
std::string Render(const PROPVARIANT& pairs, const PROPVARIANT& titles) {
  std::string text;
  if (pairs.vt == VT_EMPTY) text += "-";
  const std::span<const PROPVARIANT> elements(pairs.capropvar.pElems,
                                              pairs.vt == VT_EMPTY ? 0 : pairs.capropvar.cElems);
  for (std::size_t k = 0; 2 * k < elements.size(); ++k) {
    if (k > 0) text += ",";
    AppendHeadingText(elements, k, text);
    text.append("=").append(std::to_string(GroupCountAt(elements, k)));
  }
  text += "|";
  if (titles.vt == VT_EMPTY) return text + "-";
  for (std::uint32_t i = 0; i < titles.calpstr.cElems; ++i)
    text.append(i > 0 ? "," : "").append(titles.calpstr.pElems[i]);
  return text;
}

struct Outcome {
  Fault fault;
  std::string outline;
};

// Reads `bytes` with `package`, a reader that may have read others before.
Outcome Read(const Bytes& bytes, Package& package) {
  MemorySource source(bytes);
  PROPVARIANT pairs, titles;
  PropVariantInit(&pairs);
  PropVariantInit(&titles);
  Outcome o{ReadPackageOutline(source, package, pairs, titles), ""};
  o.outline = Render(pairs, titles);
  ClearValue(pairs);
  ClearValue(titles);
  return o;
}

Outcome Read(const Bytes& bytes) {
  Package package;
  return Read(bytes, package);
}

const std::string kOutline =
    testdoc::OutlineXml({{"Worksheets", 2}, {"Named Ranges", 1}}, {"Sheet1", "Sheet2", "Print_Area"});
const std::string kListed = "Worksheets=2,Named Ranges=1|Sheet1,Sheet2,Print_Area";
const std::string kVt = "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";

Items Package(const std::string& content = kOutline) { return PackageItems(PropertiesXml(content)); }
Items With(Items items, const std::function<void(Items&)>& change) {
  change(items);
  return items;
}
Items WithApp(const std::function<void(ZipItem&)>& change) {
  return With(Package(), [&](Items& items) { change(items[2]); });
}
std::string Variants(const std::string& elements) {
  return "<HeadingPairs><vt:vector baseType=\"variant\">" + elements + "</vt:vector></HeadingPairs>";
}
std::string Titles(const std::string& elements) {
  return "<TitlesOfParts><vt:vector baseType=\"lpstr\">" + elements + "</vt:vector></TitlesOfParts>";
}

TEST(Package, ReadsTheOutlineByTheRulesAndSaysWhichCheckFired) {
  struct Case {
    const char* what;
    Bytes bytes;
    Fault fault;
    std::string outline;  // when the read succeeds
  };
  const std::string strict =
      "<Properties xmlns=\"http://purl.oclc.org/ooxml/officeDocument/extendedProperties\" "
      "xmlns:vt=\"http://purl.oclc.org/ooxml/officeDocument/docPropsVTypes\">" +
      kOutline + "</Properties>";
  const std::string prefixed =
      "<ep:Properties xmlns:ep=\"http://schemas.openxmlformats.org/officeDocument/2006/"
      "extended-properties\" xmlns:ns0=\"" +
      kVt +
      "\"><ep:TitlesOfParts><ns0:vector>"
      "<ns0:lpstr>A</ns0:lpstr></ns0:vector></ep:TitlesOfParts><ep:HeadingPairs><ns0:vector>"
      "<ns0:variant><ns0:lpstr>H</ns0:lpstr></ns0:variant></ns0:vector></ep:HeadingPairs>"
      "</ep:Properties>";
  std::string utf16 = "\xFF\xFE";
  const std::string declaredUtf16 = PropertiesXml(kOutline).replace(30, 5, "UTF-16");
  for (const char c : declaredUtf16) utf16 += std::string{c, '\0'};
  const std::string bomb = PropertiesXml("<Company>" + std::string(17u << 20, 'x') + "</Company>");
  const std::string laughs =
      "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 "
      "\"&lol;&lol;&lol;\">]><Properties>&lol2;</Properties>";
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  std::string limit;  // an outline of exactly the most elements read
  for (std::size_t i = 0; i < limits::kMaxOutlineElements; ++i) limit += "<vt:lpstr/>";
  // A fake end record in the comment, whose own comment does not reach the file's end.
  const std::string fakeEnd = std::string("PK\5\6", 4) + std::string(18, '\0') + "the end";
  // Entries before the target whose records fill the directory window but for the
  // target's fixed fields: the target's name lies past the window's edge.
  constexpr std::size_t kFillers = 834, kFillerName = 111;  // 65 + 57 + 834 * (46 + 111) = 131060
  static_assert(65 + 57 + kFillers * (46 + kFillerName) + 46 < limits::kZipWindowBytes &&
                65 + 57 + kFillers * (46 + kFillerName) + 46 + 16 > limits::kZipWindowBytes);
  const std::vector<Case> cases = {
      // The zip.
      {"deflated", testdoc::BuildZip(Package()), kOk, kListed},
      {"stored",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                for (ZipItem& z : i) z.method = 0;
                              })),
       kOk, kListed},
      {"data descriptors",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                for (ZipItem& z : i) z.descriptor = true;
                              })),
       kOk, kListed},
      {"ZIP64 records and extra fields",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                for (ZipItem& z : i) z.zip64 = true;
                              }),
                         {"", true}),
       kOk, kListed},
      {"the longest comment", testdoc::BuildZip(Package(), {std::string(65535, 'c'), false}), kOk, kListed},
      {"a comment holding an end record", testdoc::BuildZip(Package(), {fakeEnd, false}), kOk, kListed},
      {"a directory larger than the window, the target across its edge",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                for (std::size_t k = 0; k < kFillers; ++k) {
                                  std::string name = "filler/" + std::to_string(k);
                                  i.insert(i.begin() + 2, ZipItem(name + std::string(kFillerName - name.size(), 'f'), "",
                                                                  0));
                                }
                              })),
       kOk, kListed},
      {"names in other case",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                i[1].name = "_RELS/.Rels";
                                i[2].name = "DOCPROPS/App.XML";
                              })),
       kOk, kListed},
      {"duplicate names: the first counts",
       testdoc::BuildZip(With(Package(),
                              [](Items& i) {
                                i.push_back(i[2]);
                                i.back().data = PropertiesXml("");
                              })),
       kOk, kListed},
      {"cut before its end record",
       [] {
         Bytes b = testdoc::BuildZip(Package());
         b.resize(b.size() - 30);
         return b;
       }(),
       Bad(D::kMissing, S::kZipEnd), ""},
      {"directory past the end",
       [] {
         Bytes b = testdoc::BuildZip(Package());
         testdoc::PutU32(b, b.size() - 6, 0x7FFFFFF0);
         return b;
       }(),
       Bad(D::kOutOfRange, S::kZipDirectory), ""},
      {"no package relationships", testdoc::BuildZip({{"mimetype", "application/vnd.oasis.opendocument.text", 0}}),
       Bad(D::kNotPackage, S::kRelationships), ""},
      {"bad CRC-32", testdoc::BuildZip(With(Package(), [](Items& i) { i[1].crc = 1; })),
       Bad(D::kBadChecksum, S::kRelationships), ""},
      {"bzip2", testdoc::BuildZip(WithApp([](ZipItem& z) { z.method = 12; })),
       Bad(D::kUnsupportedMethod, S::kProperties), ""},
      {"encrypted", testdoc::BuildZip(WithApp([](ZipItem& z) { z.flags = 1; })), Bad(D::kEncrypted, S::kProperties),
       ""},
      {"data that does not inflate", testdoc::BuildZip(WithApp([](ZipItem& z) { z.compressed = "\xFF\xFF\xFF"; })),
       Bad(D::kBadData, S::kProperties), ""},
      {"bytes after the deflated data, in its compressed size",
       testdoc::BuildZip(With(Package(), [](Items& i) { i[1].trailing = i[2].trailing = std::string(64, 'x'); })),
       kOk, kListed},
      {"deflated data padded out with empty stored blocks",
       testdoc::BuildZip(WithApp([](ZipItem& z) {
         z.data = "";
         std::string empty("\0\0\0\xFF\xFF", 5);  // stored, not final, no bytes
         for (std::uint64_t n = 0; n * 5 <= limits::kMaxPartInputBytes; ++n) z.trailing += empty;
         z.compressed = "";
       })),
       Bad(D::kStreamTooLarge, S::kProperties), ""},
      {"local header past the end", testdoc::BuildZip(WithApp([](ZipItem& z) { z.localHeader = 1u << 30; })),
       Bad(D::kRunsPastEnd, S::kProperties), ""},
      {"declared over 16 MiB", testdoc::BuildZip(WithApp([](ZipItem& z) { z.declaredSize = (16u << 20) + 1; })),
       Bad(D::kStreamTooLarge, S::kProperties), ""},
      {"inflates past 16 MiB, declared small", testdoc::BuildZip(WithApp([&](ZipItem& z) {
         z.data = bomb;
         z.declaredSize = 100;
       })),
       Bad(D::kStreamTooLarge, S::kProperties), ""},
      // The relationships.
      {"no extended-properties relationship", testdoc::BuildZip(PackageItems(PropertiesXml(kOutline), "")),
       Bad(D::kNoRelationship, S::kRelationships), ""},
      {"an external one first",
       testdoc::BuildZip(PackageItems(PropertiesXml(kOutline), Relationship("http://example.com/app.xml", true) +
                                                                   Relationship("docProps/app.xml"))),
       kOk, kListed},
      {"the strict type, an absolute target with dot segments",
       testdoc::BuildZip(
           PackageItems(PropertiesXml(kOutline),
                        Relationship("/../docProps/x/./../app.xml", false,
                                     "http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties"))),
       kOk, kListed},
      {"a target that is not there",
       testdoc::BuildZip(PackageItems(PropertiesXml(kOutline), Relationship("docProps/none.xml"))),
       Bad(D::kMissing, S::kProperties), ""},
      // The XML.
      {"a DOCTYPE", testdoc::BuildZip(PackageItems(laughs)), Bad(D::kHasDoctype, S::kProperties), ""},
      {"not well-formed", testdoc::BuildZip(PackageItems(PropertiesXml("<a></b>"))),
       Bad(D::kNotWellFormed, S::kProperties), ""},
      {"an encoding not read", testdoc::BuildZip(PackageItems(PropertiesXml(kOutline).replace(30, 5, "windows-1252"))),
       Bad(D::kNotWellFormed, S::kProperties), ""},
      {"nested 100,000 deep", testdoc::BuildZip(PackageItems(PropertiesXml(deep))), Bad(D::kOverLimit, S::kProperties),
       ""},
      {"names that fill the parser's memory",
       testdoc::BuildZip(Package([] {
         std::string open;  // never closed: the names held open are what fills it
         for (int i = 0; i < 160; ++i) open.append("<n").append(std::to_string(i)).append(50000, 'x').append(">");
         return open;
       }())),
       Bad(D::kOverLimit, S::kProperties), ""},
      {"a comment longer than a token may be",
       testdoc::BuildZip(Package("<!--" + std::string(limits::kMaxXmlTokenBytes + limits::kPartChunkBytes, 'x') + "-->")),
       Bad(D::kOverLimit, S::kProperties), ""},
      {"an outline of exactly the limit, then another element",
       testdoc::BuildZip(Package(Variants("") + Titles(limit) + "<AppVersion>1.0</AppVersion>")), kOk,
       "|" + std::string(limits::kMaxOutlineElements - 1, ',')},
      {"one element more", testdoc::BuildZip(Package(Variants("") + Titles(limit + "<vt:lpstr/>"))),
       Bad(D::kOverLimit, S::kProperties), ""},
      {"UTF-16 with a byte-order mark", testdoc::BuildZip(PackageItems(utf16)), kOk, kListed},
      {"strict namespaces", testdoc::BuildZip(PackageItems(strict)), kOk, kListed},
      {"prefixes are not namespaces", testdoc::BuildZip(PackageItems(prefixed)), kOk, "H=0|A"},
      {"another root",
       testdoc::BuildZip(
           PackageItems("<Properties xmlns=\"urn:other\" xmlns:vt=\"" + kVt + "\">" + kOutline + "</Properties>")),
       kOk, "-|-"},
      // The elements.
      {"counts by type and range",
       testdoc::BuildZip(Package(
           Variants(
               "<vt:variant><vt:lpwstr>A</vt:lpwstr></vt:variant><vt:variant><vt:i1>128</vt:i1></vt:variant>"
               "<vt:variant><vt:lpstr>B</vt:lpstr></vt:variant><vt:variant><vt:ui4>4294967295</vt:ui4></vt:variant>"
               "<vt:variant><vt:i4>7</vt:i4></vt:variant><vt:variant><vt:i2> +7\n</vt:i2></vt:variant><vt:other/>"
               "<vt:variant/><vt:variant><vt:bool>1</vt:bool></vt:variant>"
               "<vt:variant><vt:int>0x10</vt:int></vt:variant><vt:variant><vt:uint>42</vt:uint></vt:variant>"
               "<vt:variant><vt:ui1>-0</vt:ui1><vt:i4>9</vt:i4></vt:variant><vt:variant><vt:lpstr>Last</vt:lpstr></"
               "vt:variant>"
               "<vt:variant><vt:lpstr>End</vt:lpstr></vt:variant>") +
           Titles(""))),
       kOk, "A=0,B=-1,=7,=0,=42,=0,End=0|"},
      {"text: CDATA, entities, escapes, nothing trimmed",
       testdoc::BuildZip(Package(
           Variants("") + Titles("<vt:lpstr> a&amp;<![CDATA[<b>]]> "
                                 "</vt:lpstr><vt:lpstr>_x005F_x0041_|_x00e9_|_xD83D__xDE00_|_xD800_x|_x0000_</vt:lpstr>"
                                 "<vt:i4>5</vt:i4><vt:lpstr>a<vt:lpstr>x</vt:lpstr>c</vt:lpstr>"))),
       kOk, "| a&<b> ,_x0041_|\xC3\xA9|\xF0\x9F\x98\x80|\xEF\xBF\xBDx|\xEF\xBF\xBD,,ac"},
      {"the first HeadingPairs and its first vector only",
       testdoc::BuildZip(Package("<HeadingPairs/>" + Variants("<vt:variant><vt:lpstr>Later</vt:lpstr></vt:variant>") +
                                 "<TitlesOfParts><vt:vector><vt:lpstr>one</vt:lpstr></vt:vector><vt:vector>"
                                 "<vt:lpstr>two</vt:lpstr></vt:vector></TitlesOfParts>" +
                                 Titles("<vt:lpstr>three</vt:lpstr>"))),
       kOk, "-|one"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = Read(c.bytes);
    EXPECT_EQ(o.fault, c.fault);
    if (c.fault.ok()) {
      EXPECT_EQ(o.outline, c.outline);
    }
  }
  // One reader for all, as a batch worker keeps it: each failing package reads as it
  // does alone, and leaves nothing that changes the sound package read after it.
  const Bytes sound = testdoc::BuildZip(Package());
  ooxml::Package shared;
  for (const Case& c : cases) {
    if (c.fault.ok()) continue;
    SCOPED_TRACE(std::string("after: ") + c.what);
    EXPECT_EQ(Read(c.bytes, shared).fault, c.fault);
    const Outcome next = Read(sound, shared);
    EXPECT_EQ(next.fault, kOk);
    EXPECT_EQ(next.outline, kListed);
  }
}

}  // namespace
}  // namespace readers::ooxml
