#include "readers/cfb/property_set.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <vector>

#include "byte_cursor.h"
#include "readers/limits.h"
#include "readers/utf16.h"

namespace readers::propset {
namespace {

constexpr std::uint16_t kByteOrderMark = 0xFFFE;

// Where the fields this reader uses lie, in bytes from the start of their record.
//
//   stream header (28 bytes, then the section list)
//     0x00 byte order (2)          0x18 number of sections (4)
//     0x1C section list: per section a format identifier (16) and an offset (4) from
//          the stream's start
//   section (at its offset)
//     0x00 size in bytes (4)       0x08 property table: per property an id (4) and an
//     0x04 number of properties (4)     offset (4) from the section's start
//   value (at its offset): type (2), padding (2), then the data
constexpr std::size_t kByteOrderAt = 0x00;
constexpr std::size_t kSectionCountAt = 0x18;
constexpr std::size_t kSectionListEntryBytes = 20;
constexpr std::size_t kSectionHeaderBytes = 8;
constexpr std::size_t kPropertyTableAt = 0x08;
constexpr std::size_t kPropertyTableEntryBytes = 8;

// The little-endian UTF-16 unit at unit index i of `bytes` (an odd last byte is not a unit).
char16_t Utf16LeUnit(std::span<const std::uint8_t> bytes, std::size_t i) {
  return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
}

Fault ValueFault(Defect defect) { return Fault{defect, Structure::kValue, 0}; }

// How the stored text of a string becomes the text a record hands out.
enum class Text : std::uint8_t {
  kNone,    // no record keeps it (blobs, and the strings of types never consulted)
  kNarrow,  // bytes as stored, up to the first NUL (writers pad after it, even with garbage)
  kUtf16,   // narrow text stored as UTF-16LE in a code page 1200 section, handed out as UTF-8
  kWide,    // UTF-16LE units, up to the first zero unit
};

// How the bytes after a vector element, up to a multiple of 4, are treated.
enum class Pad : std::uint8_t {
  kNone,    // fixed-size data, whose padding is part of it
  kAlways,  // wide strings, and every byte-counted element of a code page 1200 section
  kIfZero,  // other byte-counted data: office writers do not pad it inside vectors,
            // writers that follow the property-set format do, with zero bytes
};

// One stored value or vector element, as found in the section's bytes.
struct Stored {
  VARTYPE vt = VT_EMPTY;
  std::uint64_t fixed = 0;                // fixed-size data, little-endian
  std::span<const std::uint8_t> counted;  // the counted bytes of a string or blob
  Text text = Text::kNone;
  Pad pad = Pad::kNone;
};

std::uint64_t PaddingAfter(const Stored& s) { return s.pad == Pad::kNone ? 0 : (4 - s.counted.size() % 4) % 4; }

// The text decoders, for measuring and for copying alike. The terminator is not fed.
// Narrow text (kNarrow, kUtf16) feeds `put` its bytes as handed out.
template <typename Put>
void DecodeNarrow(const Stored& s, Put&& put) {
  const std::span<const std::uint8_t> bytes = s.counted;
  if (s.text == Text::kUtf16) {
    EncodeUtf8(
        bytes.size() / 2, [&](std::size_t i) { return Utf16LeUnit(bytes, i); }, put);
    return;
  }
  for (const std::uint8_t b : bytes) {
    if (b == 0) break;
    put(static_cast<char>(b));
  }
}

// Wide text (kWide) feeds `put` its UTF-16 units.
template <typename Put>
void DecodeWide(const Stored& s, Put&& put) {
  const std::span<const std::uint8_t> bytes = s.counted;
  for (std::size_t i = 0; i < bytes.size() / 2 && Utf16LeUnit(bytes, i) != 0; ++i) put(Utf16LeUnit(bytes, i));
}

std::size_t Align(std::size_t at, std::size_t unit) { return (at + unit - 1) / unit * unit; }

// The bytes of narrow text as stored (kNarrow): up to the first NUL.
std::span<const std::uint8_t> NarrowBytes(const Stored& s) {
  const void* nul = std::memchr(s.counted.data(), 0, s.counted.size());
  return s.counted.first(nul == nullptr ? s.counted.size()
                                        : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) -
                                                                   s.counted.data()));
}

