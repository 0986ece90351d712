// IUnknown and IClassFactory as C++ abstract classes. Only pure virtual functions, declared in COM
// vtable order, and no virtual destructor: a pointer to one of these is a pointer to an object
// whose first word points at the interface's function table, as on Windows. Objects are freed by
// their own Release, never through an interface pointer.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/ole_types.h"

namespace win {

class IUnknown {
 public:
  // *object receives the interface with a reference added, or null with E_NOINTERFACE.
  // E_POINTER when object is null.
  virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

}  // namespace win
