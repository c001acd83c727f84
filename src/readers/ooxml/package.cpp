#include "readers/ooxml/package.h"

#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "ooxml/xml_part.h"
#include "ooxml/zip.h"
#include "readers/limits.h"
#include "readers/utf16.h"

namespace readers::ooxml {
namespace {

constexpr std::string_view kRelationshipsPart = "_rels/.rels";
constexpr std::string_view kRelationshipsSpace = "http://schemas.openxmlformats.org/package/2006/relationships";
// The transitional and the strict name of each vocabulary.
constexpr std::array<std::string_view, 2> kPropertiesTypes = {
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties",
    "http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties"};
constexpr std::array<std::string_view, 2> kPropertiesSpaces = {
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties",
    "http://purl.oclc.org/ooxml/officeDocument/extendedProperties"};
constexpr std::array<std::string_view, 2> kVariantTypesSpaces = {
    "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes",
    "http://purl.oclc.org/ooxml/officeDocument/docPropsVTypes"};

// Buffers that grew past this for one large part are given back rather than kept.
constexpr std::size_t kKeptBytes = 64u << 10;

bool OneOf(std::string_view value, const std::array<std::string_view, 2>& choices) {
  return value == choices[0] || value == choices[1];
}

bool IsVariantType(const XmlName& name, std::string_view local) {
  return name.local == local && OneOf(name.space, kVariantTypesSpaces);
}

template <typename T>
void Empty(T& buffer) {
  if (buffer.capacity() > kKeptBytes) T().swap(buffer);
  buffer.clear();
}

// The package relationships: the target of the first relationship to an
// extended-properties part that is not external.
class RelationshipsReader final : public XmlHandler {
 public:
  void Reset() {
    root_ = false;
    found = false;
    Empty(target);
  }
  bool Start(std::size_t depth, const XmlName& name, const XML_Char** attributes) override {
    if (depth == 1) {
      root_ = name == XmlName{kRelationshipsSpace, "Relationships"};
    } else if (depth == 2 && root_ && !found && name == XmlName{kRelationshipsSpace, "Relationship"}) {
      const XML_Char* type = Attribute(attributes, "Type");
      const XML_Char* mode = Attribute(attributes, "TargetMode");
      if (type != nullptr && OneOf(type, kPropertiesTypes) &&
          (mode == nullptr || std::string_view(mode) != "External")) {
        const XML_Char* to = Attribute(attributes, "Target");
        target = to != nullptr ? to : "";
        found = true;
      }
    }
    return true;
  }
  void End(std::size_t) override {}
  void Text(std::size_t, std::string_view) override {}

  bool found = false;
  std::string target;