// Adds to `used` the bytes the handed-out text of `s` takes in a block, terminator and
// alignment included.
void MeasureText(const Stored& s, std::size_t& used) {
  std::size_t units = 0;
  if (s.text == Text::kWide) {
    DecodeWide(s, [&units](char16_t) { ++units; });
    used = Align(used, sizeof(char16_t)) + (units + 1) * sizeof(char16_t);
  } else if (s.text == Text::kNarrow) {
    used += NarrowBytes(s).size() + 1;
  } else if (s.text != Text::kNone) {
    DecodeNarrow(s, [&units](char) { ++units; });
    used += units + 1;
  }
}

// The strings of a value, laid out one after another in its block exactly as
// MeasureText counted them.
class TextArea {
 public:
  explicit TextArea(std::byte* start) : start_(start) {}

  // Copies the handed-out text of `s`, terminated, and returns where it starts.
  void* Put(const Stored& s) {
    if (s.text == Text::kWide) {
      used_ = Align(used_, sizeof(char16_t));
      auto* const text = reinterpret_cast<char16_t*>(start_ + used_);
      std::size_t n = 0;
      DecodeWide(s, [&](char16_t u) { text[n++] = u; });
      text[n] = 0;
      used_ += (n + 1) * sizeof(char16_t);
      return text;
    }
    auto* const text = reinterpret_cast<char*>(start_ + used_);
    std::size_t n = 0;
    if (s.text == Text::kNarrow) {
      const std::span<const std::uint8_t> bytes = NarrowBytes(s);
      if (!bytes.empty()) std::memcpy(text, bytes.data(), bytes.size());
      n = bytes.size();
    } else {
      DecodeNarrow(s, [&](char c) { text[n++] = c; });
    }
    text[n] = '\0';
    used_ += n + 1;
    return text;
  }

  std::size_t used() const { return used_; }

 private:
  std::byte* start_;
  std::size_t used_ = 0;
};

// A fixed-size value of `size` bytes. Only its first `valueBytes` must be present when
// it is the last thing in its section (the padding of a 1- or 2-byte value).
Fault ReadFixed(ByteCursor& c, std::size_t size, std::size_t valueBytes, Stored& s) {
  std::span<const std::uint8_t> bytes;
  if (!c.ReadBytes(valueBytes, bytes)) return ValueFault(Defect::kRunsPastEnd);
  for (std::size_t i = 0; i < valueBytes; ++i) s.fixed |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  [[maybe_unused]] const bool skipped = c.Skip(std::min<std::size_t>(size - valueBytes, c.remaining()));
  return kOk;
}

// Byte-counted data: a 4-byte count of `unitBytes` units, then the units.
Fault ReadCounted(ByteCursor& c, std::uint64_t unitBytes, Stored& s) {
  std::uint32_t count = 0;
  if (!c.ReadU32(count)) return ValueFault(Defect::kRunsPastEnd);
  if (!c.ReadBytes(unitBytes * count, s.counted)) return ValueFault(Defect::kCountDoesNotFit);
  return kOk;
}

// Reads the data of one value whose type is `vt`; the cursor moves past it, not past
// the padding a vector may put after it.
Fault ReadData(ByteCursor& c, VARTYPE vt, bool unicode, Stored& s) {
  s = Stored();
  s.vt = vt;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return kOk;
    case VT_I1:
    case VT_UI1: return ReadFixed(c, 4, 1, s);
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return ReadFixed(c, 4, 2, s);
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return ReadFixed(c, 4, 4, s);
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_FILETIME: return ReadFixed(c, 8, 8, s);
    case VT_DECIMAL:
    case VT_CLSID: return c.Skip(16) ? kOk : ValueFault(Defect::kRunsPastEnd);
    case VT_LPSTR:
    case VT_BSTR:
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_CF:
      // In a code page 1200 section, code-page strings are UTF-16LE, and every
      // byte-counted element is padded, whatever the padding holds.
      if (vt == VT_LPSTR) s.text = unicode ? Text::kUtf16 : Text::kNarrow;
      s.pad = unicode ? Pad::kAlways : Pad::kIfZero;
      return ReadCounted(c, 1, s);
    case VT_LPWSTR:
      s.text = Text::kWide;
      s.pad = Pad::kAlways;
      return ReadCounted(c, 2, s);
    default: return ValueFault(Defect::kUnknownType);
  }
}

