// Exhausted memory ends the tool the one abnormal way: "\r\nabnormal program
// termination\r\n" on standard error, exit status 3, nothing on standard output (not
// even what was echoed or buffered before).
//
// The tool runs under an address-space limit a few MiB above what it needs to list a
// small document, found by probing; the same limit must still let the small document
// list, and a document whose property set decodes into a few times more must end
// abnormally. Without the limit that document reads normally, so the memory is
// what ends it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "doc_writer.h"
#include "run_tool.h"

namespace {

// The tests and the tool are built with the same sanitizer flags.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kToolUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kToolUnderAsan = true;
#else
constexpr bool kToolUnderAsan = false;
#endif
#else
constexpr bool kToolUnderAsan = false;
#endif

using testdoc::Bytes;

constexpr unsigned long long kMiB = 1ull << 20;
// Head room over the smallest limit that lists the small document: generous for that
// document, well below what the large one needs (its stream and a 3 MiB array).
constexpr unsigned long long kHeadRoom = 1 * kMiB;
constexpr unsigned long long kMaxStream = 512 * 1024;  // the largest summary stream the tool reads

// A summary stream of the largest size the tool reads whose heading pairs are a vector
// of 130,900 empty variants, 4 stored bytes each and 24 decoded. The table points the
// four other string properties the scan asks for at the same vector; the tool decodes
// shared bytes only once, so this costs one array, not five.
Bytes HugeSummaryStream() {
  constexpr std::uint32_t kElements = 130900;
  Bytes vector = {0x0C, 0x10, 0, 0};  // VT_VECTOR | VT_VARIANT
  for (int i = 0; i < 4; ++i) vector.push_back(static_cast<std::uint8_t>(kElements >> (8 * i)));
  vector.resize(vector.size() + 4ull * kElements, 0);  // VT_EMPTY, padding
  testdoc::Section section{testdoc::kFmtidDocSummary, {}};
  section.props.emplace_back(testdoc::kPidCodepage, testdoc::I2(1252));
  section.props.emplace_back(testdoc::kPidHeadingPairs, testdoc::Raw(vector));
  for (const std::uint32_t id : {2u, 13u, 14u, 15u}) section.props.emplace_back(id, testdoc::I4(0));
  testdoc::PropertySet set = testdoc::BuildPropertySet({section});
  const testdoc::SectionLoc& loc = set.sections.at(0);
  const std::size_t target = set.ValueOffset(0, testdoc::kPidHeadingPairs) - loc.start;
  for (const testdoc::PropLoc& p : loc.props) {
    if (p.id != testdoc::kPidCodepage) testdoc::PutU32(set.bytes, p.tableEntry + 4, static_cast<std::uint32_t>(target));
  }
  return set.bytes;
}

bool ListsSmallDocument(const std::string& path, unsigned long long limit, const std::string& expected) {
  const e2e::RunResult r = e2e::RunTool({path}, "", limit);
  return r.exitStatus == 0 && r.out == expected && r.err.empty();
}

TEST(MemoryExhaustion, EndsWithTheAbnormalTerminationMessageOnly) {
  if (kToolUnderAsan) {
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory; an address-space limit stops it from starting";
  }
  const e2e::TempDir temp;
  const std::string& dir = temp.path();
  const std::string small = dir + "/small.xls";
  testdoc::WriteFile(small, testdoc::SimpleDocument({{"Worksheets", 1}}, {"Sheet1"}));
  const std::string expected = "Sheet1\r\nWorksheets\r\r\n\tSheet1\r\r\n";
  const std::string huge = dir + "/huge.xls";
  const Bytes stream = HugeSummaryStream();
  ASSERT_LE(stream.size(), kMaxStream);
  ASSERT_GT(stream.size(), kMaxStream - 4096);
  testdoc::WriteCompoundFile(huge, {testdoc::StreamOf(testdoc::kDocSummaryName, stream)});

  // The smallest limit (to 256 KiB) under which the small document lists. A limit far
  // too small fails at start-up in whatever way; only success is looked for.
  unsigned long long lo = 1 * kMiB;   // fails
  unsigned long long hi = 1024 * kMiB;  // lists
  ASSERT_TRUE(ListsSmallDocument(small, hi, expected));
  ASSERT_FALSE(ListsSmallDocument(small, lo, expected));
  while (hi - lo > kMiB / 4) {
    const unsigned long long mid = lo + (hi - lo) / 2;
    (ListsSmallDocument(small, mid, expected) ? hi : lo) = mid;
  }
  const unsigned long long limit = hi + kHeadRoom;
  ASSERT_TRUE(ListsSmallDocument(small, limit, expected)) << "limit " << limit;

  const e2e::RunResult unlimited = e2e::RunTool({huge});
  EXPECT_EQ(unlimited.exitStatus, 0);
  EXPECT_EQ(unlimited.err, "");

  const e2e::RunResult r = e2e::RunTool({huge}, "", limit);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.err, "\r\nabnormal program termination\r\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
