// IDispatch, the late-bound calling interface of OLE Automation, with DISPPARAMS, EXCEPINFO, the
// dispatch flags and the reserved member ids.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace win {

class ITypeInfo;

// Invoke flags. A caller that does not know whether a name is a method or a property passes
// DISPATCH_METHOD | DISPATCH_PROPERTYGET.
inline constexpr WORD DISPATCH_METHOD = 0x1;
inline constexpr WORD DISPATCH_PROPERTYGET = 0x2;
inline constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
inline constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

inline constexpr DISPID DISPID_VALUE = 0;           // the default member
inline constexpr DISPID DISPID_UNKNOWN = -1;        // what GetIDsOfNames gives an unknown name
inline constexpr DISPID DISPID_PROPERTYPUT = -3;    // the named argument holding the value of a put
inline constexpr DISPID DISPID_NEWENUM = -4;
inline constexpr DISPID DISPID_EVALUATE = -5;
inline constexpr MEMBERID MEMBERID_NIL = DISPID_UNKNOWN;

// Arguments of one call. rgvarg holds the arguments in reverse order: rgvarg[cArgs - 1] is the
// first positional argument. The first cNamedArgs entries of rgvarg are the named arguments, whose
// ids are in rgdispidNamedArgs.
struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

// Filled by a server that returns DISP_E_EXCEPTION. The strings belong to the caller afterwards.
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                         VARIANT* result, EXCEPINFO* exception, UINT* argError) = 0;

 protected:
  ~IDispatch() = default;
};
using LPDISPATCH = IDispatch*;

}  // namespace win
