// A base for automation objects written in C++: DispatchObject implements IUnknown and IDispatch
// over a member table that also serves as the object's type information.
//
// A class declares its members once with TypeBuilder: name, DISPID, invoke kind, parameters (type
// and in / out / optional flags, default values), result type, and a handler. From that table
//  - GetTypeInfo returns an ITypeInfo whose ITypeComp::Bind finds members by name in any letter
//    case and invoke kind, giving FUNCDESCs (methods, property accessors) and VARDESCs (plain
//    properties, declared with Variable);
//  - GetIDsOfNames maps member and parameter names to ids;
//  - Invoke checks and sorts the arguments and calls the handler.
//
// Example:
//
//   class Counter : public DispatchObject {
//    public:
//     Counter() : DispatchObject(Type()) {}
//     static std::shared_ptr<const DispatchType> Type() {
//       static const auto type = TypeBuilder<Counter>(u"ICounter")
//           .Property(u"Value", 0, VT_I4, &Counter::GetValue, &Counter::PutValue)
//           .Method(u"Add", 1, VT_I4, {In(u"amount", VT_I4), Optional(u"times", VT_I4, LONG{1})}, &Counter::Add)
//           .Build();
//       return type;
//     }
//     HRESULT GetValue(Invocation& call) { ...; call.Result()->vt = VT_I4; ... return S_OK; }
//     ...
//   };
//
// What a handler receives (Invocation):
//  - Arg(i) in declaration order; for a put the assigned value is the last declared parameter.
//  - A parameter declared with a type other than VT_VARIANT arrives converted to that type with
//    VariantChangeTypeEx (a failure ends the call with that error and *argError set); VT_VARIANT
//    and by-reference parameters arrive as the caller passed them (borrowed: a handler must not
//    clear them, but may write through a VT_BYREF one).
//  - An optional parameter that was left out is its default value, or VT_ERROR holding
//    DISP_E_PARAMNOTFOUND when it has none (Has(i) is then false).
//  - With ArgList::Variable, the arguments beyond the declared ones are Extra(0..ExtraCount()-1).
//  - Arg, Value and Extra outside their range throw std::out_of_range, which Invoke turns into
//    E_UNEXPECTED.
//  - Result() starts VT_EMPTY; the handler stores the result there (Invoke hands it to the caller
//    or clears it). A handler fails by returning an HRESULT, or with Raise() for DISP_E_EXCEPTION.
// Handlers must not let exceptions escape; Invoke turns std::bad_alloc into E_OUTOFMEMORY and any
// other exception into E_UNEXPECTED so that none crosses the interface.
//
// Invoke's own results: DISP_E_UNKNOWNINTERFACE (riid not IID_NULL), DISP_E_MEMBERNOTFOUND (no
// member with that DISPID and a matching kind), DISP_E_BADPARAMCOUNT (more positional arguments
// than parameters, or a required one missing), DISP_E_PARAMNOTOPTIONAL (a required parameter passed
// as "missing"), DISP_E_PARAMNOTFOUND (a named argument that names no parameter), conversion
// errors (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW), E_INVALIDARG for malformed DISPPARAMS.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/dispatch.h"
#include "platform/com/typeinfo.h"
#include "platform/com/variant.h"

namespace win {

class DispatchObject;
class DispatchType;  // the built member table; see TypeBuilder
class Invocation;

using MemberHandler = std::function<HRESULT(DispatchObject& self, Invocation& call)>;

// A parameter's default value (PARAMFLAG_FHASDEFAULT): VT_I4, VT_R8, VT_BOOL or VT_BSTR.
using DefaultValue = std::variant<LONG, double, bool, std::u16string>;

struct ParamSpec {
  std::u16string name;
  VARTYPE vt = VT_VARIANT;  // VT_BYREF | x for a by-reference parameter, VT_ARRAY | x for an array
  USHORT flags = PARAMFLAG_FIN;
  std::optional<DefaultValue> defaultValue;
};

ParamSpec In(std::u16string name, VARTYPE vt = VT_VARIANT);
ParamSpec Optional(std::u16string name, VARTYPE vt = VT_VARIANT);
ParamSpec Optional(std::u16string name, VARTYPE vt, DefaultValue value);
// A by-reference in/out parameter: declared vt | VT_BYREF, the caller must pass exactly that type.
ParamSpec InOut(std::u16string name, VARTYPE vt);

// Whether a method takes further arguments after its declared ones (cParamsOpt -1, with a last
// parameter of type SAFEARRAY of VARIANT in its FUNCDESC).
enum class ArgList { Fixed, Variable };

class TypeBuilderBase {
 public:
  // name: the interface name (GetDocumentation of MEMBERID_NIL); iid: the dispinterface id, which
  // QueryInterface also answers (IID_NULL for none).
  explicit TypeBuilderBase(std::u16string name, const IID& iid = IID_NULL);
  ~TypeBuilderBase();
  TypeBuilderBase(const TypeBuilderBase&) = delete;
  TypeBuilderBase& operator=(const TypeBuilderBase&) = delete;

