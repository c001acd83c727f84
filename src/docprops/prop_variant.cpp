#include "docprops/prop_variant.h"

#include <cstring>

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
      for (ULONG i = 0; i < pvar->calpstr.cElems; ++i) delete[] pvar->calpstr.pElems[i];
      delete[] pvar->calpstr.pElems;
      break;
    case VT_VECTOR | VT_LPWSTR:
      for (ULONG i = 0; i < pvar->calpwstr.cElems; ++i) delete[] pvar->calpwstr.pElems[i];
      delete[] pvar->calpwstr.pElems;
      break;
    case VT_VECTOR | VT_VARIANT:
      FreePropVariantArray(pvar->capropvar.cElems, pvar->capropvar.pElems);
      delete[] pvar->capropvar.pElems;
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