// One element of a vector: in a vector of variants, with its own type field.
Fault ReadElement(ByteCursor& c, VARTYPE base, bool unicode, Stored& s) {
  VARTYPE vt = base;
  if (base == VT_VARIANT) {
    if (!c.ReadU16(vt) || !c.Skip(2)) return ValueFault(Defect::kRunsPastEnd);
    if ((vt & 0xF000) == VT_VECTOR) return ValueFault(Defect::kNestedVector);
  }
  return ReadData(c, vt, unicode, s);
}

// The record of a stored value, its text not yet placed.
PROPVARIANT Record(const Stored& s) {
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = s.vt;
  const auto u8 = static_cast<std::uint8_t>(s.fixed);
  const auto u16 = static_cast<std::uint16_t>(s.fixed);
  const auto u32 = static_cast<std::uint32_t>(s.fixed);
  switch (s.vt) {
    case VT_I1: v.cVal = static_cast<char>(u8); break;
    case VT_UI1: v.bVal = u8; break;
    case VT_I2: v.iVal = static_cast<std::int16_t>(u16); break;
    case VT_UI2: v.uiVal = u16; break;
    case VT_BOOL: v.boolVal = static_cast<std::int16_t>(u16); break;
    case VT_I4: v.lVal = static_cast<std::int32_t>(u32); break;
    case VT_INT: v.intVal = static_cast<std::int32_t>(u32); break;
    case VT_ERROR: v.scode = static_cast<std::int32_t>(u32); break;
    case VT_UI4: v.ulVal = u32; break;
    case VT_UINT: v.uintVal = u32; break;
    case VT_R4: v.fltVal = std::bit_cast<float>(u32); break;
    case VT_I8:
    case VT_CY: v.hVal = static_cast<std::int64_t>(s.fixed); break;
    case VT_UI8:
    case VT_FILETIME: v.uhVal = s.fixed; break;
    case VT_R8:
    case VT_DATE: v.dblVal = std::bit_cast<double>(s.fixed); break;
    default: break;
  }
  return v;
}

void SetText(PROPVARIANT& v, void* text) {
  if (v.vt == VT_LPWSTR) {
    v.pwszVal = static_cast<char16_t*>(text);
  } else {
    v.pszVal = static_cast<char*>(text);
  }
}

// What measuring a vector learns, so that filling it reads each element once more
// and decides nothing again.
struct VectorPlan {
  std::uint32_t count = 0;
  // The elements that start after the padding of the one before them, in order: none in
  // the vectors of real files, which then cost no allocation.
  std::vector<std::uint32_t> paddedBefore;
  std::size_t textBytes = 0;
};

// Measures a vector from its element count on: checks every element, decides where
// padding lies, and counts the bytes its strings need. Nothing is read after the last
// element.
Fault PlanVector(ByteCursor& c, VARTYPE base, bool unicode, VectorPlan& plan) {
  if (base != VT_LPSTR && base != VT_LPWSTR && base != VT_VARIANT) return ValueFault(Defect::kUnknownType);
  if (!c.ReadU32(plan.count)) return ValueFault(Defect::kRunsPastEnd);
  if (plan.count > c.remaining() / 4) return ValueFault(Defect::kCountDoesNotFit);  // 4 bytes at least each
  plan.paddedBefore.clear();
  Stored previous;
  for (std::uint32_t i = 0; i < plan.count; ++i) {
    Stored s;
    bool read = false;
    const std::uint64_t pad = i > 0 ? PaddingAfter(previous) : 0;
    if (pad > 0 && previous.pad == Pad::kAlways) {
      if (!c.Skip(pad)) return ValueFault(Defect::kRunsPastEnd);
      plan.paddedBefore.push_back(i);
    } else if (pad > 0) {
      // Zero padding is told by what follows it: the element after it reads, which in
      // the unpadded layout is (next to) never the case.
      ByteCursor after = c;
      std::span<const std::uint8_t> padding;
      if (after.ReadBytes(pad, padding) &&
          std::all_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b == 0; }) &&
          ReadElement(after, base, unicode, s).ok()) {
        c = after;
        plan.paddedBefore.push_back(i);
        read = true;
      }
    }
    if (!read) {
      if (const Fault fault = ReadElement(c, base, unicode, s); !fault.ok()) return fault;
    }
    MeasureText(s, plan.textBytes);
    previous = s;
  }
  return kOk;
}

