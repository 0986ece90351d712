// The member table behind DispatchObject and its type information (not for use outside the COM
// stand-in: automation objects build tables through TypeBuilder).
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/dispatch_object.h"
#include "platform/com/typeinfo.h"

namespace win {

struct DispatchMember {
  DispatchMember() = default;
  DispatchMember(const DispatchMember&) = delete;
  DispatchMember& operator=(const DispatchMember&) = delete;
  ~DispatchMember();

  std::u16string name;
  DISPID id = 0;
  bool isVariable = false;
  INVOKEKIND kind = INVOKE_FUNC;  // for a variable: INVOKE_PROPERTYGET
  VARTYPE type = VT_VOID;         // the result of a function, the value of a variable
  // Declared parameters (for a variable: the one value parameter of a put), without the SAFEARRAY
  // parameter that stands for a variable argument list.
  std::vector<ParamSpec> params;
  bool varargs = false;
  MemberHandler handler;

  // The type-information form. The descriptions point into the storage below, which never moves
  // once the member is built.
  FUNCDESC funcDesc{};
  VARDESC varDesc{};
  std::vector<ELEMDESC> elemDescs;
  std::deque<TYPEDESC> typeNodes;
  std::deque<PARAMDESCEX> defaults;

  // The default value of declared parameter index, or null.
  const VARIANT* DefaultOf(size_t index) const;
};

class DispatchType {
 public:
  std::u16string name;
  IID iid = IID_NULL;
  std::vector<std::unique_ptr<DispatchMember>> functions;
  std::vector<std::unique_ptr<DispatchMember>> variables;

  // The first member named name (letter case ignored) whose kind matches flags, an INVOKEKIND mask
  // (0 matches any; a variable matches get, put and put-by-reference). *nameFound tells whether any
  // member has that name.
  const DispatchMember* Bind(std::u16string_view name, WORD flags, bool* nameFound) const;
  // The member that a call with these DISPATCH_ flags reaches, and the kind of call it becomes.
  const DispatchMember* FindForInvoke(DISPID id, WORD flags, INVOKEKIND* kind) const;
  const DispatchMember* FindByName(std::u16string_view name) const;
  const DispatchMember* FindById(DISPID id) const;
};

// GetIDsOfNames over a table: names[0] is a member, the rest its parameters.
HRESULT LookUpIdsOfNames(const DispatchType& type, LPOLESTR* names, UINT count, DISPID* ids);

// An ITypeInfo (with ITypeComp) describing the table as a dispinterface.
HRESULT CreateDispatchTypeInfo(std::shared_ptr<const DispatchType> type, ITypeInfo** info);

}  // namespace win