  // The finished table, or null when two members clash (the same name with different DISPIDs, the
  // same DISPID and kind twice, or a variable sharing a DISPID with anything) or out of memory.
  std::shared_ptr<const DispatchType> Build();

 protected:
  // result VT_EMPTY or VT_VOID: the member returns nothing.
  void AddFunction(std::u16string name, DISPID id, INVOKEKIND kind, VARTYPE result, std::vector<ParamSpec> params,
                   ArgList args, MemberHandler handler);
  void AddVariable(std::u16string name, DISPID id, VARTYPE type, MemberHandler handler);

 private:
  struct Pending;
  std::unique_ptr<Pending> m_pending;
};

template <class T>
class TypeBuilder : public TypeBuilderBase {
 public:
  using Handler = HRESULT (T::*)(Invocation&);
  using TypeBuilderBase::TypeBuilderBase;

  TypeBuilder& Method(std::u16string name, DISPID id, VARTYPE result, std::vector<ParamSpec> params, Handler h,
                      ArgList args = ArgList::Fixed) {
    AddFunction(std::move(name), id, INVOKE_FUNC, result, std::move(params), args, Wrap(h));
    return *this;
  }
  TypeBuilder& PropertyGet(std::u16string name, DISPID id, VARTYPE type, Handler getter) {
    return PropertyGet(std::move(name), id, type, {}, getter);
  }
  // An indexed property getter: the index parameters come first.
  TypeBuilder& PropertyGet(std::u16string name, DISPID id, VARTYPE type, std::vector<ParamSpec> indices,
                           Handler getter) {
    AddFunction(std::move(name), id, INVOKE_PROPERTYGET, type, std::move(indices), ArgList::Fixed, Wrap(getter));
    return *this;
  }
  // The setter's last parameter is the assigned value, of type type.
  TypeBuilder& PropertyPut(std::u16string name, DISPID id, VARTYPE type, Handler setter) {
    return Put(std::move(name), id, INVOKE_PROPERTYPUT, type, {}, setter);
  }
  TypeBuilder& PropertyPut(std::u16string name, DISPID id, VARTYPE type, std::vector<ParamSpec> indices,
                           Handler setter) {
    return Put(std::move(name), id, INVOKE_PROPERTYPUT, type, std::move(indices), setter);
  }
  TypeBuilder& PropertyPutRef(std::u16string name, DISPID id, VARTYPE type, Handler setter) {
    return Put(std::move(name), id, INVOKE_PROPERTYPUTREF, type, {}, setter);
  }
  TypeBuilder& Property(std::u16string name, DISPID id, VARTYPE type, Handler getter, Handler setter) {
    PropertyGet(name, id, type, getter);
    return PropertyPut(std::move(name), id, type, setter);
  }
  // A plain property described by a VARDESC: one handler serves get (no arguments) and put (one
  // argument, the value); Invocation::IsPut tells which.
  TypeBuilder& Variable(std::u16string name, DISPID id, VARTYPE type, Handler handler) {
    AddVariable(std::move(name), id, type, Wrap(handler));
    return *this;
  }