std::size_t ElementBytes(VARTYPE base) { return base == VT_VARIANT ? sizeof(PROPVARIANT) : sizeof(void*); }

// Fills a measured vector's block: the element array, then the strings.
void FillVector(ByteCursor c, VARTYPE base, bool unicode, const VectorPlan& plan, std::byte* block) {
  TextArea texts(block + plan.count * ElementBytes(base));
  Stored previous;
  auto padded = plan.paddedBefore.begin();
  for (std::uint32_t i = 0; i < plan.count; ++i) {
    if (padded != plan.paddedBefore.end() && *padded == i) {
      ++padded;
      [[maybe_unused]] const bool skipped = c.Skip(PaddingAfter(previous));
      assert(skipped);
    }
    Stored s;
    [[maybe_unused]] const Fault fault = ReadElement(c, base, unicode, s);
    assert(fault.ok());  // measuring read the same bytes the same way
    PROPVARIANT element = Record(s);
    if (s.text != Text::kNone) SetText(element, texts.Put(s));
    if (base == VT_VARIANT) {
      ::new (block + i * sizeof(PROPVARIANT)) PROPVARIANT(element);
    } else if (base == VT_LPSTR) {
      ::new (block + i * sizeof(char*)) char*(element.pszVal);
    } else {
      ::new (block + i * sizeof(char16_t*)) char16_t*(element.pwszVal);
    }
    previous = s;
  }
  assert(texts.used() == plan.textBytes);
}

// Decodes the value at `offset` of the section: measured once, then filled once into
// one block, when the block fits in `budget`, which it then takes from.
Fault DecodeValue(const Section& section, std::uint32_t offset, bool unicode, std::uint64_t& budget, PROPVARIANT& out) {
  ByteCursor c(section.bytes);
  std::uint16_t vt = 0;
  if (!c.Seek(offset) || !c.ReadU16(vt) || !c.Skip(2)) return ValueFault(Defect::kRunsPastEnd);

  if ((vt & 0xF000) == VT_VECTOR) {
    const auto base = static_cast<VARTYPE>(vt & 0x0FFF);
    VectorPlan plan;
    ByteCursor elements = c;
    if (const Fault fault = PlanVector(c, base, unicode, plan); !fault.ok()) return fault;
    const std::size_t bytes = plan.count * ElementBytes(base) + plan.textBytes;
    if (bytes > budget) return ValueFault(Defect::kOverLimit);
    budget -= bytes;
    auto* block = static_cast<std::byte*>(NewValueBlock(bytes));
    [[maybe_unused]] const bool counted = elements.Skip(4);
    FillVector(elements, base, unicode, plan, block);
    PropVariantInit(&out);
    out.vt = vt;
    out.wReserved1 = kHoldsValueBlock;
    if (base == VT_LPSTR) {
      out.calpstr = CALPSTR{plan.count, reinterpret_cast<char**>(block)};
    } else if (base == VT_LPWSTR) {
      out.calpwstr = CALPWSTR{plan.count, reinterpret_cast<char16_t**>(block)};
    } else {
      out.capropvar = CAPROPVARIANT{plan.count, reinterpret_cast<PROPVARIANT*>(block)};
    }
    return kOk;
  }

  Stored s;
  if (const Fault fault = ReadData(c, vt, unicode, s); !fault.ok()) return fault;
  PROPVARIANT v = Record(s);
  if (s.text != Text::kNone) {
    std::size_t bytes = 0;
    MeasureText(s, bytes);
    if (bytes > budget) return ValueFault(Defect::kOverLimit);
    budget -= bytes;
    TextArea text(static_cast<std::byte*>(NewValueBlock(bytes)));
    SetText(v, text.Put(s));
    v.wReserved1 = kHoldsValueBlock;
  }
  out = v;
  return kOk;
}

