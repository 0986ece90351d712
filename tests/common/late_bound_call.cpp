#include "common/late_bound_call.h"

namespace qvtest {

using namespace win;

CallOutcome LateBoundCall(IDispatch* target, std::u16string_view member, WORD flags,
                          std::vector<OwnedVariant> arguments) {
  CallOutcome out;
  std::u16string name(member);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  out.hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out.hr)) return out;
  std::vector<VARIANT> reversed;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(*it->get());
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO info{};
  UINT argError = 0;
  out.hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out.result.Receive(), &info, &argError);
  if (info.bstrDescription) out.description.assign(info.bstrDescription, SysStringLen(info.bstrDescription));
  out.scode = info.scode;
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrHelpFile);
  return out;
}

}  // namespace qvtest
