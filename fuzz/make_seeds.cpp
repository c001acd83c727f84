// Writes the seed inputs of the fuzz targets:
//   OUT/documents/      small compound files covering the layouts the readers know
//                       (both sector sizes, mini and regular summary streams, chains run
//                       backwards, directory last, every sibling-tree shape, embedded
//                       storages, partial last sector, every string layout, Unicode)
//   OUT/property-sets/  the summary streams of those documents, and a few more shapes
//   OUT/large/          (with --large) a document whose allocation table needs index
//                       sectors; several MiB, so it is replayed but never mutated
//   OUT/packages/       small Office Open XML packages, their parts stored so that
//                       mutations reach the XML (ZIP64, data descriptors, strict and
//                       prefixed names, escapes)
// With --sample DIR, a few real documents of DIR are copied into OUT/documents (and
// their summary streams, read with the product's reader, into OUT/property-sets); with
// --packages DIR, a few real packages of DIR into OUT/packages. Samples are taken when
// the seeds are written and live only in OUT.
//
//   fuzz_make_seeds OUT [--sample DIR] [--packages DIR] [--large]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "doc_writer.h"
#include "zip_writer.h"
#include "readers/byte_source.h"
#include "readers/cfb/compound_file.h"
#include "readers/limits.h"

namespace {

namespace fs = std::filesystem;
using testdoc::Bytes;
using testdoc::CfbOptions;
using testdoc::Entry;
using testdoc::Group;

// The sample of real documents: small enough to keep fuzzing fast, varied in the
// application that wrote them.
constexpr std::size_t kSampleFiles = 30;
constexpr std::uintmax_t kSampleTotalBytes = 2'000'000;
constexpr std::uintmax_t kSampleFileBytes = 96 * 1024;

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Seeds {
  fs::path documents;
  fs::path propertySets;
  int next = 0;

  void Document(const std::string& name, const Bytes& bytes) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", next++);
    Write(documents / (prefix + name), bytes);
  }
  void Stream(const std::string& name, const Bytes& bytes) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", next++);
    Write(propertySets / (prefix + name), bytes);
  }
};

const std::vector<Group> kGroups = {{"Worksheets", 2}, {"Modules", 1}, {"Charts", 1}, {"Named Ranges", 2}};
const std::vector<std::string> kParts = {"Summary", "Q3 Sales", "Macros", "Revenue Chart", "Print_Area", "Totals"};

// A document that is small but still has a regular-sector stream beside the summary.
std::vector<Entry> Root(const Bytes& summary, std::uint64_t summaryFiller = 0) {
  Entry dsi = testdoc::StreamOf(testdoc::kDocSummaryName, summary);
  dsi.fillerSize = summaryFiller;
  return {testdoc::FillerStream(u"Workbook", 4096), testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream()),
          dsi};
}

