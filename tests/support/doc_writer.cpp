#include "doc_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace testdoc {

namespace {

void Append16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void ZeroPadTo4(Bytes& b, std::size_t from) {
  while ((b.size() - from) % 4 != 0) b.push_back(0);
}
std::size_t RoundUp(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }
std::uint64_t CeilDiv(std::uint64_t n, std::uint64_t d) { return (n + d - 1) / d; }

Bytes Typed(std::uint16_t vt, const Bytes& data) {
  Bytes b;
  Append16(b, vt);
  Append16(b, 0);
  Append(b, data);
  return b;
}

// Count and bytes of a narrow string, without a type field.
Bytes NarrowBody(std::string_view s, StrLayout layout, std::string_view fill) {
  const std::size_t n = s.size() + 1;
  const std::size_t count = layout == StrLayout::CountPadded ? RoundUp(n, 4) : n;
  Bytes b;
  Append32(b, static_cast<std::uint32_t>(count));
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
  for (std::size_t i = 0; i < count - n; ++i)
    b.push_back(i < fill.size() ? static_cast<std::uint8_t>(fill[i]) : 0);
  if (layout == StrLayout::Padded) ZeroPadTo4(b, 4);
  return b;
}

Bytes WideBody(std::u16string_view s) {
  Bytes b;
  Append32(b, static_cast<std::uint32_t>(s.size() + 1));
  for (char16_t c : s) Append16(b, c);
  Append16(b, 0);
  ZeroPadTo4(b, 0);
  return b;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Property values
// ---------------------------------------------------------------------------------------------

Bytes I2(std::int16_t v) { return ElemI2(v); }
Bytes I4(std::int32_t v) { return ElemI4(v); }
Bytes UI4(std::uint32_t v) { return ElemUI4(v); }
Bytes Lpstr(std::string_view s, StrLayout layout, std::string_view fill) { return ElemLpstr(s, layout, fill); }
Bytes Lpwstr(std::u16string_view s) { return ElemLpwstr(s); }

Bytes VectorLpstr(const std::vector<std::string>& items, StrLayout layout, std::optional<std::uint32_t> count,
                  std::string_view fill) {
  Bytes data;
  Append32(data, count.value_or(static_cast<std::uint32_t>(items.size())));
  for (const auto& s : items) Append(data, NarrowBody(s, layout, fill));
  return Typed(kVtVector | kVtLpstr, data);
}

Bytes VectorLpwstr(const std::vector<std::u16string>& items, std::optional<std::uint32_t> count) {
  Bytes data;
  Append32(data, count.value_or(static_cast<std::uint32_t>(items.size())));
  for (const auto& s : items) Append(data, WideBody(s));
  return Typed(kVtVector | kVtLpwstr, data);
}

Bytes VectorVariant(const std::vector<Bytes>& elements, std::optional<std::uint32_t> count) {
  Bytes data;
  Append32(data, count.value_or(static_cast<std::uint32_t>(elements.size())));
  for (const auto& e : elements) Append(data, e);
  return Typed(kVtVector | kVtVariant, data);
}

Bytes Raw(Bytes bytes) { return bytes; }

Bytes ElemLpstr(std::string_view s, StrLayout layout, std::string_view fill) {
  return Typed(kVtLpstr, NarrowBody(s, layout, fill));
}
Bytes ElemLpwstr(std::u16string_view s) { return Typed(kVtLpwstr, WideBody(s)); }
Bytes ElemI4(std::int32_t v) {
  Bytes d;
  Append32(d, static_cast<std::uint32_t>(v));
  return Typed(kVtI4, d);
}
Bytes ElemI2(std::int16_t v) {
  Bytes d;
  Append16(d, static_cast<std::uint16_t>(v));
  Append16(d, 0);
  return Typed(kVtI2, d);
}
Bytes ElemUI4(std::uint32_t v) {
  Bytes d;
  Append32(d, v);
  return Typed(kVtUI4, d);
}
Bytes ElemEmpty() { return Typed(kVtEmpty, {}); }
Bytes ElemRaw(std::uint16_t vt, const Bytes& data) { return Typed(vt, data); }

std::u16string U16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<std::uint8_t>(utf8[i]);
    std::uint32_t cp;
    std::size_t len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
    else { cp = c & 0x07; len = 4; }
    if (i + len > utf8.size()) throw std::invalid_argument("U16: truncated UTF-8");
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

Bytes HeadingPairs(const std::vector<Group>& groups, StrLayout layout) {
  std::vector<Bytes> elems;
  for (const auto& g : groups) {
    elems.push_back(ElemLpstr(g.heading, layout));
    elems.push_back(ElemI4(g.count));
  }
  return VectorVariant(elems);
}

Bytes DocParts(const std::vector<std::string>& parts, StrLayout layout) { return VectorLpstr(parts, layout); }

Bytes HeadingPairsW(const std::vector<Group>& groups) {
  std::vector<Bytes> elems;
  for (const auto& g : groups) {
    elems.push_back(ElemLpwstr(U16(g.heading)));
    elems.push_back(ElemI4(g.count));
  }
  return VectorVariant(elems);
}

Bytes DocPartsW(const std::vector<std::string>& parts) {
  std::vector<std::u16string> wide;
  for (const auto& p : parts) wide.push_back(U16(p));
  return VectorLpwstr(wide);
}

// ---------------------------------------------------------------------------------------------
// Property-set streams
// ---------------------------------------------------------------------------------------------

std::size_t PropertySet::ValueOffset(std::size_t section, std::uint32_t id) const {
  for (const auto& p : sections.at(section).props)
    if (p.id == id) return p.value;
  throw std::out_of_range("PropertySet::ValueOffset: no such property");
}

PropertySet BuildPropertySet(const std::vector<Section>& sections, const PropertySetOptions& opts) {
  PropertySet ps;
  Bytes& b = ps.bytes;
  Append16(b, opts.byteOrder);
  Append16(b, opts.version);
  Append32(b, opts.systemId);
  b.insert(b.end(), 16, 0);  // CLSID
  Append32(b, static_cast<std::uint32_t>(sections.size()));
  for (const auto& s : sections) {
    SectionLoc loc{};
    loc.headerEntry = b.size();
    b.insert(b.end(), s.fmtid.begin(), s.fmtid.end());
    Append32(b, 0);  // patched below
    ps.sections.push_back(loc);
  }
  for (std::size_t si = 0; si < sections.size(); ++si) {
    const Section& s = sections[si];
    SectionLoc& loc = ps.sections[si];
    ZeroPadTo4(b, 0);
    loc.start = b.size();
    PutU32(b, loc.headerEntry + 16, static_cast<std::uint32_t>(loc.start));
    Append32(b, 0);  // size, patched below
    Append32(b, static_cast<std::uint32_t>(s.props.size()));
    for (const auto& [id, value] : s.props) {
      loc.props.push_back(PropLoc{id, b.size(), 0, value.size()});
      Append32(b, id);
      Append32(b, 0);  // offset, patched below
    }
    for (std::size_t pi = 0; pi < s.props.size(); ++pi) {
      if (opts.alignValues) ZeroPadTo4(b, loc.start);
      PropLoc& p = loc.props[pi];
      p.value = b.size();
      PutU32(b, p.tableEntry + 4, static_cast<std::uint32_t>(p.value - loc.start));
      Append(b, s.props[pi].second);
    }
    if (opts.padSectionEnd) ZeroPadTo4(b, loc.start);
    loc.size = b.size() - loc.start;
    PutU32(b, loc.start, static_cast<std::uint32_t>(loc.size));
  }
  return ps;
}

Bytes PropertySetStream(const std::vector<Section>& sections, const PropertySetOptions& opts) {
  return BuildPropertySet(sections, opts).bytes;
}

namespace {

// User-defined section: a dictionary naming property 2, and property 2 itself.
Section UserDefinedSection(std::uint16_t codepage) {
  const bool wide = codepage == 1200;
  Bytes dict;
  Append32(dict, 1);  // one entry
  Append32(dict, 2);  // property id
  if (wide) {
    const std::u16string name = u"Owner";
    Append32(dict, static_cast<std::uint32_t>(name.size() + 1));
    for (char16_t c : name) Append16(dict, c);
    Append16(dict, 0);
    ZeroPadTo4(dict, 0);
  } else {
    const std::string name = "Owner";
    Append32(dict, static_cast<std::uint32_t>(name.size() + 1));
    dict.insert(dict.end(), name.begin(), name.end());
    dict.push_back(0);
  }
  Section s{kFmtidUserDefined, {}};
  s.props.emplace_back(0, Raw(dict));
  s.props.emplace_back(kPidCodepage, I2(static_cast<std::int16_t>(codepage)));
  s.props.emplace_back(2, wide ? Lpwstr(u"testdoc") : Lpstr("testdoc", StrLayout::Padded));
  return s;
}

}  // namespace

PropertySet BuildDocSummary(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                            const DocSummaryOptions& opts) {
  const bool wide = opts.codepage == 1200;
  Section s{kFmtidDocSummary, {}};
  s.props.emplace_back(kPidCodepage, I2(static_cast<std::int16_t>(opts.codepage)));
  if (opts.company)
    s.props.emplace_back(kPidCompany, wide ? Lpwstr(U16(*opts.company)) : Lpstr(*opts.company, opts.layout));
  s.props.emplace_back(kPidHeadingPairs, wide ? HeadingPairsW(groups) : HeadingPairs(groups, opts.layout));
  s.props.emplace_back(kPidDocParts, wide ? DocPartsW(parts) : DocParts(parts, opts.layout));
  std::vector<Section> sections{s};
  if (opts.userDefinedSection) sections.push_back(UserDefinedSection(opts.codepage));
  PropertySetOptions po;
  po.alignValues = false;  // real writers let a value follow unpadded strings directly
  return BuildPropertySet(sections, po);
}

Bytes DocSummaryStream(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                       std::uint16_t codepage, StrLayout layout) {
  DocSummaryOptions o;
  o.codepage = codepage;
  o.layout = layout;
  return BuildDocSummary(groups, parts, o).bytes;
}

Bytes SummaryInfoStream() {
  Section s{kFmtidSummary, {}};
  s.props.emplace_back(kPidCodepage, I2(static_cast<std::int16_t>(1252)));
  s.props.emplace_back(2, Lpstr("Quarterly figures", StrLayout::Padded));  // title
  s.props.emplace_back(4, Lpstr("testdoc", StrLayout::Padded));            // author
  return PropertySetStream({s});
}

// ---------------------------------------------------------------------------------------------
// Compound files
// ---------------------------------------------------------------------------------------------

Entry StreamOf(std::u16string_view name, Bytes data) {
  return Entry{std::u16string(name), Entry::Stream, std::move(data), 0, {}};
}
Entry FillerStream(std::u16string_view name, std::uint64_t size) {
  return Entry{std::u16string(name), Entry::Stream, {}, size, {}};
}
Entry StorageOf(std::u16string_view name, std::vector<Entry> children) {
  return Entry{std::u16string(name), Entry::Storage, {}, 0, std::move(children)};
}

const EntryLayout& Layout::At(std::u16string_view path) const {
  auto it = indexByPath.find(path);
  if (it == indexByPath.end()) throw std::out_of_range("Layout::At: no such entry");
  return entries[it->second];
}

namespace {

constexpr std::uint32_t kMiniSize = 64;
constexpr std::uint64_t kMiniCutoff = 4096;
constexpr std::uint32_t kHeaderDifatSlots = 109;

std::uint64_t StreamSize(const Entry& e) {
  return std::max<std::uint64_t>(e.data.size(), e.fillerSize);
}

// Bytes [off, off + n) of a stream's content: data, then filler, then zeros past the stream's end.
void CopyStreamBytes(const Entry& e, std::uint64_t off, std::uint8_t* dst, std::size_t n, std::uint8_t filler) {
  const std::uint64_t size = StreamSize(e);
  for (std::size_t i = 0; i < n;) {
    const std::uint64_t pos = off + i;
    if (pos < e.data.size()) {
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n - i, e.data.size() - pos));
      std::memcpy(dst + i, e.data.data() + pos, k);
      i += k;
    } else if (pos < size) {
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n - i, size - pos));
      std::memset(dst + i, filler, k);
      i += k;
    } else {
      std::memset(dst + i, 0, n - i);
      break;
    }
  }
}

