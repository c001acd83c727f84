#include "prop_variant.h"

#include <span>

namespace docprops {

HRESULT PropVariantClear(PROPVARIANT* pvar) {
  if (pvar != nullptr) readers::ClearValue(*pvar);
  return S_OK;
}

HRESULT PropVariantCopy(PROPVARIANT* pvarDest, const PROPVARIANT* pvarSrc) {
  if (pvarDest == nullptr || pvarSrc == nullptr) return E_POINTER;
  readers::ShareValue(*pvarDest, *pvarSrc);
  return S_OK;
}

HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars) {
  if (rgvars == nullptr) return cVariants == 0 ? S_OK : E_INVALIDARG;
  readers::ClearValues(std::span<PROPVARIANT>(rgvars, cVariants));
  return S_OK;
}

}  // namespace docprops
