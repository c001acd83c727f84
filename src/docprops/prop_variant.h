// The property-set interface's vocabulary, as its callers know it: result codes, access
// modes, interface ids, the records that name properties (PROPSPEC), and the calls that
// free and copy values. The value records themselves (PROPVARIANT, the VT_* codes, the
// property and format identifiers) are the readers' own, handed out unchanged.
#pragma once

#include <cstdint>

#include "readers/values.h"

namespace docprops {

using readers::CALPSTR;
using readers::CALPWSTR;
using readers::CAPROPVARIANT;
using readers::FMTID;
using readers::GUID;
using readers::PROPID;
using readers::PROPVARIANT;
using readers::PropVariantInit;
using readers::VARTYPE;
using enum readers::VARENUM;
using readers::FMTID_DocSummaryInformation;
using readers::FMTID_SummaryInformation;
using readers::FMTID_UserDefinedProperties;
using readers::PID_CODEPAGE;
using readers::PIDDSI_CATEGORY;
using readers::PIDDSI_COMPANY;
using readers::PIDDSI_DOCPARTS;
using readers::PIDDSI_HEADINGPAIR;
using readers::PIDDSI_MANAGER;

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002u);
inline constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005u);
inline constexpr HRESULT STG_E_INVALIDFLAG = static_cast<HRESULT>(0x800300FFu);
inline constexpr HRESULT STG_E_LOCKVIOLATION = static_cast<HRESULT>(0x80030021u);
inline constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001Eu);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = static_cast<HRESULT>(0x80030050u);  // not a compound file
inline constexpr HRESULT STG_E_DOCFILECORRUPT = static_cast<HRESULT>(0x80030109u);

using IID = GUID;
using REFIID = const IID&;
using REFFMTID = const FMTID&;

// clang-format off
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPropertySetStorage = {0x0000013A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPropertyStorage = {0x00000138, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// clang-format on

// Access modes.
inline constexpr DWORD STGM_READ = 0x0;
inline constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;

inline constexpr ULONG PRSPEC_LPWSTR = 0;
inline constexpr ULONG PRSPEC_PROPID = 1;

struct PROPSPEC {
  ULONG ulKind;
  union {
    PROPID propid;
    const char16_t* lpwstr;
  };
};

// Frees what a read placed inside each value and leaves it VT_EMPTY.
HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars);
HRESULT PropVariantClear(PROPVARIANT* pvar);
// Copies a value into `pvarDest`, which must hold nothing. Values never change once
// read, so the copy shares the source's block instead of duplicating it.
HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc);

}  // namespace docprops
