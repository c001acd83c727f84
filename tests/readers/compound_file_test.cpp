// The compound-file reader on damaged and unusual files: which check fires, what real
// writers do that must be tolerated, and that damage the lookup never meets costs the
// listing nothing. Every file is built by the test writer and then patched.
#include "readers/cfb/compound_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cfb/file_state.h"
#include "doc_writer.h"
#include "fault_print.h"
#include "readers/limits.h"
#include "scan_harness.h"

namespace readers {

namespace cfb {
namespace {

using D = Defect;
using S = Structure;
using testdoc::Built;
using testdoc::Bytes;
using testdoc::CfbOptions;
using testdoc::Entry;
using testdoc::FillerStream;
using testdoc::kDirSize;
using testdoc::kDocSummaryName;
using testdoc::PutU16;
using testdoc::PutU32;
using testdoc::StreamOf;

const std::vector<testdoc::Group> kGroups = {{"Worksheets", 2}, {"Named Ranges", 1}};
const std::vector<std::string> kParts = {"Sheet1", "Sheet2", "Print_Area"};
const std::string kListing = "Worksheets\r\n\tSheet1\r\n\tSheet2\r\nNamed Ranges\r\n\tPrint_Area\r\n";

Bytes SummaryBytes() { return testdoc::DocSummaryStream(kGroups, kParts); }

// The summary stream in the mini stream, or padded with zeros to the cutoff so that it
// lives in regular sectors.
Entry Summary(bool regular, const Bytes& data = SummaryBytes()) {
  Entry e = StreamOf(kDocSummaryName, data);
  if (regular) e.fillerSize = kMiniStreamCutoff;
  return e;
}
Entry Info() { return StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream()); }
Entry Small(std::u16string_view name) { return StreamOf(name, Bytes{'x'}); }

CfbOptions Options(unsigned shift = 9) {
  CfbOptions o;
  o.sectorShift = shift;
  return o;
}

// A workbook and the summary stream in regular sectors.
Built RegularDoc(CfbOptions o = Options()) {
  return testdoc::BuildCompoundFile({FillerStream(u"Workbook", 16384), Info(), Summary(true)}, o);
}

// The summary stream in the mini stream, starting past its 128th mini sector (so in the
// second mini-table sector) and past its first regular sector.
Built MiniDoc() {
  return testdoc::BuildCompoundFile({FillerStream(u"Workbook", 16384), Info(), FillerStream(u"PadA", 4000),
                                     FillerStream(u"PadB", 4000), Summary(false), FillerStream(u"PadC", 1000)});
}

// Six root children in a balanced tree: Workbook at the top, B (A, C) on its left and
// the summary stream (SummaryInformation on its left) on its right.
Built TreeDoc() {
  return testdoc::BuildCompoundFile(
      {FillerStream(u"Workbook", 16384), Info(), Summary(false), Small(u"A"), Small(u"B"), Small(u"C")});
}

// File offsets of table entries and directory fields, from the writer's layout.
std::size_t FatEntry(const testdoc::Layout& l, std::uint32_t sector) {
  const std::uint32_t per = l.sectorSize / 4;
  return testdoc::SectorOffset(l, l.fatSectors.at(sector / per)) + 4 * (sector % per);
}
std::size_t MiniFatEntry(const testdoc::Layout& l, std::uint32_t miniSector) {
  const std::uint32_t per = l.sectorSize / 4;
  return testdoc::SectorOffset(l, l.miniFatChain.at(miniSector / per)) + 4 * (miniSector % per);
}
std::size_t Field(const testdoc::Layout& l, std::u16string_view path, std::size_t field) {
  return l.DirOffset(path) + field;
}
const std::vector<std::uint32_t>& SummaryChain(const testdoc::Layout& l) { return l.At(kDocSummaryName).chain; }

// What the reader makes of a root stream: the fault of the first step that failed.
struct Outcome {
  Fault fault;
  DirEntry entry;
  StreamBytes data;
};

Outcome ReadRootStream(const Bytes& file, std::u16string_view name = kDocSummaryName) {
  MemorySource source(file);
  CompoundFile cf;
  Outcome o;
  o.fault = OpenCompoundFile(source, cf);
  if (o.fault.ok()) o.fault = FindRootStream(cf, name, o.entry);
  if (o.fault.ok()) o.fault = ReadStream(cf, o.entry, limits::kMaxPropertyStreamBytes, o.data);
  return o;
}

struct Case {
  std::string what;
  std::function<void(Built&)> damage;
  Fault expected;
};

// Builds, damages and reads each case. Where the reading succeeds, the stream holds the
// summary bytes and the whole scan lists the outline.
void RunCases(const std::function<Built()>& build, const std::vector<Case>& cases) {
  const Bytes summary = SummaryBytes();
  for (const Case& c : cases) {
    Built b = build();
    c.damage(b);
    const Outcome o = ReadRootStream(b.bytes);
    EXPECT_EQ(o.fault, c.expected) << c.what;
    if (!c.expected.ok() || !o.fault.ok()) continue;
    ASSERT_GE(o.data.size(), summary.size()) << c.what;
    EXPECT_TRUE(std::equal(summary.begin(), summary.end(), o.data.begin())) << c.what;
    EXPECT_EQ(scantest::ReportOf(b.bytes), kListing) << c.what;
  }
}

void Nothing(Built&) {}

TEST(CompoundFile, RegularStreamChains) {
  const auto fatNext = [](std::size_t k, std::uint32_t to) {
    return [k, to](Built& b) { PutU32(b.bytes, FatEntry(b, SummaryChain(b).at(k)), to); };
  };
  const auto workbook = [](std::size_t k, std::function<std::uint32_t(const Built&)> to) {
    return [k, to](Built& b) { PutU32(b.bytes, FatEntry(b, b.At(u"Workbook").chain.at(k)), to(b)); };
  };
  const auto value = [](std::uint32_t v) { return [v](const Built&) { return v; }; };
  const auto sizeTo = [](std::uint64_t size) {
    return [size](Built& b) { testdoc::PutU64(b.bytes, Field(b, kDocSummaryName, kDirSize), size); };
  };
  RunCases(
      [] { return RegularDoc(); },
      {
          {"intact", Nothing, kOk},
          {"chain loops back", [](Built& b) { PutU32(b.bytes, FatEntry(b, SummaryChain(b)[3]), SummaryChain(b)[1]); },
           Bad(D::kLoop, S::kStreamChain)},
          {"chain loops on itself",
           [](Built& b) { PutU32(b.bytes, FatEntry(b, SummaryChain(b)[0]), SummaryChain(b)[0]); },
           Bad(D::kLoop, S::kStreamChain)},
          {"chain ends early", fatNext(3, testdoc::kEndOfChain), Bad(D::kEndsEarly, S::kStreamChain)},
          {"chain points past the end of the file", fatNext(3, 0x00100000), Bad(D::kBadSectorId, S::kStreamChain)},
          {"chain meets a table-sector marker", fatNext(3, testdoc::kFatSect), Bad(D::kBadSectorId, S::kStreamChain)},
          {"first sector past the end of the file",
           [](Built& b) { PutU32(b.bytes, Field(b, kDocSummaryName, testdoc::kDirStart), 0x00100000); },
           Bad(D::kBadSectorId, S::kStreamChain)},
          {"size larger than the chain", sizeTo(kMiniStreamCutoff + 512), Bad(D::kEndsEarly, S::kStreamChain)},
          {"size larger than the file", sizeTo(900000), Bad(D::kEndsEarly, S::kStreamChain)},
          {"size larger than a property set may be", sizeTo(limits::kMaxPropertyStreamBytes + 1),
           Bad(D::kStreamTooLarge, S::kNone)},
          {"version 3 size with garbage in the high half", sizeTo(0xDEADBEEF00000000ull | kMiniStreamCutoff), kOk},
          {"table entry beyond the header's table sector count",
           [](Built& b) { PutU32(b.bytes, testdoc::kHdrFatSectorCount, 0); }, Bad(D::kOutOfRange, S::kTable)},
          {"table sector number is a marker", [](Built& b) { PutU32(b.bytes, testdoc::kHdrDifat, testdoc::kFreeSect); },
           Bad(D::kBadSectorId, S::kTable)},
          {"workbook chain loops", workbook(5, [](const Built& b) { return b.At(u"Workbook").chain[1]; }), kOk},
          {"workbook chain ends early", workbook(2, value(testdoc::kEndOfChain)), kOk},
          {"workbook chain points past the end", workbook(2, value(0x00FFFFFF)), kOk},
          {"workbook starts at a marker",
           [](Built& b) { PutU32(b.bytes, Field(b, u"Workbook", testdoc::kDirStart), testdoc::kFatSect); }, kOk},
      });
}

TEST(CompoundFile, MiniStreamChains) {
  {
    const Built b = MiniDoc();
    ASSERT_TRUE(b.At(kDocSummaryName).inMini);
    ASSERT_GE(SummaryChain(b).front(), b.sectorSize / 4) << "must need the second mini-table sector";
    ASSERT_GE(b.miniStreamChain.size(), 3u);
  }
  const auto miniNext = [](std::uint32_t to) {
    return [to](Built& b) { PutU32(b.bytes, MiniFatEntry(b, SummaryChain(b)[0]), to); };
  };
  // Sets the allocation-table successor of the k-th sector of the mini stream or of the
  // mini table.
  const auto streamNext = [](std::size_t k, std::function<std::uint32_t(const Built&)> to) {
    return [k, to](Built& b) { PutU32(b.bytes, FatEntry(b, b.miniStreamChain.at(k)), to(b)); };
  };
  const auto value = [](std::uint32_t v) { return [v](const Built&) { return v; }; };
  const auto tableNext = [](std::size_t k, std::function<std::uint32_t(const Built&)> to) {
    return [k, to](Built& b) { PutU32(b.bytes, FatEntry(b, b.miniFatChain.at(k)), to(b)); };
  };
  const auto startAt = [](std::function<std::uint32_t(const Built&)> to) {
    return [to](Built& b) { PutU32(b.bytes, Field(b, kDocSummaryName, testdoc::kDirStart), to(b)); };
  };
  RunCases(MiniDoc,
           {
               {"intact", Nothing, kOk},
               {"mini chain ends early", miniNext(testdoc::kEndOfChain), Bad(D::kEndsEarly, S::kStreamChain)},
               {"mini chain loops on itself",
                [](Built& b) { PutU32(b.bytes, MiniFatEntry(b, SummaryChain(b)[1]), SummaryChain(b)[0]); },
                Bad(D::kLoop, S::kStreamChain)},
               {"mini chain points beyond the mini stream", miniNext(100000), Bad(D::kOutOfRange, S::kStreamChain)},
               {"mini chain meets a marker", miniNext(testdoc::kFatSect), Bad(D::kBadSectorId, S::kStreamChain)},
               {"first mini sector beyond the mini stream",
                startAt([](const Built& b) { return static_cast<std::uint32_t>(b.miniStreamSize / 64); }),
                Bad(D::kOutOfRange, S::kStreamChain)},
               {"mini stream size ends before the stream's sectors",
                [](Built& b) { testdoc::PutU64(b.bytes, Field(b, u"", kDirSize), SummaryChain(b)[0] * 64ull); },
                Bad(D::kOutOfRange, S::kStreamChain)},
               {"size larger than the mini chain",
                [](Built& b) { testdoc::PutU64(b.bytes, Field(b, kDocSummaryName, kDirSize), 4095); },
                Bad(D::kEndsEarly, S::kStreamChain)},
               {"mini stream's chain ends early", streamNext(0, value(testdoc::kEndOfChain)),
                Bad(D::kEndsEarly, S::kMiniStream)},
               {"mini stream's chain loops", streamNext(2, [](const Built& b) { return b.miniStreamChain[0]; }),
                Bad(D::kLoop, S::kMiniStream)},
               {"mini stream's chain points past the end", streamNext(1, value(0x00FFFFFF)),
                Bad(D::kBadSectorId, S::kMiniStream)},
               {"mini table's chain ends early", tableNext(0, value(testdoc::kEndOfChain)),
                Bad(D::kEndsEarly, S::kMiniTable)},
               {"mini table's chain loops", tableNext(0, [](const Built& b) { return b.miniFatChain[0]; }),
                Bad(D::kLoop, S::kMiniTable)},
               {"no mini table at all",
                [](Built& b) { PutU32(b.bytes, testdoc::kHdrFirstMiniFatSector, testdoc::kEndOfChain); },
                Bad(D::kEndsEarly, S::kMiniTable)},
           });

  // A stream larger than the mini stream is read up to the mini stream's end: here four
  // bytes into the stream's last mini sector.
  Built cut = MiniDoc();
  const std::vector<std::uint32_t>& chain = SummaryChain(cut);
  ASSERT_TRUE(std::is_sorted(chain.begin(), chain.end()));
  testdoc::PutU64(cut.bytes, Field(cut, u"", kDirSize), chain.back() * 64ull + 4);
  const Outcome o = ReadRootStream(cut.bytes);
  EXPECT_EQ(o.fault, kOk);
  EXPECT_EQ(o.data.size(), (chain.size() - 1) * 64 + 4);
}

// A file large enough to need two index sectors, with the summary stream in its last
// sectors: their allocation-table entries are found through the second index sector.
const Built& IndexedDoc() {
  static const Built built = [] {
    CfbOptions o;
    o.placeLast = {std::u16string(kDocSummaryName)};
    return testdoc::BuildCompoundFile({FillerStream(u"Workbook", 31000ull * 512), Info(), Summary(true)}, o);
  }();
  return built;
}

TEST(CompoundFile, IndexChain) {
  const Built& doc = IndexedDoc();
  ASSERT_EQ(doc.difatSectors.size(), 2u);
  const std::uint32_t tableIndex = SummaryChain(doc).front() / 128;
  ASSERT_GE(tableIndex, 109u + 127u) << "the summary's table sector must be listed in the second index sector";
  const auto nextOf = [](std::size_t k, std::function<std::uint32_t(const Built&)> to) {
    return [k, to](Built& b) { PutU32(b.bytes, testdoc::SectorOffset(b, b.difatSectors.at(k)) + 508, to(b)); };
  };
  const auto value = [](std::uint32_t v) { return [v](const Built&) { return v; }; };
  RunCases(
      IndexedDoc,
      {
          {"intact", Nothing, kOk},
          {"header index count 0 (not trusted)", [](Built& b) { PutU32(b.bytes, testdoc::kHdrDifatSectorCount, 0); },
           kOk},
          {"header index count 0xFFFFFFFF",
           [](Built& b) { PutU32(b.bytes, testdoc::kHdrDifatSectorCount, 0xFFFFFFFF); }, kOk},
          {"chain ended by a free marker", nextOf(1, value(testdoc::kFreeSect)), kOk},
          {"chain loops on its first sector", nextOf(0, [](const Built& b) { return b.difatSectors[0]; }),
           Bad(D::kLoop, S::kIndexChain)},
          {"chain ends after one sector", nextOf(0, value(testdoc::kEndOfChain)), Bad(D::kEndsEarly, S::kIndexChain)},
          {"chain points past the end", nextOf(0, value(0x00FFFFFF)), Bad(D::kBadSectorId, S::kIndexChain)},
          {"no index chain", [](Built& b) { PutU32(b.bytes, testdoc::kHdrFirstDifatSector, testdoc::kEndOfChain); },
           Bad(D::kEndsEarly, S::kIndexChain)},
          {"header table count stops at 109", [](Built& b) { PutU32(b.bytes, testdoc::kHdrFatSectorCount, 109); },
           Bad(D::kOutOfRange, S::kTable)},
          {"index entry is a free marker",
           [tableIndex](Built& b) {
             const std::uint32_t k = tableIndex - 109;
             PutU32(b.bytes, testdoc::SectorOffset(b, b.difatSectors.at(k / 127)) + 4 * (k % 127), testdoc::kFreeSect);
           },
           Bad(D::kBadSectorId, S::kTable)},
      });
}

TEST(CompoundFile, SiblingTrees) {
  // Entry indexes: the root children in the order given.
  constexpr std::uint32_t wb = 1, si = 2, dsi = 3, a = 4, b = 5, c = 6;  // entry indexes
  {
    const Built doc = TreeDoc();
    ASSERT_EQ(doc.entries.at(0).child, wb);
    ASSERT_EQ(doc.entries.at(wb).left, b);
    ASSERT_EQ(doc.entries.at(wb).right, dsi);
    ASSERT_EQ(doc.entries.at(dsi).left, si);
    ASSERT_EQ(doc.entries.at(b).left, a);
    ASSERT_EQ(doc.entries.at(b).right, c);
    ASSERT_EQ(doc.dirChain.size(), 2u);  // A, B and C sit in the second directory sector
  }
  // Sets sibling or child pointers.
  struct Link {
    std::uint32_t from;
    std::size_t field;
    std::uint32_t to;
  };
  const auto links = [](std::vector<Link> patch) {
    return [patch](Built& doc) {
      for (const Link& l : patch) PutU32(doc.bytes, doc.entries.at(l.from).dirOffset + l.field, l.to);
    };
  };
  const std::size_t kL = testdoc::kDirLeft, kR = testdoc::kDirRight, kC = testdoc::kDirChild;
  const auto dirNext = [](std::size_t k, std::uint32_t to) {
    return [k, to](Built& d) { PutU32(d.bytes, FatEntry(d, d.dirChain.at(k)), to); };
  };
  const auto dirLoop = [](Built& d) { PutU32(d.bytes, FatEntry(d, d.dirChain.at(1)), d.dirChain.at(0)); };
  RunCases(
      TreeDoc,
      {
          {"intact", Nothing, kOk},
          // Off the lookup path: the descent never meets the damage.
          {"self reference off the path", links({{b, kL, b}}), kOk},
          {"cycles off the path", links({{c, kR, wb}, {si, kL, dsi}}), kOk},
          {"out-of-range pointers off the path", links({{a, kL, 0x00FFFFFF}, {c, kL, 1000}, {si, kR, 0xFFFFFFF0}}),
           kOk},
          {"pointer back to the root off the path", links({{b, kR, 0}}), kOk},
          {"directory chain ends before the entries off the path", dirNext(0, testdoc::kEndOfChain), kOk},
          {"directory chain leaves the file before the entries off the path", dirNext(0, 0x00FFFFFF), kOk},
          {"directory chain loops", dirLoop, kOk},
          // On the path: the walk that follows still finds a stream it can reach.
          {"self reference on the path, stream reachable elsewhere", links({{wb, kR, wb}, {b, kR, dsi}}), kOk},
          {"cycle on the path, stream reachable elsewhere", links({{wb, kR, si}, {si, kR, wb}, {si, kL, dsi}}), kOk},
          // Not found: the damage met on the way is the reason.
          {"pointer back to the root on the path", links({{wb, kR, 0}}), Bad(D::kLoop, S::kDirectoryTree)},
          {"out-of-range pointer on the path", links({{wb, kR, 1000}}), Bad(D::kOutOfRange, S::kDirectoryTree)},
          {"root's child is the root", links({{0, kC, 0}}), Bad(D::kLoop, S::kDirectoryTree)},
          {"root's child out of range", links({{0, kC, 0x00FFFFFF}}), Bad(D::kOutOfRange, S::kDirectoryTree)},
          {"root entry of storage type", [](Built& d) { d.bytes[d.DirOffset(u"") + testdoc::kDirType] = 1; },
           Bad(D::kNoRoot, S::kDirectoryTree)},
          {"root entry unused", [](Built& d) { d.bytes[d.DirOffset(u"") + testdoc::kDirType] = 0; },
           Bad(D::kNoRoot, S::kDirectoryTree)},
          {"first directory sector past the end",
           [](Built& d) { PutU32(d.bytes, testdoc::kHdrFirstDirSector, 0x00FFFFFF); },
           Bad(D::kBadSectorId, S::kDirectoryChain)},
      });

  // A cyclic tree that passes the ordering test at every step, looked up for a name
  // that sorts after every entry: the lookup ends, and names the loop.
  Built doc = TreeDoc();
  links({{dsi, kR, wb}})(doc);
  EXPECT_EQ(ReadRootStream(doc.bytes, std::u16string(30, u'Z')).fault, Bad(D::kLoop, S::kDirectoryTree));

  // Entries the directory chain does not reach are refused: past its end, and past the
  // first repeat of a loop d0 -> d1 -> d0, which must not hand out entries 8 to 11 as
  // copies of entries 0 to 3.
  for (const bool loop : {false, true}) {
    if (loop) dirLoop(doc);
    MemorySource source(doc.bytes);
    CompoundFile cf;
    ASSERT_EQ(OpenCompoundFile(source, cf), kOk);
    DirEntry e;
    EXPECT_EQ(ReadDirEntry(*cf.state, b, e), kOk);
    EXPECT_EQ(e.Name(), u"B");
    EXPECT_EQ(ReadDirEntry(*cf.state, 8, e), Bad(loop ? D::kLoop : D::kEndsEarly, S::kDirectoryChain)) << loop;
    EXPECT_EQ(ReadDirEntry(*cf.state, 0xFFFFFFF0, e), Bad(D::kOutOfRange, S::kDirectoryTree));
  }
}

// Two summary streams with different outlines, to tell which one the lookup took.
Entry SummaryListing(const char* part) {
  return StreamOf(kDocSummaryName, testdoc::DocSummaryStream({{"Group", 1}}, {part}));
}
std::string ListingOf(const char* part) { return std::string("Group\r\n\t") + part + "\r\n"; }

TEST(CompoundFile, LookupFallsBackToAWalkOfTheRootChildrenOnly) {
  CfbOptions unordered;
  unordered.tree = CfbOptions::Tree::UnsortedChain;  // right chain in the order given
  const std::u16string longName(30, u'Z');           // sorts after the summary stream

  // The descent turns left at the first entry and finds nothing; the walk meets entry 4
  // before entry 3 and takes the lower index.
  Built twice = testdoc::BuildCompoundFile(
      {Small(longName), Small(u"A"), SummaryListing("third"), SummaryListing("fourth")}, unordered);
  PutU32(twice.bytes, twice.entries[2].dirOffset + testdoc::kDirRight, 4);
  PutU32(twice.bytes, twice.entries[4].dirOffset + testdoc::kDirRight, 3);
  PutU32(twice.bytes, twice.entries[3].dirOffset + testdoc::kDirRight, testdoc::kNoStream);
  EXPECT_EQ(ReadRootStream(twice.bytes).entry.index, 3u);
  EXPECT_EQ(scantest::ReportOf(twice.bytes), ListingOf("third"));

  // The descent meets a storage of the same name first.
  const Built storageFirst = testdoc::BuildCompoundFile(
      {Small(u"Workbook"), testdoc::StorageOf(kDocSummaryName, {SummaryListing("inner")}), SummaryListing("outer")},
      unordered);
  EXPECT_EQ(scantest::ReportOf(storageFirst.bytes), ListingOf("outer"));

  // Summary streams of embedded objects are never taken for the document's own.
  const auto embedded = [] {
    return testdoc::StorageOf(u"ObjectPool", {testdoc::StorageOf(u"_1234", {SummaryListing("embedded")})});
  };
  for (const CfbOptions::Tree tree : {CfbOptions::Tree::Balanced, CfbOptions::Tree::UnsortedChain}) {
    CfbOptions o;
    o.tree = tree;
    const Built onlyEmbedded = testdoc::BuildCompoundFile({Small(u"WordDocument"), embedded()}, o);
    EXPECT_EQ(ReadRootStream(onlyEmbedded.bytes).fault, Bad(D::kStreamNotFound, S::kDirectoryTree));
    EXPECT_EQ(scantest::ReportOf(onlyEmbedded.bytes), "");
    const Built both = testdoc::BuildCompoundFile({embedded(), Small(u"WordDocument"), SummaryListing("own")}, o);
    EXPECT_EQ(scantest::ReportOf(both.bytes), ListingOf("own"));
  }
}

TEST(CompoundFile, EntryNamesCountUpToTheFirstZeroUnit) {
  const auto setLength = [](std::uint16_t v) {
    return [v](Built& b) { PutU16(b.bytes, Field(b, kDocSummaryName, testdoc::kDirNameLength), v); };
  };
  const auto setUnit = [](std::size_t unit, char16_t v) {
    return [unit, v](Built& b) { PutU16(b.bytes, b.DirOffset(kDocSummaryName) + 2 * unit, v); };
  };
  RunCases(TreeDoc, {
                        {"lower case",
                         [](Built& b) {
                           const std::u16string name = u"\005documentsummaryinformation";
                           for (std::size_t i = 0; i < name.size(); ++i)
                             PutU16(b.bytes, b.DirOffset(kDocSummaryName) + 2 * i, name[i]);
                         },
                         kOk},
                        {"length field 0", setLength(0), kOk},
                        {"length field 2", setLength(2), kOk},
                        {"length field 0xFFFF", setLength(0xFFFF), kOk},
                        {"garbage after the zero unit",
                         [](Built& b) {
                           for (std::size_t i = 28; i < 32; ++i)
                             PutU16(b.bytes, b.DirOffset(kDocSummaryName) + 2 * i, u'Q');
                         },
                         kOk},
                        {"a zero unit inside the name", setUnit(9, 0), Bad(D::kStreamNotFound, S::kDirectoryTree)},
                    });
}

TEST(CompoundFile, Headers) {
  const auto u16At = [](std::size_t at, std::uint16_t v) { return [at, v](Built& b) { PutU16(b.bytes, at, v); }; };
  const auto u32At = [](std::size_t at, std::uint32_t v) { return [at, v](Built& b) { PutU32(b.bytes, at, v); }; };
  std::vector<Case> cases = {
      {"signature", [](Built& b) { b.bytes[7] ^= 1; }, Bad(D::kNotCompoundFile, S::kHeader)},
      {"cut inside its header", [](Built& b) { b.bytes.resize(511); }, Bad(D::kEndsEarly, S::kHeader)},
      {"shorter than a signature", [](Built& b) { b.bytes.resize(7); }, Bad(D::kNotCompoundFile, S::kHeader)},
      {"byte order 0xFEFF", u16At(testdoc::kHdrByteOrder, 0xFEFF), kOk},
      {"minor version 0x21", u16At(testdoc::kHdrMinorVersion, 0x21), kOk},
      {"minor version 0xFFFF", u16At(testdoc::kHdrMinorVersion, 0xFFFF), kOk},
      {"transaction field", u32At(testdoc::kHdrTransaction, 0xDEADBEEF), kOk},
      {"mini sector shift 7", u16At(testdoc::kHdrMiniSectorShift, 7), kOk},
      {"cutoff 0", u32At(testdoc::kHdrMiniCutoff, 0), kOk},
      {"cutoff 8192", u32At(testdoc::kHdrMiniCutoff, 8192), kOk},
      {"directory sector count in version 3", u32At(testdoc::kHdrDirSectorCount, 7), kOk},
      {"mini table sector count", u32At(testdoc::kHdrMiniFatSectorCount, 0), kOk},
  };
  for (const std::uint16_t shift : std::initializer_list<std::uint16_t>{0, 7, 8, 10, 16, 20, 31}) {
    cases.push_back({"sector shift " + std::to_string(shift), u16At(testdoc::kHdrSectorShift, shift),
                     Bad(D::kBadSectorSize, S::kHeader)});
  }
  RunCases([] { return RegularDoc(); }, cases);  // summary in regular sectors
  RunCases(MiniDoc, cases);                      // summary in the mini stream
}

TEST(CompoundFile, Version4AndPartialLastSectors) {
  struct Cut {
    unsigned shift;
    std::uint32_t tail;  // bytes cut off the end of the file
    bool directoryFirst;
    Fault expected;
  };
  // The summary stream, padded with zeros, holds the last sectors; or the directory, with
  // unused slots at its end, does. A stream the file ends inside is cut there; a sector
  // of its chain that lies wholly past the end is damage: the file ends early.
  for (const Cut& cut :
       {Cut{9, 100, true, kOk}, Cut{9, 511, true, kOk}, Cut{9, 512, true, Bad(D::kEndsEarly, S::kStreamChain)},
        Cut{9, 1000, true, kOk}, Cut{12, 3500, true, kOk}, Cut{12, 4096, true, Bad(D::kEndsEarly, S::kStreamChain)},
        Cut{12, 2000, false, kOk}}) {
    CfbOptions o = Options(cut.shift);
    o.placeLast = {std::u16string(kDocSummaryName)};
    o.truncateTail = cut.tail;
    o.directoryFirst = cut.directoryFirst;
    RunCases([&] { return RegularDoc(o); }, {{"shift " + std::to_string(cut.shift) + ", " + std::to_string(cut.tail) +
                                                  " bytes cut" + (cut.directoryFirst ? "" : ", directory last"),
                                              Nothing, cut.expected}});
  }

  const auto v4Mini = [] {
    return testdoc::BuildCompoundFile({FillerStream(u"Workbook", 16384), Info(), Summary(false)}, Options(12));
  };
  RunCases(v4Mini, {{"version 4, summary in the mini stream", Nothing, kOk}});
  RunCases([] { return RegularDoc(Options(12)); }, {
                                                       {"as built", Nothing, kOk},
                                                       {"64-bit size: the high half counts",
                                                        [](Built& b) {
                                                          testdoc::PutU64(b.bytes, Field(b, kDocSummaryName, kDirSize),
                                                                          0x100000000ull | kMiniStreamCutoff);
                                                        },
                                                        Bad(D::kStreamTooLarge, S::kNone)},
                                                   });
}

}  // namespace
}  // namespace cfb
}  // namespace readers
