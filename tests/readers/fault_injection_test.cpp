// I/O failures at the source boundary. A document is served by a source whose k-th
// read fails (scribbling over the buffer it was given, which the contract allows); for
// every k up to the first run that needs fewer reads, the scan must end with either no
// report at all or the complete one, and must release every interface it obtained
// exactly once, in reverse order of acquisition. A second pass fails every read from
// the k-th on, as a file that becomes unreadable part way would.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "doc_writer.h"
#include "property_access.h"
#include "readers/byte_source.h"
#include "scan_harness.h"

namespace {

using testdoc::Bytes;

struct Injection {
  const Bytes* document = nullptr;
  std::uint64_t failAt = 0;  // 1-based read number to fail; 0 never
  bool persistent = false;   // fail every read from failAt on
  std::uint64_t reads = 0;   // reads asked for during the current scan
  std::uint64_t failed = 0;  // reads failed during the current scan
};
Injection g_injection;

class FailingSource final : public readers::ByteSource {
 public:
  explicit FailingSource(std::span<const std::uint8_t> bytes) : inner_(bytes) {}
  std::uint64_t Size() const override { return inner_.Size(); }
  int ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    const std::uint64_t n = ++g_injection.reads;
    const std::uint64_t k = g_injection.failAt;
    if (k != 0 && (n == k || (g_injection.persistent && n > k))) {
      ++g_injection.failed;
      for (std::uint8_t& b : out) b = 0xA5;  // whatever a failed read leaves must not be used
      return EIO;
    }
    return inner_.ReadAt(offset, out);
  }

 private:
  readers::MemorySource inner_;
};

std::unique_ptr<readers::ByteSource> OpenInjected(const char*) {
  return std::make_unique<FailingSource>(std::span<const std::uint8_t>(*g_injection.document));
}

std::vector<std::string> g_releases;
void RecordRelease(const char* name, docprops::ULONG remaining) {
  g_releases.push_back(std::string(name) + ":" + std::to_string(remaining));
}

struct Outcome {
  std::string report;
  std::string echo;
  std::vector<std::string> releases;
  std::uint64_t reads = 0;
  std::uint64_t failed = 0;
};

Outcome ScanWithFailure(const Bytes& document, std::uint64_t failAt, bool persistent) {
  g_injection = Injection{&document, failAt, persistent};
  g_releases.clear();
  docprops::SetReleaseObserver(&RecordRelease);
  const scantest::ScanResult scan = scantest::ScanWith(&OpenInjected);
  docprops::SetReleaseObserver(nullptr);
  Outcome o;
  o.report = scan.report;
  o.echo = scan.echo;
  o.releases = g_releases;
  o.reads = g_injection.reads;
  o.failed = g_injection.failed;
  return o;
}

// Release sequences by how far the scan got: the open failed; the summary set could not
// be opened; everything was obtained. The storage is released last, after the set
// storage that holds a reference to it.
const std::vector<std::string> kNothingObtained = {};
const std::vector<std::string> kNoSummarySet = {"IPropertySetStorage:0", "IStorage:1", "IStorage:0"};
const std::vector<std::string> kEverything = {"IPropertyStorage:0", "IPropertySetStorage:0", "IStorage:1",
                                              "IStorage:0"};

