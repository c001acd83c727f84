// Self-check of the test document writer: files it builds must be internally consistent when read back
// by an independent, deliberately strict walker, and its string layouts must match known bytes.
#include "doc_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testdoc {
namespace {

// ---------------------------------------------------------------------------------------------
// A strict reader used only to check the writer. It throws on any inconsistency.
// ---------------------------------------------------------------------------------------------

struct DirRec {
  std::u16string name;
  std::uint8_t type;
  std::uint32_t left, right, child, start;
  std::uint64_t size;
};

struct Parsed {
  std::string error;  // empty when every check passed
  std::uint32_t sectorSize = 0;
  std::uint32_t difatSectors = 0;
  std::vector<DirRec> dir;
  std::map<std::u16string, Bytes> streams;  // by path
  bool ordered = true;                      // every sibling tree in name order
  std::size_t maxTreeDepth = 0;
};

bool Less(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'a' && x <= u'z') x -= 32;
    if (y >= u'a' && y <= u'z') y -= 32;
    if (x != y) return x < y;
  }
  return false;
}

void Require(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

void ParseInto(const Bytes& f, Parsed& out) {
  Require(f.size() >= 512, "file shorter than a header");
  static const Bytes kSig = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  Require(std::equal(kSig.begin(), kSig.end(), f.begin()), "signature");
  Require(GetU16(f, kHdrByteOrder) == 0xFFFE, "byte order");
  const unsigned shift = GetU16(f, kHdrSectorShift);
  Require(shift == 9 || shift == 12, "sector shift");
  Require(GetU16(f, kHdrMajorVersion) == (shift == 9 ? 3 : 4), "major version vs sector shift");
  Require(GetU16(f, kHdrMiniSectorShift) == 6 && GetU32(f, kHdrMiniCutoff) == 4096, "mini shift or cutoff");
  const std::uint32_t S = 1u << shift;
  out.sectorSize = S;
  Require(f.size() >= S, "header sector incomplete");
  if (shift == 9) Require(GetU32(f, kHdrDirSectorCount) == 0, "version 3 directory sector count");
  const std::uint64_t nSectors = (f.size() - S + S - 1) / S;  // a partial last sector counts

  auto sector = [&](std::uint32_t n) {
    Require(n < nSectors, "sector id past the end: " + std::to_string(n));
    const std::uint64_t off = (std::uint64_t{n} + 1) * S;
    Bytes s(S, 0);
    std::copy_n(f.begin() + static_cast<std::ptrdiff_t>(off), std::min<std::uint64_t>(S, f.size() - off), s.begin());
    return s;
  };

  // FAT sector ids from the header and the DIFAT chain.
  const std::uint32_t fatCount = GetU32(f, kHdrFatSectorCount);
  const std::uint32_t difatCount = GetU32(f, kHdrDifatSectorCount);
  out.difatSectors = difatCount;
  std::vector<std::uint32_t> fatIds;
  for (std::uint32_t i = 0; i < 109; ++i) {
    const std::uint32_t id = GetU32(f, kHdrDifat + 4 * i);
    if (fatIds.size() < fatCount) fatIds.push_back(id);
    else Require(id == kFreeSect, "unused header DIFAT slot not free");
  }
  std::vector<std::uint32_t> difatIds;
  std::uint32_t cur = GetU32(f, kHdrFirstDifatSector);
  for (std::uint32_t d = 0; d < difatCount; ++d) {
    difatIds.push_back(cur);
    const Bytes s = sector(cur);
    for (std::uint32_t k = 0; k + 1 < S / 4; ++k) {
      const std::uint32_t id = GetU32(s, 4 * k);
      if (fatIds.size() < fatCount) fatIds.push_back(id);
      else Require(id == kFreeSect, "unused DIFAT slot not free");
    }
    cur = GetU32(s, S - 4);
  }
  Require(cur == kEndOfChain, "DIFAT chain not ended by end-of-chain");
  Require(fatIds.size() == fatCount, "fewer FAT sector ids than the header count");

  std::vector<std::uint32_t> fat;
  for (std::uint32_t id : fatIds) {
    const Bytes s = sector(id);
    for (std::uint32_t k = 0; k < S / 4; ++k) fat.push_back(GetU32(s, 4 * k));
  }
  Require(fat.size() >= nSectors, "FAT does not cover the file");
  for (std::size_t i = nSectors; i < fat.size(); ++i) Require(fat[i] == kFreeSect, "FAT entry past the end in use");

  std::vector<bool> owned(nSectors, false);
  auto claim = [&](std::uint32_t n, const char* what) {
    Require(n < nSectors && !owned[n], std::string("sector reused or out of range in ") + what);
    owned[n] = true;
  };
  for (std::uint32_t id : fatIds) {
    claim(id, "FAT");
    Require(fat[id] == kFatSect, "FAT sector not marked as such");
  }
  for (std::uint32_t id : difatIds) {
    claim(id, "DIFAT");
    Require(fat[id] == kDifSect, "DIFAT sector not marked as such");
  }
  auto walk = [&](std::uint32_t start, const char* what) {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t s = start; s != kEndOfChain; s = fat[s]) {
      claim(s, what);
      chain.push_back(s);
    }
    return chain;
  };
  auto readChain = [&](const std::vector<std::uint32_t>& chain, std::uint64_t size) {
    Bytes b;
    for (std::uint32_t s : chain) {
      const Bytes sec = sector(s);
      b.insert(b.end(), sec.begin(), sec.end());
    }
    b.resize(size);
    return b;
  };

  // Directory.
  const auto dirChain = walk(GetU32(f, kHdrFirstDirSector), "directory");
  if (shift == 12) Require(GetU32(f, kHdrDirSectorCount) == dirChain.size(), "directory sector count");
  const Bytes dirBytes = readChain(dirChain, dirChain.size() * std::uint64_t{S});
  for (std::size_t at = 0; at < dirBytes.size(); at += 128) {
    DirRec r;
    const std::uint16_t nameLen = GetU16(dirBytes, at + kDirNameLength);
    r.type = dirBytes[at + kDirType];
    if (r.type != 0) Require(nameLen >= 2 && nameLen <= 64 && nameLen % 2 == 0, "name length");
    for (std::size_t i = 0; r.type != 0 && i + 1 < nameLen / 2u; ++i) r.name.push_back(GetU16(dirBytes, at + 2 * i));
    r.left = GetU32(dirBytes, at + kDirLeft);
    r.right = GetU32(dirBytes, at + kDirRight);
    r.child = GetU32(dirBytes, at + kDirChild);
    r.start = GetU32(dirBytes, at + kDirStart);
    r.size = GetU64(dirBytes, at + kDirSize);
    out.dir.push_back(r);
  }
  Require(out.dir[0].type == 5 && out.dir[0].name == u"Root Entry", "root entry");

  // Mini FAT and mini stream.
  const auto miniFatChain = walk(GetU32(f, kHdrFirstMiniFatSector), "mini FAT");
  Require(miniFatChain.size() == GetU32(f, kHdrMiniFatSectorCount), "mini FAT sector count");
  const Bytes miniFatBytes = readChain(miniFatChain, miniFatChain.size() * std::uint64_t{S});
  std::vector<std::uint32_t> miniFat;
  for (std::size_t i = 0; i < miniFatBytes.size(); i += 4) miniFat.push_back(GetU32(miniFatBytes, i));
  const DirRec& root = out.dir[0];
  const auto miniChain = walk(root.start, "mini stream");
  Require(miniChain.size() == (root.size + S - 1) / S, "mini stream chain length");
  const Bytes mini = readChain(miniChain, root.size);
  std::vector<bool> miniOwned(miniFat.size(), false);

  // Sibling trees, walked without recursion; every entry must be reached exactly once.
  std::vector<bool> reached(out.dir.size(), false);
  reached[0] = true;
  std::vector<std::pair<std::uint32_t, std::u16string>> storages{{0, u""}};
  while (!storages.empty()) {
    const auto [storage, prefix] = storages.back();
    storages.pop_back();
    std::vector<std::pair<std::uint32_t, std::size_t>> stack;  // (entry, depth)
    std::vector<std::uint32_t> inOrder;
    std::uint32_t at = out.dir[storage].child;
    std::size_t depth = 1;
    while (at != kNoStream || !stack.empty()) {
      while (at != kNoStream) {
        Require(at < out.dir.size() && !reached[at] && out.dir[at].type != 0, "bad or repeated sibling link");
        reached[at] = true;
        out.maxTreeDepth = std::max(out.maxTreeDepth, depth);
        stack.push_back({at, depth});
        at = out.dir[at].left;
        ++depth;
      }
      const auto [node, d] = stack.back();
      stack.pop_back();
      inOrder.push_back(node);
      at = out.dir[node].right;
      depth = d + 1;
    }
    for (std::size_t i = 1; i < inOrder.size(); ++i)
      if (!Less(out.dir[inOrder[i - 1]].name, out.dir[inOrder[i]].name)) out.ordered = false;
    for (std::uint32_t e : inOrder) {
      const DirRec& r = out.dir[e];
      const std::u16string path = prefix.empty() ? r.name : prefix + u"/" + r.name;
      if (r.type == 1) {
        storages.push_back({e, path});
        continue;
      }
      Require(r.type == 2, "unexpected entry type");
      Bytes content;
      if (r.size == 0) {
        Require(r.start == kEndOfChain, "empty stream with a chain");
      } else if (r.size < 4096) {
        std::uint64_t n = 0;
        for (std::uint32_t m = r.start; m != kEndOfChain; m = miniFat[m], ++n) {
          Require(m < miniFat.size() && !miniOwned[m] && (m + 1) * 64ull <= root.size, "mini sector reused or out of range");
          miniOwned[m] = true;
          content.insert(content.end(), mini.begin() + m * 64, mini.begin() + (m + 1) * 64);
        }
        Require(n == (r.size + 63) / 64, "mini chain length");
        content.resize(r.size);
      } else {
        const auto chain = walk(r.start, "stream");
        Require(chain.size() == (r.size + S - 1) / S, "stream chain length");
        content = readChain(chain, r.size);
      }
      out.streams[path] = std::move(content);
    }
  }
  for (std::size_t i = 0; i < out.dir.size(); ++i)
    Require(reached[i] == (out.dir[i].type != 0), "directory entry unreachable from the root");
  for (std::uint64_t s = 0; s < nSectors; ++s) Require(owned[s] == (fat[s] != kFreeSect), "sector leaked or free but used");
  for (std::size_t m = 0; m < miniFat.size(); ++m)
    Require(miniOwned[m] == (miniFat[m] != kFreeSect), "mini sector leaked or free but used");
}

