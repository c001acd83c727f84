#include "docprops/heading_pairs.h"

namespace docprops {

std::int32_t GroupCount(const PROPVARIANT& v) {
  switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_UI4: return static_cast<std::int32_t>(v.ulVal);
    case VT_UINT: return static_cast<std::int32_t>(v.uintVal);
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I1: return static_cast<std::int8_t>(v.cVal);
    case VT_UI1: return v.bVal;
    default: return 0;
  }
}

}  // namespace docprops