void WriteDocumentSeeds(Seeds& s) {
  const Bytes plain = testdoc::DocSummaryStream(kGroups, kParts);
  s.Document("v3-mini.doc", testdoc::BuildCompoundFile(Root(plain)).bytes);
  CfbOptions v4;
  v4.sectorShift = 12;
  s.Document("v4-mini.doc", testdoc::BuildCompoundFile(Root(plain), v4).bytes);
  s.Document("v3-regular-summary.doc", testdoc::BuildCompoundFile(Root(plain, 4608)).bytes);
  s.Document("v4-regular-summary.doc", testdoc::BuildCompoundFile(Root(plain, 4608), v4).bytes);

  CfbOptions reversed;
  reversed.reverseChains = true;
  reversed.directoryFirst = false;
  s.Document("reversed-chains-directory-last.doc", testdoc::BuildCompoundFile(Root(plain, 5000), reversed).bytes);
  for (const auto& [tree, name] : {std::pair{CfbOptions::Tree::RightChain, "right-chain"},
                                   std::pair{CfbOptions::Tree::InsertionOrder, "insertion-order"},
                                   std::pair{CfbOptions::Tree::UnsortedChain, "unsorted-chain"}}) {
    CfbOptions o;
    o.tree = tree;
    s.Document(std::string("tree-") + name + ".doc", testdoc::BuildCompoundFile(Root(plain), o).bytes);
  }

  CfbOptions tail;
  tail.placeLast = {std::u16string(testdoc::kDocSummaryName)};
  tail.truncateTail = 100;
  s.Document("summary-last-partial-sector.doc", testdoc::BuildCompoundFile(Root(plain, 4200), tail).bytes);

  // Every string layout, Unicode sections, extra properties and sections.
  for (const auto& [layout, name] : {std::pair{testdoc::StrLayout::Padded, "padded"},
                                     std::pair{testdoc::StrLayout::CountPadded, "count-padded"}}) {
    testdoc::DocSummaryOptions o;
    o.layout = layout;
    o.company = "Example Company";
    const Bytes stream = testdoc::BuildDocSummary(kGroups, kParts, o).bytes;
    s.Document(std::string("strings-") + name + ".xls", testdoc::BuildCompoundFile(Root(stream)).bytes);
    s.Stream(std::string("strings-") + name + ".dsi", stream);
  }
  {
    testdoc::DocSummaryOptions o;
    o.codepage = 1200;
    o.company = "Unicode \xE2\x9C\x93 Company";
    o.userDefinedSection = true;
    const Bytes stream = testdoc::BuildDocSummary({{"Folien\xC3\xBC" "berschriften", 2}, {"Diagramme", 1}},
                                                  {"Titel \xE2\x82\xAC", "Zweite", "Chart"}, o)
                             .bytes;
    s.Document("unicode-user-defined.ppt", testdoc::BuildCompoundFile(Root(stream)).bytes);
    s.Stream("unicode-user-defined.dsi", stream);
  }
  {
    testdoc::DocSummaryOptions o;
    o.company = "Firm";
    o.userDefinedSection = true;
    const Bytes stream = testdoc::BuildDocSummary(kGroups, kParts, o).bytes;
    s.Stream("company-user-defined.dsi", stream);
  }

  // Many groups: the listing steps over the middle ones, counts that are zero, negative
  // or larger than the parts; empty names.
  {
    std::vector<Group> groups;
    std::vector<std::string> parts;
    for (int g = 0; g < 12; ++g) {
      groups.push_back({"Group " + std::to_string(g), g % 4 == 3 ? -2 : g % 3});
      for (int p = 0; p < g % 3; ++p) parts.push_back(p == 0 && g % 2 ? "" : "Part " + std::to_string(g) + "." + std::to_string(p));
    }
    groups.push_back({"Overflow", 1000});
    const Bytes stream = testdoc::DocSummaryStream(groups, parts);
    s.Document("many-groups.xls", testdoc::BuildCompoundFile(Root(stream)).bytes);
    s.Stream("many-groups.dsi", stream);
  }

  // An embedded object with its own summary stream, which the scan must not take.
  {
    std::vector<Entry> root = Root(plain);
    root.push_back(testdoc::StorageOf(
        u"ObjectPool", {testdoc::StorageOf(u"_1234567890", {testdoc::StreamOf(testdoc::kDocSummaryName,
                                                                            testdoc::DocSummaryStream({{"Inner", 1}}, {"Embedded"}))})}));
    s.Document("embedded-object.doc", testdoc::BuildCompoundFile(root).bytes);
  }
  // No document summary at all.
  s.Document("no-document-summary.doc",
             testdoc::BuildCompoundFile({testdoc::StreamOf(testdoc::kSummaryName, testdoc::SummaryInfoStream())}).bytes);

  // Property-set streams with values of every decoded kind.
  {
    using namespace testdoc;
    Section section{kFmtidDocSummary, {}};
    section.props.emplace_back(kPidCodepage, I2(1252));
    section.props.emplace_back(2, Lpstr("Category"));
    section.props.emplace_back(14, Lpwstr(u"Manager"));
    section.props.emplace_back(15, ElemRaw(kVtFiletime, Bytes(8, 0x11)));
    section.props.emplace_back(kPidHeadingPairs,
                               VectorVariant({ElemLpstr("Text"), ElemI2(1), ElemLpwstr(u"Wide"), ElemUI4(1), ElemEmpty(),
                                              ElemI4(-1)}));
    section.props.emplace_back(kPidDocParts, VectorLpstr({"One", "", "Three"}, StrLayout::Padded));
    s.Stream("every-kind.dsi", PropertySetStream({section}));
    Section wide{kFmtidDocSummary, {}};
    wide.props.emplace_back(kPidCodepage, I2(static_cast<std::int16_t>(1200)));
    wide.props.emplace_back(kPidHeadingPairs, VectorVariant({ElemLpstr("Narrow in Unicode"), ElemI4(2)}));
    wide.props.emplace_back(kPidDocParts, VectorLpwstr({u"A", u"B"}));
    s.Stream("unicode-narrow.dsi", PropertySetStream({wide}));
  }
  s.Stream("plain.dsi", plain);
}

