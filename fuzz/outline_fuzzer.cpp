// The outline library's one call, from memory: the input is a whole document of either
// container, read into a record by one reader state kept from input to input, as a
// batch worker or the Python module keeps it.
//
// Each run also checks the record's promises: its text is valid UTF-8 and within what
// the input could inflate or decode to, a status with a reason carries one, and nothing
// crosses from one document to the next: the input is read again after the previous
// input, and must give the same record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "outline/record.h"
#include "outline/text.h"
#include "read_again.h"
#include "readers/byte_source.h"
#include "readers/limits.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "outline: %s\n", what);
  std::abort();
}

// Reads `bytes` with `state`, checks the record, and says what it holds.
std::string ReadChecked(outline::ReaderState& state, std::span<const std::uint8_t> bytes) {
  readers::MemorySource source(bytes);
  outline::Record record;
  outline::Read(source, record, state);
  using outline::Status;
  const bool explained = record.status == Status::kDamaged || record.status == Status::kIoError ||
                         record.status == Status::kUnknownFormat;
  if (explained == record.detail.empty() && record.status != Status::kEncrypted) {
    Fail("a detail missing, or where none is due");
  }
  if (record.size || record.mtime) Fail("a size or time where no file was opened");
  if (!outline::IsValidUtf8(record.strings)) Fail("text that is not UTF-8");
  if (record.strings.size() > 3 * readers::limits::kMaxPartBytes) Fail("more text than any input decodes to");
  std::string answer;
  const auto field = [&answer](std::string_view text) { answer.append(text).push_back('\0'); };
  field(outline::StatusWord(record.status));
  field(record.detail);
  field(std::to_string(static_cast<int>(record.container)));
  field(record.codePage ? std::to_string(*record.codePage) : "-");
  field(record.hasHeadings ? "headings" : "-");
  for (const auto& heading : record.headings) {
    field(record.TextOf(heading.text));
    field(std::to_string(heading.count));
  }
  field(record.hasParts ? "parts" : "-");
  for (const auto& part : record.parts) field(record.TextOf(part));
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static outline::ReaderState state;
  if (!SameAfterAnother(state, std::span<const std::uint8_t>(data, size), ReadChecked)) {
    Fail("an input read otherwise after another one");
  }
  return 0;
}
