#include "readers/cfb/encryption.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "byte_cursor.h"

namespace readers::cfb {
namespace {

enum Name : std::size_t { kEncryptedPackage, kEncryptionInfo, kEncryptedSummary, kSpreadsheetEncryption, kNames };
static_assert(kNames == kEncryptionStreams);
constexpr std::array<std::u16string_view, kNames> kNamesLookedFor = {u"EncryptedPackage", u"EncryptionInfo",
                                                                     u"EncryptedSummary", u"encryption"};

// The scheme EncryptionInfo's version states: major and minor, two bytes each.
Encryption PackageScheme(std::uint16_t major, std::uint16_t minor) {
  if (major == 4 && minor == 4) return Encryption::kPackageAgile;
  if (major >= 2 && major <= 4 && minor == 2) return Encryption::kPackageStandard;
  if ((major == 3 || major == 4) && minor == 3) return Encryption::kPackageExtensible;
  return Encryption::kPackage;
}

}  // namespace

std::span<const std::u16string_view> EncryptionStreamNames() { return kNamesLookedFor; }

Fault FindEncryption(CompoundFile& file, Encryption& out, const AlsoNoted* noted) {
  out = Encryption::kNone;
  std::array<DirEntry, kNames> entries;
  std::array<bool, kNames> found = {};
  if (noted != nullptr && noted->walked) {
    std::copy(noted->entries.begin(), noted->entries.end(), entries.begin());
    std::copy(noted->found.begin(), noted->found.end(), found.begin());
  } else if (const Fault f = FindRootStreams(file, kNamesLookedFor, entries, found); !f.ok()) {
    return f;
  }
  if (found[kEncryptedPackage]) {
    out = Encryption::kPackage;
    StreamBytes version;
    if (!found[kEncryptionInfo]) return kOk;
    const Fault f = ReadStreamStart(file, entries[kEncryptionInfo], 4, version);
    if (f.defect == Defect::kIo) return f;
    if (f.ok() && version.size() == 4) out = PackageScheme(U16At(version, 0), U16At(version, 2));
    return kOk;
  }
  if (found[kEncryptedSummary] || found[kSpreadsheetEncryption]) out = Encryption::kSummaryCryptoApi;
  return kOk;
}

const char* EncryptionScheme(Encryption encryption) {
  switch (encryption) {
    case Encryption::kPackageAgile: return "agile";
    case Encryption::kPackageStandard: return "standard";
    case Encryption::kPackageExtensible: return "extensible";
    case Encryption::kSummaryCryptoApi: return "RC4 CryptoAPI";
    case Encryption::kNone:
    case Encryption::kPackage: return "";
  }
  return "";
}

}  // namespace readers::cfb