// An allocation table of more than 109 sectors: the index (DIFAT) chain is walked.
void WriteLargeSeeds(const fs::path& dir) {
  std::vector<Entry> root = Root(testdoc::DocSummaryStream(kGroups, kParts));
  root.insert(root.begin(), testdoc::FillerStream(u"Data", 110ull * 128 * 512));
  root.push_back(testdoc::FillerStream(u"Zlast", 8192));
  CfbOptions o;
  o.placeLast = {u"\u0005DocumentSummaryInformation"};
  const testdoc::Layout layout = testdoc::WriteCompoundFile((dir / "difat.doc").string(), root, o);
  if (layout.difatSectors.empty()) throw std::logic_error("the large seed has no index sectors");
}

// Copies a varied sample of DIR: documents no larger than kSampleFileBytes, taken in
// turn from each file extension (name order within one); first those with a listing
// (up to two thirds of the sample), then the others.
void WriteSample(Seeds& s, const fs::path& dir) {
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec)) {
    std::printf("no corpus at '%s': sample skipped\n", dir.c_str());
    return;
  }
  // [0]: documents with a listing, [1]: the others; each by extension.
  std::map<std::string, std::vector<fs::path>> pools[2];
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const fs::path& p = e.path();
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!e.is_regular_file() || ext == ".stdout" || ext == ".tsv" || ext == ".md" || e.file_size() > kSampleFileBytes) {
      continue;
    }
    fs::path expected = p;
    expected += ".stdout";
    const bool lists = fs::exists(expected, ec) && fs::file_size(expected, ec) > 0;
    pools[lists ? 0 : 1][ext].push_back(p);
  }
  std::size_t taken = 0;
  std::uintmax_t bytes = 0;
  const auto take = [&](const fs::path& p) {
    const std::uintmax_t size = fs::file_size(p);
    if (bytes + size > kSampleTotalBytes) return;
    const Bytes doc = Read(p);
    s.Document("sample-" + p.filename().string(), doc);
    bytes += size;
    ++taken;
    // Its summary stream, read the way the scan reads it.
    readers::MemorySource source(doc);
    readers::cfb::CompoundFile file;
    readers::cfb::DirEntry entry;
    readers::cfb::StreamBytes stream;
    if (readers::cfb::OpenCompoundFile(source, file).ok() &&
        readers::cfb::FindRootStream(file, testdoc::kDocSummaryName, entry).ok() &&
        readers::cfb::ReadStream(file, entry, readers::limits::kMaxPropertyStreamBytes, stream).ok()) {
      s.Stream("sample-" + p.filename().string() + ".dsi", testdoc::Bytes(stream.begin(), stream.end()));
    }
  };
  const std::size_t quota[2] = {kSampleFiles * 2 / 3, kSampleFiles};
  for (int pool = 0; pool < 2; ++pool) {
    for (auto& [ext, files] : pools[pool]) std::sort(files.begin(), files.end());
    for (std::size_t round = 0; taken < quota[pool]; ++round) {
      bool any = false;
      for (auto& [ext, files] : pools[pool]) {
        if (round >= files.size() || taken >= quota[pool]) continue;
        any = true;
        take(files[round]);
      }
      if (!any) break;
    }
  }
  std::printf("sampled %zu documents (%ju bytes) from %s\n", taken, bytes, dir.c_str());
}

