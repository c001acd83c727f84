#include "read_record.h"

#include <memory>
#include <optional>

#include "readers/byte_source.h"

namespace batch {

void ReadRecord(const char* path, Record& record) {
  outline::ReaderState state;
  ReadRecord(path, record, state);
}

void ReadRecord(const char* path, Record& record, outline::ReaderState& state, bool lookFirst) {
  record.Clear();
  std::unique_ptr<readers::ByteSource> source;
  std::optional<readers::FileStamp> stamp;
  const readers::Fault fault =
      readers::OpenSource(path, source, &stamp, lookFirst ? readers::Look::kFirst : readers::Look::kAfterOpening);
  if (stamp) {
    record.size = stamp->size;
    record.mtime = outline::FileTime{stamp->seconds, stamp->nanoseconds};
  }
  if (!fault.ok()) return outline::RecordFault(fault, record);
  outline::Read(*source, record, state);
}

}  // namespace batch
