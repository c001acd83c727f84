#include "docprops/prop_variant.h"

#include <cstring>
#include <new>

namespace docprops {

void PropVariantInit(PROPVARIANT* pvar) { std::memset(static_cast<void*>(pvar), 0, sizeof(PROPVARIANT)); }

HRESULT PropVariantClear(PROPVARIANT* pvar) {
  if (pvar == nullptr) return S_OK;
  switch (pvar->vt) {
    case VT_LPSTR:
      delete[] pvar->pszVal;
      break;
    case VT_LPWSTR:
      delete[] pvar->pwszVal;
      break;
    case VT_VECTOR | VT_LPSTR:
    case VT_VECTOR | VT_LPWSTR:
    case VT_VECTOR | VT_VARIANT:
      // A vector's elements and their strings live in the one block its array starts.
      ::operator delete(pvar->vt == (VT_VECTOR | VT_LPSTR)    ? static_cast<void*>(pvar->calpstr.pElems)
                        : pvar->vt == (VT_VECTOR | VT_LPWSTR) ? static_cast<void*>(pvar->calpwstr.pElems)
                                                              : static_cast<void*>(pvar->capropvar.pElems));
      break;
    default:
      break;  // scalars and data-less values own nothing
  }
  PropVariantInit(pvar);
  return S_OK;
}

HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars) {
  if (rgvars == nullptr) return cVariants == 0 ? S_OK : E_INVALIDARG;
  for (ULONG i = 0; i < cVariants; ++i) PropVariantClear(&rgvars[i]);
  return S_OK;
}

}  // namespace docprops
