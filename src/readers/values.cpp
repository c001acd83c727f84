#include "readers/values.h"

#include <cstring>
#include <new>

namespace readers {
namespace {

// Sits before the bytes a block hands out, at their full alignment.
struct alignas(std::max_align_t) BlockHeader {
  std::size_t holders;
};

BlockHeader* HeaderOf(void* block) { return static_cast<BlockHeader*>(block) - 1; }

void* HeldBlock(const PROPVARIANT& v) {
  if (v.wReserved1 != kHoldsValueBlock) return nullptr;
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

void ClearValue(PROPVARIANT& value) {
  if (void* block = HeldBlock(value); block != nullptr) ReleaseValueBlock(block);
  PropVariantInit(&value);
}

void ClearValues(std::span<PROPVARIANT> values) {
  for (PROPVARIANT& v : values) ClearValue(v);
}

void ShareValue(PROPVARIANT& to, const PROPVARIANT& from) {
  to = from;
  if (void* block = HeldBlock(to); block != nullptr) ShareValueBlock(block);
}

}  // namespace readers
