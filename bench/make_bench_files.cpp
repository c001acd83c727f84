// Writes the documents the benchmark runs on into a folder, with the test writer:
//
//   typical.xls         a small workbook as office applications save it: a 28 KiB "Workbook",
//                       both summary streams padded to 4096 bytes (so regular streams)
//   v3-100m.xls         512-byte sectors, 4,000 streams of ~26 KiB, summary streams stored last
//   v4-100m.xls         the same with 4096-byte sectors
//   v3-1g.xls           512-byte sectors, 4,000 streams of ~256 KiB, summary streams stored last
//   v4-1g.xls           the same with 4096-byte sectors
//   wide-root.xls       20,000 streams of 4 KiB directly under the root, summary stored last
//   long-mini.xls       8,000 streams of 2,000 bytes (all in the mini stream) before a small
//                       summary stream at the end of a 16 MB mini stream
//   hostile-variants.xls  the costliest summary stream to decode: 2 MiB (the largest read)
//                       holding one vector of empty variants, 24 bytes each once decoded, which
//                       all six properties the tool asks for name
//   hostile-names.xls   a 2 MiB summary stream of empty part names that the heading pairs
//                       list twice over
//   package-1g.xlsx     an Office Open XML package whose parts come after a 1 GiB entry
//                       (written as a hole: it takes no disk)
//   package-dir20k.xlsx, package-dir200k.xlsx
//                       packages of 20,000 and 200,000 empty entries, the two parts the
//                       reader needs last in the central directory
//   hostile-comments.xlsx  a 15 KB package whose properties hold five 3 MB comments
//   hostile-tokens.xlsx    properties of 16 MiB made of comments just under the reader's
//                       longest token: the costliest part it reads whole
//   hostile-name.xlsx   one part name of nearly 16 MiB
//   hostile-padded.xlsx properties whose deflated data goes on in empty stored blocks
//                       past what a part may take
//
// The 100 MiB and 1 GiB files share their directory shape and differ only in stream sizes,
// so what the tool reads from them should not differ. Filler is generated while writing;
// memory stays at the size of the allocation tables.
//
// Usage: make_bench_files OUTDIR [NAME...]   (no names: every compound file; the packages,
// which bench/batch reads, only by name)
// Prints one line per file written: name, size in bytes.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "doc_writer.h"
#include "zip_writer.h"

namespace {

constexpr std::size_t kLargestStream = 2'097'152;  // the largest summary stream the tool reads

using testdoc::CfbOptions;
using testdoc::Entry;

const std::vector<testdoc::Group> kGroups = {{"Worksheets", 3}, {"Charts", 1}, {"Modules", 1}, {"Named Ranges", 2}};
const std::vector<std::string> kParts = {"Summary", "Q3 Sales",   "Forecast", "Revenue Chart",
                                         "Macros",  "Print_Area", "Totals"};

std::u16string Numbered(std::u16string_view prefix, unsigned i) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%05u", i);
  std::u16string name(prefix);
  for (const char* p = digits; *p != '\0'; ++p) name.push_back(static_cast<char16_t>(*p));
  return name;
}

// The two summary streams; `padded` pads each to 4096 bytes, as office applications do,
// which makes them regular streams rather than mini streams.
void AddSummaries(std::vector<Entry>& root, bool padded) {
  Entry info = testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream());
  Entry outline = testdoc::StreamOf(testdoc::kDocSummaryName, testdoc::DocSummaryStream(kGroups, kParts));
  if (padded) {
    info.fillerSize = 4096;
    outline.fillerSize = 4096;
  }
  root.push_back(std::move(info));
  root.push_back(std::move(outline));
}

CfbOptions SummariesLast(unsigned sectorShift) {
  CfbOptions opts;
  opts.sectorShift = sectorShift;
  opts.placeLast = {std::u16string(testdoc::kSummaryName), std::u16string(testdoc::kDocSummaryName)};
  return opts;
}

// `count` filler streams sharing `total` bytes, then the padded summary streams after them.
void ManyStreams(const std::string& path, unsigned sectorShift, unsigned count, std::uint64_t total) {
  std::vector<Entry> root;
  root.reserve(count + 2);
  for (unsigned i = 0; i < count; ++i) root.push_back(testdoc::FillerStream(Numbered(u"Block", i), total / count));
  AddSummaries(root, true);
  testdoc::WriteCompoundFile(path, root, SummariesLast(sectorShift));
}

