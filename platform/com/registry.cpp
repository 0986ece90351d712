// The process-wide table of built-in classes, guarded by a mutex so that classes can be created
// from any thread that has initialised COM.
#include "platform/com/registry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/com/initialise.h"
#include "platform/com/internal.h"
#include "platform/com/task_memory.h"

namespace win {
namespace {

using com_internal::EqualsIgnoreCase;

struct Registry {
  std::mutex mutex;
  std::vector<BuiltinClass> classes;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry();  // lives for the whole process
  return *registry;
}

constexpr DWORD kServerKinds = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                               CLSCTX_INPROC_SERVER16 | CLSCTX_REMOTE_SERVER | CLSCTX_INPROC_HANDLER16;
constexpr DWORD kKnownContextBits = kServerKinds | CLSCTX_NO_CODE_DOWNLOAD | CLSCTX_NO_CUSTOM_MARSHAL |
                                    CLSCTX_ENABLE_CODE_DOWNLOAD | CLSCTX_NO_FAILURE_LOG | CLSCTX_DISABLE_AAA |
                                    CLSCTX_ENABLE_AAA | CLSCTX_FROM_DEFAULT_CONTEXT |
                                    CLSCTX_ACTIVATE_32_BIT_SERVER | CLSCTX_ACTIVATE_64_BIT_SERVER;

// Finds the creation function for clsid in one of the requested server kinds.
HRESULT FindClass(REFCLSID clsid, DWORD context, ClassCreateFunction* create) {
  if ((context & ~kKnownContextBits) != 0 || (context & kServerKinds) == 0) return E_INVALIDARG;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const BuiltinClass& c : r.classes) {
    if (!IsEqualGUID(c.clsid, clsid)) continue;
    if ((c.context & context) == 0) return REGDB_E_CLASSNOTREG;
    *create = c.create;
    return S_OK;
  }
  return REGDB_E_CLASSNOTREG;
}

// Runs a creation function; no exception of its own crosses the COM boundary.
HRESULT CallCreate(const ClassCreateFunction& create, IUnknown* outer, REFIID riid, void** object) {
  HRESULT hr;
  try {
    hr = create(outer, riid, object);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) *object = nullptr;
  return hr;
}

// The class object of a built-in class: a factory over its creation function.
class BuiltinClassFactory final : public IClassFactory {
 public:
  explicit BuiltinClassFactory(ClassCreateFunction create) : m_create(std::move(create)) {}
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++m_refs; }
  ULONG Release() override {
    const ULONG n = --m_refs;
    if (n == 0) delete this;
    return n;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    return CallCreate(m_create, outer, riid, object);
  }
  HRESULT LockServer(BOOL) override { return S_OK; }

 private:
  ~BuiltinClassFactory() = default;
  std::atomic<ULONG> m_refs{1};
  ClassCreateFunction m_create;
};

}  // namespace

HRESULT RegisterBuiltinClass(const BuiltinClass& cls) {
  if (IsEqualGUID(cls.clsid, CLSID_NULL) || !cls.create) return E_INVALIDARG;
  for (const std::u16string& p : cls.progIds)
    if (p.empty()) return E_INVALIDARG;
  try {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const BuiltinClass& other : r.classes) {
      if (IsEqualGUID(other.clsid, cls.clsid)) continue;
      for (const std::u16string& mine : cls.progIds)
        for (const std::u16string& theirs : other.progIds)
          if (EqualsIgnoreCase(mine, theirs)) return E_INVALIDARG;
    }
    auto same = std::find_if(r.classes.begin(), r.classes.end(),
                             [&](const BuiltinClass& c) { return IsEqualGUID(c.clsid, cls.clsid); });
    if (same != r.classes.end()) *same = cls;
    else r.classes.push_back(cls);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT RevokeBuiltinClass(REFCLSID clsid) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = std::find_if(r.classes.begin(), r.classes.end(),
                         [&](const BuiltinClass& c) { return IsEqualGUID(c.clsid, clsid); });
  if (it == r.classes.end()) return REGDB_E_CLASSNOTREG;
  r.classes.erase(it);
  return S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  const std::u16string_view wanted(progId);
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const BuiltinClass& c : r.classes) {
    for (const std::u16string& p : c.progIds) {
      if (EqualsIgnoreCase(p, wanted)) {
        *clsid = c.clsid;
        return S_OK;
      }
    }
  }
  return CO_E_CLASSSTRING;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const BuiltinClass& c : r.classes) {
    if (!IsEqualGUID(c.clsid, clsid)) continue;
    if (c.progIds.empty()) return REGDB_E_CLASSNOTREG;
    const std::u16string& p = c.progIds.front();
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((p.size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) return E_OUTOFMEMORY;
    std::memcpy(out, p.data(), p.size() * sizeof(OLECHAR));
    out[p.size()] = 0;
    *progId = out;
    return S_OK;
  }
  return REGDB_E_CLASSNOTREG;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (CoInitializeCount() == 0) return CO_E_NOTINITIALIZED;
  ClassCreateFunction create;
  HRESULT hr;
  try {
    hr = FindClass(clsid, context, &create);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  return CallCreate(create, outer, riid, object);
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (CoInitializeCount() == 0) return CO_E_NOTINITIALIZED;
  ClassCreateFunction create;
  HRESULT hr;
  try {
    hr = FindClass(clsid, context, &create);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (FAILED(hr)) return hr;
  auto* factory = new (std::nothrow) BuiltinClassFactory(std::move(create));
  if (factory == nullptr) return E_OUTOFMEMORY;
  hr = factory->QueryInterface(riid, object);
  factory->Release();
  return hr;
}

HRESULT OleRun(IUnknown* object) { return object == nullptr ? E_INVALIDARG : S_OK; }

}  // namespace win
