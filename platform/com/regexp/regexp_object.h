// The VBScript.RegExp automation object and the objects it hands out, over RegExpEngine:
//
//   RegExp           Pattern (BSTR), IgnoreCase, Global, Multiline (VARIANT_BOOL) properties;
//                    Execute(BSTR) -> MatchCollection, Test(BSTR) -> VARIANT_BOOL,
//                    Replace(BSTR, VARIANT) -> BSTR
//   MatchCollection  Count (long), Item(long) -> Match (the default member)
//   Match            Value (BSTR, the default member), FirstIndex, Length (long), SubMatches
//   SubMatches       Count (long), Item(long) -> VARIANT (the default member): the group's text
//                    as a BSTR, or VT_EMPTY for a group that took no part in the match
//
// Each object describes its members through type information, so callers bind them by name. A
// faulty pattern is accepted when Pattern is written and makes Execute, Test and Replace fail with
// DISP_E_EXCEPTION, the EXCEPINFO holding VBScript's error for that fault (for instance
// 0x800A1399, "Syntax error in regular expression"). A collection keeps its matches when the
// RegExp object changes or goes away.
#pragma once

#include "platform/com/guid.h"
#include "platform/com/hresult.h"

namespace win {

// The class id of VBScript.RegExp on Windows.
inline constexpr CLSID CLSID_VBScriptRegExp = {
    0x3F4DACA4, 0x160D, 0x11D2, {0xA8, 0xE9, 0x00, 0x10, 0x4B, 0x36, 0x5C, 0x9F}};

// Adds the class to the built-in class registry under CLSID_VBScriptRegExp and the ProgID
// "VBScript.RegExp", so that CoCreateInstance and CLSIDFromProgID find it. Registering again
// replaces the earlier entry.
HRESULT RegisterRegExpClass();

}  // namespace win
