#include "readers/fault.h"

#include <system_error>

namespace readers {

const char* DefectText(Defect defect) {
  switch (defect) {
    case Defect::kNone: return "no fault";
    case Defect::kNotFound: return "not found";
    case Defect::kPermissionDenied: return "permission denied";
    case Defect::kNotRegularFile: return "not a regular file";
    case Defect::kLocked: return "locked by a writer";
    case Defect::kIo: return "I/O error";
    case Defect::kNotCompoundFile: return "not a compound file";
    case Defect::kBadSectorSize: return "bad sector size";
    case Defect::kBadSectorId: return "bad sector number";
    case Defect::kOutOfRange: return "entry out of range";
    case Defect::kLoop: return "loops";
    case Defect::kEndsEarly: return "ends early";
    case Defect::kNoRoot: return "no root entry";
    case Defect::kStreamNotFound: return "stream not found";
    case Defect::kStreamTooLarge: return "stream too large";
    case Defect::kNoByteOrderMark: return "no byte-order mark";
    case Defect::kNoSection: return "no such section";
    case Defect::kTableDoesNotFit: return "table does not fit";
    case Defect::kNotPresent: return "not present";
    case Defect::kRunsPastEnd: return "runs past its end";
    case Defect::kCountDoesNotFit: return "count does not fit";
    case Defect::kUnknownType: return "unknown type";
    case Defect::kNestedVector: return "nested vector";
    case Defect::kNotPackage: return "no package relationships";
    case Defect::kNoRelationship: return "no extended-properties relationship";
    case Defect::kMissing: return "missing";
    case Defect::kUnsupportedMethod: return "compression method not read";
    case Defect::kEncrypted: return "encrypted";
    case Defect::kBadData: return "data does not inflate";
    case Defect::kBadChecksum: return "CRC-32 mismatch";
    case Defect::kNotWellFormed: return "not well-formed XML";
    case Defect::kHasDoctype: return "has a DOCTYPE";
    case Defect::kOverLimit: return "over the reader's limit";
  }
  return "unknown fault";
}

const char* StructureText(Structure where) {
  switch (where) {
    case Structure::kNone: return "document";
    case Structure::kFile: return "file";
    case Structure::kHeader: return "header";
    case Structure::kIndexChain: return "index chain";
    case Structure::kTable: return "allocation table";
    case Structure::kDirectoryChain: return "directory chain";
    case Structure::kDirectoryTree: return "directory tree";
    case Structure::kMiniTable: return "mini table";
    case Structure::kMiniStream: return "mini stream";
    case Structure::kStreamChain: return "stream chain";
    case Structure::kPropertySet: return "property set";
    case Structure::kSection: return "section";
    case Structure::kValue: return "value";
    case Structure::kZipEnd: return "zip end record";
    case Structure::kZipDirectory: return "zip directory";
    case Structure::kRelationships: return "package relationships";
    case Structure::kProperties: return "extended properties";
  }
  return "document";
}

std::string Describe(const Fault& fault) {
  if (fault.defect == Defect::kIo) {
    // The call that failed: the open (with its status and lock calls), or a read.
    std::string text = fault.where == Structure::kFile ? "open" : "read";
    if (fault.where != Structure::kFile && fault.where != Structure::kNone) {
      text += std::string(" (") + StructureText(fault.where) + ")";
    }
    text += ": ";
    text += std::generic_category().message(fault.error);
    return text;
  }
  if (fault.where == Structure::kNone || fault.where == Structure::kFile) return DefectText(fault.defect);
  return std::string(StructureText(fault.where)) + ": " + DefectText(fault.defect);
}

}  // namespace readers