Parsed Check(const Bytes& f) {
  Parsed p;
  try {
    ParseInto(f, p);
  } catch (const std::exception& e) {
    p.error = e.what();
  }
  return p;
}

Bytes Content(const Entry& e, std::uint8_t filler = 0) {
  Bytes b = e.data;
  b.resize(std::max<std::uint64_t>(e.data.size(), e.fillerSize), filler);
  return b;
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

// ---------------------------------------------------------------------------------------------
// Property values and streams
// ---------------------------------------------------------------------------------------------

TEST(DocWriterStrings, KnownEncodings) {
  struct Case {
    const char* what;
    Bytes got, want;
  };
  const Case cases[] = {
      {"heading pairs, unpadded",
       HeadingPairs({{"Worksheets", 1}}),
       {0x0C, 0x10, 0, 0, 2, 0, 0, 0, 0x1E, 0, 0, 0, 11, 0, 0, 0, 'W', 'o', 'r', 'k', 's', 'h', 'e', 'e', 't', 's',
        0, 0x03, 0, 0, 0, 1, 0, 0, 0}},
      {"heading pairs, padded",
       HeadingPairs({{"Worksheets", 1}}, StrLayout::Padded),
       {0x0C, 0x10, 0, 0, 2, 0, 0, 0, 0x1E, 0, 0, 0, 11, 0, 0, 0, 'W', 'o', 'r', 'k', 's', 'h', 'e', 'e', 't', 's',
        0, 0, 0x03, 0, 0, 0, 1, 0, 0, 0}},
      {"count padded with garbage",
       ElemLpstr("Page-1", StrLayout::CountPadded, "0"),
       {0x1E, 0, 0, 0, 8, 0, 0, 0, 'P', 'a', 'g', 'e', '-', '1', 0, '0'}},
      {"count padded, already a multiple of 4", ElemLpstr("abc", StrLayout::CountPadded, "xyz"),
       {0x1E, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0}},
      {"doc parts, unpadded, empty name", DocParts({"", "Sheet1"}),
       {0x1E, 0x10, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 7, 0, 0, 0, 'S', 'h', 'e', 'e', 't', '1', 0}},
      {"vector count override", VectorLpstr({"a"}, StrLayout::Unpadded, 0x7FFFFFFF),
       {0x1E, 0x10, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 2, 0, 0, 0, 'a', 0}},
      {"wide string padded to 4", Lpwstr(u"ab"), {0x1F, 0, 0, 0, 3, 0, 0, 0, 'a', 0, 'b', 0, 0, 0, 0, 0}},
      {"I2 padded to 4", I2(-2), {0x02, 0, 0, 0, 0xFE, 0xFF, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(DocWriterPropertySet, DocSummaryLayoutLikeRealWriters) {
  DocSummaryOptions o;
  o.company = "Acme";
  o.userDefinedSection = true;
  const PropertySet ps = BuildDocSummary({{"Worksheets", 2}}, {"A", "B"}, o);
  const Bytes& b = ps.bytes;
  EXPECT_EQ(GetU16(b, 0), 0xFFFE);
  ASSERT_EQ(GetU32(b, 24), 2u);
  ASSERT_EQ(ps.sections.size(), 2u);
  EXPECT_TRUE(std::equal(kFmtidDocSummary.begin(), kFmtidDocSummary.end(), b.begin() + 28));
  EXPECT_TRUE(std::equal(kFmtidUserDefined.begin(), kFmtidUserDefined.end(), b.begin() + 48));
  for (const SectionLoc& s : ps.sections) {
    EXPECT_EQ(GetU32(b, s.headerEntry + 16), s.start);
    EXPECT_EQ(s.start % 4, 0u);
    EXPECT_EQ(GetU32(b, s.start), s.size);
    EXPECT_EQ(GetU32(b, s.start + 4), s.props.size());
    for (const PropLoc& p : s.props) {
      EXPECT_EQ(GetU32(b, p.tableEntry), p.id);
      EXPECT_EQ(GetU32(b, p.tableEntry + 4), p.value - s.start);
      EXPECT_LE(p.value + p.size, s.start + s.size);
    }
  }
  EXPECT_EQ(ps.sections[1].start, ps.sections[0].start + ps.sections[0].size);
  // Unpadded "Acme" leaves the heading pairs unaligned, and the parts follow them directly.
  const std::size_t sec = ps.sections[0].start;
  const std::size_t hp = ps.ValueOffset(0, kPidHeadingPairs);
  EXPECT_NE((hp - sec) % 4, 0u);
  EXPECT_EQ(GetU16(b, hp), kVtVector | kVtVariant);
  EXPECT_EQ(ps.ValueOffset(0, kPidDocParts), hp + HeadingPairs({{"Worksheets", 2}}).size());
  EXPECT_EQ(GetU16(b, ps.ValueOffset(0, kPidCodepage) + 4), 1252);

  // The generic builder aligns values unless told not to.
  const PropertySet aligned = BuildPropertySet({{kFmtidDocSummary, {{1, I2(1252)}, {15, Lpstr("Acme")}, {12, I4(7)}}}});
  for (const PropLoc& p : aligned.sections[0].props) EXPECT_EQ((p.value - aligned.sections[0].start) % 4, 0u);
}

// ---------------------------------------------------------------------------------------------
// Compound files
// ---------------------------------------------------------------------------------------------

std::vector<Entry> MixedTree() {
  std::vector<Entry> root;
  root.push_back(StreamOf(kDocSummaryName, DocSummaryStream({{"Worksheets", 1}}, {"Sheet1"})));
  root.push_back(StreamOf(u"empty", {}));
  root.push_back(StreamOf(u"one", Pattern(1, 1)));
  root.push_back(StreamOf(u"m63", Pattern(63, 2)));
  root.push_back(StreamOf(u"m64", Pattern(64, 3)));
  root.push_back(StreamOf(u"m65", Pattern(65, 4)));
  root.push_back(StreamOf(u"m4095", Pattern(4095, 5)));
  root.push_back(StreamOf(u"r4096", Pattern(4096, 6)));
  Entry prefixed = StreamOf(u"prefixed", Pattern(300, 7));
  prefixed.fillerSize = 20000;
  root.push_back(prefixed);
  root.push_back(FillerStream(u"Workbook", 9000));
  root.push_back(StorageOf(u"Embedded", {StorageOf(u"_1", {StreamOf(kDocSummaryName, Pattern(100, 8)),
                                                              StreamOf(u"Contents", Pattern(5000, 9))})}));
  for (const char* n : {"zeta", "Alpha", "beta", "GAMMA", "b", "A", "longer name"})
    root.push_back(StreamOf(U16(n), Pattern(10, 10)));
  return root;
}

void ExpectContents(const Parsed& p, const std::vector<Entry>& entries, const std::u16string& prefix, std::uint8_t filler) {
  for (const Entry& e : entries) {
    const std::u16string path = prefix.empty() ? e.name : prefix + u"/" + e.name;
    if (e.kind == Entry::Storage) {
      ExpectContents(p, e.children, path, filler);
      continue;
    }
    auto it = p.streams.find(path);
    ASSERT_NE(it, p.streams.end());
    EXPECT_TRUE(it->second == Content(e, filler)) << "stream content differs; path length " << path.size();
  }
}

TEST(DocWriterCfb, RoundTripsUnderEveryLayoutOption) {
  const std::vector<Entry> root = MixedTree();
  using Tree = CfbOptions::Tree;
  for (unsigned shift : {9u, 12u})
    for (bool reverse : {false, true})
      for (bool dirFirst : {true, false})
        for (Tree tree : {Tree::Balanced, Tree::RightChain, Tree::InsertionOrder, Tree::UnsortedChain})
          for (bool last : {false, true}) {
            CfbOptions o;
            o.sectorShift = shift;
            o.reverseChains = reverse;
            o.directoryFirst = dirFirst;
            o.tree = tree;
            o.fillerByte = 0xA5;
            if (last) o.placeLast = {std::u16string(kDocSummaryName), u"r4096"};
            SCOPED_TRACE(testing::Message() << "shift " << shift << " reverse " << reverse << " dirFirst " << dirFirst
                                            << " tree " << int(tree) << " last " << last);
            const Built b = BuildCompoundFile(root, o);
            const Parsed p = Check(b.bytes);
            ASSERT_EQ(p.error, "");
            EXPECT_EQ(b.bytes.size(), b.fileSize);
            EXPECT_EQ(b.bytes.size() % p.sectorSize, 0u);
            if (tree != Tree::UnsortedChain) {
              EXPECT_TRUE(p.ordered);
            }
            ExpectContents(p, root, u"", 0xA5);

            // Layout facts agree with the bytes.
            EXPECT_EQ(GetU32(b.bytes, kHdrFirstDirSector), b.firstDirSector);
            for (const auto& [path, idx] : b.indexByPath) {
              const EntryLayout& e = b.entries[idx];
              EXPECT_EQ(e.path, path);
              EXPECT_EQ(GetU32(b.bytes, e.dirOffset + kDirStart), e.start);
              EXPECT_EQ(b.bytes[e.dirOffset + kDirType], e.type);
              if (e.type == 2 && e.size > 0) {
                const Bytes& content = p.streams.at(path);
                for (std::uint64_t pos : {std::uint64_t{0}, e.size / 2, e.size - 1})
                  EXPECT_EQ(b.bytes[StreamByteOffset(b, path, pos)], content[pos]);
              }
            }
            EXPECT_EQ(b.entries[1].path, kDocSummaryName);  // root children take indices 1.. in given order
            if (last) {
              // The summary's data is the last stream data in the file.
              const std::uint64_t summaryAt = StreamByteOffset(b, kDocSummaryName, 0);
              EXPECT_GT(summaryAt, StreamByteOffset(b, u"Workbook", 0));
              EXPECT_GT(summaryAt, StreamByteOffset(b, u"prefixed", 0));
            }
          }
}

TEST(DocWriterCfb, TreeShapes) {
  std::vector<Entry> root;
  for (int i = 99; i >= 0; --i) {
    // Appended, not `"s" + std::to_string(...)`: that operator+ makes GCC 12 at -O2 and
    // above report a -Wrestrict overlap that cannot happen (GCC bug 105329).
    std::string name = i % 2 ? "s" : "S";
    name += std::to_string(i * 37 % 100);
    root.push_back(StreamOf(U16(name), {}));
  }
  CfbOptions o;
  Parsed p = Check(BuildCompoundFile(root, o).bytes);
  ASSERT_EQ(p.error, "");
  EXPECT_TRUE(p.ordered);
  EXPECT_LE(p.maxTreeDepth, 7u);  // 100 nodes, balanced

  o.tree = CfbOptions::Tree::RightChain;
  p = Check(BuildCompoundFile(root, o).bytes);
  ASSERT_EQ(p.error, "");
  EXPECT_TRUE(p.ordered);
  EXPECT_EQ(p.maxTreeDepth, 100u);

  o.tree = CfbOptions::Tree::UnsortedChain;  // the given order is not sorted, so neither is the tree
  p = Check(BuildCompoundFile(root, o).bytes);
  ASSERT_EQ(p.error, "");
  EXPECT_FALSE(p.ordered);
}

TEST(DocWriterCfb, DifatChainWhenFatOutgrowsHeader) {
  // 16 MiB of 512-byte sectors needs about 256 FAT sectors: 109 in the header, the rest in two
  // chained DIFAT sectors.
  const std::vector<Entry> root = {FillerStream(u"Workbook", 16u << 20),
                                   StreamOf(kDocSummaryName, DocSummaryStream({{"Sheets", 0}}, {}))};
  CfbOptions o;
  o.placeLast = {std::u16string(kDocSummaryName)};
  const Built b = BuildCompoundFile(root, o);
  EXPECT_EQ(b.difatSectors.size(), 2u);
  EXPECT_GT(b.fatSectors.size(), 109u);
  const Parsed p = Check(b.bytes);
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.difatSectors, 2u);
  EXPECT_EQ(p.streams.at(std::u16string(kDocSummaryName)), root[1].data);
  EXPECT_EQ(p.streams.at(u"Workbook").size(), 16u << 20);

  // A small file needs none.
  const Built small = BuildCompoundFile({StreamOf(u"x", {1})});
  EXPECT_EQ(GetU32(small.bytes, kHdrDifatSectorCount), 0u);
  EXPECT_EQ(GetU32(small.bytes, kHdrFirstDifatSector), kEndOfChain);
}

TEST(DocWriterCfb, StreamedFileMatchesInMemoryBuildIncludingTruncation) {
  const std::vector<Entry> root = MixedTree();
  for (unsigned shift : {9u, 12u}) {
    CfbOptions o;
    o.sectorShift = shift;
    o.truncateTail = 100;
    const Built mem = BuildCompoundFile(root, o);
    EXPECT_EQ(mem.bytes.size() % mem.sectorSize, mem.sectorSize - 100);
    const std::string path = testing::TempDir() + "doc_writer_selftest.bin";
    const Layout l = WriteCompoundFile(path, root, o);
    std::ifstream in(path, std::ios::binary);
    const Bytes disk{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::remove(path.c_str());
    EXPECT_EQ(l.fileSize, mem.fileSize);
    EXPECT_TRUE(disk == mem.bytes) << "shift " << shift;
  }
}

TEST(DocWriterCfb, SimpleDocumentCarriesBothSummaryStreams) {
  const Bytes f = SimpleDocument({{"Worksheets", 2}}, {"Sheet1", "Sheet2"});
  const Parsed p = Check(f);
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.streams.at(std::u16string(kDocSummaryName)), DocSummaryStream({{"Worksheets", 2}}, {"Sheet1", "Sheet2"}));
  EXPECT_EQ(p.streams.at(std::u16string(kSummaryName)), SummaryInfoStream());
  EXPECT_EQ(p.streams.at(u"Workbook").size(), 16384u);
}

}  // namespace
}  // namespace testdoc
