// InvokeByName: binds a member name through the object's type information, turns the runtime
// arguments into DISPPARAMS, calls IDispatch::Invoke, writes output parameters back into the
// caller's variables and converts the result. The calling thread's AutomationError lives here.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/automation/automation.h"
#include "runtime/automation/automation_private.h"

namespace qv {
namespace {

using namespace win;
using namespace automation_detail;

thread_local int32_t t_automationError = automation_error::Success;

// The invoke kinds each binding tries, in order.
constexpr WORD kGetOrder[] = {INVOKE_PROPERTYGET, INVOKE_FUNC};
constexpr WORD kCallOrder[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF};
constexpr WORD kPutOrder[] = {INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF, INVOKE_FUNC};

// Aliases that lead to aliases are followed this far; a longer chain counts as an interface.
constexpr int kMaxAliasDepth = 8;

int32_t ErrorFromHresult(HRESULT hr) {
  switch (hr) {
    case DISP_E_BADPARAMCOUNT: return automation_error::BadParamCount;
    case DISP_E_BADVARTYPE: return automation_error::BadVarType;
    case DISP_E_EXCEPTION: return automation_error::Exception;
    case DISP_E_MEMBERNOTFOUND: return automation_error::DispMemberNotFound;
    case DISP_E_NONAMEDARGS: return automation_error::NoNamedArgs;
    case DISP_E_OVERFLOW: return automation_error::Overflow;
    case DISP_E_PARAMNOTFOUND: return automation_error::ParamNotFound;
    case DISP_E_TYPEMISMATCH: return automation_error::TypeMismatch;
    case DISP_E_PARAMNOTOPTIONAL: return automation_error::ParamNotOptional;
    default: return automation_error::InvokeFailed;
  }
}

// The VARIANT type a declared type asks for: int and unsigned int as their 32-bit forms, pointers
// as VT_BYREF, safe and C arrays as VT_ARRAY, user-defined types by what they are.
VARTYPE ResolveType(ITypeInfo* info, const TYPEDESC& t, int depth) {
  switch (t.vt) {
    case VT_INT: return VT_I4;
    case VT_UINT: return VT_UI4;
    case VT_PTR:
      if (t.lptdesc == nullptr) return VT_BYREF | VT_VOID;
      return VT_BYREF | (ResolveType(info, *t.lptdesc, depth) & ~VT_BYREF);
    case VT_SAFEARRAY:
      if (t.lptdesc == nullptr) return VT_ARRAY | VT_VARIANT;
      return VT_ARRAY | (ResolveType(info, *t.lptdesc, depth) & VT_TYPEMASK);
    case VT_CARRAY:
      if (t.lpadesc == nullptr) return VT_ARRAY | VT_VARIANT;
      return VT_ARRAY | (ResolveType(info, t.lpadesc->tdescElem, depth) & VT_TYPEMASK);
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> target;
      if (info == nullptr || depth >= kMaxAliasDepth || FAILED(info->GetRefTypeInfo(t.hreftype, target.Receive())) ||
          !target)
        return VT_UNKNOWN;
      TYPEATTR* attr = nullptr;
      if (FAILED(target->GetTypeAttr(&attr)) || attr == nullptr) return VT_UNKNOWN;
      VARTYPE vt = VT_UNKNOWN;
      if (attr->typekind == TKIND_ENUM) vt = VT_I4;
      else if (attr->typekind == TKIND_DISPATCH) vt = VT_DISPATCH;
      else if (attr->typekind == TKIND_ALIAS) vt = ResolveType(target.get(), attr->tdescAlias, depth + 1);
      target->ReleaseTypeAttr(attr);
      return vt;
    }
    default: return t.vt;
  }
}

struct Parameter {
  VARTYPE type = VT_VARIANT;  // resolved, with VT_BYREF / VT_ARRAY
  USHORT flags = PARAMFLAG_FIN;
};

// The member a name was bound to. Owns the description and its type information until the call is
// over.
class BoundMember {
 public:
  BoundMember() = default;
  BoundMember(const BoundMember&) = delete;
  BoundMember& operator=(const BoundMember&) = delete;
  ~BoundMember() {
    if (m_kind == DESCKIND_FUNCDESC && m_info) m_info->ReleaseFuncDesc(m_bound.lpfuncdesc);
    else if ((m_kind == DESCKIND_VARDESC || m_kind == DESCKIND_IMPLICITAPPOBJ) && m_info)
      m_info->ReleaseVarDesc(m_bound.lpvardesc);
    else if (m_kind == DESCKIND_TYPECOMP && m_bound.lptcomp != nullptr)
      m_bound.lptcomp->Release();
  }

  // Tries the invoke kinds in order until a Bind call succeeds.
  bool Bind(ITypeComp* comp, LPOLESTR name, const WORD* kinds, size_t kindCount) {
    const ULONG hash = LHashValOfNameSys(SYS_WIN32, LOCALE_USER_DEFAULT, name);
    for (size_t k = 0; k < kindCount; ++k) {
      ComPtr<ITypeInfo> info;
      DESCKIND kind = DESCKIND_NONE;
      BINDPTR bound{};
      if (SUCCEEDED(comp->Bind(name, hash, kinds[k], info.Receive(), &kind, &bound))) {
        m_info = std::move(info);
        m_kind = kind;
        m_bound = bound;
        return true;
      }
    }
    return false;
  }

