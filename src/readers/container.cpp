#include "readers/container.h"

#include <algorithm>
#include <array>
#include <span>

namespace readers {
namespace {

constexpr std::array<std::uint8_t, 8> kCompoundFileSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<std::uint8_t, 4> kZipSignature = {'P', 'K', 3, 4};

template <std::size_t N>
bool Begins(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, N>& signature) {
  return bytes.size() >= N && std::equal(signature.begin(), signature.end(), bytes.begin());
}

}  // namespace

Fault IdentifyContainer(ByteSource& source, Container& container) {
  container = Container::kUnknown;
  std::array<std::uint8_t, kCompoundFileSignature.size()> first = {};
  const std::span<std::uint8_t> held = std::span<std::uint8_t>(first).first(
      static_cast<std::size_t>(std::min<std::uint64_t>(first.size(), source.Size())));
  const int error = source.ReadAt(0, held);
  // A file that shrank below a signature after it was opened is as one cut there: too
  // short to tell.
  if (error == kSourceEnded) return kOk;
  if (error != 0) return Fault{Defect::kIo, Structure::kHeader, error};
  if (Begins<kCompoundFileSignature.size()>(held, kCompoundFileSignature)) container = Container::kCompoundFile;
  if (Begins<kZipSignature.size()>(held, kZipSignature)) container = Container::kZip;
  return kOk;
}

}  // namespace readers