void Typical(const std::string& path) {
  std::vector<Entry> root;
  root.push_back(testdoc::FillerStream(u"Workbook", 28 * 1024));
  root.push_back(testdoc::FillerStream(u"\001CompObj", 114));
  AddSummaries(root, true);
  testdoc::WriteCompoundFile(path, root, CfbOptions{});
}

void WideRoot(const std::string& path) {
  std::vector<Entry> root;
  for (unsigned i = 0; i < 20000; ++i) root.push_back(testdoc::FillerStream(Numbered(u"Item", i), 4096));
  AddSummaries(root, true);
  testdoc::WriteCompoundFile(path, root, SummariesLast(9));
}

// Small streams fill a long mini stream; the (unpadded, so mini) summary streams come last
// in it, and with them the whole mini stream goes after the regular data.
void LongMini(const std::string& path) {
  std::vector<Entry> root;
  root.push_back(testdoc::FillerStream(u"Workbook", 64 * 1024));
  for (unsigned i = 0; i < 8000; ++i) root.push_back(testdoc::FillerStream(Numbered(u"Note", i), 2000));
  AddSummaries(root, false);
  testdoc::WriteCompoundFile(path, root, SummariesLast(9));
}

// The largest summary stream read: `value` as property 12 and, when `shareAll`, the
// table entries of the other five properties the tool asks for pointing at it too.
void LargestSummary(const std::string& path, testdoc::Bytes value,
                    std::vector<std::pair<std::uint32_t, testdoc::Bytes>> more, bool shareAll) {
  testdoc::Section section{testdoc::kFmtidDocSummary, {}};
  section.props.emplace_back(12, std::move(value));
  for (auto& p : more) section.props.push_back(std::move(p));
  if (shareAll) {
    for (const std::uint32_t id : {1u, 2u, 13u, 14u, 15u}) section.props.emplace_back(id, testdoc::I4(0));
  }
  testdoc::PropertySet set = testdoc::BuildPropertySet({section});
  if (shareAll) {
    const auto shared = static_cast<std::uint32_t>(set.ValueOffset(0, 12) - set.sections[0].start);
    for (const testdoc::PropLoc& p : set.sections[0].props) testdoc::PutU32(set.bytes, p.tableEntry + 4, shared);
  }
  if (set.bytes.size() > kLargestStream) throw std::runtime_error("summary stream over the limit");
  testdoc::Entry summary = testdoc::StreamOf(testdoc::kDocSummaryName, std::move(set.bytes));
  testdoc::WriteCompoundFile(path, {testdoc::FillerStream(u"Workbook", 16384), std::move(summary)});
}

void HostileVariants(const std::string& path) {
  // 4 bytes a variant; the rest of the stream is headers and the table.
  const std::size_t count = (kLargestStream - 160) / 4;
  LargestSummary(path, testdoc::VectorVariant(std::vector<testdoc::Bytes>(count, testdoc::ElemEmpty())), {}, true);
}