 private:
  bool root_ = false;
};

// The part name a relationship of the package names: a leading '/' dropped, '.' and
// '..' segments resolved from the package's root (a '..' there stays there).
std::string PartName(std::string_view target) {
  if (!target.empty() && target.front() == '/') target.remove_prefix(1);
  std::vector<std::string_view> segments;
  for (;;) {
    const std::size_t slash = target.find('/');
    const std::string_view segment = target.substr(0, slash);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (segment != ".") {
      segments.push_back(segment);
    }
    if (slash == std::string_view::npos) break;
    target.remove_prefix(slash + 1);
  }
  std::string name;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) name.push_back('/');
    name.append(segments[i]);
  }
  return name;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The UTF-16 unit an escape _xHHHH_ at the start of `text` names, or -1.
int EscapedUnit(std::string_view text) {
  if (text.size() < 7 || text[0] != '_' || text[1] != 'x' || text[6] != '_') return -1;
  int unit = 0;
  for (std::size_t i = 2; i < 6; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

// Reads every _xHHHH_ in `text` from `from` on as the UTF-16 unit it names, in place and
// in one pass from the left (so _x005F_ is an underscore that starts no escape), and
// returns the length of what is left from `from`. Escaped surrogates pair up when a high
// one is followed at once by a low one; any other, and the unit 0, which no string of
// ours can hold, become U+FFFD. In place is safe: no escape's UTF-8 is longer than it.
std::size_t Unescape(std::string& text, std::size_t from) {
  std::size_t out = from;
  const auto emit = [&](char16_t high, char16_t low) {
    const char16_t units[] = {high, low};
    EncodeUtf8(
        low != 0 ? 2 : 1, [&](std::size_t i) { return units[i]; }, [&](char c) { text[out++] = c; });
  };
  char16_t pending = 0;  // a high surrogate waiting for its low one
  const auto flush = [&] {
    if (pending != 0) emit(u'\uFFFD', 0);
    pending = 0;
  };
  for (std::size_t i = from; i < text.size();) {
    // A run up to the next underscore holds no escape: it moves down as a block.
    const std::size_t run = std::min(text.find('_', i), text.size()) - i;
    if (run > 0) {
      flush();
      if (out != i) text.replace(out, run, text, i, run);  // out < i: the copy never overtakes itself
      out += run;
      i += run;
      continue;
    }
    const int unit = EscapedUnit(std::string_view(text).substr(i));
    if (unit < 0) {
      flush();
      text[out++] = text[i++];
      continue;
    }
    i += 7;
    const auto u = static_cast<char16_t>(unit);
    if (u >= 0xDC00 && u <= 0xDFFF && pending != 0) {
      emit(pending, u);
      pending = 0;
      continue;
    }
    flush();
    if (u >= 0xD800 && u <= 0xDBFF) {
      pending = u;
    } else {
      emit(u == 0 || (u >= 0xDC00 && u <= 0xDFFF) ? u'\uFFFD' : u, 0);
    }
  }
  flush();
  text.resize(out);
  return out - from;
}

// The integer types of a variant, with their ranges.
struct IntegerType {
  std::string_view local;
  VARTYPE vt;
  std::int64_t low;
  std::int64_t high;
};
constexpr IntegerType kIntegerTypes[] = {
    {"i1", VT_I1, -128, 127},
    {"i2", VT_I2, -32768, 32767},
    {"i4", VT_I4, INT32_MIN, INT32_MAX},
    {"int", VT_INT, INT32_MIN, INT32_MAX},
    {"ui1", VT_UI1, 0, UINT8_MAX},
    {"ui2", VT_UI2, 0, UINT16_MAX},
    {"ui4", VT_UI4, 0, UINT32_MAX},
    {"uint", VT_UINT, 0, UINT32_MAX},
};

const IntegerType* IntegerTypeOf(const XmlName& name) {
  for (const IntegerType& type : kIntegerTypes) {
    if (IsVariantType(name, type.local)) return &type;
  }
  return nullptr;
}

// Decimal text, trimmed of XML white space, with an optional sign; false when it is not
// that or lies outside [low, high].
bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  constexpr std::string_view kWhiteSpace = " \t\r\n";
  const std::size_t first = text.find_first_not_of(kWhiteSpace);
  if (first == std::string_view::npos) return false;
  text = text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
  const bool negative = text.front() == '-';
  if (text.front() == '-' || text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  std::int64_t magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    magnitude = std::min<std::int64_t>(magnitude * 10 + (c - '0'), std::int64_t{1} << 40);  // past every range
  }
  value = negative ? -magnitude : magnitude;
  return value >= low && value <= high;
}

// One element of a vector as the part gives it: an integer's value, or where its string
// lies in the reader's text (which a part of limits::kMaxPartBytes keeps far below 4 GiB).
struct Element {
  VARTYPE vt = VT_EMPTY;
  std::int64_t value = 0;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};

void SetInteger(PROPVARIANT& v, VARTYPE vt, std::int64_t value) {
  v.vt = vt;
  switch (vt) {
    case VT_I1: v.cVal = static_cast<char>(static_cast<std::int8_t>(value)); break;
    case VT_I2: v.iVal = static_cast<std::int16_t>(value); break;
    case VT_I4: v.lVal = static_cast<std::int32_t>(value); break;
    case VT_INT: v.intVal = static_cast<std::int32_t>(value); break;
    case VT_UI1: v.bVal = static_cast<std::uint8_t>(value); break;
    case VT_UI2: v.uiVal = static_cast<std::uint16_t>(value); break;
    case VT_UI4: v.ulVal = static_cast<std::uint32_t>(value); break;
    case VT_UINT: v.uintVal = static_cast<std::uint32_t>(value); break;
    default: v.vt = VT_EMPTY; break;
  }
}

// A vector value in one block: the element array (PROPVARIANT records, or string
// pointers), then the strings, each terminated.
void MakeVector(const std::vector<Element>& elements, const std::string& text, bool variants, PROPVARIANT& out) {
  const std::size_t count = elements.size();
  const std::size_t slot = variants ? sizeof(PROPVARIANT) : sizeof(char*);
  std::size_t bytes = count * slot;
  for (const Element& e : elements) bytes += e.vt == VT_LPSTR ? e.size + 1 : 0;
  auto* const block = static_cast<std::byte*>(NewValueBlock(bytes));
  char* strings = reinterpret_cast<char*>(block + count * slot);
  for (std::size_t i = 0; i < count; ++i) {
    const Element& e = elements[i];
    char* string = nullptr;
    if (e.vt == VT_LPSTR) {
      string = strings;
      text.copy(strings, e.size, e.offset);
      strings[e.size] = '\0';
      strings += e.size + 1;
    }
    if (!variants) {
      ::new (block + i * slot) char*(string);
      continue;
    }
    PROPVARIANT v;
    PropVariantInit(&v);
    if (e.vt == VT_LPSTR) {
      v.vt = VT_LPSTR;
      v.pszVal = string;
    } else {
      SetInteger(v, e.vt, e.value);
    }
    ::new (block + i * slot) PROPVARIANT(v);
  }
  PropVariantInit(&out);
  out.wReserved1 = kHoldsValueBlock;
  if (variants) {
    out.vt = VT_VECTOR | VT_VARIANT;
    out.capropvar = CAPROPVARIANT{static_cast<std::uint32_t>(count), reinterpret_cast<PROPVARIANT*>(block)};
  } else {
    out.vt = VT_VECTOR | VT_LPSTR;
    out.calpstr = CALPSTR{static_cast<std::uint32_t>(count), reinterpret_cast<char**>(block)};
  }
}

// The extended properties: the first vector of the first HeadingPairs and of the first
// TitlesOfParts of a Properties root.
class PropertiesReader final : public XmlHandler {
 public:
  void Reset() {
    root_ = false;
    section_ = Section::kNone;
    seenHeadings_ = seenParts_ = false;
    vectorSeen_ = vectorOpen_ = false;
    inVariant_ = variantValued_ = false;
    collectDepth_ = 0;
    hasHeadings = hasParts = false;
    Empty(headings);
    Empty(parts);
    Empty(text);
  }

  bool Start(std::size_t depth, const XmlName& name, const XML_Char**) override {
    if (depth == 1) {
      root_ = name.local == "Properties" && OneOf(name.space, kPropertiesSpaces);
      return true;
    }
    if (!root_) return true;
    if (depth == 2) {
      section_ = Section::kNone;
      vectorSeen_ = false;
      if (!OneOf(name.space, kPropertiesSpaces)) return true;
      if (name.local == "HeadingPairs" && !seenHeadings_) {
        section_ = Section::kHeadings;
        seenHeadings_ = true;
      } else if (name.local == "TitlesOfParts" && !seenParts_) {
        section_ = Section::kParts;
        seenParts_ = true;
      }
    } else if (depth == 3) {
      if (section_ == Section::kNone || vectorSeen_ || !IsVariantType(name, "vector")) return true;
      vectorSeen_ = vectorOpen_ = true;
      (section_ == Section::kHeadings ? hasHeadings : hasParts) = true;
    } else if (depth == 4 && vectorOpen_) {
      if (section_ == Section::kParts) {
        if (Full()) return false;
        parts.push_back(Element{VT_LPSTR, 0, Offset(), 0});
        if (IsVariantType(name, "lpstr") || IsVariantType(name, "lpwstr")) Collect(depth, VT_LPSTR);
        return true;
      }
      inVariant_ = IsVariantType(name, "variant");
      variantValued_ = false;
      if (inVariant_) {
        if (Full()) return false;
        headings.push_back(Element{});
      }
    } else if (depth == 5 && vectorOpen_ && inVariant_ && !variantValued_) {
      // A variant's value is its first child element.
      variantValued_ = true;
      if (IsVariantType(name, "lpstr") || IsVariantType(name, "lpwstr")) {
        Collect(depth, VT_LPSTR);
      } else if (const IntegerType* type = IntegerTypeOf(name); type != nullptr) {
        integer_ = type;
        Collect(depth, type->vt);
      }
    }
    return true;
  }

  void End(std::size_t depth) override {
    if (depth == collectDepth_) Finish();
    if (depth == 4) inVariant_ = false;
    if (depth == 3) vectorOpen_ = false;
    if (depth == 2) section_ = Section::kNone;
  }

  void Text(std::size_t depth, std::string_view piece) override {
    if (depth == collectDepth_) text.append(piece);
  }

  bool hasHeadings = false;
  bool hasParts = false;
  std::vector<Element> headings;
  std::vector<Element> parts;
  std::string text;  // the strings of both vectors, back to back

 private:
  enum class Section : std::uint8_t { kNone, kHeadings, kParts };

  std::uint32_t Offset() const { return static_cast<std::uint32_t>(text.size()); }

  // Only the outline's own elements count toward its limit, so that whatever follows
  // an outline of exactly the limit still reads.
  bool Full() const { return headings.size() + parts.size() == limits::kMaxOutlineElements; }

  // The element's character data is collected at the end of `text`.
  void Collect(std::size_t depth, VARTYPE vt) {
    collectDepth_ = depth;
    collectVt_ = vt;
    collectFrom_ = Offset();
  }

  void Finish() {
    collectDepth_ = 0;
    Element& e = section_ == Section::kParts ? parts.back() : headings.back();
    if (collectVt_ == VT_LPSTR) {
      e.vt = VT_LPSTR;
      e.offset = collectFrom_;
      e.size = static_cast<std::uint32_t>(Unescape(text, collectFrom_));
      return;
    }
    if (std::int64_t value = 0;
        ParseInteger(std::string_view(text).substr(collectFrom_), integer_->low, integer_->high, value)) {
      e.vt = collectVt_;
      e.value = value;
    }
    text.resize(collectFrom_);
  }

  bool root_ = false;
  Section section_ = Section::kNone;
  bool seenHeadings_ = false;
  bool seenParts_ = false;
  bool vectorSeen_ = false;  // the current section's first vector has come
  bool vectorOpen_ = false;  // and is open
  bool inVariant_ = false;
  bool variantValued_ = false;
  std::size_t collectDepth_ = 0;  // the element whose text is collected, 0 for none
  VARTYPE collectVt_ = VT_EMPTY;
  std::uint32_t collectFrom_ = 0;
  const IntegerType* integer_ = nullptr;
};

}  // namespace

namespace detail {

struct PackageState {
  ZipArchive zip;  // started afresh by OpenZip
  XmlPart xml;
  RelationshipsReader relationships;
  PropertiesReader properties;

