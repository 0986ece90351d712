// COM and OLE initialisation, counted per thread as on Windows: the first CoInitialize of a thread
// returns S_OK, each further one S_FALSE, and every successful call is balanced by CoUninitialize.
#pragma once

#include "platform/com/hresult.h"

namespace win {

HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT OleInitialize(void* reserved);
void OleUninitialize();

// The calling thread's initialisation counts (for tests and for objects that require COM).
int CoInitializeCount();
int OleInitializeCount();

}  // namespace win