void HostileNames(const std::string& path) {
  // Empty names take 4 bytes each (a zero count); the first of five groups lists them
  // all, the two skipped groups step back over them, and the fourth lists them again.
  const auto count = static_cast<std::int32_t>((kLargestStream - 400) / 4);
  const std::vector<testdoc::Group> groups = {{"A", count}, {"B", -count}, {"C", 0}, {"D", count}, {"E", 0}};
  testdoc::Bytes parts = testdoc::ElemRaw(testdoc::kVtVector | testdoc::kVtLpstr, {});
  for (const std::uint32_t v : {static_cast<std::uint32_t>(count)}) {
    for (int i = 0; i < 4; ++i) parts.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  parts.resize(parts.size() + 4 * static_cast<std::size_t>(count), 0);
  LargestSummary(path, testdoc::HeadingPairs(groups), {{13, std::move(parts)}}, false);
}

// A package whose parts come after one stored entry of `size` zero bytes, which the
// file holds as a hole.
void BigPackage(const std::string& path, std::uint64_t size) {
  testdoc::WriteAfterHole(path, "xl/media/big.bin", size,
                          testdoc::PackageItems(testdoc::PropertiesXml(testdoc::OutlineXml(kGroups, kParts))));
}

// A package of `entries` empty entries, and then the parts the reader needs.
void WidePackage(const std::string& path, unsigned entries) {
  std::vector<testdoc::ZipItem> items;
  for (unsigned i = 0; i < entries; ++i) items.emplace_back("xl/worksheets/sheet" + std::to_string(i) + ".xml", "", 0);
  for (testdoc::ZipItem& item : testdoc::PackageItems(testdoc::PropertiesXml(testdoc::OutlineXml(kGroups, kParts)))) {
    items.push_back(item);
  }
  testdoc::WriteFile(path, testdoc::BuildZip(items));
}

// Packages that cost the package reader most, one way each.
void HostilePackage(const std::string& path, const std::string& kind) {
  const std::string outline = testdoc::OutlineXml(kGroups, kParts);
  std::vector<testdoc::ZipItem> items = testdoc::PackageItems(testdoc::PropertiesXml(outline));
  testdoc::ZipItem& properties = items[2];
  if (kind == "comments") {
    std::string comments;
    for (int i = 0; i < 5; ++i) comments.append("<!--").append(3000000, 'x').append("-->");
    properties.data = testdoc::PropertiesXml(comments + outline);
  } else if (kind == "tokens") {
    std::string comments;
    while (comments.size() < (16u << 20) - (64u << 10)) comments.append("<!--").append(48u << 10, 'x').append("-->");
    properties.data = testdoc::PropertiesXml(comments + outline);
  } else if (kind == "name") {
    properties.data = testdoc::PropertiesXml(testdoc::OutlineXml(kGroups, {std::string((16u << 20) - 4096, 'n')}));
  } else {
    properties.data = "";
    properties.compressed = "";
    for (std::uint64_t n = 0; n < (64u << 20) / 5; ++n) properties.trailing.append("\0\0\0\xFF\xFF", 5);
  }
  testdoc::WriteFile(path, testdoc::BuildZip(items));
}

struct Job {
  const char* name;
  std::function<void(const std::string&)> write;
  bool byNameOnly = false;  // written only when named
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_bench_files OUTDIR [NAME...]\n");
    return 2;
  }
  constexpr std::uint64_t kMiB = 1024 * 1024;
  const std::vector<Job> jobs = {
      {"typical.xls", Typical},
      {"v3-100m.xls", [](const std::string& p) { ManyStreams(p, 9, 4000, 100 * kMiB); }},
      {"v4-100m.xls", [](const std::string& p) { ManyStreams(p, 12, 4000, 100 * kMiB); }},
      {"v3-1g.xls", [](const std::string& p) { ManyStreams(p, 9, 4000, 1024 * kMiB); }},
      {"v4-1g.xls", [](const std::string& p) { ManyStreams(p, 12, 4000, 1024 * kMiB); }},
      {"wide-root.xls", WideRoot},
      {"long-mini.xls", LongMini},
      {"hostile-variants.xls", HostileVariants},
      {"hostile-names.xls", HostileNames},
      {"package-1g.xlsx", [](const std::string& p) { BigPackage(p, 1024 * kMiB); }, true},
      {"package-dir20k.xlsx", [](const std::string& p) { WidePackage(p, 20000); }, true},
      {"package-dir200k.xlsx", [](const std::string& p) { WidePackage(p, 200000); }, true},
      {"hostile-comments.xlsx", [](const std::string& p) { HostilePackage(p, "comments"); }, true},
      {"hostile-tokens.xlsx", [](const std::string& p) { HostilePackage(p, "tokens"); }, true},
      {"hostile-name.xlsx", [](const std::string& p) { HostilePackage(p, "name"); }, true},
      {"hostile-padded.xlsx", [](const std::string& p) { HostilePackage(p, "padded"); }, true},
  };
  const std::string dir = argv[1];
  try {
    for (const Job& job : jobs) {
      bool wanted = argc == 2 && !job.byNameOnly;
      for (int i = 2; i < argc; ++i) wanted = wanted || job.name == std::string(argv[i]);
      if (!wanted) continue;
      const std::string path = dir + "/" + job.name;
      job.write(path);
      struct stat st = {};
      if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
      std::printf("%s %lld\n", job.name, static_cast<long long>(st.st_size));
      std::fflush(stdout);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_bench_files: %s\n", e.what());
    return 1;
  }
  return 0;
}
