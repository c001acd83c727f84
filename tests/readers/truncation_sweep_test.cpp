// Truncated documents: every prefix of a few valid documents is scanned. A prefix
// either still holds everything the outline needs, and then the listing is the full
// one, or it does not, and then nothing at all is printed: never a partial listing,
// never stray bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "doc_writer.h"
#include "readers/byte_source.h"
#include "scan_harness.h"

namespace {

using testdoc::Bytes;

std::span<const std::uint8_t> g_prefix;

std::unique_ptr<readers::ByteSource> OpenPrefix(const char*) {
  return std::make_unique<readers::MemorySource>(g_prefix);
}

using Listing = scantest::ScanResult;

Listing ScanPrefix(const Bytes& document, std::size_t length) {
  g_prefix = std::span<const std::uint8_t>(document).first(length);
  return scantest::ScanWith(&OpenPrefix);
}

// Scans the prefixes [0, head] and [size - tail, size] (all of them when those meet) and
// checks each against the full listing. Returns the number of prefixes scanned.
std::size_t SweepPrefixes(const Bytes& document, std::size_t head, std::size_t tail) {
  const Listing full = ScanPrefix(document, document.size());
  EXPECT_FALSE(full.report.empty());
  EXPECT_FALSE(full.echo.empty());
  std::size_t scanned = 0;
  std::size_t fullCount = 0;
  const auto check = [&](std::size_t length) {
    const Listing l = ScanPrefix(document, length);
    ++scanned;
    if (l.report == full.report && l.echo == full.echo) {
      ++fullCount;
      return;
    }
    EXPECT_TRUE(l.report.empty() && l.echo.empty()) << "prefix of " << length << " bytes listed:\n" << l.report;
  };
  const std::size_t tailStart = document.size() > tail ? document.size() - tail : 0;
  for (std::size_t length = 0; length <= std::min(head, document.size()); ++length) check(length);
  for (std::size_t length = std::max(tailStart, head + 1); length <= document.size(); ++length) check(length);
  // The shortest prefixes cannot hold the outline; the whole document lists it.
  EXPECT_GE(fullCount, 1u);
  EXPECT_LT(fullCount, scanned);
  return scanned;
}

const std::vector<testdoc::Group> kGroups = {{"Worksheets", 2}, {"Modules", 1}, {"Charts", 1}, {"Named Ranges", 2}};
const std::vector<std::string> kParts = {"Summary", "Q3 Sales", "Macros", "Revenue Chart", "Print_Area", "Totals"};

testdoc::Entry Summary(std::uint64_t size) {
  testdoc::Entry e = testdoc::StreamOf(testdoc::kDocSummaryName, testdoc::DocSummaryStream(kGroups, kParts));
  e.fillerSize = size;
  return e;
}

TEST(TruncationSweep, EveryPrefixListsAllOrNothing) {
  std::size_t scanned = 0;
  {
    SCOPED_TRACE("512-byte sectors, summary in the mini stream");
    scanned += SweepPrefixes(testdoc::SimpleDocument(kGroups, kParts), SIZE_MAX, 0);
  }
  {
    SCOPED_TRACE("4096-byte sectors");
    testdoc::CfbOptions v4;
    v4.sectorShift = 12;
    scanned += SweepPrefixes(testdoc::SimpleDocument(kGroups, kParts, v4), SIZE_MAX, 0);
  }
  {
    SCOPED_TRACE("summary in regular sectors, directory last, chains backwards");
    testdoc::CfbOptions o;
    o.reverseChains = true;
    o.directoryFirst = false;
    const testdoc::Built built =
        testdoc::BuildCompoundFile({Summary(4700), testdoc::FillerStream(u"Workbook", 8192),
                                    testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream())},
                                   o);
    ASSERT_FALSE(built.At(testdoc::kDocSummaryName).inMini);
    scanned += SweepPrefixes(built.bytes, SIZE_MAX, 0);
  }
  {
    SCOPED_TRACE("index sectors present");
    std::vector<testdoc::Entry> root = {testdoc::FillerStream(u"Data", 110ull * 128 * 512), Summary(0),
                                        testdoc::FillerStream(u"Workbook", 8192)};
    const testdoc::Built built = testdoc::BuildCompoundFile(root);
    ASSERT_FALSE(built.difatSectors.empty());
    scanned += SweepPrefixes(built.bytes, 8192, 12288);
  }
  RecordProperty("prefixes", static_cast<int>(scanned));
  std::printf("truncation sweep: %zu prefixes\n", scanned);
}

}  // namespace
