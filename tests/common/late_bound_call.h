// Test helper: calls a member of an automation object by name, as a script host does (GetIDsOfNames,
// then Invoke with the arguments reversed and, for a put, the named argument DISPID_PROPERTYPUT).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/com.h"

namespace qvtest {

struct CallOutcome {
  win::HRESULT hr = static_cast<win::HRESULT>(0xDEADBEEF);  // a sentinel no call returns
  win::OwnedVariant result;
  std::u16string description;  // from EXCEPINFO when the call failed with an exception
  win::SCODE scode = 0;
};

// Arguments in call order.
CallOutcome LateBoundCall(win::IDispatch* target, std::u16string_view member, win::WORD flags,
                          std::vector<win::OwnedVariant> arguments = {});

}  // namespace qvtest
