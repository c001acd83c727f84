#include "zip_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace testdoc {
namespace {

void Put16(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 2; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put32(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Put64(Bytes& b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void Append(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

std::string Deflate(const std::string& data) {
  z_stream z = {};
  deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

struct Written {
  std::uint32_t crc;
  std::uint64_t compressed, size, local;
};

}  // namespace

Bytes BuildZip(const std::vector<ZipItem>& items, const ZipOptions& options) {
  Bytes out;
  std::vector<Written> written;
  for (const ZipItem& item : items) {
    const std::string data =
        (item.compressed ? *item.compressed : item.method == 8 ? Deflate(item.data) : item.data) + item.trailing;
    const auto crc = item.crc.value_or(static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(item.data.data()), static_cast<uInt>(item.data.size()))));
    const std::uint64_t size = item.declaredSize.value_or(item.data.size());
    const Written w{crc, item.directoryOnly ? size : data.size(), size,
                    item.localHeader.value_or(options.start + out.size())};
    written.push_back(w);
    if (item.directoryOnly) continue;
    const bool hidden = item.descriptor || item.zip64;
    Put32(out, 0x04034B50);
    Put16(out, 45);
    Put16(out, item.flags | (item.descriptor ? 8 : 0));
    Put16(out, item.method);
    Put32(out, 0);
    Put32(out, item.descriptor ? 0 : crc);
    Put32(out, item.descriptor ? 0 : item.zip64 ? 0xFFFFFFFF : w.compressed);
    Put32(out, item.descriptor ? 0 : item.zip64 ? 0xFFFFFFFF : w.size);
    Put16(out, item.name.size());
    Put16(out, hidden && item.zip64 ? 20 : 0);
    Append(out, item.name);
    if (hidden && item.zip64) {
      Put16(out, 1);
      Put16(out, 16);
      Put64(out, w.size);
      Put64(out, w.compressed);
    }
    Append(out, data);
    if (item.descriptor) {
      Put32(out, 0x08074B50);
      Put32(out, crc);
      Put32(out, w.compressed);
      Put32(out, w.size);
    }
  }
  const std::uint64_t directory = options.start + out.size();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ZipItem& item = items[i];
    const Written& w = written[i];
    Put32(out, 0x02014B50);
    Put16(out, 45);
    Put16(out, 45);
    Put16(out, item.flags | (item.descriptor ? 8 : 0));
    Put16(out, item.method);
    Put32(out, 0);
    Put32(out, w.crc);
    Put32(out, item.zip64 ? 0xFFFFFFFF : w.compressed);
    Put32(out, item.zip64 ? 0xFFFFFFFF : w.size);
    Put16(out, item.name.size());
    Put16(out, item.zip64 ? 28 : 0);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, 0);
    Put32(out, item.zip64 ? 0xFFFFFFFF : w.local);
    Append(out, item.name);
    if (item.zip64) {
      Put16(out, 1);
      Put16(out, 24);
      Put64(out, w.size);
      Put64(out, w.compressed);
      Put64(out, w.local);
    }
  }
  const std::uint64_t directorySize = options.start + out.size() - directory;
  if (options.zip64End) {
    const std::uint64_t record = options.start + out.size();
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, items.size());
    Put64(out, items.size());
    Put64(out, directorySize);
    Put64(out, directory);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, record);
    Put32(out, 1);
  }
  Put32(out, 0x06054B50);
  Put32(out, 0);
  Put16(out, options.zip64End ? 0xFFFF : items.size());
  Put16(out, options.zip64End ? 0xFFFF : items.size());
  Put32(out, options.zip64End ? 0xFFFFFFFF : directorySize);
  Put32(out, options.zip64End ? 0xFFFFFFFF : directory);
  Put16(out, options.comment.size());
  Append(out, options.comment);
  return out;
}

std::string RelationshipsXml(const std::string& relationships) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
         relationships + "</Relationships>";
}

std::string Relationship(const std::string& target, bool external, const std::string& type) {
  return "<Relationship Id=\"rId" + std::to_string(target.size()) + "\" Type=\"" + type + "\" Target=\"" + target +
         "\"" + (external ? " TargetMode=\"External\"" : "") + "/>";
}

std::string PropertiesXml(const std::string& content) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
         "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
         "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
         "<Application>docoutline test writer</Application>" +
         content + "</Properties>";
}

std::string OutlineXml(const std::vector<Group>& groups, const std::vector<std::string>& parts) {
  std::string xml = "<HeadingPairs><vt:vector size=\"" + std::to_string(2 * groups.size()) + "\" baseType=\"variant\">";
  for (const Group& g : groups) {
    xml += "<vt:variant><vt:lpstr>" + g.heading + "</vt:lpstr></vt:variant><vt:variant><vt:i4>" +
           std::to_string(g.count) + "</vt:i4></vt:variant>";
  }
  xml += "</vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"" + std::to_string(parts.size()) +
         "\" baseType=\"lpstr\">";
  for (const std::string& p : parts) xml += "<vt:lpstr>" + p + "</vt:lpstr>";
  return xml + "</vt:vector></TitlesOfParts>";
}

std::vector<ZipItem> PackageItems(const std::string& properties, const std::string& relationships) {
  return {
      {"[Content_Types].xml",
       "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
      {"_rels/.rels", RelationshipsXml(relationships)},
      {"docProps/app.xml", properties},
  };
}

namespace {

void WriteAt(int fd, const Bytes& bytes, std::uint64_t at) {
  if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("cannot write the package");
  }
}

}  // namespace

void WriteAfterHole(const std::string& path, const std::string& name, std::uint64_t size,
                    const std::vector<ZipItem>& items) {
  ZipItem big(name, "", 0);
  big.directoryOnly = true;
  big.localHeader = 0;
  big.declaredSize = size;
  // The CRC-32 of `size` zero bytes.
  const std::vector<unsigned char> zeros(1u << 20, 0);
  uLong crc = crc32(0, nullptr, 0);
  for (std::uint64_t done = 0; done < size; done += zeros.size()) {
    crc = crc32(crc, zeros.data(), static_cast<uInt>(std::min<std::uint64_t>(zeros.size(), size - done)));
  }
  big.crc = static_cast<std::uint32_t>(crc);
  Bytes local = BuildZip({ZipItem(name, "", 0)});
  local.resize(30 + name.size());  // its local header alone
  PutU32(local, 18, static_cast<std::uint32_t>(size));
  PutU32(local, 22, static_cast<std::uint32_t>(size));
  PutU32(local, 14, big.crc.value());
  std::vector<ZipItem> all = items;
  all.insert(all.begin(), big);
  const std::uint64_t rest = local.size() + size;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  WriteAt(fd, local, 0);
  WriteAt(fd, BuildZip(all, {"", false, rest}), rest);
  ::close(fd);
}

}  // namespace testdoc
