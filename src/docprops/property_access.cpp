#include "docprops/property_access.h"

#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "docprops/reader/byte_source.h"
#include "docprops/reader/compound_file.h"
#include "docprops/reader/limits.h"
#include "docprops/reader/property_set.h"

namespace docprops {
namespace {

ReleaseObserver g_releaseObserver = nullptr;

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

// The name of the stream that holds a property set.
const char16_t* StreamNameOf(REFFMTID fmtid) {
  if (fmtid == FMTID_SummaryInformation) return u"\u0005SummaryInformation";
  // The user-defined set is the second section of the document summary stream.
  if (fmtid == FMTID_DocSummaryInformation || fmtid == FMTID_UserDefinedProperties) {
    return u"\u0005DocumentSummaryInformation";
  }
  return nullptr;
}

class PropertyStorage final : public RefCounted<IPropertyStorage> {
 public:
  // Takes the stream's bytes; `section` refers into them, and a vector's move keeps them
  // where they are.
  PropertyStorage(std::vector<std::uint8_t> stream, const propset::Section& section)
      : stream_(std::move(stream)), section_(section) {}

  HRESULT ReadMultiple(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) override {
    if (cpspec == 0) return S_FALSE;
    if (rgpspec == nullptr || rgpropvar == nullptr) return E_INVALIDARG;
    bool any = false;
    std::uint64_t budget = section_.bytes.size();
    for (ULONG i = 0; i < cpspec; ++i) {
      PropVariantInit(&rgpropvar[i]);
      if (rgpspec[i].ulKind != PRSPEC_PROPID) continue;  // names are not offered
      any |= propset::ReadProperty(section_, rgpspec[i].propid, rgpropvar[i], budget) == propset::Fault::kNone;
    }
    return any ? S_OK : S_FALSE;
  }

 protected:
  const char* Name() const override { return "IPropertyStorage"; }
  const IID& OwnIid() const override { return IID_IPropertyStorage; }

 private:
  std::vector<std::uint8_t> stream_;
  propset::Section section_;
};

class Storage final : public RefCounted<IStorage> {
 public:
  // `file` reads from `source`, which the storage keeps open for its lifetime.
  Storage(std::unique_ptr<ByteSource> source, cfb::CompoundFile file) : source_(std::move(source)), file_(std::move(file)) {}
  cfb::CompoundFile& File() { return file_; }
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override;

 protected:
  const char* Name() const override { return "IStorage"; }
  const IID& OwnIid() const override { return IID_IStorage; }

 private:
  std::unique_ptr<ByteSource> source_;
  cfb::CompoundFile file_;
};

class PropertySetStorage final : public RefCounted<IPropertySetStorage> {
 public:
  explicit PropertySetStorage(Storage* storage) : storage_(storage) { storage_->AddRef(); }

  HRESULT Open(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) override {
    if (ppprstg == nullptr) return E_POINTER;
    *ppprstg = nullptr;
    if (grfMode != (STGM_READ | STGM_SHARE_EXCLUSIVE)) return STG_E_INVALIDFLAG;  // read-only
    const char16_t* name = StreamNameOf(rfmtid);
    if (name == nullptr) return STG_E_FILENOTFOUND;
    cfb::DirEntry entry;
    std::vector<std::uint8_t> stream;
    if (cfb::FindRootStream(storage_->File(), name, entry) != cfb::Fault::kNone) return STG_E_FILENOTFOUND;
    std::uint64_t present = 0;
    if (cfb::ReadStream(storage_->File(), entry, limits::kMaxPropertyStreamBytes, stream, &present) !=
        cfb::Fault::kNone) {
      return STG_E_DOCFILECORRUPT;
    }
    // Values are decoded only from bytes the file holds. A truncated document whose cut
    // falls inside the property set then lists its values whole or not at all, never
    // names completed with the zeros that stand in for the missing bytes.
    stream.resize(static_cast<std::size_t>(present));
    propset::Section section;
    if (propset::FindSection(stream, rfmtid, section) != propset::Fault::kNone) return STG_E_FILENOTFOUND;
    *ppprstg = new PropertyStorage(std::move(stream), section);
    return S_OK;
  }

 protected:
  ~PropertySetStorage() override { storage_->Release(); }
  const char* Name() const override { return "IPropertySetStorage"; }
  const IID& OwnIid() const override { return IID_IPropertySetStorage; }

 private:
  Storage* storage_;
};

HRESULT Storage::QueryInterface(REFIID riid, void** ppvObject) {
  if (ppvObject != nullptr && riid == IID_IPropertySetStorage) {
    *ppvObject = static_cast<IPropertySetStorage*>(new PropertySetStorage(this));
    return S_OK;
  }
  return RefCounted<IStorage>::QueryInterface(riid, ppvObject);
}

}  // namespace

HRESULT StgOpenStorage(const char* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
                       IStorage** ppstgOpen) {
  if (ppstgOpen == nullptr) return E_POINTER;
  *ppstgOpen = nullptr;
  if (pwcsName == nullptr) return E_INVALIDARG;
  if (pstgPriority != nullptr || snbExclude != nullptr || reserved != 0) return E_INVALIDARG;
  if (grfMode != (STGM_READ | STGM_SHARE_DENY_WRITE)) return STG_E_INVALIDFLAG;  // never opened for writing
  std::unique_ptr<ByteSource> source;
  if (!OpenSource(pwcsName, source).ok()) return STG_E_FILENOTFOUND;
  cfb::CompoundFile file;
  switch (cfb::OpenCompoundFile(*source, file)) {
    case cfb::Fault::kNone:
      *ppstgOpen = new Storage(std::move(source), std::move(file));
      return S_OK;
    case cfb::Fault::kIo:
      return STG_E_READFAULT;
    case cfb::Fault::kNotCompoundFile:
      return STG_E_FILEALREADYEXISTS;
    default:
      return STG_E_DOCFILECORRUPT;
  }
}

void SetReleaseObserver(ReleaseObserver observer) { g_releaseObserver = observer; }

}  // namespace docprops
