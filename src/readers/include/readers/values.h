// The value records the readers fill: PROPVARIANT with its type codes, the property ids
// and the format identifiers of the sets, under the names and with the values that
// property-set callers know them by.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace readers {

using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  friend bool operator==(const GUID&, const GUID&) = default;
};
using FMTID = GUID;

// clang-format off
inline constexpr FMTID FMTID_SummaryInformation = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
inline constexpr FMTID FMTID_DocSummaryInformation = {0xD5CDD502, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};
inline constexpr FMTID FMTID_UserDefinedProperties = {0xD5CDD505, 0x2E9C, 0x101B, {0x93, 0x97, 0x08, 0x00, 0x2B, 0x2C, 0xF9, 0xAE}};

// Type codes.
enum VARENUM : VARTYPE {
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

struct PROPVARIANT;
struct CALPSTR {
  std::uint32_t cElems;
  char** pElems;
};
struct CALPWSTR {
  std::uint32_t cElems;
  char16_t** pElems;
};
struct CAPROPVARIANT {
  std::uint32_t cElems;
  PROPVARIANT* pElems;
};

// A property value. A value read from a document keeps its strings, or its vector with
// the elements' strings, in one block of memory that belongs to the value until
// ClearValue frees it; values read together from one stored value share the block, which
// goes with the last of them. The elements of a vector belong to the vector: clearing
// one frees nothing. Narrow strings (pszVal) are NUL-terminated bytes: as stored, or
// UTF-8 where the section stores narrow strings as UTF-16. Each type keeps its value in
// its own member (lVal for VT_I4, ulVal for VT_UI4, ...); values of types no reader
// consults (VT_BSTR, VT_BLOB, VT_BLOB_OBJECT, VT_CF, VT_CLSID, VT_DECIMAL) keep their
// type code and carry no data.
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

// An empty value (VT_EMPTY), every byte zero.
void PropVariantInit(PROPVARIANT* pvar);
// Frees what a read placed inside the value and leaves it VT_EMPTY.
void ClearValue(PROPVARIANT& value);
void ClearValues(std::span<PROPVARIANT> values);
// Makes `to`, which must hold nothing, a second holder of `from`: values never change
// once read, so the two share one block instead of a copy.
void ShareValue(PROPVARIANT& to, const PROPVARIANT& from);

}  // namespace readers
