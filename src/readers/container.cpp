#include "readers/container.h"

#include <algorithm>
#include <array>
#include <span>

#include "cfb/file_state.h"

namespace readers {
namespace {

constexpr std::array<std::uint8_t, 4> kZipSignature = {'P', 'K', 3, 4};

template <std::size_t N>
bool Begins(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& signature) {
  return bytes.size() >= N && std::equal(signature.begin(), signature.end(), bytes.begin());
}

}  // namespace

Fault IdentifyContainer(ByteSource& source, Container& container) {
  container = Container::kUnknown;
  std::array<std::uint8_t, cfb::kSignature.size()> first = {};
  const std::span<std::uint8_t> held = std::span<std::uint8_t>(first).first(
      static_cast<std::size_t>(std::min<std::uint64_t>(first.size(), source.Size())));
  const int error = source.ReadAt(0, held);
  // A file that shrank below a signature after it was opened is as one cut there: too
  // short to tell.
  if (error == kSourceEnded) return kOk;
  if (error != 0) return Fault{Defect::kIo, Structure::kHeader, error};
  if (Begins<cfb::kSignature.size()>(held, cfb::kSignature)) container = Container::kCompoundFile;
  if (Begins<kZipSignature.size()>(held, kZipSignature)) container = Container::kZip;
  return kOk;
}

}  // namespace readers
