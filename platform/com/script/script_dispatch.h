// What the script control and the script objects it hands out share: turning engine values into
// VARIANTs and engine errors into automation exceptions.
#pragma once

#include "platform/com/dispatch_object.h"
#include "platform/com/script/script_engine.h"
#include "platform/com/variant.h"

namespace win {

// Stores value into *out (which must be empty): VT_EMPTY, VT_NULL, VT_BOOL, VT_I4, VT_R8, VT_BSTR,
// or VT_DISPATCH for an object, whose default value is its string form. E_OUTOFMEMORY when the
// string or the wrapper cannot be allocated.
HRESULT StoreScriptValue(script::ScriptValue&& value, VARIANT* out);

// Fails the call with DISP_E_EXCEPTION, describing the script error in the caller's EXCEPINFO.
HRESULT RaiseScriptError(Invocation& call, const script::ScriptError& error);

}  // namespace win
