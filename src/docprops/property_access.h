// Access to a document's property sets, shaped after the platform's structured-storage
// property interfaces: reference-counted interfaces obtained through StgOpenStorage and
// QueryInterface, property sets opened by format identifier, properties read with
// ReadMultiple into PROPVARIANT records. Only S_OK is success.
//
// Only what the document scan calls is offered: the read-only open of a compound file,
// the property-set storage of its root, the opening of a set and reads by property id.
#pragma once

#include <string>
#include <string_view>

#include "prop_variant.h"

namespace docprops {

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die through Release only
};

struct IPropertyStorage : IUnknown {
  // Reads cpspec properties. S_OK when at least one was found, S_FALSE when none; every
  // value, found or not, is left freeable (absent ones VT_EMPTY). Properties are named
  // by id (PRSPEC_PROPID) only.
  virtual HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) = 0;

 protected:
  ~IPropertyStorage() = default;
};

struct IPropertySetStorage : IUnknown {
  // Opens the property set with the given format identifier, read-only
  // (STGM_READ | STGM_SHARE_EXCLUSIVE). STG_E_FILENOTFOUND when the document has none,
  // STG_E_READFAULT when reading failed, STG_E_DOCFILECORRUPT when it is damaged or
  // too large.
  virtual HRESULT Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) = 0;

 protected:
  ~IPropertySetStorage() = default;
};

// The storage of an open compound file. Asked for IID_IPropertySetStorage, it gives its
// property-set storage: one object for as long as any reference to it is held.
struct IStorage : IUnknown {
 protected:
  ~IStorage() = default;
};

using OLECHAR = char16_t;
using SNB = OLECHAR**;

// Opens a compound file read-only (grfMode STGM_READ | STGM_SHARE_DENY_WRITE), denying
// writers while it is open. The name is wide; it becomes the system's path of bytes as
// PathFromWide says, so a path taken in through WidePath opens exactly that file.
// STG_E_FILENOTFOUND, STG_E_ACCESSDENIED, STG_E_LOCKVIOLATION, STG_E_READFAULT,
// STG_E_FILEALREADYEXISTS (not a compound file) or STG_E_DOCFILECORRUPT on failure.
HRESULT StgOpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
                       IStorage** ppstgOpen);

// A path's bytes as the wide name StgOpenStorage takes, without loss: well-formed UTF-8
// is decoded, and every byte that is not part of it becomes the unpaired surrogate
// U+DC80..U+DCFF of its value. PathFromWide undoes it exactly, so every byte string
// comes back unchanged.
std::u16string WidePath(std::string_view bytes);
std::string PathFromWide(std::u16string_view units);

// Observes the lifetime of the interfaces, for tests: called on every Release with the
// interface's name and the reference count it leaves. Null turns it off.
using ReleaseObserver = void (*)(const char* interfaceName, ULONG remaining);
void SetReleaseObserver(ReleaseObserver observer);

}  // namespace docprops
