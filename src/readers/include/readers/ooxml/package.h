// A reader of Office Open XML packages (.docx, .xlsx, .pptx, .vsdx ...): zip files whose
// extended-properties part records the same outline as a compound file's Document
// Summary Information. It reads the zip's end and central directory, then two parts:
// the package relationships (_rels/.rels), which name the extended-properties part, and
// that part.
//
// Guarantees: what the zip reader and the XML parser promise (ooxml/zip.h and
// ooxml/xml_part.h in the readers' sources): reads stay inside the file, cost follows
// what the answer needs and not the package's size, no part is inflated past
// limits::kMaxPartBytes, and no document type declaration is ever expanded.
#pragma once

#include <memory>

#include "readers/byte_source.h"
#include "readers/fault.h"
#include "readers/values.h"

namespace readers::ooxml {

namespace detail {
struct PackageState;
}

// What reading a package needs (buffers, inflater, XML parser). One may read document
// after document; it keeps its memory.
struct Package {
  Package();
  ~Package();
  Package(Package&&) noexcept;
  Package& operator=(Package&&) noexcept;

  std::unique_ptr<detail::PackageState> state;
};

// Reads the outline of the package `source` holds into two values, as a compound file's
// set gives them, which must hold nothing (VT_EMPTY):
//   `headingPairs`, VT_VECTOR | VT_VARIANT, when the first HeadingPairs holds a vector:
//     each vt:variant of it is one element: a UTF-8 string (VT_LPSTR) for vt:lpstr and
//     vt:lpwstr, an integer of the type named (VT_I1, VT_I2, VT_I4, VT_INT, VT_UI1,
//     VT_UI2, VT_UI4, VT_UINT) for decimal text in its range, VT_EMPTY for anything else;
//   `titlesOfParts`, VT_VECTOR | VT_LPSTR, when the first TitlesOfParts holds a vector:
//     each child of it is one UTF-8 string, empty for any but vt:lpstr and vt:lpwstr.
// Text is the element's character data with every _xHHHH_ read as the UTF-16 unit it
// names (a lone surrogate, or the unit 0, becomes U+FFFD). Free both with ClearValue.
//
// Faults: kNotPackage (a zip without _rels/.rels), kNoRelationship (no relationship to
// an extended-properties part), kMissing at kProperties (the part named is not there),
// kStreamTooLarge, kIo, and the damage met in the zip or the XML. A properties part
// whose root is not Properties in the extended-properties namespace reads without a
// fault, and without values.
Fault ReadPackageOutline(ByteSource& source, Package& package, PROPVARIANT& headingPairs, PROPVARIANT& titlesOfParts);

}  // namespace readers::ooxml