 private:
  TypeBuilder& Put(std::u16string name, DISPID id, INVOKEKIND kind, VARTYPE type, std::vector<ParamSpec> indices,
                   Handler setter) {
    indices.push_back(In(u"value", type));
    AddFunction(std::move(name), id, kind, VT_VOID, std::move(indices), ArgList::Fixed, Wrap(setter));
    return *this;
  }
  static MemberHandler Wrap(Handler h) {
    return [h](DispatchObject& self, Invocation& call) { return (static_cast<T&>(self).*h)(call); };
  }
};

// One call of a member, as its handler sees it.
class Invocation {
 public:
  Invocation(const Invocation&) = delete;
  Invocation& operator=(const Invocation&) = delete;

  DISPID Member() const { return m_member; }
  LCID Locale() const { return m_lcid; }
  // The kind of member call: INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT or
  // INVOKE_PROPERTYPUTREF.
  INVOKEKIND Kind() const { return m_kind; }
  bool IsPut() const { return m_kind == INVOKE_PROPERTYPUT || m_kind == INVOKE_PROPERTYPUTREF; }

  // Declared parameters, in declaration order.
  UINT Count() const { return static_cast<UINT>(m_args.size()); }
  VARIANT& Arg(UINT index) { return *m_args.at(index); }
  // False when the argument was left out and the parameter has no default.
  bool Has(UINT index) const;
  // The value assigned by a put (the last declared parameter).
  VARIANT& Value() { return *m_args.at(m_args.size() - 1); }
  UINT ExtraCount() const { return static_cast<UINT>(m_extra.size()); }
  VARIANT& Extra(UINT index) { return *m_extra.at(index); }

  VARIANT* Result() { return m_result.get(); }

  // Fails the call with DISP_E_EXCEPTION, filling the caller's EXCEPINFO (when it passed one) with
  // scode, the description and the source.
  HRESULT Raise(HRESULT scode, std::u16string_view description, std::u16string_view source = {});
  // Fails the call with hr, reporting the declared parameter index as the argument in error.
  HRESULT BadArgument(UINT index, HRESULT hr = DISP_E_TYPEMISMATCH);

 private:
  friend class DispatchObject;
  Invocation() = default;

  DISPID m_member = 0;
  LCID m_lcid = 0;
  INVOKEKIND m_kind = INVOKE_FUNC;
  std::vector<VARIANT*> m_args;
  std::vector<UINT> m_argPositions;  // each declared parameter's index in rgvarg, or UINT_MAX
  std::vector<VARIANT*> m_extra;
  std::deque<OwnedVariant> m_storage;  // converted arguments and defaults
  OwnedVariant m_result;
  EXCEPINFO* m_exception = nullptr;
  UINT* m_argError = nullptr;
};

enum class TypeInfoAccess {
  Provide,   // GetTypeInfoCount 1, GetTypeInfo gives the member table's ITypeInfo
  Withhold,  // GetTypeInfoCount 0, GetTypeInfo fails with E_NOTIMPL (callable only by DISPID)
};

class DispatchObject : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override;

 protected:
  // The object starts with one reference, which its creator owns.
  explicit DispatchObject(std::shared_ptr<const DispatchType> type, TypeInfoAccess access = TypeInfoAccess::Provide);
  virtual ~DispatchObject();
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // Interfaces beyond IUnknown, IDispatch and the type's own IID. The default offers none.
  virtual HRESULT QueryOtherInterface(REFIID riid, void** object);

 private:
  std::atomic<ULONG> m_refs{1};
  std::shared_ptr<const DispatchType> m_type;
  TypeInfoAccess m_access;
};

// Creates a T (derived from DispatchObject) holding its first reference; null when out of memory
// or when the constructor throws.
template <class T, class... Args>
ComPtr<T> MakeDispatchObject(Args&&... args) noexcept {
  try {
    return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
  } catch (...) {
    return nullptr;
  }
}

// A creation function for the class registry (registry.h) for a T with a default constructor.
// Aggregation is not supported: a non-null outer gives CLASS_E_NOAGGREGATION.
template <class T>
HRESULT CreateDispatchInstance(IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  ComPtr<T> instance = MakeDispatchObject<T>();
  if (!instance) return E_OUTOFMEMORY;
  return instance->QueryInterface(riid, object);
}

}  // namespace win