// The format's sibling order: shorter names first, equal lengths compared unit by unit after
// upper-casing a-z.
bool NameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto up = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
    const char16_t x = up(a[i]), y = up(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

struct Node {
  std::u16string name;
  std::u16string path;
  std::uint8_t type;
  const Entry* src;  // null for the root
  std::vector<std::uint32_t> kids;
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
};

enum class RegionKind { Fat, Difat, Dir, MiniFat, MiniStream, Stream };
struct Region {
  RegionKind kind;
  std::uint32_t node;  // for Stream regions
  std::uint32_t count;
  std::uint32_t first = 0;
  bool reversed = false;
};

struct Plan {
  Layout layout;
  std::vector<Node> nodes;
  std::vector<Region> regions;
  Bytes header, dir, miniFat, miniStream;
  std::uint8_t filler = 0;
};

std::uint32_t BuildTree(std::vector<Node>& nodes, const std::vector<std::uint32_t>& kids, CfbOptions::Tree shape) {
  if (kids.empty()) return kNoStream;
  auto less = [&](std::uint32_t a, std::uint32_t b) { return NameLess(nodes[a].name, nodes[b].name); };
  std::vector<std::uint32_t> sorted = kids;
  std::stable_sort(sorted.begin(), sorted.end(), less);
  switch (shape) {
    case CfbOptions::Tree::Balanced: {
      // Iterative: (lo, hi, where to store the subtree root).
      std::uint32_t root = kNoStream;
      struct Job { std::size_t lo, hi; std::uint32_t* slot; };
      std::vector<Job> jobs{{0, sorted.size(), &root}};
      while (!jobs.empty()) {
        Job j = jobs.back();
        jobs.pop_back();
        if (j.lo >= j.hi) continue;
        const std::size_t mid = j.lo + (j.hi - j.lo) / 2;
        const std::uint32_t n = sorted[mid];
        *j.slot = n;
        jobs.push_back({j.lo, mid, &nodes[n].left});
        jobs.push_back({mid + 1, j.hi, &nodes[n].right});
      }
      return root;
    }
    case CfbOptions::Tree::RightChain:
    case CfbOptions::Tree::UnsortedChain: {
      const auto& order = shape == CfbOptions::Tree::RightChain ? sorted : kids;
      for (std::size_t i = 0; i + 1 < order.size(); ++i) nodes[order[i]].right = order[i + 1];
      return order.front();
    }
    case CfbOptions::Tree::InsertionOrder: {
      const std::uint32_t root = kids.front();
      for (std::size_t i = 1; i < kids.size(); ++i) {
        std::uint32_t at = root;
        for (;;) {
          std::uint32_t& next = less(kids[i], at) ? nodes[at].left : nodes[at].right;
          if (next == kNoStream) {
            next = kids[i];
            break;
          }
          at = next;
        }
      }
      return root;
    }
  }
  return kNoStream;
}

void PutName(Bytes& b, std::size_t at, std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) PutU16(b, at + 2 * i, name[i]);
  PutU16(b, at + kDirNameLength, static_cast<std::uint16_t>(2 * (name.size() + 1)));
}

