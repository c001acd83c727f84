// The per-document scan end to end over in-memory documents: what is listed when the
// outline properties are missing, of another type or hold extreme counts, and the
// release of every interface on every path.
#include "document_scan.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "doc_writer.h"
#include "property_access.h"
#include "scan_harness.h"

namespace docprops {
namespace {

using testdoc::Bytes;

std::vector<std::pair<std::string, ULONG>> g_releases;
void RecordRelease(const char* name, ULONG remaining) { g_releases.emplace_back(name, remaining); }

// A compound file holding `dsi` as its summary stream, next to a workbook.
Bytes DocumentWith(const Bytes& dsi) {
  return testdoc::BuildCompoundFile(
             {testdoc::FillerStream(u"Workbook", 8192), testdoc::StreamOf(testdoc::kDocSummaryName, dsi)})
      .bytes;
}

Bytes SummaryWith(std::vector<std::pair<std::uint32_t, Bytes>> props) {
  return testdoc::PropertySetStream({testdoc::Section{testdoc::kFmtidDocSummary, std::move(props)}});
}

using Releases = std::vector<std::pair<std::string, ULONG>>;
// The property storage, then the set storage (which drops its own reference to the
// storage), then the storage itself.
const Releases kAllThree = {{"IPropertyStorage", 0}, {"IPropertySetStorage", 0}, {"IStorage", 1}, {"IStorage", 0}};
const Releases kNoSet = {{"IPropertySetStorage", 0}, {"IStorage", 1}, {"IStorage", 0}};
const Releases kNone = {};

TEST(DocumentScan, ListingAndReleasesOnEveryPath) {
  using namespace testdoc;
  Built brokenChain = BuildCompoundFile({StreamOf(kDocSummaryName, DocSummaryStream({{"G", 1}}, {"p"}))});
  PutU32(brokenChain.bytes, brokenChain.DirOffset(kDocSummaryName) + kDirStart, 0x00FFFFFF);
  Bytes badShift = SimpleDocument({{"G", 1}}, {"p"});
  PutU16(badShift, kHdrSectorShift, 7);
  Bytes badOrder = DocSummaryStream({{"G", 1}}, {"p"});
  PutU16(badOrder, 0, 0xFEFF);

  struct Case {
    const char* what;
    const Bytes* document;  // null: the file cannot be opened
    std::string report;
    Releases releases;
  };
  const Bytes listed = SimpleDocument({{"Worksheets", 1}, {"Charts", 1}}, {"Sheet1", "Chart1"});
  const Bytes pairsOnly = DocumentWith(SummaryWith({{1, I2(1252)}, {12, HeadingPairs({{"G", 1}})}}));
  const Bytes partsOnly = DocumentWith(SummaryWith({{1, I2(1252)}, {13, DocParts({"p"})}}));
  const Bytes noneOfSix = DocumentWith(SummaryWith({{4, Lpstr("subject")}, {16, I4(7)}}));
  const Bytes emptySection = DocumentWith(SummaryWith({}));
  const Bytes unicode = DocumentWith(DocSummaryStream({{"G", 1}}, {"p"}, 1200));
  const Bytes partsOfAnotherType =
      DocumentWith(SummaryWith({{12, HeadingPairs({{"G", 1}})}, {13, VectorLpwstr({u"p"})}}));
  const Bytes pairsOfAnotherType = DocumentWith(SummaryWith({{12, VectorLpstr({"G", "1"})}, {13, DocParts({"p"})}}));
  const Bytes noSummary = BuildCompoundFile({FillerStream(u"Workbook", 8192)}).bytes;
  const Bytes notAPropertySet = DocumentWith(badOrder);
  const Bytes notACompoundFile = {'n', 'o', 't', ' ', 'a', ' ', 'd', 'o', 'c'};
  const std::vector<Case> cases = {
      {"outline listed", &listed, "Worksheets\r\n\tSheet1\r\nCharts\r\n\tChart1\r\n", kAllThree},
      {"heading pairs without document parts", &pairsOnly, "", kAllThree},
      {"document parts without heading pairs", &partsOnly, "", kAllThree},
      {"none of the six properties", &noneOfSix, "", kAllThree},
      {"a section without properties", &emptySection, "", kAllThree},
      {"code page 1200: wide document parts", &unicode, "", kAllThree},
      {"document parts of another type", &partsOfAnotherType, "", kAllThree},
      {"heading pairs of another type", &pairsOfAnotherType, "", kAllThree},
      {"no summary stream", &noSummary, "", kNoSet},
      {"summary stream unreadable", &brokenChain.bytes, "", kNoSet},
      {"summary stream not a property set", &notAPropertySet, "", kNoSet},
      {"header damaged", &badShift, "", kNone},
      {"not a compound file", &notACompoundFile, "", kNone},
      {"cannot be opened", nullptr, "", kNone},
  };
  SetReleaseObserver(&RecordRelease);
  for (const Case& c : cases) {
    g_releases.clear();
    const scantest::ScanResult r = scantest::Scan(c.document);
    EXPECT_EQ(r.report, c.report) << c.what;
    EXPECT_EQ(g_releases, c.releases) << c.what;
  }
  SetReleaseObserver(nullptr);
}

TEST(DocumentScan, ReadMultipleSaysWhetherAnyOfTheSixWasFound) {
  using namespace testdoc;
  const Bytes noneOfSix = DocumentWith(SummaryWith({{4, Lpstr("subject")}}));
  const Bytes companyOnly = DocumentWith(SummaryWith({{15, Lpstr("Firm")}}));
  for (const auto& [document, expected] : {std::pair{&noneOfSix, S_FALSE}, std::pair{&companyOnly, S_OK}}) {
    scantest::g_served = document;
    const readers::SourceOpener previous = readers::SetSourceOpener(&scantest::ServeFromMemory);
    IStorage* storage = nullptr;
    ASSERT_EQ(StgOpenStorage(u"doc", nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &storage), S_OK);
    IPropertySetStorage* sets = nullptr;
    ASSERT_EQ(storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&sets)), S_OK);
    // One object per interface: asked again, the storage gives the same set storage, and
    // the set storage answers for the storage.
    void* again = nullptr;
    ASSERT_EQ(storage->QueryInterface(IID_IPropertySetStorage, &again), S_OK);
    EXPECT_EQ(again, sets);
    sets->Release();
    ASSERT_EQ(sets->QueryInterface(IID_IStorage, &again), S_OK);
    EXPECT_EQ(again, storage);
    storage->Release();
    IPropertyStorage* summary = nullptr;
    ASSERT_EQ(sets->Open(FMTID_DocSummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &summary), S_OK);
    const PROPID ids[6] = {PIDDSI_MANAGER,     PIDDSI_COMPANY,  PIDDSI_CATEGORY,
                           PIDDSI_HEADINGPAIR, PIDDSI_DOCPARTS, PID_CODEPAGE};
    PROPSPEC wanted[6];
    PROPVARIANT values[6];
    for (int i = 0; i < 6; ++i) {
      wanted[i].ulKind = PRSPEC_PROPID;
      wanted[i].propid = ids[i];
    }
    EXPECT_EQ(summary->ReadMultiple(6, wanted, values), expected);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i].vt, i == 1 && expected == S_OK ? VT_LPSTR : VT_EMPTY) << i;
    FreePropVariantArray(6, values);
    summary->Release();
    sets->Release();
    storage->Release();
    readers::SetSourceOpener(previous);
    scantest::g_served = nullptr;
  }
}

