// The class registry and object creation. On Windows, classes are found through the registry
// (HKEY_CLASSES_ROOT\<ProgID>\CLSID, HKEY_CLASSES_ROOT\CLSID\{...}); here the built-in automation
// classes register themselves at start-up with RegisterBuiltinClass, naming their CLSID, their
// ProgIDs and a creation function, and CoCreateInstance finds them by CLSID.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

namespace win {

// Server kinds (CLSCTX).
inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_INPROC_SERVER16 = 0x8;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_INPROC_HANDLER16 = 0x20;
inline constexpr DWORD CLSCTX_NO_CODE_DOWNLOAD = 0x400;
inline constexpr DWORD CLSCTX_NO_CUSTOM_MARSHAL = 0x1000;
inline constexpr DWORD CLSCTX_ENABLE_CODE_DOWNLOAD = 0x2000;
inline constexpr DWORD CLSCTX_NO_FAILURE_LOG = 0x4000;
inline constexpr DWORD CLSCTX_DISABLE_AAA = 0x8000;
inline constexpr DWORD CLSCTX_ENABLE_AAA = 0x10000;
inline constexpr DWORD CLSCTX_FROM_DEFAULT_CONTEXT = 0x20000;
inline constexpr DWORD CLSCTX_ACTIVATE_32_BIT_SERVER = 0x40000;
inline constexpr DWORD CLSCTX_ACTIVATE_64_BIT_SERVER = 0x80000;
inline constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
inline constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                    CLSCTX_REMOTE_SERVER;

// Creates an instance and queries it for riid, as IClassFactory::CreateInstance does (set *object
// to null on failure; CLASS_E_NOAGGREGATION for an outer unknown the class cannot be part of).
using ClassCreateFunction = std::function<HRESULT(IUnknown* outer, REFIID riid, void** object)>;

struct BuiltinClass {
  CLSID clsid = CLSID_NULL;
  // ProgIDs, matched in any letter case; the first is the one ProgIDFromCLSID gives.
  std::vector<std::u16string> progIds;
  // The server kinds the class answers to; built-in classes are in-process servers.
  DWORD context = CLSCTX_INPROC_SERVER;
  ClassCreateFunction create;
};

// Adds a class, or replaces the one registered under the same CLSID. E_INVALIDARG for CLSID_NULL,
// a missing creation function, an empty ProgID, or a ProgID that another class already uses.
HRESULT RegisterBuiltinClass(const BuiltinClass& cls);
// Removes a class; REGDB_E_CLASSNOTREG when none is registered under clsid.
HRESULT RevokeBuiltinClass(REFCLSID clsid);

// CO_E_CLASSSTRING for an unknown ProgID, E_INVALIDARG for null pointers.
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// The class's first ProgID in a buffer from CoTaskMemAlloc. REGDB_E_CLASSNOTREG when the class is
// not registered or has no ProgID.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

// Results: S_OK; E_POINTER for a null object pointer; CO_E_NOTINITIALIZED when the calling thread
// has not initialised COM (CoInitialize / OleInitialize); E_INVALIDARG for unknown CLSCTX bits or
// none of the server kinds; REGDB_E_CLASSNOTREG when no registered class has that CLSID and one of
// the requested server kinds; otherwise what the class's creation function returns.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
// The class's IClassFactory (riid IID_IClassFactory or IID_IUnknown); same checks as above.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** object);

// Puts an object into its running state. Built-in objects run as soon as they exist: S_OK;
// E_INVALIDARG for null.
HRESULT OleRun(IUnknown* object);

}  // namespace win