void WritePackageSeeds(const fs::path& dir) {
  using testdoc::ZipItem;
  const std::string outline = testdoc::OutlineXml(kGroups, kParts);
  const auto stored = [](std::vector<ZipItem> items) {
    for (ZipItem& item : items) item.method = 0;
    return items;
  };
  std::vector<ZipItem> plain = stored(testdoc::PackageItems(testdoc::PropertiesXml(outline)));
  Write(dir / "plain.xlsx", testdoc::BuildZip(plain));
  Write(dir / "deflated.xlsx", testdoc::BuildZip(testdoc::PackageItems(testdoc::PropertiesXml(outline))));
  std::vector<ZipItem> described = plain;
  for (ZipItem& item : described) item.descriptor = true;
  Write(dir / "data-descriptors.xlsx", testdoc::BuildZip(described));
  std::vector<ZipItem> wide = plain;
  for (ZipItem& item : wide) item.zip64 = true;
  Write(dir / "zip64.xlsx", testdoc::BuildZip(wide, {"a comment", true}));
  Write(dir / "escapes.pptx",
        testdoc::BuildZip(stored(testdoc::PackageItems(testdoc::PropertiesXml(testdoc::OutlineXml(
            {{"Slide _x005F_x0041_ Titles", 2}}, {"_xD83D__xDE00_ &amp; <![CDATA[<b>]]>", "_xD800_x"}))))));
  Write(dir / "strict-prefixed.xlsx",
        testdoc::BuildZip(stored(testdoc::PackageItems(
            "<ep:Properties xmlns:ep=\"http://purl.oclc.org/ooxml/officeDocument/extendedProperties\" "
            "xmlns:ns0=\"http://purl.oclc.org/ooxml/officeDocument/docPropsVTypes\"><ep:HeadingPairs><ns0:vector>"
            "<ns0:variant><ns0:lpstr>Pages</ns0:lpstr></ns0:variant><ns0:variant><ns0:ui4>4294967295</ns0:ui4>"
            "</ns0:variant></ns0:vector></ep:HeadingPairs><ep:TitlesOfParts><ns0:vector><ns0:lpwstr>Page-1"
            "</ns0:lpwstr></ns0:vector></ep:TitlesOfParts></ep:Properties>",
            testdoc::Relationship("/docProps/../docProps/./app.xml", false,
                                  "http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties")))));
}

// Copies the smallest real packages of DIR, one name extension after another.
void WritePackageSample(const fs::path& dir, const fs::path& from) {
  std::error_code ec;
  if (from.empty() || !fs::is_directory(from, ec)) {
    std::printf("no package corpus at '%s': sample skipped\n", from.c_str());
    return;
  }
  std::map<std::string, std::vector<std::pair<std::uintmax_t, fs::path>>> byExtension;
  for (const fs::directory_entry& e : fs::directory_iterator(from)) {
    const std::string ext = e.path().extension().string();
    if (e.is_regular_file() && ext.size() == 5 && ext[1] != 'j' && e.file_size() <= kSampleFileBytes) {
      byExtension[ext].push_back({e.file_size(), e.path()});
    }
  }
  std::size_t taken = 0;
  for (auto& [ext, files] : byExtension) {
    std::sort(files.begin(), files.end());
    for (std::size_t i = 0; i < files.size() && i < 4; ++i, ++taken) {
      Write(dir / ("sample-" + files[i].second.filename().string()), Read(files[i].second));
    }
  }
  std::printf("sampled %zu packages from %s\n", taken, from.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_make_seeds OUT [--sample DIR] [--packages DIR] [--large]\n");
    return 2;
  }
  const fs::path out = argv[1];
  fs::path sample;
  fs::path packages;
  bool large = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sample" && i + 1 < argc) {
      sample = argv[++i];
    } else if (arg == "--packages" && i + 1 < argc) {
      packages = argv[++i];
    } else if (arg == "--large") {
      large = true;
    } else {
      std::fprintf(stderr, "fuzz_make_seeds: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  try {
    Seeds s{out / "documents", out / "property-sets"};
    // A fresh set each time: nothing of an earlier sample survives a change of corpus.
    fs::remove_all(out);
    fs::create_directories(s.documents);
    fs::create_directories(s.propertySets);
    WriteDocumentSeeds(s);
    WriteSample(s, sample);
    fs::create_directories(out / "packages");
    WritePackageSeeds(out / "packages");
    WritePackageSample(out / "packages", packages);
    if (large) {
      fs::create_directories(out / "large");
      WriteLargeSeeds(out / "large");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
    return 1;
  }
  return 0;
}
