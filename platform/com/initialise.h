// COM and OLE initialisation, counted per thread as on Windows: the first CoInitialize of a thread
// returns S_OK, each further one S_FALSE, and every successful call is balanced by CoUninitialize.
#pragma once

#include "platform/windows_types.h"

namespace win {

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);

HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT OleInitialize(void* reserved);
void OleUninitialize();

// The calling thread's initialisation counts (for tests and for objects that require COM).
int CoInitializeCount();
int OleInitializeCount();

}  // namespace win