  // Reads the member id, the dispatch flags and the parameters. False for a type or nothing.
  bool Describe(BindingKind binding) {
    if (m_kind == DESCKIND_FUNCDESC && m_bound.lpfuncdesc != nullptr) {
      const FUNCDESC& f = *m_bound.lpfuncdesc;
      id = f.memid;
      flags = static_cast<WORD>(f.invkind);
      varargs = f.cParamsOpt == -1;
      for (SHORT i = 0; i < f.cParams && f.lprgelemdescParam != nullptr; ++i) {
        const ELEMDESC& e = f.lprgelemdescParam[i];
        params.push_back({ResolveType(m_info.get(), e.tdesc, 0), e.paramdesc.wParamFlags});
      }
      return true;
    }
    if ((m_kind == DESCKIND_VARDESC || m_kind == DESCKIND_IMPLICITAPPOBJ) && m_bound.lpvardesc != nullptr) {
      const VARDESC& v = *m_bound.lpvardesc;
      id = v.memid;
      if (binding == BindingKind::Put) {
        const VARTYPE type = ResolveType(m_info.get(), v.elemdescVar.tdesc, 0);
        const VARTYPE base = type & ~VT_BYREF;
        const bool byReference = base == VT_UNKNOWN || base == VT_DISPATCH || (base & VT_ARRAY);
        flags = byReference ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT;
        params.push_back({type, PARAMFLAG_FIN});
      } else {
        flags = DISPATCH_PROPERTYGET;
      }
      return true;
    }
    return false;
  }

  DISPID id = DISPID_UNKNOWN;
  WORD flags = 0;
  bool varargs = false;
  std::vector<Parameter> params;

 private:
  ComPtr<ITypeInfo> m_info;
  DESCKIND m_kind = DESCKIND_NONE;
  BINDPTR m_bound{};
};

// The argument VARIANTs of one call and the shadow VARIANTs that by-reference arguments point at.
// Both are sized once, so the pointers into them stay valid, and cleared when the call is over.
class ArgumentBlock {
 public:
  explicit ArgumentBlock(size_t count) : m_arguments(count), m_shadows(count), m_byReference(count, false) {
    for (size_t i = 0; i < count; ++i) {
      VariantInit(&m_arguments[i]);
      VariantInit(&m_shadows[i]);
    }
  }
  ArgumentBlock(const ArgumentBlock&) = delete;
  ArgumentBlock& operator=(const ArgumentBlock&) = delete;
  ~ArgumentBlock() {
    // By-reference arguments own nothing; their shadows own the values.
    for (VARIANT& v : m_arguments) VariantClear(&v);
    for (VARIANT& v : m_shadows) VariantClear(&v);
  }

  // The VARIANT of runtime argument i: DISPPARAMS holds them last argument first.
  VARIANT& Argument(size_t i) { return m_arguments[m_arguments.size() - 1 - i]; }
  VARIANT& Shadow(size_t i) { return m_shadows[i]; }
  VARIANTARG* Data() { return m_arguments.empty() ? nullptr : m_arguments.data(); }
  bool ByReference(size_t i) const { return m_byReference[i]; }

  // Puts argument i into its place for a parameter of the declared type. False when the value has
  // no VARIANT form.
  bool Build(size_t i, const RuntimeValue& argument, VARTYPE declared) {
    VARIANT& slot = Argument(i);
    const RuntimeValue loaded = LoadArgument(argument);
    if (!(declared & VT_BYREF)) return MakeVariant(loaded, declared, ObjectForm::Declared, &slot);

    // By reference: the value lives in the shadow, and the argument points at it.
    const VARTYPE base = declared & ~VT_BYREF;
    VARIANT& shadow = m_shadows[i];
    if (!MakeVariant(loaded, base, ObjectForm::Declared, &shadow)) return false;
    if (base == VT_VARIANT) {
      slot.vt = VT_BYREF | VT_VARIANT;
      slot.pvarVal = &shadow;
    } else if (SUCCEEDED(VariantChangeType(&shadow, &shadow, 0, base))) {
      slot.vt = VT_BYREF | base;
      slot.byref = VariantValueAddress(shadow);
    } else if ((base & VT_ARRAY) && (shadow.vt & VT_ARRAY) && !(shadow.vt & VT_BYREF)) {
      slot.vt = VT_BYREF | shadow.vt;
      slot.pparray = &shadow.parray;
    } else {
      // The value cannot take the declared type: it goes by value, as it is.
      slot = shadow;
      VariantInit(&shadow);
      return true;
    }
    m_byReference[i] = true;
    return true;
  }

