#include "ooxml/xml_part.h"

#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>

#include "readers/limits.h"

namespace readers::ooxml {
namespace {

// Splits expanded names, "namespace" kSeparator "local"; no namespace name holds it.
constexpr XML_Char kSeparator = ' ';

// The parser's memory, counted for the parser that holds it: the memory functions take
// no argument to say which parser calls, so every call into the parser that may
// allocate or free names its counter here first (a Counting), on its own thread. Each
// block carries its size before it, and a block that would take the parser past the
// cap is refused, which the parser reports as running out of memory.
thread_local std::size_t* t_parserBytes = nullptr;

class Counting {
 public:
  explicit Counting(std::size_t& bytes) : previous_(std::exchange(t_parserBytes, &bytes)) {}
  ~Counting() { t_parserBytes = previous_; }
  Counting(const Counting&) = delete;
  Counting& operator=(const Counting&) = delete;

 private:
  std::size_t* previous_;
};

struct alignas(std::max_align_t) BlockSize {
  std::size_t bytes;
};

void* Allocate(std::size_t bytes) {
  std::size_t& held = *t_parserBytes;
  if (bytes > limits::kMaxXmlParserBytes - std::min(held, limits::kMaxXmlParserBytes)) return nullptr;
  auto* block = static_cast<BlockSize*>(std::malloc(sizeof(BlockSize) + bytes));
  if (block == nullptr) return nullptr;
  block->bytes = bytes;
  held += bytes;
  return block + 1;
}

void Free(void* pointer) {
  if (pointer == nullptr) return;
  BlockSize* block = static_cast<BlockSize*>(pointer) - 1;
  std::size_t& held = *t_parserBytes;
  held -= std::min(held, block->bytes);
  std::free(block);
}

void* Reallocate(void* pointer, std::size_t bytes) {
  if (pointer == nullptr) return Allocate(bytes);
  BlockSize* block = static_cast<BlockSize*>(pointer) - 1;
  void* grown = Allocate(bytes);
  if (grown == nullptr) return nullptr;
  std::memcpy(grown, pointer, std::min(bytes, block->bytes));
  Free(pointer);
  return grown;
}

const XML_Memory_Handling_Suite kMemory = {Allocate, Reallocate, Free};

// A parser that holds more than this after a package is given back rather than kept:
// small parts leave it a few tens of kilobytes.
constexpr std::size_t kKeptParserBytes = 256u << 10;

// The salt of the parser's hash tables, new for every part, so that no crafted names can
// make them slow. The parser would fetch one from the system for every part; drawing
// them from a generator seeded once per thread saves those calls.
unsigned long NextHashSalt() {
  thread_local std::uint64_t state = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  std::uint64_t z = (state += 0x9E3779B97F4A7C15u);  // splitmix64
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return static_cast<unsigned long>(z ^ (z >> 31));
}

XmlName Split(const XML_Char* name) {
  const std::string_view whole(name);
  const std::size_t cut = whole.find(kSeparator);
  if (cut == std::string_view::npos) return XmlName{{}, whole};
  return XmlName{whole.substr(0, cut), whole.substr(cut + 1)};
}

}  // namespace

const XML_Char* Attribute(const XML_Char** attributes, std::string_view name) {
  for (std::size_t i = 0; attributes[i] != nullptr; i += 2) {
    if (name == attributes[i]) return attributes[i + 1];
  }
  return nullptr;
}

XmlPart::~XmlPart() { Discard(); }

void XmlPart::Discard() {
  if (parser_ != nullptr) {
    const Counting counting(parserBytes_);
    XML_ParserFree(parser_);
  }
  parser_ = nullptr;
  parserBytes_ = 0;
}

void XmlPart::Reset() {
  if (parserBytes_ > kKeptParserBytes) Discard();
  reused_ = parser_ != nullptr;
  shortOfMemory_ = false;
  handler_ = nullptr;
  where_ = Structure::kNone;
  depth_ = 0;
  reported_ = false;
  unreported_ = 0;
  stop_ = kOk;
}

Fault XmlPart::Begin(XmlHandler& handler, Structure where) {
  const Counting counting(parserBytes_);
  if (parser_ != nullptr && XML_ParserReset(parser_, nullptr) != XML_TRUE) {
    XML_ParserFree(parser_);
    parser_ = nullptr;
  }
  if (parser_ == nullptr) parser_ = XML_ParserCreate_MM(nullptr, &kMemory, &kSeparator);
  if (parser_ == nullptr) {
    shortOfMemory_ = true;
    return Fault{Defect::kOverLimit, where, 0};
  }
  handler_ = &handler;
  where_ = where;
  depth_ = 0;
  reported_ = false;
  unreported_ = 0;
  stop_ = kOk;
  XML_SetHashSalt(parser_, NextHashSalt());
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, &XmlPart::OnStart, &XmlPart::OnEnd);
  XML_SetCharacterDataHandler(parser_, &XmlPart::OnText);
  XML_SetStartDoctypeDeclHandler(parser_, &XmlPart::OnDoctype);
  // Everything else the parser reports (comments, processing instructions, the XML
  // declaration, white space outside the root) only shows that a token has ended.
  XML_SetDefaultHandlerExpand(parser_, &XmlPart::OnOther);
  return kOk;
}

