#include "document_scan.h"

#include "heading_groups.h"
#include "property_access.h"

namespace docprops {
namespace {

constexpr ULONG kRequested = 6;
constexpr ULONG kHeadingPairsAt = 3;
constexpr ULONG kDocPartsAt = 4;

}  // namespace

void ScanDocument(const char16_t* path) {
  IStorage* storage = nullptr;
  if (StgOpenStorage(path, nullptr, STGM_READ | STGM_SHARE_DENY_WRITE, nullptr, 0, &storage) != S_OK) return;

  IPropertySetStorage* setStorage = nullptr;
  if (storage->QueryInterface(IID_IPropertySetStorage, reinterpret_cast<void**>(&setStorage)) != S_OK) {
    storage->Release();
    return;
  }

  IPropertyStorage* summary = nullptr;
  if (setStorage->Open(FMTID_DocSummaryInformation, STGM_READ | STGM_SHARE_EXCLUSIVE, &summary) == S_OK) {
    PROPSPEC request[kRequested];
    const PROPID ids[kRequested] = {PIDDSI_MANAGER,     PIDDSI_COMPANY,  PIDDSI_CATEGORY,
                                    PIDDSI_HEADINGPAIR, PIDDSI_DOCPARTS, PID_CODEPAGE};
    PROPVARIANT values[kRequested];
    for (ULONG i = 0; i < kRequested; ++i) {
      request[i].ulKind = PRSPEC_PROPID;
      request[i].propid = ids[i];
      PropVariantInit(&values[i]);  // freeable whatever the read returns
    }
    const HRESULT read = summary->ReadMultiple(kRequested, request, values);
    if (read == S_OK && values[kHeadingPairsAt].vt == (VT_VECTOR | VT_VARIANT) &&
        values[kDocPartsAt].vt == (VT_VECTOR | VT_LPSTR)) {
      ListHeadingGroups(values[kHeadingPairsAt], values[kDocPartsAt]);
    }
    FreePropVariantArray(kRequested, values);
    summary->Release();
  }

  setStorage->Release();
  storage->Release();
}

}  // namespace docprops