bool FindPropertyOffset(const Section& s, PROPID id, std::uint32_t& offset) {
  ByteCursor table(s.bytes);
  if (!table.Seek(kPropertyTableAt)) return false;
  for (std::uint32_t i = 0; i < s.propertyCount; ++i) {
    std::uint32_t entryId = 0;
    std::uint32_t entryOffset = 0;
    if (!table.ReadU32(entryId) || !table.ReadU32(entryOffset)) return false;
    if (entryId == id) {  // with duplicates, the first entry counts
      offset = entryOffset;
      return true;
    }
  }
  return false;
}

bool ReadGuid(ByteCursor& c, GUID& g) {
  if (!c.ReadU32(g.Data1) || !c.ReadU16(g.Data2) || !c.ReadU16(g.Data3)) return false;
  for (std::uint8_t& b : g.Data4) {
    if (!c.ReadU8(b)) return false;
  }
  return true;
}

}  // namespace

Fault FindSection(std::span<const std::uint8_t> stream, const FMTID& fmtid, Section& section) {
  section = Section();
  ByteCursor c(stream);
  std::uint16_t byteOrder = 0;
  if (!c.Seek(kByteOrderAt) || !c.ReadU16(byteOrder) || byteOrder != kByteOrderMark)
    return Fault{Defect::kNoByteOrderMark, Structure::kPropertySet, 0};
  std::uint32_t declared = 0;  // the section count ends the stream header; the list follows
  if (!c.Seek(kSectionCountAt) || !c.ReadU32(declared)) return Fault{Defect::kRunsPastEnd, Structure::kPropertySet, 0};
  // Only the pairs that lie inside the stream count, whatever the declared number.
  for (std::uint32_t i = 0; i < declared && c.remaining() >= kSectionListEntryBytes; ++i) {
    GUID id = {};
    std::uint32_t offset = 0;
    if (!ReadGuid(c, id) || !c.ReadU32(offset)) break;
    if (!(id == fmtid)) continue;

    ByteCursor head = ByteCursor(stream).Sub(offset, kSectionHeaderBytes);
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    if (!head.ReadU32(size) || !head.ReadU32(count)) return Fault{Defect::kTableDoesNotFit, Structure::kSection, 0};
    // A section may be cut short by the end of its stream; what is there still reads.
    const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{offset} + size, stream.size());
    section.bytes = stream.subspan(offset, static_cast<std::size_t>(end - offset));
    if (section.bytes.size() < kSectionHeaderBytes ||
        count > (section.bytes.size() - kSectionHeaderBytes) / kPropertyTableEntryBytes) {
      section = Section();
      return Fault{Defect::kTableDoesNotFit, Structure::kSection, 0};
    }
    section.propertyCount = count;
    PROPVARIANT codePage;
    PropVariantInit(&codePage);
    if (ReadProperty(section, PID_CODEPAGE, codePage).ok() && codePage.vt == VT_I2) {
      section.codePage = static_cast<std::uint16_t>(codePage.iVal);
    }
    ClearValue(codePage);
    return kOk;
  }
  return Fault{Defect::kNoSection, Structure::kPropertySet, 0};
}

void ReadProperties(const Section& section, std::span<const PROPID> ids, std::span<PROPVARIANT> values,
                    std::span<Fault> faults) {
  assert(values.size() >= ids.size() && faults.size() >= ids.size());
  const bool unicode = section.codePage == kCodePageUnicode;
  std::uint64_t budget = limits::kDecodedBytesPerSectionByte * section.bytes.size();
  std::vector<std::uint32_t> offsets(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    PropVariantInit(&values[i]);
    if (!FindPropertyOffset(section, ids[i], offsets[i])) {
      faults[i] = ValueFault(Defect::kNotPresent);
      continue;
    }
    // A value named by several entries is decoded once; the records share it.
    std::size_t first = 0;
    while (first < i && (faults[first].defect == Defect::kNotPresent || offsets[first] != offsets[i])) ++first;
    if (first < i) {
      faults[i] = faults[first];
      ShareValue(values[i], values[first]);
      continue;
    }
    faults[i] = DecodeValue(section, offsets[i], unicode, budget, values[i]);
  }
}

Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out) {
  Fault fault;
  ReadProperties(section, std::span<const PROPID>(&id, 1), std::span<PROPVARIANT>(&out, 1),
                 std::span<Fault>(&fault, 1));
  return fault;
}

}  // namespace readers::propset
