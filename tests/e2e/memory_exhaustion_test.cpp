// Exhausted memory ends the tool the one abnormal way: "\r\nabnormal program
// termination\r\n" on standard error, exit status 3, nothing on standard output (not
// even what was echoed or buffered before). docoutline-batch ends with status 3 too,
// after the records of the documents before the one that exhausted memory.
//
// The tool runs under an address-space limit a few MiB above what it needs to list a
// small document, found by probing; the same limit must still let the small document
// list, and a document whose property set decodes into a few times more must end
// abnormally. Without the limit that document reads normally, so the memory is
// what ends it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
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

// The smallest limit (to 256 KiB) under which `lists` holds, plus kHeadRoom. A limit far
// too small fails at start-up in whatever way; only success is looked for.
unsigned long long LimitAbove(const std::function<bool(unsigned long long)>& lists) {
  unsigned long long lo = 1 * kMiB;     // fails
  unsigned long long hi = 1024 * kMiB;  // lists
  if (!lists(hi) || lists(lo)) return 0;
  while (hi - lo > kMiB / 4) {
    const unsigned long long mid = lo + (hi - lo) / 2;
    (lists(mid) ? hi : lo) = mid;
  }
  return hi + kHeadRoom;
}

bool ListsSmallDocument(const std::string& path, unsigned long long limit, const std::string& expected) {
  const e2e::RunResult r = e2e::RunTool({path}, "", limit);
  return r.exitStatus == 0 && r.out == expected && r.err.empty();
}

struct Documents {
  e2e::TempDir temp;
  std::string small = temp.path() + "/small.xls";
  std::string huge = temp.path() + "/huge.xls";
  Documents() {
    testdoc::WriteFile(small, testdoc::SimpleDocument({{"Worksheets", 1}}, {"Sheet1"}));
    const Bytes stream = HugeSummaryStream();
    EXPECT_LE(stream.size(), kMaxStream);
    EXPECT_GT(stream.size(), kMaxStream - 4096);
    testdoc::WriteCompoundFile(huge, {testdoc::StreamOf(testdoc::kDocSummaryName, stream)});
  }
};

TEST(MemoryExhaustion, EndsWithTheAbnormalTerminationMessageOnly) {
  if (kToolUnderAsan) {
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory; an address-space limit stops it from starting";
  }
  const Documents docs;
  const std::string expected = "Sheet1\r\nWorksheets\r\r\n\tSheet1\r\r\n";
  const unsigned long long limit =
      LimitAbove([&](unsigned long long l) { return ListsSmallDocument(docs.small, l, expected); });
  ASSERT_NE(limit, 0u);
  ASSERT_TRUE(ListsSmallDocument(docs.small, limit, expected)) << "limit " << limit;

  const e2e::RunResult unlimited = e2e::RunTool({docs.huge});
  EXPECT_EQ(unlimited.exitStatus, 0);
  EXPECT_EQ(unlimited.err, "");

  const e2e::RunResult r = e2e::RunTool({docs.huge}, "", limit);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.err, "\r\nabnormal program termination\r\n");
  EXPECT_EQ(r.out, "");
}

// The batch, one thread: the record of the document before the one that exhausts memory
// is written, none after it, one line on standard error, status 3. Threads that cannot
// be started are no failure.
TEST(MemoryExhaustion, BatchWritesTheRecordsBeforeAndEndsWithStatus3) {
  if (kToolUnderAsan) {
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of shadow memory; an address-space limit stops it from starting";
  }
  const Documents docs;
  const auto batch = [&](const std::vector<std::string>& paths, unsigned long long limit) {
    std::vector<std::string> args = {"--no-progress", "-j", "1"};
    args.insert(args.end(), paths.begin(), paths.end());
    return e2e::RunTool(args, "", limit, DOCOUTLINE_BATCH_BINARY);
  };
  const e2e::RunResult smalls = batch({docs.small, docs.small}, 0);
  ASSERT_EQ(smalls.exitStatus, 0);
  const unsigned long long limit = LimitAbove([&](unsigned long long l) {
    const e2e::RunResult r = batch({docs.small, docs.small}, l);
    return r.exitStatus == 0 && r.out == smalls.out && r.err.empty();
  });
  ASSERT_NE(limit, 0u);
  // Under that limit no thread's stack fits: threads that cannot start leave the calling
  // thread to work alone.
  const e2e::RunResult threads = batch({"-j", "32", docs.small, docs.small}, limit);
  EXPECT_EQ(threads.exitStatus, 0);
  EXPECT_EQ(threads.out, smalls.out);
  EXPECT_EQ(threads.err, "");

  const e2e::RunResult unlimited = batch({docs.small, docs.huge, docs.small}, 0);
  EXPECT_EQ(unlimited.exitStatus, 0);
  EXPECT_EQ(std::count(unlimited.out.begin(), unlimited.out.end(), '\n'), 3);

  const e2e::RunResult r = batch({docs.small, docs.huge, docs.small}, limit);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitStatus, 3);
  EXPECT_EQ(r.err, "docoutline-batch: memory exhausted\n");
  EXPECT_EQ(r.out, smalls.out.substr(0, smalls.out.find('\n') + 1));
}

}  // namespace
