#include "docprops/reader/property_set.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <new>
#include <string_view>

#include "docprops/reader/byte_cursor.h"
#include "docprops/reader/utf16.h"

namespace docprops::propset {
namespace {

constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr std::size_t kStreamHeaderBytes = 28;
constexpr std::size_t kSectionListEntryBytes = 20;

// How the bytes after an element up to a multiple of 4 are treated.
enum class Pad : std::uint8_t {
  kNone,    // fixed-size data, already a multiple of 4
  kAlways,  // wide strings, and narrow strings stored as UTF-16: always padded
  kIfZero,  // narrow byte-counted data: office writers do not pad it inside vectors,
            // writers that follow the property-set format do (with zero bytes)
};

struct Extent {
  Pad pad = Pad::kNone;
  std::uint64_t length = 0;  // bytes of the element's counted data
};

struct Context {
  bool unicode = false;  // a code page 1200 section: narrow strings are UTF-16LE
};

bool ReadGuid(ByteCursor& c, GUID& g) {
  if (!c.ReadU32(g.Data1) || !c.ReadU16(g.Data2) || !c.ReadU16(g.Data3)) return false;
  for (std::uint8_t& b : g.Data4) {
    if (!c.ReadU8(b)) return false;
  }
  return true;
}

// The bytes of a narrow string: up to its first NUL (writers pad, even with garbage,
// after it), or its UTF-16 converted to UTF-8 in a Unicode section.
std::string NarrowText(std::span<const std::uint8_t> bytes, const Context& ctx) {
  if (ctx.unicode) return Utf16LeBytesToUtf8(bytes);
  const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return std::string(bytes.begin(), nul);
}

// Where the strings of a value go. A value outside a vector owns each string in its own
// allocation. A vector keeps its elements and all their strings in one block, so a
// vector of many short strings costs its stored size and a pointer per element, not an
// allocation per element. Without a block the arena only counts the bytes it would need.
class StringArena {
 public:
  StringArena() = default;  // counting only
  explicit StringArena(std::span<std::byte> block) : block_(block), filling_(true) {}

  char* PutNarrow(const std::string& text) {
    const std::size_t at = Reserve(text.size() + 1, 1);
    if (!filling_) return nullptr;
    char* s = reinterpret_cast<char*>(block_.subspan(at, text.size() + 1).data());
    std::copy(text.begin(), text.end(), s);
    s[text.size()] = '\0';
    return s;
  }

  char16_t* PutWide(const std::u16string& units) {
    const std::size_t bytes = (units.size() + 1) * sizeof(char16_t);
    const std::size_t at = Reserve(bytes, alignof(char16_t));
    if (!filling_) return nullptr;
    char16_t* s = reinterpret_cast<char16_t*>(block_.subspan(at, bytes).data());
    std::copy(units.begin(), units.end(), s);
    s[units.size()] = 0;
    return s;
  }

  std::size_t used() const { return used_; }

 private:
  std::size_t Reserve(std::size_t bytes, std::size_t align) {
    used_ = (used_ + align - 1) / align * align;
    const std::size_t at = used_;
    used_ += bytes;
    return at;
  }

