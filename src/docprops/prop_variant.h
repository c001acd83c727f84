// The property-value records and identifiers of the property-set interface, shaped as
// callers of that interface expect them: the same names, type codes and values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace docprops {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;

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

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using FMTID = GUID;
using REFIID = const IID&;
using REFFMTID = const FMTID&;

// clang-format off
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IStorage = {0x0000000B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPropertySetStorage = {0x0000013A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IPropertyStorage = {0x00000138, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr FMTID FMTID_SummaryInformation = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
inline constexpr FMTID FMTID_DocSummaryInformation = {0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
inline constexpr FMTID FMTID_UserDefinedProperties = {0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
// clang-format on

// Access modes.
inline constexpr DWORD STGM_READ = 0x0;
inline constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x10;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;

// Type codes.
// clang-format off
enum : VARTYPE {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_CY = 6, VT_DATE = 7, VT_BSTR = 8,
  VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19,
  VT_I8 = 20, VT_UI8 = 21, VT_INT = 22, VT_UINT = 23, VT_LPSTR = 30, VT_LPWSTR = 31, VT_FILETIME = 64, VT_BLOB = 65,
  VT_BLOB_OBJECT = 70, VT_CF = 71, VT_CLSID = 72, VT_VECTOR = 0x1000,
};
// clang-format on

// Property ids.
inline constexpr PROPID PID_CODEPAGE = 1;
inline constexpr PROPID PIDDSI_CATEGORY = 2;
inline constexpr PROPID PIDDSI_HEADINGPAIR = 12;
inline constexpr PROPID PIDDSI_DOCPARTS = 13;
inline constexpr PROPID PIDDSI_MANAGER = 14;
inline constexpr PROPID PIDDSI_COMPANY = 15;

inline constexpr ULONG PRSPEC_LPWSTR = 0;
inline constexpr ULONG PRSPEC_PROPID = 1;

struct PROPSPEC {
  ULONG ulKind;
  union {
    PROPID propid;
    const char16_t* lpwstr;
  };
};

struct PROPVARIANT;
struct CALPSTR {
  ULONG cElems;
  char** pElems;
};
struct CALPWSTR {
  ULONG cElems;
  char16_t** pElems;
};
struct CAPROPVARIANT {
  ULONG cElems;
  PROPVARIANT* pElems;
};

// A property value. A value read from a document keeps its strings, or its vector with
// the elements' strings, in one block of memory that belongs to the value until
// FreePropVariantArray (or PropVariantClear) frees it; values read together from one
// stored value share the block, which goes with the last of them. The elements of a
// vector belong to the vector: clearing one frees nothing. Narrow strings (pszVal) are
// NUL-terminated bytes: as stored, or UTF-8 where the section stores narrow strings
// as UTF-16. Each type keeps its value in its own member (lVal for VT_I4, ulVal for
// VT_UI4, ...); values of types this system never consults (VT_BSTR, VT_BLOB,
// VT_BLOB_OBJECT, VT_CF, VT_CLSID, VT_DECIMAL) keep their type code and carry no data.
struct PROPVARIANT {
  VARTYPE vt;
  std::uint16_t wReserved1, wReserved2, wReserved3;
  union {
    char cVal;
    std::uint8_t bVal;
    std::int16_t iVal;
    std::uint16_t uiVal;
    std::int16_t boolVal;
    std::int32_t lVal;
    std::uint32_t ulVal;
    std::int32_t intVal;
    std::uint32_t uintVal;
    std::int32_t scode;
    float fltVal;
    std::int64_t hVal;
    std::uint64_t uhVal;
    double dblVal;
    char* pszVal;
    char16_t* pwszVal;
    CALPSTR calpstr;
    CALPWSTR calpwstr;
    CAPROPVARIANT capropvar;
  };
};

// wReserved1 of a value that holds a block (a vector, or a string outside a vector).
inline constexpr std::uint16_t kHoldsValueBlock = 1;

// The one allocation behind a value's strings and vector. A new block has one holder;
// each ShareValueBlock adds one, each ReleaseValueBlock drops one and the last frees it.
// Exhausted memory goes to the new-handler, as every allocation does.
void* NewValueBlock(std::size_t bytes);
void ShareValueBlock(void* block);
void ReleaseValueBlock(void* block);

// Frees what a read placed inside each value and leaves it VT_EMPTY.
HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars);
HRESULT PropVariantClear(PROPVARIANT* pvar);
// Copies a value into `pvarDest`, which must hold nothing. Values never change once
// read, so the copy shares the source's block instead of duplicating it.
HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc);
void PropVariantInit(PROPVARIANT* pvar);

}  // namespace docprops
