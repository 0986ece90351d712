// The type information of a DispatchObject: one object implementing ITypeInfo and ITypeComp over
// its member table, describing it as a dispinterface (TKIND_DISPATCH). Descriptions are handed out
// as copies that the caller returns through ReleaseTypeAttr / ReleaseFuncDesc / ReleaseVarDesc.
#include <atomic>
#include <new>

#include "platform/com/dispatch_type.h"
#include "platform/com/internal.h"

namespace win {
namespace {

class TypeInfoObject final : public ITypeInfo, public ITypeComp {
 public:
  explicit TypeInfoObject(std::shared_ptr<const DispatchType> type) : m_type(std::move(type)) {}

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_ITypeInfo)) {
      *object = static_cast<ITypeInfo*>(this);
    } else if (IsEqualGUID(riid, IID_ITypeComp)) {
      *object = static_cast<ITypeComp*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG n = --m_refs;
    if (n == 0) delete this;
    return n;
  }

  // ITypeInfo
  HRESULT GetTypeAttr(TYPEATTR** attr) override {
    if (attr == nullptr) return E_INVALIDARG;
    auto* a = new (std::nothrow) TYPEATTR{};
    if (a == nullptr) return E_OUTOFMEMORY;
    a->guid = m_type->iid;
    a->lcid = LOCALE_NEUTRAL;
    a->memidConstructor = MEMBERID_NIL;
    a->memidDestructor = MEMBERID_NIL;
    a->cbSizeInstance = sizeof(void*);
    a->typekind = TKIND_DISPATCH;
    a->cFuncs = static_cast<WORD>(m_type->functions.size());
    a->cVars = static_cast<WORD>(m_type->variables.size());
    a->cbSizeVft = 7 * sizeof(void*);  // the IUnknown and IDispatch entries
    a->cbAlignment = alignof(void*);
    a->wTypeFlags = 0x1000;  // TYPEFLAG_FDISPATCHABLE
    a->tdescAlias.vt = VT_EMPTY;
    *attr = a;
    return S_OK;
  }
  HRESULT GetTypeComp(ITypeComp** comp) override {
    if (comp == nullptr) return E_INVALIDARG;
    *comp = static_cast<ITypeComp*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    if (index >= m_type->functions.size()) return TYPE_E_ELEMENTNOTFOUND;
    return CopyFuncDesc(*m_type->functions[index], desc);
  }
  HRESULT GetVarDesc(UINT index, VARDESC** desc) override {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = nullptr;
    if (index >= m_type->variables.size()) return TYPE_E_ELEMENTNOTFOUND;
    return CopyVarDesc(*m_type->variables[index], desc);
  }
  HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override {
    if (names == nullptr || count == nullptr) return E_INVALIDARG;
    *count = 0;
    const DispatchMember* m = m_type->FindById(memid);
    if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<const std::u16string*> all{&m->name};
    if (!m->isVariable)
      for (const ParamSpec& p : m->params) all.push_back(&p.name);
    UINT n = 0;
    for (; n < all.size() && n < maxNames; ++n) {
      names[n] = SysAllocStringLen(all[n]->data(), static_cast<UINT>(all[n]->size()));
      if (names[n] == nullptr) {
        while (n > 0) SysFreeString(names[--n]);
        return E_OUTOFMEMORY;
      }
    }
    *count = n;
    return S_OK;
  }
  HRESULT GetRefTypeOfImplType(UINT, HREFTYPE* ref) override {
    if (ref == nullptr) return E_INVALIDARG;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetImplTypeFlags(UINT, INT* flags) override {
    if (flags == nullptr) return E_INVALIDARG;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    return LookUpIdsOfNames(*m_type, names, count, ids);
  }
  HRESULT Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override {
    // The instance of a dispinterface is its IDispatch.
    if (instance == nullptr) return E_INVALIDARG;
    return static_cast<IDispatch*>(instance)->Invoke(memid, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result,
                                                     exception, argError);
  }
  HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* docString, DWORD* helpContext,
                           BSTR* helpFile) override {
    const std::u16string* text = &m_type->name;
    if (memid != MEMBERID_NIL) {
      const DispatchMember* m = m_type->FindById(memid);
      if (m == nullptr) return TYPE_E_ELEMENTNOTFOUND;
      text = &m->name;
    }
    if (docString != nullptr) *docString = nullptr;
    if (helpContext != nullptr) *helpContext = 0;
    if (helpFile != nullptr) *helpFile = nullptr;
    if (name != nullptr) {
      *name = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
      if (*name == nullptr) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_BADMODULEKIND; }
  HRESULT GetRefTypeInfo(HREFTYPE, ITypeInfo** info) override {
    if (info == nullptr) return E_INVALIDARG;
    *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT AddressOfMember(MEMBERID, INVOKEKIND, PVOID* address) override {
    if (address != nullptr) *address = nullptr;
    return TYPE_E_BADMODULEKIND;
  }
  HRESULT CreateInstance(IUnknown*, REFIID, PVOID* object) override {
    if (object != nullptr) *object = nullptr;
    return TYPE_E_BADMODULEKIND;  // only a coclass can create instances
  }
  HRESULT GetMops(MEMBERID, BSTR* mops) override {
    if (mops == nullptr) return E_INVALIDARG;
    *mops = nullptr;
    return S_OK;
  }
  HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override {
    if (lib != nullptr) *lib = nullptr;
    if (index != nullptr) *index = 0;
    return E_NOTIMPL;  // built-in types do not come from a type library
  }
  void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
  void ReleaseFuncDesc(FUNCDESC* desc) override { delete desc; }
  void ReleaseVarDesc(VARDESC* desc) override { delete desc; }

  // ITypeComp
  HRESULT Bind(LPOLESTR name, ULONG, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bound) override {
    if (name == nullptr || info == nullptr || kind == nullptr || bound == nullptr) return E_INVALIDARG;
    *info = nullptr;
    *kind = DESCKIND_NONE;
    bound->lpfuncdesc = nullptr;
    bool nameFound = false;
    const DispatchMember* m = m_type->Bind(name, flags, &nameFound);
    if (m == nullptr) return nameFound ? TYPE_E_TYPEMISMATCH : S_OK;
    HRESULT hr;
    if (m->isVariable) {
      hr = CopyVarDesc(*m, &bound->lpvardesc);
      if (SUCCEEDED(hr)) *kind = DESCKIND_VARDESC;
    } else {
      hr = CopyFuncDesc(*m, &bound->lpfuncdesc);
      if (SUCCEEDED(hr)) *kind = DESCKIND_FUNCDESC;
    }
    if (FAILED(hr)) return hr;
    *info = static_cast<ITypeInfo*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT BindType(LPOLESTR name, ULONG, ITypeInfo** info, ITypeComp** comp) override {
    if (name == nullptr || info == nullptr || comp == nullptr) return E_INVALIDARG;
    *info = nullptr;  // a dispinterface has no nested types
    *comp = nullptr;
    return S_OK;
  }

 private:
  ~TypeInfoObject() = default;

  static HRESULT CopyFuncDesc(const DispatchMember& m, FUNCDESC** desc) {
    *desc = new (std::nothrow) FUNCDESC(m.funcDesc);
    return *desc != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  static HRESULT CopyVarDesc(const DispatchMember& m, VARDESC** desc) {
    *desc = new (std::nothrow) VARDESC(m.varDesc);
    return *desc != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  std::atomic<ULONG> m_refs{1};
  // Keeps the table, and so every description handed out, alive while the type information is.
  std::shared_ptr<const DispatchType> m_type;
};

}  // namespace

HRESULT CreateDispatchTypeInfo(std::shared_ptr<const DispatchType> type, ITypeInfo** info) {
  if (info == nullptr) return E_INVALIDARG;
  *info = nullptr;
  if (!type) return E_NOTIMPL;
  auto* object = new (std::nothrow) TypeInfoObject(std::move(type));
  if (object == nullptr) return E_OUTOFMEMORY;
  *info = object;
  return S_OK;
}

}  // namespace win
