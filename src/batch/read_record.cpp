#include "read_record.h"

#include <memory>
#include <optional>

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

}  // namespace batch