  // What a package may leave behind, before the next one is read.
  void Reset() {
    xml.Reset();
    relationships.Reset();
    properties.Reset();
  }
};

}  // namespace detail

namespace {

Fault ReadXml(detail::PackageState& s, const ZipEntry& entry, Structure where, XmlHandler& handler) {
  if (const Fault f = s.xml.Begin(handler, where); !f.ok()) return f;
  if (const Fault f = ReadEntry(s.zip, entry, where, s.xml); !f.ok()) return f;
  return s.xml.Finish();
}

}  // namespace

Package::Package() = default;
Package::~Package() = default;
Package::Package(Package&&) noexcept = default;
Package& Package::operator=(Package&&) noexcept = default;

namespace {

Fault ReadOutline(ByteSource& source, detail::PackageState& s, PROPVARIANT& headingPairs,
                  PROPVARIANT& titlesOfParts) {
  s.Reset();
  if (const Fault f = OpenZip(source, s.zip); !f.ok()) return f;

  ZipEntry entry;
  bool found = false;
  if (const Fault f = FindEntry(s.zip, kRelationshipsPart, entry, found); !f.ok()) return f;
  if (!found) return Fault{Defect::kNotPackage, Structure::kRelationships, 0};
  if (const Fault f = ReadXml(s, entry, Structure::kRelationships, s.relationships); !f.ok()) return f;
  if (!s.relationships.found) return Fault{Defect::kNoRelationship, Structure::kRelationships, 0};

  if (const Fault f = FindEntry(s.zip, PartName(s.relationships.target), entry, found); !f.ok()) return f;
  if (!found) return Fault{Defect::kMissing, Structure::kProperties, 0};
  PropertiesReader& p = s.properties;
  if (const Fault f = ReadXml(s, entry, Structure::kProperties, p); !f.ok()) return f;
  if (p.hasHeadings) MakeVector(p.headings, p.text, true, headingPairs);
  if (p.hasParts) MakeVector(p.parts, p.text, false, titlesOfParts);
  p.Reset();  // what a large part took goes back before its caller takes the values
  return kOk;
}

}  // namespace

Fault ReadPackageOutline(ByteSource& source, Package& package, PROPVARIANT& headingPairs, PROPVARIANT& titlesOfParts) {
  if (!package.state) package.state = std::make_unique<detail::PackageState>();
  detail::PackageState& s = *package.state;
  const Fault fault = ReadOutline(source, s, headingPairs, titlesOfParts);
  if (fault.ok() || !s.xml.WasShortOfMemory() || !s.xml.Reused()) return fault;
  // The parser kept from earlier packages held some of the memory this one needed: it
  // is read again with a new parser, as it would be read first.
  s.xml.Discard();
  return ReadOutline(source, s, headingPairs, titlesOfParts);
}

}  // namespace readers::ooxml
