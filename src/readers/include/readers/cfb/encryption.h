// What a compound file shows of encryption in its directory: the streams that only an
// encrypted document holds. Nothing is decrypted, and only an encrypted package's
// EncryptionInfo is read (its first four bytes, which state the scheme).
#pragma once

#include <cstdint>

#include "readers/cfb/compound_file.h"
#include "readers/fault.h"

namespace readers::cfb {

enum class Encryption : std::uint8_t {
  kNone,
  // An encrypted package: an Office Open XML package kept, encrypted, in the
  // EncryptedPackage stream, its scheme in EncryptionInfo.
  kPackage,            // the scheme is not stated, or in a version not known here
  kPackageAgile,       // EncryptionInfo version 4.4
  kPackageStandard,    // 2.2, 3.2 or 4.2
  kPackageExtensible,  // 3.3 or 4.3
  // A legacy document whose summary is held in an encrypted stream (EncryptedSummary in
  // a presentation, `encryption` in a spreadsheet): what RC4 CryptoAPI encryption does.
  kSummaryCryptoApi,
};

// The streams that what encryption leaves lives in, for a lookup to note on its way
// (AlsoNoted): kEncryptionStreams names.
inline constexpr std::size_t kEncryptionStreams = 4;
std::span<const std::u16string_view> EncryptionStreamNames();

// Looks among the root storage's children for what encryption leaves: EncryptedPackage
// (and EncryptionInfo), else EncryptedSummary or `encryption`. Names compare without
// regard to case, as writers vary it. When `noted` walked the children for these names
// already (the tree was out of order, or lacked the stream looked for), its findings
// stand and no entry is read again; otherwise each name is looked for by descent.
// Damage on the way counts as absence; only a failed read is a fault.
Fault FindEncryption(CompoundFile& file, Encryption& out, const AlsoNoted* noted = nullptr);

// The scheme as a person names it ("agile", "standard", "extensible", "RC4 CryptoAPI"),
// or "" when the file states none.
const char* EncryptionScheme(Encryption encryption);

}  // namespace readers::cfb
