// The compound-file reader alone: the input is a whole file. It is opened, the two
// summary streams are looked up among the root's children and read with the cap the
// scan uses.
//
// Each run also checks the reader's promises: a found entry is a stream of the name
// asked for, a stream read holds no more than its entry's size, the cap or the file's
// own size; and nothing crosses from one file to the next: one reader state is kept,
// as a batch worker keeps it, and the input read again after the previous input must
// give the same answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cfb/file_state.h"
#include "read_again.h"
#include "readers/byte_source.h"
#include "readers/cfb/compound_file.h"
#include "readers/limits.h"

namespace {

using namespace readers;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "compound_file: %s\n", what);
  std::abort();
}

// Reads the two summary streams of `bytes` with `file`, checks them, and says what was
// read: each lookup's and read's fault, and the stream's bytes.
std::string ReadChecked(cfb::CompoundFile& file, std::span<const std::uint8_t> bytes) {
  MemorySource source(bytes);
  const Fault open = cfb::OpenCompoundFile(source, file);
  std::string answer = Describe(open);
  if (!open.ok()) return answer;
  for (const std::u16string_view name :
       {std::u16string_view(u"\u0005DocumentSummaryInformation"), std::u16string_view(u"\u0005SummaryInformation")}) {
    cfb::DirEntry entry;
    const Fault found = cfb::FindRootStream(file, name, entry);
    answer.append("\0", 1).append(Describe(found));
    if (!found.ok()) continue;
    if (entry.type != static_cast<std::uint8_t>(cfb::EntryType::kStream) ||
        cfb::CompareNames(entry.Name(), name) != 0) {
      Fail("lookup returned another entry");
    }
    cfb::StreamBytes stream;
    const Fault read = cfb::ReadStream(file, entry, limits::kMaxPropertyStreamBytes, stream);
    answer.append("\0", 1).append(Describe(read)).append(stream.begin(), stream.end());
    if (!read.ok()) continue;
    if (stream.size() > entry.size) Fail("stream read larger than its entry says");
    if (stream.size() > limits::kMaxPropertyStreamBytes || stream.size() > bytes.size()) {
      Fail("stream larger than allowed");
    }
  }
  return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static cfb::CompoundFile state;
  if (!SameAfterAnother(state, std::span<const std::uint8_t>(data, size), ReadChecked)) {
    Fail("an input read otherwise after another one");
  }
  return 0;
}