Plan MakePlan(const std::vector<Entry>& rootChildren, const CfbOptions& opts) {
  if (opts.sectorShift != 9 && opts.sectorShift != 12)
    throw std::invalid_argument("sectorShift must be 9 or 12");
  Plan plan;
  plan.filler = opts.fillerByte;
  Layout& L = plan.layout;
  const std::uint32_t S = 1u << opts.sectorShift;
  L.sectorSize = S;
  L.majorVersion = opts.sectorShift == 12 ? 4 : 3;

  // Directory indices: each storage's children get consecutive indices, then their subtrees follow,
  // so root child k (in the given order) is entry k + 1.
  std::vector<Node>& nodes = plan.nodes;
  nodes.push_back(Node{u"Root Entry", u"", 5, nullptr, {}});
  struct Pending { std::uint32_t parent; const std::vector<Entry>* kids; };
  std::vector<Pending> pending{{0, &rootChildren}};
  for (std::size_t pi = 0; pi < pending.size(); ++pi) {
    const Pending p = pending[pi];
    for (const Entry& e : *p.kids) {
      if (e.name.size() > 31) throw std::invalid_argument("entry name longer than 31 units");
      const std::u16string& parentPath = nodes[p.parent].path;
      std::u16string path = parentPath.empty() ? e.name : parentPath + u"/" + e.name;
      const auto idx = static_cast<std::uint32_t>(nodes.size());
      nodes.push_back(Node{e.name, std::move(path), static_cast<std::uint8_t>(e.kind), &e, {}});
      nodes[p.parent].kids.push_back(idx);
      if (e.kind == Entry::Storage) pending.push_back({idx, &e.children});
    }
  }
  for (std::size_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].type != Entry::Stream) nodes[i].child = BuildTree(nodes, nodes[i].kids, opts.tree);

  auto deferred = [&](const Node& n) {
    return std::find(opts.placeLast.begin(), opts.placeLast.end(), n.path) != opts.placeLast.end();
  };
  std::vector<std::uint32_t> streamOrder;  // non-deferred streams first, both groups in index order
  for (int pass = 0; pass < 2; ++pass)
    for (std::uint32_t i = 1; i < nodes.size(); ++i)
      if (nodes[i].type == Entry::Stream && deferred(nodes[i]) == (pass == 1)) streamOrder.push_back(i);

  L.entries.resize(nodes.size());
  for (std::uint32_t i = 0; i < nodes.size(); ++i) {
    EntryLayout& el = L.entries[i];
    el.path = nodes[i].path;
    el.type = nodes[i].type;
    el.size = nodes[i].src && nodes[i].type == Entry::Stream ? StreamSize(*nodes[i].src) : 0;
    el.inMini = nodes[i].type == Entry::Stream && el.size > 0 && el.size < kMiniCutoff;
    el.start = nodes[i].type == Entry::Storage ? 0 : kEndOfChain;
    el.left = nodes[i].left;
    el.right = nodes[i].right;
    el.child = nodes[i].child;
    L.indexByPath.emplace(el.path, i);
  }

  // Mini stream allocation.
  std::uint32_t miniCount = 0;
  bool miniDeferred = false;
  for (std::uint32_t i : streamOrder) {
    EntryLayout& el = L.entries[i];
    if (!el.inMini) continue;
    const auto k = static_cast<std::uint32_t>(CeilDiv(el.size, kMiniSize));
    for (std::uint32_t b = 0; b < k; ++b) el.chain.push_back(opts.reverseChains ? miniCount + k - 1 - b : miniCount + b);
    el.start = el.chain.front();
    miniCount += k;
    miniDeferred = miniDeferred || deferred(nodes[i]);
  }
  L.miniStreamSize = std::uint64_t{miniCount} * kMiniSize;
  L.miniFat.assign(RoundUp(miniCount, S / 4), kFreeSect);
  for (std::uint32_t i : streamOrder) {
    const EntryLayout& el = L.entries[i];
    if (!el.inMini) continue;
    for (std::size_t b = 0; b < el.chain.size(); ++b)
      L.miniFat[el.chain[b]] = b + 1 < el.chain.size() ? el.chain[b + 1] : kEndOfChain;
  }
  plan.miniStream.assign(RoundUp(L.miniStreamSize, S), 0);
  for (std::uint32_t i : streamOrder) {
    const EntryLayout& el = L.entries[i];
    if (!el.inMini) continue;
    for (std::size_t b = 0; b < el.chain.size(); ++b) {
      const std::uint64_t off = b * kMiniSize;
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kMiniSize, el.size - off));
      CopyStreamBytes(*nodes[i].src, off, plan.miniStream.data() + std::size_t{el.chain[b]} * kMiniSize, n, plan.filler);
    }
  }

  // Regions in file order; FAT and DIFAT counts are fixed after the rest is known.
  const bool rev = opts.reverseChains;
  const auto dirCount = static_cast<std::uint32_t>(CeilDiv(nodes.size() * 128, S));
  const auto miniFatCount = static_cast<std::uint32_t>(L.miniFat.size() * 4 / S);
  const auto miniStreamCount = static_cast<std::uint32_t>(plan.miniStream.size() / S);
  std::vector<Region>& R = plan.regions;
  R.push_back({RegionKind::Fat, 0, 0});
  R.push_back({RegionKind::Difat, 0, 0});
  if (opts.directoryFirst) R.push_back({RegionKind::Dir, 0, dirCount, 0, rev});
  R.push_back({RegionKind::MiniFat, 0, miniFatCount, 0, rev});
  if (!miniDeferred) R.push_back({RegionKind::MiniStream, 0, miniStreamCount, 0, rev});
  for (std::uint32_t i : streamOrder) {
    const EntryLayout& el = L.entries[i];
    if (el.inMini || el.size == 0) continue;
    R.push_back({RegionKind::Stream, i, static_cast<std::uint32_t>(CeilDiv(el.size, S)), 0, rev});
  }
  if (miniDeferred) R.push_back({RegionKind::MiniStream, 0, miniStreamCount, 0, rev});
  if (!opts.directoryFirst) R.push_back({RegionKind::Dir, 0, dirCount, 0, rev});

  std::uint64_t dataSectors = 0;
  for (const Region& r : R) dataSectors += r.count;
  const std::uint64_t perFat = S / 4, perDifat = S / 4 - 1;
  std::uint64_t fatCount = 0, difatCount = 0;
  for (;;) {
    const std::uint64_t total = dataSectors + fatCount + difatCount;
    const std::uint64_t f = CeilDiv(total, perFat);
    const std::uint64_t d = f > kHeaderDifatSlots ? CeilDiv(f - kHeaderDifatSlots, perDifat) : 0;
    if (f == fatCount && d == difatCount) break;
    fatCount = f;
    difatCount = d;
  }
  R[0].count = static_cast<std::uint32_t>(fatCount);
  R[1].count = static_cast<std::uint32_t>(difatCount);
  const std::uint64_t total = dataSectors + fatCount + difatCount;
  if (total >= 0xFFFFFFFAull) throw std::length_error("compound file too large");
  L.sectorCount = static_cast<std::uint32_t>(total);
  const std::uint64_t fullSize = (total + 1) * S;
  L.fileSize = fullSize - std::min<std::uint64_t>(opts.truncateTail, fullSize);

  // Sector numbers, chains and the FAT.
  L.fat.assign(fatCount * perFat, kFreeSect);
  std::uint32_t next = 0;
  for (Region& r : R) {
    r.first = next;
    next += r.count;
    std::vector<std::uint32_t> chain;
    for (std::uint32_t j = 0; j < r.count; ++j) chain.push_back(r.reversed ? r.first + r.count - 1 - j : r.first + j);
    switch (r.kind) {
      case RegionKind::Fat:
        for (std::uint32_t s : chain) L.fat[s] = kFatSect;
        L.fatSectors = chain;
        continue;
      case RegionKind::Difat:
        for (std::uint32_t s : chain) L.fat[s] = kDifSect;
        L.difatSectors = chain;
        continue;
      case RegionKind::Dir: L.dirChain = chain; break;
      case RegionKind::MiniFat: L.miniFatChain = chain; break;
      case RegionKind::MiniStream: L.miniStreamChain = chain; break;
      case RegionKind::Stream:
        L.entries[r.node].start = chain.front();
        break;
    }
    for (std::size_t j = 0; j < chain.size(); ++j) L.fat[chain[j]] = j + 1 < chain.size() ? chain[j + 1] : kEndOfChain;
    if (r.kind == RegionKind::Stream) L.entries[r.node].chain = std::move(chain);
  }
  L.firstDirSector = L.dirChain.front();
  L.firstMiniFatSector = L.miniFatChain.empty() ? kEndOfChain : L.miniFatChain.front();
  L.firstDifatSector = L.difatSectors.empty() ? kEndOfChain : L.difatSectors.front();
  L.miniStreamStart = L.miniStreamChain.empty() ? kEndOfChain : L.miniStreamChain.front();
  L.entries[0].start = L.miniStreamStart;
  L.entries[0].size = L.miniStreamSize;
  L.entries[0].chain = L.miniStreamChain;

  // Directory.
  const std::uint32_t perDirSector = S / 128;
  plan.dir.assign(std::size_t{dirCount} * S, 0);
  for (std::size_t i = 0; i < plan.dir.size() / 128; ++i) {
    const std::size_t at = i * 128;
    if (i >= nodes.size()) {
      PutU32(plan.dir, at + kDirLeft, kNoStream);
      PutU32(plan.dir, at + kDirRight, kNoStream);
      PutU32(plan.dir, at + kDirChild, kNoStream);
      continue;
    }
    const EntryLayout& el = L.entries[i];
    PutName(plan.dir, at, nodes[i].name);
    plan.dir[at + kDirType] = el.type;
    plan.dir[at + kDirColour] = 1;  // black
    PutU32(plan.dir, at + kDirLeft, el.left);
    PutU32(plan.dir, at + kDirRight, el.right);
    PutU32(plan.dir, at + kDirChild, el.child);
    PutU32(plan.dir, at + kDirStart, el.start);
    PutU64(plan.dir, at + kDirSize, el.size);
  }
  for (std::uint32_t i = 0; i < nodes.size(); ++i)
    L.entries[i].dirOffset = SectorOffset(L, L.dirChain[i / perDirSector]) + std::uint64_t{i % perDirSector} * 128;

  // Header.
  Bytes& h = plan.header;
  h.assign(S, 0);
  static constexpr std::uint8_t kSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h.data(), kSig, 8);
  PutU16(h, kHdrMinorVersion, opts.minorVersion);
  PutU16(h, kHdrMajorVersion, L.majorVersion);
  PutU16(h, kHdrByteOrder, 0xFFFE);
  PutU16(h, kHdrSectorShift, static_cast<std::uint16_t>(opts.sectorShift));
  PutU16(h, kHdrMiniSectorShift, 6);
  PutU32(h, kHdrDirSectorCount, L.majorVersion == 4 ? dirCount : 0);
  PutU32(h, kHdrFatSectorCount, static_cast<std::uint32_t>(fatCount));
  PutU32(h, kHdrFirstDirSector, L.firstDirSector);
  PutU32(h, kHdrMiniCutoff, static_cast<std::uint32_t>(kMiniCutoff));
  PutU32(h, kHdrFirstMiniFatSector, L.firstMiniFatSector);
  PutU32(h, kHdrMiniFatSectorCount, miniFatCount);
  PutU32(h, kHdrFirstDifatSector, L.firstDifatSector);
  PutU32(h, kHdrDifatSectorCount, static_cast<std::uint32_t>(difatCount));
  for (std::uint32_t i = 0; i < kHeaderDifatSlots; ++i)
    PutU32(h, kHdrDifat + 4 * i, i < L.fatSectors.size() ? L.fatSectors[i] : kFreeSect);
  return plan;
}