Fault XmlPart::Parse(const char* bytes, std::size_t size, bool last) {
  const Counting counting(parserBytes_);
  while (size > 0 || last) {
    // A token still open after this many bytes is refused before the parser scans it
    // yet again (it starts an unfinished token over each time more bytes come).
    if (unreported_ > limits::kMaxXmlTokenBytes) return Fault{Defect::kOverLimit, where_, 0};
    const std::size_t piece = std::min(size, limits::kPartChunkBytes);
    const bool final = last && piece == size;
    reported_ = false;
    if (XML_Parse(parser_, bytes, static_cast<int>(piece), final ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      if (!stop_.ok()) return stop_;
      shortOfMemory_ = XML_GetErrorCode(parser_) == XML_ERROR_NO_MEMORY;
      return Fault{shortOfMemory_ ? Defect::kOverLimit : Defect::kNotWellFormed, where_, 0};
    }
    unreported_ = (reported_ ? 0 : unreported_) + piece;
    bytes += piece;
    size -= piece;
    if (final) break;
  }
  return kOk;
}

Fault XmlPart::Take(std::span<const std::uint8_t> chunk) {
  return Parse(reinterpret_cast<const char*>(chunk.data()), chunk.size(), false);
}

Fault XmlPart::Finish() { return Parse(nullptr, 0, true); }

void XmlPart::OnStart(void* self, const XML_Char* name, const XML_Char** attributes) {
  auto* part = static_cast<XmlPart*>(self);
  part->reported_ = true;
  if (++part->depth_ > limits::kMaxXmlDepth || !part->handler_->Start(part->depth_, Split(name), attributes)) {
    part->stop_ = Fault{Defect::kOverLimit, part->where_, 0};
    XML_StopParser(part->parser_, XML_FALSE);
  }
}

void XmlPart::OnEnd(void* self, const XML_Char*) {
  auto* part = static_cast<XmlPart*>(self);
  part->reported_ = true;
  part->handler_->End(part->depth_--);
}

void XmlPart::OnText(void* self, const XML_Char* text, int length) {
  auto* part = static_cast<XmlPart*>(self);
  part->reported_ = true;
  part->handler_->Text(part->depth_, std::string_view(text, static_cast<std::size_t>(length)));
}

void XmlPart::OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  auto* part = static_cast<XmlPart*>(self);
  part->stop_ = Fault{Defect::kHasDoctype, part->where_, 0};
  XML_StopParser(part->parser_, XML_FALSE);
}

void XmlPart::OnOther(void* self, const XML_Char*, int) { static_cast<XmlPart*>(self)->reported_ = true; }

}  // namespace readers::ooxml
