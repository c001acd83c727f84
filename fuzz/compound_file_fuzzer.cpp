// The compound-file reader alone: the input is a whole file. It is opened, the two
// summary streams are looked up among the root's children and read with the cap the
// scan uses.
//
// Each run also checks the reader's promises: a found entry is a stream of the name
// asked for, and a stream read holds no more than its entry's size, the cap or the
// file's own size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "cfb/file_state.h"
#include "readers/byte_source.h"
#include "readers/cfb/compound_file.h"
#include "readers/limits.h"

namespace {

using namespace readers;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "compound_file: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemorySource source(std::span<const std::uint8_t>(data, size));
  cfb::CompoundFile file;
  if (!cfb::OpenCompoundFile(source, file).ok()) return 0;
  for (const std::u16string_view name :
       {std::u16string_view(u"\u0005DocumentSummaryInformation"), std::u16string_view(u"\u0005SummaryInformation")}) {
    cfb::DirEntry entry;
    if (!cfb::FindRootStream(file, name, entry).ok()) continue;
    if (entry.type != static_cast<std::uint8_t>(cfb::EntryType::kStream) ||
        cfb::CompareNames(entry.Name(), name) != 0) {
      Fail("lookup returned another entry");
    }
    std::vector<std::uint8_t> stream;
    if (!cfb::ReadStream(file, entry, limits::kMaxPropertyStreamBytes, stream).ok()) continue;
    if (stream.size() > entry.size) Fail("stream read larger than its entry says");
    if (stream.size() > limits::kMaxPropertyStreamBytes || stream.size() > size) Fail("stream larger than allowed");
  }
  return 0;
}