  std::span<std::byte> block_;
  bool filling_ = false;
  std::size_t used_ = 0;
};

char* NewNarrowString(const std::string& text) {
  char* s = new char[text.size() + 1];
  std::copy(text.begin(), text.end(), s);
  s[text.size()] = '\0';
  return s;
}

char16_t* NewWideString(const std::u16string& units) {
  char16_t* s = new char16_t[units.size() + 1];
  std::copy(units.begin(), units.end(), s);
  s[units.size()] = 0;
  return s;
}

// A fixed-size value of `size` bytes; only its first `valueBytes` must be present when
// it is the last thing in its section (the padding of a 1- or 2-byte value).
bool ReadFixed(ByteCursor& c, std::size_t size, std::size_t valueBytes, std::uint64_t& raw) {
  std::span<const std::uint8_t> bytes;
  if (!c.ReadBytes(valueBytes, bytes)) return false;
  raw = 0;
  for (std::size_t i = 0; i < std::min<std::size_t>(valueBytes, 8); ++i) raw |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  c.Skip(std::min<std::size_t>(size - valueBytes, c.remaining()));
  return true;
}

// Decodes the data of one value whose type field has been read. With out == nullptr it
// only checks that the data is well formed and fits. Strings go to `arena` when given,
// else to allocations of their own.
bool ParseData(ByteCursor& c, VARTYPE vt, const Context& ctx, PROPVARIANT* out, StringArena* arena, Extent& extent) {
  extent = Extent();
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = vt;
  std::uint64_t raw = 0;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_I1:
    case VT_UI1:
      if (!ReadFixed(c, 4, 1, raw)) return false;
      v.bVal = static_cast<std::uint8_t>(raw);
      break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      if (!ReadFixed(c, 4, 2, raw)) return false;
      v.uiVal = static_cast<std::uint16_t>(raw);
      break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      if (!ReadFixed(c, 4, 4, raw)) return false;
      v.ulVal = static_cast<std::uint32_t>(raw);
      break;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_FILETIME:
      if (!ReadFixed(c, 8, 8, raw)) return false;
      v.uhVal = raw;
      break;
    case VT_DECIMAL:
    case VT_CLSID:
      if (!c.Skip(16)) return false;
      break;
    case VT_LPSTR:
    case VT_BSTR:
    case VT_BLOB:
    case VT_BLOB_OBJECT:
    case VT_CF: {
      std::uint32_t count = 0;
      std::span<const std::uint8_t> data;
      if (!c.ReadU32(count) || !c.ReadBytes(count, data)) return false;
      extent.length = count;
      extent.pad = (vt == VT_LPSTR && ctx.unicode) ? Pad::kAlways : Pad::kIfZero;
      if (vt == VT_LPSTR && out != nullptr) {
        const std::string text = NarrowText(data, ctx);
        v.pszVal = arena != nullptr ? arena->PutNarrow(text) : NewNarrowString(text);
      }
      break;
    }
    case VT_LPWSTR: {
      std::uint32_t units = 0;
      std::span<const std::uint8_t> data;
      if (!c.ReadU32(units) || !c.ReadBytes(2ull * units, data)) return false;
      extent.length = 2ull * units;
      extent.pad = Pad::kAlways;
      if (out != nullptr) {
        const std::u16string text = Utf16LeUnits(data);
        v.pwszVal = arena != nullptr ? arena->PutWide(text) : NewWideString(text);
      }
      break;
    }
    default:
      return false;
  }
  if (out != nullptr) *out = v;
  return true;
}

// Moves past the padding after a vector element, if any. `nextParses` tells whether the
// element after the padding would decode; it decides between the two layouts of
// narrow data. Nothing is read after a vector's last element.
template <typename Probe>
bool SkipPadding(ByteCursor& c, const Extent& extent, bool last, Probe nextParses) {
  const std::uint64_t pad = (4 - extent.length % 4) % 4;
  if (last || pad == 0 || extent.pad == Pad::kNone) return true;
  if (extent.pad == Pad::kAlways) return c.Skip(pad);
  ByteCursor after = c;
  std::span<const std::uint8_t> padding;
  if (!after.ReadBytes(pad, padding)) return true;
  if (std::any_of(padding.begin(), padding.end(), [](std::uint8_t b) { return b != 0; })) return true;
  if (nextParses(after)) c = after;
  return true;
}

// Reads one element of a vector: with its own type field in a vector of variants.
bool ParseElement(ByteCursor& c, VARTYPE base, const Context& ctx, PROPVARIANT* out, StringArena* arena,
                  Extent& extent) {
  VARTYPE vt = base;
  if (base == VT_VARIANT) {
    std::uint16_t type = 0;
    if (!c.ReadU16(type) || !c.Skip(2)) return false;
    vt = type;
  }
  return ParseData(c, vt, ctx, out, arena, extent);
}

// Parses a vector's elements once; with `arena` counting or filling, `store` receives
// each decoded element.
template <typename Store>
bool WalkVector(ByteCursor& c, VARTYPE base, std::uint32_t count, const Context& ctx, StringArena* arena, Store store) {
  const auto nextParses = [&](ByteCursor probe) {
    Extent ignored;
    return ParseElement(probe, base, ctx, nullptr, nullptr, ignored);
  };
  for (std::uint32_t i = 0; i < count; ++i) {
    PROPVARIANT element;
    PropVariantInit(&element);
    Extent extent;
    if (!ParseElement(c, base, ctx, arena != nullptr ? &element : nullptr, arena, extent) ||
        !SkipPadding(c, extent, i + 1 == count, nextParses)) {
      return false;
    }
    store(i, element);
  }
  return true;
}

bool ParseVector(ByteCursor& c, VARTYPE base, const Context& ctx, PROPVARIANT* out) {
  if (base != VT_LPSTR && base != VT_LPWSTR && base != VT_VARIANT) return false;
  std::uint32_t count = 0;
  if (!c.ReadU32(count)) return false;
  if (count > c.remaining() / 4) return false;  // every element takes at least 4 bytes

  // First pass: check the elements and count the bytes of their strings. Nothing is
  // allocated for a vector that does not decode.
  const ByteCursor start = c;
  StringArena counter;
  if (!WalkVector(c, base, count, ctx, out != nullptr ? &counter : nullptr, [](std::uint32_t, const PROPVARIANT&) {})) {
    return false;
  }
  if (out == nullptr) return true;

  // Second pass: one block holds the element array, then the strings.
  const std::size_t elementBytes = base == VT_VARIANT ? sizeof(PROPVARIANT) : sizeof(void*);
  const std::size_t arrayBytes = std::size_t{count} * elementBytes;
  std::byte* block = static_cast<std::byte*>(::operator new(arrayBytes + counter.used()));
  StringArena arena(std::span<std::byte>(block, arrayBytes + counter.used()).subspan(arrayBytes));
  PROPVARIANT v;
  PropVariantInit(&v);
  v.vt = static_cast<VARTYPE>(VT_VECTOR | base);
  if (base == VT_LPSTR) {
    v.calpstr.cElems = count;
    v.calpstr.pElems = reinterpret_cast<char**>(block);
  } else if (base == VT_LPWSTR) {
    v.calpwstr.cElems = count;
    v.calpwstr.pElems = reinterpret_cast<char16_t**>(block);
  } else {
    v.capropvar.cElems = count;
    v.capropvar.pElems = reinterpret_cast<PROPVARIANT*>(block);
  }
  c = start;
  [[maybe_unused]] const bool again = WalkVector(c, base, count, ctx, &arena, [&](std::uint32_t i, const PROPVARIANT& element) {
    if (base == VT_LPSTR) {
      ::new (&v.calpstr.pElems[i]) char*(element.pszVal);
    } else if (base == VT_LPWSTR) {
      ::new (&v.calpwstr.pElems[i]) char16_t*(element.pwszVal);
    } else {
      ::new (&v.capropvar.pElems[i]) PROPVARIANT(element);
    }
  });
  assert(again && arena.used() == counter.used());  // the same bytes decode the same way twice
  *out = v;
  return true;
}

// Decodes a whole property value; with out == nullptr only checks it.
bool ParseValue(ByteCursor& c, const Context& ctx, PROPVARIANT* out) {
  std::uint16_t vt = 0;
  if (!c.ReadU16(vt) || !c.Skip(2)) return false;
  if ((vt & 0xF000) == VT_VECTOR) return ParseVector(c, static_cast<VARTYPE>(vt & 0x0FFF), ctx, out);
  Extent extent;
  return ParseData(c, vt, ctx, out, nullptr, extent);
}

bool FindPropertyOffset(const Section& s, PROPID id, std::uint32_t& offset) {
  ByteCursor table(s.bytes);
  if (!table.Seek(8)) return false;
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

// Decodes property `id` when its stored bytes fit in `budget`, which then shrinks by
// them. Values that do not overlap never exceed a budget of the section's size; values
// that overlap (only a hostile file shares one stored vector among several properties)
// cannot multiply the memory a read takes.
Fault Decode(const Section& s, PROPID id, const Context& ctx, PROPVARIANT& out, std::uint64_t& budget) {
  std::uint32_t offset = 0;
  if (!FindPropertyOffset(s, id, offset)) return Fault::kNotPresent;
  ByteCursor c(s.bytes);
  if (!c.Seek(offset) || !ParseValue(c, ctx, nullptr)) return Fault::kMalformed;
  const std::uint64_t stored = c.position() - offset;
  if (stored > budget) return Fault::kOverBudget;
  budget -= stored;
  c.Seek(offset);
  [[maybe_unused]] const bool decoded = ParseValue(c, ctx, &out);
  assert(decoded);  // the check above passed on the same bytes
  return Fault::kNone;
}

}  // namespace

Fault FindSection(std::span<const std::uint8_t> stream, const FMTID& fmtid, Section& section) {
  section = Section();
  ByteCursor c(stream);
  std::uint16_t byteOrder = 0;
  std::uint32_t declared = 0;
  if (!c.ReadU16(byteOrder) || stream.size() < kStreamHeaderBytes) return Fault::kTooShort;
  if (byteOrder != kByteOrderMark) return Fault::kBadByteOrder;
  c.Seek(24);
  c.ReadU32(declared);
  // Only the pairs that lie inside the stream count, whatever the declared number.
  for (std::uint32_t i = 0; i < declared && c.remaining() >= kSectionListEntryBytes; ++i) {
    GUID id = {};
    std::uint32_t offset = 0;
    ReadGuid(c, id);
    c.ReadU32(offset);
    if (!(id == fmtid)) continue;

    ByteCursor head = ByteCursor(stream).Sub(offset, 8);
    std::uint32_t size = 0;
    std::uint32_t count = 0;
    if (head.ReadU32(size) && head.ReadU32(count)) {
      const std::uint64_t end = std::min<std::uint64_t>(std::uint64_t{offset} + size, stream.size());
      section.bytes = stream.subspan(offset, static_cast<std::size_t>(end - offset));
      if (8 + 8ull * count <= section.bytes.size()) section.propertyCount = count;
    }
    PROPVARIANT cp;
    PropVariantInit(&cp);
    std::uint64_t budget = section.bytes.size();
    if (Decode(section, PID_CODEPAGE, Context(), cp, budget) == Fault::kNone && cp.vt == VT_I2) section.codePage = cp.uiVal;
    PropVariantClear(&cp);
    return Fault::kNone;
  }
  return Fault::kSectionMissing;
}

Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out, std::uint64_t& budget) {
  Context ctx;
  ctx.unicode = section.codePage == kCodePageUnicode;
  return Decode(section, id, ctx, out, budget);
}

Fault ReadProperty(const Section& section, PROPID id, PROPVARIANT& out) {
  std::uint64_t budget = section.bytes.size();
  return ReadProperty(section, id, out, budget);
}

}  // namespace docprops::propset
