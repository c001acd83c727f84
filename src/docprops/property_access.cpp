#include "property_access.h"

#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "readers/byte_source.h"
#include "readers/cfb/compound_file.h"
#include "readers/cfb/set_stream.h"

namespace docprops {
namespace {

using readers::ByteSource;
using readers::Defect;
using readers::Fault;
using readers::cfb::SetStream;
namespace cfb = readers::cfb;

ReleaseObserver g_releaseObserver = nullptr;

// The platform's result code for a reader's fault.
HRESULT ResultOf(const Fault& fault) {
  switch (fault.defect) {
    case Defect::kNone: return S_OK;
    case Defect::kNotFound:
    case Defect::kStreamNotFound:
    case Defect::kNoSection: return STG_E_FILENOTFOUND;
    case Defect::kPermissionDenied:
    case Defect::kNotRegularFile: return STG_E_ACCESSDENIED;
    case Defect::kLocked: return STG_E_LOCKVIOLATION;
    case Defect::kIo: return STG_E_READFAULT;
    case Defect::kNotCompoundFile: return STG_E_FILEALREADYEXISTS;
    default: return STG_E_DOCFILECORRUPT;
  }
}

// Reference counting shared by the three objects.
template <typename Interface>
class RefCounted : public Interface {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG remaining = --refs_;
    if (g_releaseObserver != nullptr) g_releaseObserver(Name(), remaining);
    if (remaining == 0) delete this;
    return remaining;
  }
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (!(riid == IID_IUnknown) && !(riid == OwnIid())) return E_NOINTERFACE;
    AddRef();
    *ppvObject = static_cast<Interface*>(this);
    return S_OK;
  }

 protected:
  virtual ~RefCounted() = default;
  virtual const char* Name() const = 0;
  virtual const IID& OwnIid() const = 0;

 private:
  ULONG refs_ = 1;
};

class PropertyStorage final : public RefCounted<IPropertyStorage> {
 public:
  explicit PropertyStorage(SetStream set) : set_(std::move(set)) {}

  HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) override {
    if (cpspec == 0) return S_FALSE;
    if (rgpspec == nullptr || rgpropvar == nullptr) return E_INVALIDARG;
    // Properties are named by id only: a PROPSPEC by name finds nothing and stays VT_EMPTY.
    std::vector<PROPID> ids;
    std::vector<ULONG> at;
    for (ULONG i = 0; i < cpspec; ++i) {
      PropVariantInit(&rgpropvar[i]);
      if (rgpspec[i].ulKind != PRSPEC_PROPID) continue;
      ids.push_back(rgpspec[i].propid);
      at.push_back(i);
    }
    std::vector<PROPVARIANT> values(ids.size());
    std::vector<Fault> faults(ids.size());
    readers::propset::ReadProperties(set_.section, ids, values, faults);
    bool any = false;
    for (std::size_t k = 0; k < ids.size(); ++k) {
      rgpropvar[at[k]] = values[k];  // the caller's record takes over the value's block
      any |= faults[k].ok();
    }
    return any ? S_OK : S_FALSE;
  }

 protected:
  const char* Name() const override { return "IPropertyStorage"; }
  const IID& OwnIid() const override { return IID_IPropertyStorage; }

 private:
  SetStream set_;
};

class PropertySetStorage;

class Storage final : public RefCounted<IStorage> {
 public:
  // `file` reads from `source`, which the storage keeps open for its lifetime.
  Storage(std::unique_ptr<ByteSource> source, cfb::CompoundFile file)
      : source_(std::move(source)), file_(std::move(file)) {}
  cfb::CompoundFile& File() { return file_; }
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
  void Forget(const PropertySetStorage* sets) {
    if (sets_ == sets) sets_ = nullptr;
  }

 protected:
  const char* Name() const override { return "IStorage"; }
  const IID& OwnIid() const override { return IID_IStorage; }

 private:
  std::unique_ptr<ByteSource> source_;
  cfb::CompoundFile file_;
  PropertySetStorage* sets_ = nullptr;  // the live property-set storage, if any
};

// The storage's property-set storage: another face of the same document, so it holds a
// reference to the storage and answers for it every interface but its own.
class PropertySetStorage final : public RefCounted<IPropertySetStorage> {
 public:
  explicit PropertySetStorage(Storage* storage) : storage_(storage) { storage_->AddRef(); }

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (riid == IID_IPropertySetStorage) return RefCounted::QueryInterface(riid, ppvObject);
    return storage_->QueryInterface(riid, ppvObject);
  }

  HRESULT Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) override {
    if (ppprstg == nullptr) return E_POINTER;
    *ppprstg = nullptr;
    if (grfMode != (STGM_READ | STGM_SHARE_EXCLUSIVE)) return STG_E_INVALIDFLAG;  // read-only
    SetStream set;
    if (const Fault fault = cfb::ReadSetStream(storage_->File(), rfmtid, set); !fault.ok()) return ResultOf(fault);
    *ppprstg = new PropertyStorage(std::move(set));
    return S_OK;
  }

 protected:
  ~PropertySetStorage() override {
    storage_->Forget(this);
    storage_->Release();
  }
  const char* Name() const override { return "IPropertySetStorage"; }
  const IID& OwnIid() const override { return IID_IPropertySetStorage; }

 private:
  Storage* storage_;
};

HRESULT Storage::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject != nullptr && riid == IID_IPropertySetStorage) {
    if (sets_ != nullptr) {
      sets_->AddRef();
    } else {
      sets_ = new PropertySetStorage(this);
    }
    *ppvObject = static_cast<IPropertySetStorage*>(sets_);
    return S_OK;
  }
  return RefCounted<IStorage>::QueryInterface(riid, ppvObject);
}

}  // namespace

HRESULT StgOpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
                       IStorage** ppstgOpen) {
  if (ppstgOpen == nullptr) return E_POINTER;
  *ppstgOpen = nullptr;
  if (pwcsName == nullptr) return E_INVALIDARG;
  if (pstgPriority != nullptr || snbExclude != nullptr || reserved != 0) return E_INVALIDARG;
  if (grfMode != (STGM_READ | STGM_SHARE_DENY_WRITE)) return STG_E_INVALIDFLAG;  // never opened for writing
  std::unique_ptr<ByteSource> source;
  if (const Fault fault = readers::OpenSource(PathFromWide(pwcsName).c_str(), source); !fault.ok())
    return ResultOf(fault);
  cfb::CompoundFile file;
  if (const Fault fault = cfb::OpenCompoundFile(*source, file); !fault.ok()) return ResultOf(fault);
  *ppstgOpen = new Storage(std::move(source), std::move(file));
  return S_OK;
}

void SetReleaseObserver(ReleaseObserver observer) { g_releaseObserver = observer; }

}  // namespace docprops
