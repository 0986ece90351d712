// Building member tables: TypeBuilderBase collects members, Build checks them and lays out their
// FUNCDESC / VARDESC forms once, so that type information only hands out copies.
#include "platform/com/dispatch_type.h"

#include "platform/com/internal.h"

namespace win {

using com_internal::EqualsIgnoreCase;

ParamSpec In(std::u16string name, VARTYPE vt) { return ParamSpec{std::move(name), vt, PARAMFLAG_FIN, std::nullopt}; }

ParamSpec Optional(std::u16string name, VARTYPE vt) {
  return ParamSpec{std::move(name), vt, static_cast<USHORT>(PARAMFLAG_FIN | PARAMFLAG_FOPT), std::nullopt};
}

ParamSpec Optional(std::u16string name, VARTYPE vt, DefaultValue value) {
  return ParamSpec{std::move(name), vt, static_cast<USHORT>(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT),
                   std::move(value)};
}

ParamSpec InOut(std::u16string name, VARTYPE vt) {
  return ParamSpec{std::move(name), static_cast<VARTYPE>(vt | VT_BYREF),
                   static_cast<USHORT>(PARAMFLAG_FIN | PARAMFLAG_FOUT), std::nullopt};
}

DispatchMember::~DispatchMember() {
  for (PARAMDESCEX& d : defaults) VariantClear(&d.varDefaultValue);
}

const VARIANT* DispatchMember::DefaultOf(size_t index) const {
  if (index >= elemDescs.size()) return nullptr;
  const PARAMDESC& p = elemDescs[index].paramdesc;
  if (!(p.wParamFlags & PARAMFLAG_FHASDEFAULT) || p.pparamdescex == nullptr) return nullptr;
  return &p.pparamdescex->varDefaultValue;
}

namespace {

// The TYPEDESC of a VARIANT type: VT_BYREF becomes VT_PTR and VT_ARRAY VT_SAFEARRAY, each
// pointing at the rest.
void Describe(VARTYPE vt, TYPEDESC* out, std::deque<TYPEDESC>& nodes) {
  *out = TYPEDESC{};
  if (vt & VT_BYREF) {
    out->vt = VT_PTR;
    nodes.emplace_back();
    out->lptdesc = &nodes.back();
    Describe(vt & ~VT_BYREF, out->lptdesc, nodes);
  } else if (vt & VT_ARRAY) {
    out->vt = VT_SAFEARRAY;
    nodes.emplace_back();
    out->lptdesc = &nodes.back();
    Describe(vt & ~VT_ARRAY, out->lptdesc, nodes);
  } else {
    out->vt = vt;
  }
}

bool MakeDefault(const DefaultValue& value, VARIANT* out) {
  VariantInit(out);
  if (const LONG* i = std::get_if<LONG>(&value)) {
    out->vt = VT_I4;
    out->lVal = *i;
  } else if (const double* d = std::get_if<double>(&value)) {
    out->vt = VT_R8;
    out->dblVal = *d;
  } else if (const bool* b = std::get_if<bool>(&value)) {
    out->vt = VT_BOOL;
    out->boolVal = *b ? VARIANT_TRUE : VARIANT_FALSE;
  } else {
    const std::u16string& s = std::get<std::u16string>(value);
    BSTR text = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    if (text == nullptr) return false;
    out->vt = VT_BSTR;
    out->bstrVal = text;
  }
  return true;
}

bool LayOut(DispatchMember& m) {
  if (m.isVariable) {
    m.varDesc.memid = m.id;
    m.varDesc.lpstrSchema = nullptr;
    m.varDesc.oInst = 0;
    Describe(m.type, &m.varDesc.elemdescVar.tdesc, m.typeNodes);
    m.varDesc.elemdescVar.paramdesc = PARAMDESC{nullptr, PARAMFLAG_NONE};
    m.varDesc.wVarFlags = 0;
    m.varDesc.varkind = VAR_DISPATCH;
    return true;
  }
  const size_t count = m.params.size() + (m.varargs ? 1 : 0);
  m.elemDescs.resize(count);
  for (size_t i = 0; i < m.params.size(); ++i) {
    const ParamSpec& p = m.params[i];
    ELEMDESC& e = m.elemDescs[i];
    Describe(p.vt, &e.tdesc, m.typeNodes);
    e.paramdesc = PARAMDESC{nullptr, p.flags};
    if (p.defaultValue) {
      m.defaults.emplace_back();
      PARAMDESCEX& ex = m.defaults.back();
      ex.cBytes = sizeof(PARAMDESCEX);
      if (!MakeDefault(*p.defaultValue, &ex.varDefaultValue)) return false;
      e.paramdesc.pparamdescex = &ex;
      e.paramdesc.wParamFlags |= PARAMFLAG_FHASDEFAULT | PARAMFLAG_FOPT;
    }
  }
  if (m.varargs) {
    ELEMDESC& e = m.elemDescs.back();
    Describe(VT_ARRAY | VT_VARIANT, &e.tdesc, m.typeNodes);
    e.paramdesc = PARAMDESC{nullptr, PARAMFLAG_FIN};
  }
  FUNCDESC& f = m.funcDesc;
  f.memid = m.id;
  f.lprgscode = nullptr;
  f.lprgelemdescParam = count == 0 ? nullptr : m.elemDescs.data();
  f.funckind = FUNC_DISPATCH;
  f.invkind = m.kind;
  f.callconv = CC_STDCALL;
  f.cParams = static_cast<SHORT>(count);
  f.cParamsOpt = m.varargs ? -1 : 0;
  f.oVft = 0;
  f.cScodes = 0;
  Describe(m.type, &f.elemdescFunc.tdesc, m.typeNodes);
  f.elemdescFunc.paramdesc = PARAMDESC{nullptr, PARAMFLAG_NONE};
  f.wFuncFlags = 0;
  return true;
}

bool MatchesKind(const DispatchMember& m, WORD flags) {
  if (flags == 0) return true;
  if (m.isVariable) return (flags & (INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
  return (flags & m.kind) != 0;
}

}  // namespace

struct TypeBuilderBase::Pending {
  std::shared_ptr<DispatchType> type = std::make_shared<DispatchType>();
  bool failed = false;
};

TypeBuilderBase::TypeBuilderBase(std::u16string name, const IID& iid) : m_pending(std::make_unique<Pending>()) {
  m_pending->type->name = std::move(name);
  m_pending->type->iid = iid;
}

TypeBuilderBase::~TypeBuilderBase() = default;

void TypeBuilderBase::AddFunction(std::u16string name, DISPID id, INVOKEKIND kind, VARTYPE result,
                                  std::vector<ParamSpec> params, ArgList args, MemberHandler handler) {
  if (!m_pending) return;
  auto m = std::make_unique<DispatchMember>();
  m->name = std::move(name);
  m->id = id;
  m->kind = kind;
  m->type = result == VT_EMPTY ? VT_VOID : result;
  m->params = std::move(params);
  m->varargs = args == ArgList::Variable;
  m->handler = std::move(handler);
  m_pending->type->functions.push_back(std::move(m));
}

void TypeBuilderBase::AddVariable(std::u16string name, DISPID id, VARTYPE type, MemberHandler handler) {
  if (!m_pending) return;
  auto m = std::make_unique<DispatchMember>();
  m->name = std::move(name);
  m->id = id;
  m->isVariable = true;
  m->kind = INVOKE_PROPERTYGET;
  m->type = type;
  m->params.push_back(In(u"value", type));
  m->handler = std::move(handler);
  m_pending->type->variables.push_back(std::move(m));
}

std::shared_ptr<const DispatchType> TypeBuilderBase::Build() {
  if (!m_pending) return nullptr;
  std::shared_ptr<DispatchType> type = std::move(m_pending->type);
  m_pending.reset();
  // Every pair of members must be distinguishable by name and kind, and by DISPID and kind.
  std::vector<const DispatchMember*> all;
  for (const auto& f : type->functions) all.push_back(f.get());
  for (const auto& v : type->variables) all.push_back(v.get());
  for (size_t i = 0; i < all.size(); ++i) {
    for (size_t j = i + 1; j < all.size(); ++j) {
      const DispatchMember& a = *all[i];
      const DispatchMember& b = *all[j];
      const bool sameName = EqualsIgnoreCase(a.name, b.name);
      if (sameName && a.id != b.id) return nullptr;
      if (a.id == b.id && (a.isVariable || b.isVariable || a.kind == b.kind || !sameName)) return nullptr;
    }
    if (!all[i]->handler) return nullptr;
  }
  for (const auto& f : type->functions)
    if (!LayOut(*f)) return nullptr;
  for (const auto& v : type->variables)
    if (!LayOut(*v)) return nullptr;
  return type;
}

const DispatchMember* DispatchType::Bind(std::u16string_view name, WORD flags, bool* nameFound) const {
  *nameFound = false;
  for (const auto* list : {&functions, &variables}) {
    for (const auto& m : *list) {
      if (!EqualsIgnoreCase(m->name, name)) continue;
      *nameFound = true;
      if (MatchesKind(*m, flags)) return m.get();
    }
  }
  return nullptr;
}

const DispatchMember* DispatchType::FindForInvoke(DISPID id, WORD flags, INVOKEKIND* kind) const {
  static constexpr struct {
    WORD dispatchFlag;
    INVOKEKIND kind;
  } kOrder[] = {{DISPATCH_METHOD, INVOKE_FUNC},
                {DISPATCH_PROPERTYGET, INVOKE_PROPERTYGET},
                {DISPATCH_PROPERTYPUT, INVOKE_PROPERTYPUT},
                {DISPATCH_PROPERTYPUTREF, INVOKE_PROPERTYPUTREF}};
  for (const auto& step : kOrder) {
    if (!(flags & step.dispatchFlag)) continue;
    for (const auto& f : functions) {
      if (f->id == id && f->kind == step.kind) {
        *kind = step.kind;
        return f.get();
      }
    }
    if (step.kind == INVOKE_FUNC) continue;
    for (const auto& v : variables) {
      if (v->id == id) {
        *kind = step.kind;
        return v.get();
      }
    }
  }
  return nullptr;
}

const DispatchMember* DispatchType::FindByName(std::u16string_view name) const {
  bool found = false;
  return Bind(name, 0, &found);
}

const DispatchMember* DispatchType::FindById(DISPID id) const {
  for (const auto* list : {&functions, &variables})
    for (const auto& m : *list)
      if (m->id == id) return m.get();
  return nullptr;
}

HRESULT LookUpIdsOfNames(const DispatchType& type, LPOLESTR* names, UINT count, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  const DispatchMember* member = type.FindByName(names[0]);
  if (member == nullptr) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    // Parameter names are looked up among all members that share the name (a property's get and
    // put, for instance); the id of a parameter is its position.
    bool found = false;
    const std::u16string_view wanted = com_internal::ViewOf(names[i]);
    for (const auto* list : {&type.functions, &type.variables}) {
      for (const auto& m : *list) {
        if (found || m->id != member->id || m->isVariable) continue;
        for (size_t k = 0; k < m->params.size(); ++k) {
          if (EqualsIgnoreCase(m->params[k].name, wanted)) {
            ids[i] = static_cast<DISPID>(k);
            found = true;
            break;
          }
        }
      }
    }
    if (!found) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

}  // namespace win