// Output with a hard length limit, so truncation is just "stop writing".
class Sink {
 public:
  explicit Sink(std::uint64_t limit) : limit_(limit) {}
  virtual ~Sink() = default;
  void Write(const std::uint8_t* p, std::size_t n) {
    const std::uint64_t room = limit_ - std::min(limit_, written_);
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
    if (k) Put(p, k);
    written_ += n;
  }

 protected:
  virtual void Put(const std::uint8_t* p, std::size_t n) = 0;

 private:
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
};

class VectorSink : public Sink {
 public:
  VectorSink(Bytes& out, std::uint64_t limit) : Sink(limit), out_(out) { out_.reserve(limit); }

 protected:
  void Put(const std::uint8_t* p, std::size_t n) override { out_.insert(out_.end(), p, p + n); }

 private:
  Bytes& out_;
};

class FileSink : public Sink {
 public:
  // `sparse`: writes of zero bytes alone are left as holes.
  FileSink(const std::string& path, std::uint64_t limit, bool sparse)
      : Sink(limit), f_(std::fopen(path.c_str(), "wb")), sparse_(sparse) {
    if (!f_) throw std::runtime_error("cannot open " + path);
    buf_.reserve(kBuf);
  }
  ~FileSink() override {
    if (f_) std::fclose(f_);
  }
  void Close() {
    Flush();
    // A hole at the end: the file's length still counts it.
    bool bad = hole_ != 0 && (std::fflush(f_) != 0 || ::ftruncate(::fileno(f_), static_cast<off_t>(end_)) != 0);
    bad = std::fclose(f_) != 0 || bad;
    f_ = nullptr;
    if (bad) throw std::runtime_error("write failed");
  }

