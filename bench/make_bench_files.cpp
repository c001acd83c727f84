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
//
// The 100 MiB and 1 GiB files share their directory shape and differ only in stream sizes,
// so what the tool reads from them should not differ. Filler is generated while writing;
// memory stays at the size of the allocation tables.
//
// Usage: make_bench_files OUTDIR [NAME...]   (no names: all of them)
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

namespace {

using testdoc::CfbOptions;
using testdoc::Entry;

const std::vector<testdoc::Group> kGroups = {
    {"Worksheets", 3}, {"Charts", 1}, {"Modules", 1}, {"Named Ranges", 2}};
const std::vector<std::string> kParts = {"Summary",      "Q3 Sales", "Forecast", "Revenue Chart",
                                         "Macros",       "Print_Area", "Totals"};

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

struct Job {
  const char* name;
  std::function<void(const std::string&)> write;
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
  };
  const std::string dir = argv[1];
  try {
    for (const Job& job : jobs) {
      bool wanted = argc == 2;
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
