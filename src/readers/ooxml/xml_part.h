// The XML of a package part, parsed as it is inflated: well-formed XML 1.0 in the
// encodings the parser reads by itself (UTF-8, UTF-16, ISO-8859-1, US-ASCII), with
// namespaces resolved, so that names are compared by namespace and never by prefix.
//
// Guarantees: a document type declaration stops the parsing where it starts
// (kHasDoctype), so no entity is ever declared or expanded; nesting deeper than
// limits::kMaxXmlDepth, parser memory beyond limits::kMaxXmlParserBytes, a token longer
// than limits::kMaxXmlTokenBytes and a handler that has had enough stop it too
// (kOverLimit); anything else that is not well-formed is kNotWellFormed. What one
// document leaves in the parser never changes how the next one reads.
#pragma once

#include <expat.h>

#include <cstddef>
#include <span>
#include <string_view>

#include "ooxml/zip.h"
#include "readers/fault.h"

namespace readers::ooxml {

// An element's name: its namespace (empty for none) and its local name.
struct XmlName {
  std::string_view space;
  std::string_view local;
  friend bool operator==(const XmlName&, const XmlName&) = default;
};

// What a part's content means to its reader.
class XmlHandler {
 public:
  // An element starts, `depth` deep (1 for the root). False stops the parsing as over
  // the reader's limit.
  virtual bool Start(std::size_t depth, const XmlName& name, const XML_Char** attributes) = 0;
  virtual void End(std::size_t depth) = 0;
  // Character data directly inside the element `depth` deep: entities decoded, CDATA
  // included, nothing trimmed; one run of text may come in several pieces.
  virtual void Text(std::size_t depth, std::string_view text) = 0;

 protected:
  ~XmlHandler() = default;
};

// The value of the attribute without a namespace named `name`, or null.
const XML_Char* Attribute(const XML_Char** attributes, std::string_view name);

// One parser, kept for the parts of a document.
class XmlPart final : public ChunkSink {
 public:
  XmlPart() = default;
  ~XmlPart();
  XmlPart(const XmlPart&) = delete;
  XmlPart& operator=(const XmlPart&) = delete;

  // A new package begins. The parser is kept, for making one costs a tenth of reading a
  // package, unless it holds more than a small document leaves it (a large one is given
  // back). What it keeps changes no parse, only how near the memory limit it starts: so
  // a package that meets the limit with a kept parser is read again with a new one
  // (WasShortOfMemory, Reused, Discard), and reads as it would as the first.
  void Reset();
  // The last parse ran out of the memory the limit allows.
  bool WasShortOfMemory() const { return shortOfMemory_; }
  // The parser of this package was kept from an earlier one.
  bool Reused() const { return reused_; }
  // Gives the parser back: the next part starts with a new one.
  void Discard();
  // Starts a new part for `handler`; faults name `where`.
  Fault Begin(XmlHandler& handler, Structure where);
  // The next bytes of the document.
  Fault Take(std::span<const std::uint8_t> chunk) override;
  // The document has ended: it must be whole.
  Fault Finish();

 private:
  Fault Parse(const char* bytes, std::size_t size, bool last);
  static void OnStart(void* self, const XML_Char* name, const XML_Char** attributes);
  static void OnEnd(void* self, const XML_Char* name);
  static void OnText(void* self, const XML_Char* text, int length);
  static void OnDoctype(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int);
  static void OnOther(void* self, const XML_Char*, int);

  XML_Parser parser_ = nullptr;
  std::size_t parserBytes_ = 0;  // what parser_ holds; the memory limit counts these
  bool reused_ = false;
  bool shortOfMemory_ = false;
  XmlHandler* handler_ = nullptr;
  Structure where_ = Structure::kNone;
  std::size_t depth_ = 0;
  bool reported_ = false;    // the parser reported something during the last call
  std::size_t unreported_ = 0;  // bytes handed since then: at least the open token's length
  Fault stop_;               // why the parsing was stopped from a handler
};

}  // namespace readers::ooxml