 protected:
  void Put(const std::uint8_t* p, std::size_t n) override {
    end_ += n;
    if (sparse_ && std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; })) {
      Flush();
      hole_ += n;
      return;
    }
    if (hole_ != 0) {
      if (std::fseek(f_, static_cast<long>(hole_), SEEK_CUR) != 0) throw std::runtime_error("seek failed");
      hole_ = 0;
    }
    if (buf_.size() + n > kBuf) Flush();
    buf_.insert(buf_.end(), p, p + n);
  }

 private:
  static constexpr std::size_t kBuf = 4 << 20;
  void Flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size())
      throw std::runtime_error("write failed");
    buf_.clear();
  }
  std::FILE* f_;
  bool sparse_;
  std::uint64_t end_ = 0;   // bytes written or skipped
  std::uint64_t hole_ = 0;  // zero bytes skipped since the last bytes written
  Bytes buf_;
};

void Emit(const Plan& plan, Sink& out) {
  const Layout& L = plan.layout;
  const std::uint32_t S = L.sectorSize;
  out.Write(plan.header.data(), plan.header.size());
  Bytes sector(S);
  const std::size_t perDifat = S / 4 - 1;
  for (const Region& r : plan.regions) {
    for (std::uint32_t j = 0; j < r.count; ++j) {
      const std::uint32_t b = r.reversed ? r.count - 1 - j : j;  // logical block held by this sector
      const std::size_t off = std::size_t{b} * S;
      switch (r.kind) {
        case RegionKind::Fat:
          for (std::size_t k = 0; k < S / 4; ++k) PutU32(sector, 4 * k, L.fat[b * (S / 4) + k]);
          break;
        case RegionKind::Difat: {
          for (std::size_t k = 0; k < perDifat; ++k) {
            const std::size_t idx = kHeaderDifatSlots + b * perDifat + k;
            PutU32(sector, 4 * k, idx < L.fatSectors.size() ? L.fatSectors[idx] : kFreeSect);
          }
          PutU32(sector, S - 4, b + 1 < r.count ? L.difatSectors[b + 1] : kEndOfChain);
          break;
        }
        case RegionKind::Dir: std::memcpy(sector.data(), plan.dir.data() + off, S); break;
        case RegionKind::MiniStream: std::memcpy(sector.data(), plan.miniStream.data() + off, S); break;
        case RegionKind::MiniFat:
          for (std::size_t k = 0; k < S / 4; ++k) PutU32(sector, 4 * k, L.miniFat[b * (S / 4) + k]);
          break;
        case RegionKind::Stream:
          CopyStreamBytes(*plan.nodes[r.node].src, std::uint64_t{b} * S, sector.data(), S, plan.filler);
          break;
      }
      out.Write(sector.data(), S);
    }
  }
}

}  // namespace

