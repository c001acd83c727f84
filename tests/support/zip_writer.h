// Test-only writer of zip files and Office Open XML packages: tests describe the entries
// and what to get wrong, and get the bytes. Deflates with zlib.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "doc_writer.h"

namespace testdoc {

struct ZipItem {
  ZipItem(std::string itemName, std::string itemData, std::uint16_t itemMethod = 8)
      : name(std::move(itemName)), data(std::move(itemData)), method(itemMethod) {}

  std::string name;
  std::string data;
  std::uint16_t method = 8;                   // 0 stored, 8 deflated; any other is written as stored bytes
  std::uint16_t flags = 0;                    // bit 3 (a data descriptor) is set by `descriptor`
  bool descriptor = false;                    // sizes and CRC after the data, zero in the local header
  bool zip64 = false;                         // sizes and offset only in a ZIP64 extra field
  std::optional<std::uint32_t> crc;           // the CRC-32 written, when not the right one
  std::optional<std::uint64_t> declaredSize;  // the uncompressed size written
  std::optional<std::uint64_t> localHeader;   // the local header offset written
  std::optional<std::string> compressed;      // the data bytes written, as they are
  std::string trailing;                       // bytes after the data, counted in its compressed size
  // Only a directory entry, for data written elsewhere (a benchmark's sparse gigabyte):
  // `localHeader`, `declaredSize` and `crc` say where and what it is, stored.
  bool directoryOnly = false;
};

struct ZipOptions {
  std::string comment;
  bool zip64End = false;    // ZIP64 end record and locator before the end record
  std::uint64_t start = 0;  // where in its file the first byte written will be
};

Bytes BuildZip(const std::vector<ZipItem>& items, const ZipOptions& options = {});

// XML of a package's two parts. Relationships: the ones given, in order, in the
// package-relationships namespace; Properties: the given content in a transitional
// Properties root with the vt prefix bound.
std::string RelationshipsXml(const std::string& relationships);
std::string Relationship(const std::string& target, bool external = false,
                         const std::string& type =
                             "http://schemas.openxmlformats.org/officeDocument/2006/"
                             "relationships/extended-properties");
std::string PropertiesXml(const std::string& content);
// HeadingPairs and TitlesOfParts of an outline, as office writers put them.
std::string OutlineXml(const std::vector<Group>& groups, const std::vector<std::string>& parts);

// A package of [Content_Types].xml, _rels/.rels and docProps/app.xml.
std::vector<ZipItem> PackageItems(const std::string& properties,
                                  const std::string& relationships = Relationship("docProps/app.xml"));

// Writes to `path` a zip whose first entry, `name`, holds `size` zero bytes stored, and
// `items` after it. The zero bytes are a hole in the file: a package of a gigabyte and
// more that takes no disk.
void WriteAfterHole(const std::string& path, const std::string& name, std::uint64_t size,
                    const std::vector<ZipItem>& items);

}  // namespace testdoc
