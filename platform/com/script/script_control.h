// The "MSScriptControl.ScriptControl" automation object over the JavaScript engine of
// script_engine.h: Language, AddCode, Eval and the members around them, bound by name through
// type information.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace win {

// {0E59F1D5-1FBE-11D0-8FF2-00A0D10038BC}
inline constexpr CLSID CLSID_ScriptControl = {
    0x0E59F1D5, 0x1FBE, 0x11D0, {0x8F, 0xF2, 0x00, 0xA0, 0xD1, 0x00, 0x38, 0xBC}};

// Registers the class under its CLSID with the ProgIDs "MSScriptControl.ScriptControl" and
// "MSScriptControl.ScriptControl.1". Called once at start-up; calling again replaces the entry.
HRESULT RegisterScriptControlClass();

}  // namespace win