Built BuildCompoundFile(const std::vector<Entry>& rootChildren, const CfbOptions& opts) {
  Plan plan = MakePlan(rootChildren, opts);
  Built built;
  VectorSink sink(built.bytes, plan.layout.fileSize);
  Emit(plan, sink);
  static_cast<Layout&>(built) = std::move(plan.layout);
  return built;
}

Layout WriteCompoundFile(const std::string& path, const std::vector<Entry>& rootChildren, const CfbOptions& opts) {
  Plan plan = MakePlan(rootChildren, opts);
  FileSink sink(path, plan.layout.fileSize, opts.sparse);
  Emit(plan, sink);
  sink.Close();
  return std::move(plan.layout);
}

Bytes SimpleDocument(const std::vector<Group>& groups, const std::vector<std::string>& parts,
                     const CfbOptions& opts) {
  std::vector<Entry> root;
  root.push_back(FillerStream(u"Workbook", 16384));
  root.push_back(StreamOf(kSummaryName, SummaryInfoStream()));
  root.push_back(StreamOf(kDocSummaryName, DocSummaryStream(groups, parts)));
  return BuildCompoundFile(root, opts).bytes;
}

// ---------------------------------------------------------------------------------------------
// Patching helpers
// ---------------------------------------------------------------------------------------------