TEST(DocumentScan, ExtremeCountsThroughTheWholeScan) {
  struct Case {
    std::vector<testdoc::Group> groups;
    std::string report;
    std::string echo;
  };
  const std::vector<Case> cases = {
      // The skipped group moves the index to -2147483646; C steps back to 0 in one go.
      {{{"A", 1}, {"B", -INT_MAX}, {"C", INT_MAX}, {"D", 1}},
       "A\r\n\tx\r\nC\r\n\tx\r\nD\r\n\ty\r\n",
       "x\r\nx\r\ny\r\n"},
      {{{"A", INT_MAX}, {"B", -INT_MAX}}, "A\r\n\tx\r\n\ty\r\nB\r\n", "x\r\ny\r\n"},
      {{{"A", -INT_MAX}, {"B", INT_MAX}}, "A\r\nB\r\n\tx\r\n\ty\r\n", "x\r\ny\r\n"},
  };
  for (const Case& c : cases) {
    const Bytes document = testdoc::SimpleDocument(c.groups, {"x", "y"});
    const scantest::ScanResult r = scantest::Scan(&document);
    EXPECT_EQ(r.report, c.report) << c.groups.size() << " groups";
    EXPECT_EQ(r.echo, c.echo) << c.groups.size() << " groups";
  }
}

}  // namespace
}  // namespace docprops
