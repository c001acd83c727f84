#include "docprops/prop_variant.h"

#include <cstring>
#include <new>

namespace docprops {
namespace {

// Sits before the bytes a block hands out, at their full alignment.
struct alignas(std::max_align_t) BlockHeader {
  std::size_t holders;
};

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void* HeldBlock(const PROPVARIANT& v) {
  switch (v.vt) {
    case VT_LPSTR: return v.pszVal;
    case VT_LPWSTR: return v.pwszVal;
    case VT_VECTOR | VT_LPSTR: return v.calpstr.pElems;
    case VT_VECTOR | VT_LPWSTR: return v.calpwstr.pElems;
    case VT_VECTOR | VT_VARIANT: return v.capropvar.pElems;
    default: return nullptr;
  }
}

}  // namespace

void* NewValueBlock(std::size_t bytes) {
  auto* header = static_cast<BlockHeader*>(::operator new(sizeof(BlockHeader) + bytes));
  header->holders = 1;
  return header + 1;
}

void ShareValueBlock(void* block) { ++HeaderOf(block)->holders; }

void ReleaseValueBlock(void* block) {
  BlockHeader* header = HeaderOf(block);
  if (--header->holders == 0) ::operator delete(header);
}

void PropVariantInit(PROPVARIANT* pvar) { std::memset(static_cast<void*>(pvar), 0, sizeof(PROPVARIANT)); }

HRESULT PropVariantClear(PROPVARIANT* pvar) {
  if (pvar == nullptr) return S_OK;
  if (pvar->wReserved1 == kHoldsValueBlock) {
    if (void* block = HeldBlock(*pvar); block != nullptr) ReleaseValueBlock(block);
  }
  PropVariantInit(pvar);
  return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc) {
  if (pvarDest == nullptr || pvarSrc == nullptr) return E_POINTER;
  *pvarDest = *pvarSrc;
  if (pvarDest->wReserved1 == kHoldsValueBlock) {
    if (void* block = HeldBlock(*pvarDest); block != nullptr) ShareValueBlock(block);
  }
  return S_OK;
}

HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars) {
  if (rgvars == nullptr) return cVariants == 0 ? S_OK : E_INVALIDARG;
  for (ULONG i = 0; i < cVariants; ++i) PropVariantClear(&rgvars[i]);
  return S_OK;
}

}  // namespace docprops