namespace {
void CheckRange(const Bytes& b, std::size_t offset, std::size_t n) {
  if (offset > b.size() || b.size() - offset < n) throw std::out_of_range("patch past the end of the bytes");
}
}  // namespace

void PutU16(Bytes& b, std::size_t offset, std::uint16_t v) {
  CheckRange(b, offset, 2);
  for (std::size_t i = 0; i < 2; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU32(Bytes& b, std::size_t offset, std::uint32_t v) {
  CheckRange(b, offset, 4);
  for (std::size_t i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU64(Bytes& b, std::size_t offset, std::uint64_t v) {
  CheckRange(b, offset, 8);
  for (std::size_t i = 0; i < 8; ++i) b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t GetU16(const Bytes& b, std::size_t offset) {
  CheckRange(b, offset, 2);
  return static_cast<std::uint16_t>(b[offset] | (b[offset + 1] << 8));
}
std::uint32_t GetU32(const Bytes& b, std::size_t offset) {
  CheckRange(b, offset, 4);
  std::uint32_t v = 0;
  for (std::size_t i = 4; i-- > 0;) v = (v << 8) | b[offset + i];
  return v;
}
std::uint64_t GetU64(const Bytes& b, std::size_t offset) {
  CheckRange(b, offset, 8);
  return GetU32(b, offset) | (std::uint64_t{GetU32(b, offset + 4)} << 32);
}

std::uint64_t SectorOffset(const Layout& l, std::uint32_t sector) {
  return (std::uint64_t{sector} + 1) * l.sectorSize;
}

std::uint64_t StreamByteOffset(const Layout& l, std::u16string_view path, std::uint64_t pos) {
  const EntryLayout& e = l.At(path);
  if (pos >= e.size) throw std::out_of_range("StreamByteOffset: past the stream's end");
  if (!e.inMini) return SectorOffset(l, e.chain.at(pos / l.sectorSize)) + pos % l.sectorSize;
  const std::uint64_t inMini = std::uint64_t{e.chain.at(pos / kMiniSize)} * kMiniSize + pos % kMiniSize;
  return SectorOffset(l, l.miniStreamChain.at(inMini / l.sectorSize)) + inMini % l.sectorSize;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f) throw std::runtime_error("cannot open " + path);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
    throw std::runtime_error("write failed: " + path);
}

}  // namespace testdoc
