#include "read_record.h"

#include <memory>
#include <optional>

#include "json.h"
#include "readers/byte_source.h"

namespace batch {

void ReadRecord(const char* path, Record& record) {
  outline::ReaderState state;
  ReadRecord(path, record, state);
}

namespace {

// The record of the document the open, made by `open`, gives.
template <typename Open>
void Read(Record& record, outline::ReaderState& state, Open&& open) {
  record.Clear();
  std::unique_ptr<readers::ByteSource> source;
  std::optional<readers::FileStamp> stamp;
  const readers::Fault fault = open(source, stamp);
  if (stamp) {
    record.size = stamp->size;
    record.mtime = outline::FileTime{stamp->seconds, stamp->nanoseconds};
  }
  if (!fault.ok()) return outline::RecordFault(fault, record);
  outline::Read(*source, record, state);
}

}  // namespace

void ReadRecord(const char* path, Record& record, outline::ReaderState& state, bool lookFirst) {
  Read(record, state, [&](auto& source, auto& stamp) {
    return readers::OpenSource(path, source, &stamp,
                               lookFirst ? readers::Look::kFirst : readers::Look::kAfterOpening);
  });
}

void ReadRecordAt(int folder, const char* name, Record& record, outline::ReaderState& state) {
  Read(record, state, [&](auto& source, auto& stamp) {
    return readers::OpenSourceAt(folder, name, source, &stamp, readers::Look::kAfterOpening);
  });
}

void KeepSmall(Record& record) {
  constexpr std::size_t kKeptParts = 256;
  constexpr std::size_t kKeptBytes = 4u << 10;
  if (record.parts.capacity() > kKeptParts || record.headings.capacity() > kKeptParts ||
      record.strings.capacity() > kKeptBytes) {
    record = Record();
  }
}

const Record& RecordMaker::Make(const Item& item, std::string& line) {
  KeepSmall(record_);
  if (item.known) {
    record_.Clear();
    record_.status = item.status;
    record_.detail = item.detail;
  } else if (item.folder) {
    ReadRecordAt(item.folder->fd(), item.name.c_str(), record_, state_);
  } else {
    ReadRecord(item.path.c_str(), record_, state_, item.check);
  }
  FormatRecord(line, item.path, record_);
  return record_;
}

}  // namespace batch