 private:
  std::vector<VARIANT> m_arguments;
  std::vector<VARIANT> m_shadows;
  std::vector<bool> m_byReference;
};

// The call itself. On success *converted holds the result (its block belongs to the caller).
int32_t Invoke(int32_t argumentCount, const RuntimeValue* arguments, BindingKind binding, TypeCode wanted,
               RuntimeValue* converted) {
  const size_t count = arguments != nullptr && argumentCount > 0 ? static_cast<size_t>(argumentCount) : 0;

  // 1. The name, and the object it is looked up in.
  std::u16string name;
  if (count > 1) {
    const RuntimeValue nameValue = LoadArgument(arguments[1]);
    const char* text = nameValue.type == type::Text ? static_cast<const char*>(nameValue.Pointer()) : nullptr;
    if (text != nullptr) name = AnsiToWide(text);
  }
  const ObjectHolder* holder = count > 0 ? ObjectArgument(arguments[0]) : nullptr;
  if (holder == nullptr || holder->object == nullptr) return automation_error::EmptyObject;

  // 2. IDispatch and the type information that binds names.
  ComPtr<IDispatch> dispatch;
  if (FAILED(holder->object->QueryInterface(IID_IDispatch, dispatch.ReceiveVoid())) || !dispatch)
    return automation_error::NoDispatch;
  ComPtr<ITypeComp> comp;
  {
    ComPtr<ITypeInfo> info;
    if (FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive())) || !info)
      return automation_error::NoTypeInformation;
    if (FAILED(info->GetTypeComp(comp.Receive())) || !comp) return automation_error::NoTypeInformation;
  }

  // 3 and 4. Bind the name in the binding's order and read the member's description.
  BoundMember member;
  {
    const WORD* kinds = kCallOrder;
    size_t kindCount = std::size(kCallOrder);
    if (binding == BindingKind::Get) {
      kinds = kGetOrder;
      kindCount = std::size(kGetOrder);
    } else if (binding == BindingKind::Put) {
      kinds = kPutOrder;
      kindCount = std::size(kPutOrder);
    }
    const bool bound = member.Bind(comp.get(), name.data(), kinds, kindCount);
    comp.Reset();
    if (!bound || !member.Describe(binding)) return automation_error::MemberNotFound;
  }

  // 5. The arguments after the object and the name, without the trailing left-out ones.
  size_t given = count > 2 ? count - 2 : 0;
  const RuntimeValue* first = given > 0 ? arguments + 2 : nullptr;
  while (given > 0 && BaseType(first[given - 1].type) == type::None) --given;
  const size_t declared = member.params.size();
  if (given > declared && !member.varargs) return automation_error::TooManyArguments;

  // 6. DISPPARAMS: one VARIANT per argument, last argument first; a put names its value.
  ArgumentBlock block(given);
  for (size_t i = 0; i < given; ++i) {
    if (BaseType(first[i].type) == type::None) {
      VARIANT& slot = block.Argument(i);
      slot.vt = VT_ERROR;
      slot.scode = DISP_E_PARAMNOTFOUND;
      continue;
    }
    // Arguments beyond the declared ones (a variable argument list) take the last declaration.
    const Parameter p = declared == 0 ? Parameter{} : member.params[std::min(i, declared - 1)];
    VARTYPE type = p.type;
    // The arguments that fill a variable argument list are its elements: VARIANTs.
    if (member.varargs && i + 1 >= declared && type == (VT_ARRAY | VT_VARIANT)) type = VT_VARIANT;
    if (!block.Build(i, first[i], type)) return automation_error::BadArgumentType;
  }
  DISPID putId = DISPID_PROPERTYPUT;
  const bool isPut = (member.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  DISPPARAMS params{block.Data(), nullptr, static_cast<UINT>(given), 0};
  if (isPut && given > 0) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }

  // 7. The call.
  OwnedVariant result;
  UINT argumentError = 0;
  const HRESULT hr = dispatch->Invoke(member.id, IID_NULL, LOCALE_USER_DEFAULT, member.flags, &params, result.get(),
                                      nullptr, &argumentError);
  if (FAILED(hr)) return ErrorFromHresult(hr);

  // 8. Output parameters go back into the variables they came from, then the result is converted.
  for (size_t i = 0; i < given; ++i) {
    if (!block.ByReference(i) || !HasAddressFlag(first[i].type)) continue;
    const Parameter p = declared == 0 ? Parameter{} : member.params[std::min(i, declared - 1)];
    if (!(p.flags & PARAMFLAG_FOUT)) continue;
    WriteBack(block.Argument(i), AutomationType(first[i].type), first[i].Pointer());
  }
  if (wanted != type::None && !ConvertResult(*result.get(), wanted, converted))
    return automation_error::ResultConversion;
  return automation_error::Success;
}

}  // namespace

int32_t AutomationError() { return t_automationError; }

void InvokeByName(RuntimeValue* result, int32_t argumentCount, const RuntimeValue* arguments, BindingKind kind) {
  const TypeCode wanted = result != nullptr ? result->type : type::None;
  RuntimeValue converted;
  converted.type = wanted;
  const int32_t error = Invoke(argumentCount, arguments, kind, wanted, &converted);
  if (result != nullptr) *result = error == automation_error::Success ? converted : EmptyResult(wanted);
  t_automationError = error;
}

}  // namespace qv