// Runs every injection point of both kinds over one document; returns the runs made.
int SweepFailures(const Bytes& document, const std::string& expectedReport, const std::string& expectedEcho) {
  const Outcome clean = ScanWithFailure(document, 0, false);
  EXPECT_EQ(clean.report, expectedReport);
  EXPECT_EQ(clean.echo, expectedEcho);
  EXPECT_EQ(clean.releases, kEverything);
  int runs = 0;
  for (const bool persistent : {false, true}) {
    for (std::uint64_t k = 1;; ++k) {
      SCOPED_TRACE(testing::Message() << (persistent ? "reads fail from read " : "read fails: ") << k);
      const Outcome o = ScanWithFailure(document, k, persistent);
      ++runs;
      if (o.failed == 0) {  // the scan needed fewer than k reads: nothing left to fail
        EXPECT_EQ(o.report, clean.report);
        EXPECT_EQ(o.echo, clean.echo);
        EXPECT_EQ(o.releases, kEverything);
        EXPECT_EQ(o.reads, clean.reads);
        break;
      }
      const bool complete = o.report == clean.report && o.echo == clean.echo;
      const bool silent = o.report.empty() && o.echo.empty();
      EXPECT_TRUE(complete || silent) << "report:\n" << o.report << "echo:\n" << o.echo;
      EXPECT_TRUE(o.releases == kNothingObtained || o.releases == kNoSummarySet || o.releases == kEverything)
          << testing::PrintToString(o.releases);
      if (complete) {
        EXPECT_EQ(o.releases, kEverything);
      }
      if (k > clean.reads + 1) {
        ADD_FAILURE() << "a failed read made the scan read more than a clean one";
        break;
      }
    }
  }
  return runs;
}

const std::vector<testdoc::Group> kGroups = {{"Worksheets", 2}, {"Modules", 1}, {"Charts", 1}, {"Named Ranges", 2}};
const std::vector<std::string> kParts = {"Summary", "Q3 Sales", "Macros", "Revenue Chart", "Print_Area", "Totals"};
const std::string kReport =
    "Worksheets\r\n\tSummary\r\n\tQ3 Sales\r\nCharts\r\n\tRevenue Chart\r\nNamed "
    "Ranges\r\n\tPrint_Area\r\n\tTotals\r\n";
const std::string kEcho = "Summary\r\nQ3 Sales\r\nRevenue Chart\r\nPrint_Area\r\nTotals\r\n";

std::vector<testdoc::Entry> RootWithSummary(std::uint64_t summaryBytes) {
  testdoc::Entry summary = testdoc::StreamOf(testdoc::kDocSummaryName, testdoc::DocSummaryStream(kGroups, kParts));
  summary.fillerSize = summaryBytes;  // the stream's size, zero bytes after the section
  return {testdoc::FillerStream(u"Workbook", 16384),
          testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream()), summary};
}

TEST(FaultInjection, EveryFailedReadEndsSilentOrComplete) {
  struct Case {
    const char* what;
    Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"512-byte sectors, summary in the mini stream", testdoc::SimpleDocument(kGroups, kParts)});
  {
    testdoc::CfbOptions v4;
    v4.sectorShift = 12;
    cases.push_back({"4096-byte sectors", testdoc::SimpleDocument(kGroups, kParts, v4)});
  }
  {
    const testdoc::Built built = testdoc::BuildCompoundFile(RootWithSummary(4700));
    ASSERT_FALSE(built.At(testdoc::kDocSummaryName).inMini);
    cases.push_back({"summary of 4700 bytes in regular sectors", built.bytes});
  }
  {
    testdoc::CfbOptions o;
    o.reverseChains = true;
    o.directoryFirst = false;
    cases.push_back({"chains backwards, directory last", testdoc::BuildCompoundFile(RootWithSummary(4700), o).bytes});
  }
  {
    // More than 109 allocation-table sectors, and the summary's mini stream placed after
    // the bulk of the file: reading it needs table sectors named by index sectors.
    std::vector<testdoc::Entry> root = RootWithSummary(0);
    root.insert(root.begin(), testdoc::FillerStream(u"Data", 110ull * 128 * 512));
    testdoc::CfbOptions o;
    o.placeLast = {std::u16string(testdoc::kDocSummaryName)};
    const testdoc::Built built = testdoc::BuildCompoundFile(root, o);
    ASSERT_FALSE(built.difatSectors.empty());
    ASSERT_GE(built.miniStreamChain.front(), 109u * 128u);
    cases.push_back({"index sectors present", built.bytes});
  }

  int runs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    runs += SweepFailures(c.bytes, kReport, kEcho);
  }
  RecordProperty("runs", runs);
  std::printf("fault injection: %d runs over %zu documents\n", runs, cases.size());
}

}  // namespace
