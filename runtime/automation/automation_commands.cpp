// The automation commands of the core library: creating objects, the get, call and put commands
// over InvokeByName, the object and variant holder commands, and their registration.
#include <cstring>
#include <mutex>
#include <string>

#include "platform/com/com.h"
#include "platform/com/regexp/regexp_object.h"
#include "platform/com/script/script_control.h"
#include "platform/com/stream/stream_object.h"
#include "runtime/automation/automation.h"
#include "runtime/automation/automation_private.h"
#include "runtime/commands/command_args.h"
#include "runtime/commands/commands.h"
#include "runtime/commands/dispatch.h"

namespace qv {
namespace {

using namespace win;
using namespace automation_detail;
using command_detail::Arguments;
using command_detail::ReturnBool;
using command_detail::ReturnText;

// Server kinds for CoCreateInstance: every kind first, and without remote servers when a platform
// rejects that combination with E_INVALIDARG.
constexpr DWORD kAllServers = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD kLocalServers = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

void Invoke(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments, TypeCode wanted,
            BindingKind kind) {
  result->type = wanted;
  InvokeByName(result, argumentCount, arguments, kind);
}

// Creates an instance through a type library: the name is looked up in it and, when exactly one
// type matches, that type creates the instance. A library loaded from a path with a backslash is
// registered under that path once an instance was made.
ComPtr<IUnknown> CreateFromTypeLibrary(const std::u16string& name, const std::u16string& file) {
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLib(file.c_str(), library.Receive())) || !library) return nullptr;
  std::u16string lookup = name;  // FindName takes a writable string
  ITypeInfo* info = nullptr;
  MEMBERID id = MEMBERID_NIL;
  USHORT found = 1;
  const ULONG hash = LHashValOfNameSys(SYS_WIN32, LOCALE_USER_DEFAULT, lookup.c_str());
  if (FAILED(library->FindName(lookup.data(), hash, &info, &id, &found)) || found != 1 || info == nullptr) {
    if (info != nullptr) info->Release();
    return nullptr;
  }
  const ComPtr<ITypeInfo> type = ComPtr<ITypeInfo>::Adopt(info);
  ComPtr<IUnknown> instance;
  if (FAILED(type->CreateInstance(nullptr, IID_IUnknown, instance.ReceiveVoid())) || !instance) return nullptr;
  if (file.find(u'\\') != std::u16string::npos) RegisterTypeLib(library.get(), file.c_str(), nullptr);
  return instance;
}

ComPtr<IUnknown> CreateFromClassId(const std::u16string& text) {
  CLSID clsid{};
  const HRESULT found = !text.empty() && text.front() == u'{' ? CLSIDFromString(text.c_str(), &clsid)
                                                             : CLSIDFromProgID(text.c_str(), &clsid);
  if (FAILED(found)) return nullptr;
  ComPtr<IUnknown> instance;
  HRESULT hr = CoCreateInstance(clsid, nullptr, kAllServers, IID_IUnknown, instance.ReceiveVoid());
  if (hr == E_INVALIDARG) hr = CoCreateInstance(clsid, nullptr, kLocalServers, IID_IUnknown, instance.ReceiveVoid());
  if (FAILED(hr)) return nullptr;
  return instance;
}

// A 1-based element index argument; false when it is left out or not a number.
bool IndexArgument(const RuntimeValue& argument, int64_t* index) {
  const RuntimeValue v = LoadArgument(argument);
  switch (v.type) {
    case type::Byte: *index = static_cast<uint8_t>(v.low); return true;
    case type::Short: *index = static_cast<int16_t>(v.low); return true;
    case type::Int: *index = v.Int32(); return true;
    case type::Int64: *index = v.Int64(); return true;
    case type::Float: *index = command_detail::TruncateToInt32(v.Float()); return true;
    case type::Double: *index = command_detail::TruncateToInt32(v.Double()); return true;
    default: return false;
  }
}

// The value to store in a variant: a byte set or an array becomes a one-dimensional SAFEARRAY with
// lower bound 1, anything else its VARIANT by the argument table (objects as VT_UNKNOWN).
bool MakeStoredValue(const RuntimeValue& value, VARIANT* out) {
  VariantInit(out);
  if (IsArrayValue(value)) {
    SAFEARRAY* array = MakeSafeArray(value);
    VARTYPE element = VT_EMPTY;
    if (array == nullptr) return false;
    if (FAILED(SafeArrayGetVartype(array, &element))) {
      SafeArrayDestroy(array);
      return false;
    }
    out->vt = VT_ARRAY | element;
    out->parray = array;
    return true;
  }
  const RuntimeValue loaded = LoadArgument(value);
  if (loaded.type == type::None) return false;
  return MakeVariant(loaded, VT_EMPTY, ObjectForm::Unknown, out);
}

void ReleaseHolderService(void* holder) { FreeObjectHolder(static_cast<ObjectHolder*>(holder)); }

}  // namespace

namespace automation_commands {

void ObjectCreate(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ObjectHolder* holder = ObjectArgument(args[0]);
  if (holder == nullptr) return;
  const std::u16string name = AnsiToWide(args.Text(1));
  ComPtr<IUnknown> instance;
  if (!name.empty() && name.front() != u'{' && args.Present(2))
    instance = CreateFromTypeLibrary(name, AnsiToWide(args.Text(2)));
  if (!instance) instance = CreateFromClassId(name);
  if (!instance || FAILED(OleRun(instance.get()))) return;
  ReleaseObjectHolderContent(holder);
  holder->object = instance.Detach();
  ReturnBool(result, true);
}

void ObjectGetText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Text, BindingKind::Get);
}
void ObjectGetNumber(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Double, BindingKind::Get);
}
void ObjectGetObject(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Object, BindingKind::Get);
}
void ObjectGetVariant(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Variant, BindingKind::Get);
}
void ObjectCall(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::None, BindingKind::Call);
}
void ObjectCallText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Text, BindingKind::Call);
}
void ObjectCallNumber(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Double, BindingKind::Call);
}
void ObjectCallBool(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Bool, BindingKind::Call);
}
void ObjectCallObject(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::Object, BindingKind::Call);
}

void ObjectSetProperty(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  Invoke(result, argumentCount, arguments, type::None, BindingKind::Put);
  ReturnBool(result, AutomationError() == automation_error::Success);
}

void ObjectAssign(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ObjectHolder* target = ObjectArgument(args[0]);
  const ObjectHolder* source = ObjectArgument(args[1]);
  if (target == nullptr) return;
  // The target is a freshly made holder whose content may not be initialised: it is overwritten,
  // not released.
  IUnknown* object = source != nullptr ? source->object : nullptr;
  if (object != nullptr) object->AddRef();
  target->object = object;
  target->record = nullptr;
}

void ObjectRelease(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReleaseObjectHolderContent(ObjectArgument(args[0]));
}

void ObjectIsEmpty(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const ObjectHolder* holder = ObjectArgument(args[0]);
  ReturnBool(result, holder == nullptr || holder->object == nullptr);
}

void VariantAssign(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  VariantHolder* target = VariantArgument(args[0]);
  const VariantHolder* source = VariantArgument(args[1]);
  // Assigning a variant to itself would zero it before the copy and lose what it holds.
  if (target == nullptr || target == source) return;
  std::memset(target, 0, sizeof *target);
  if (source != nullptr) VariantCopy(&target->value, &source->value);
}

void VariantReset(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  VariantHolder* holder = VariantArgument(args[0]);
  if (holder == nullptr) return;
  VariantClear(&holder->value);
  std::memset(holder, 0, sizeof *holder);
}

void VariantToText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const VariantHolder* holder = VariantArgument(args[0]);
  if (holder == nullptr) return;
  SAFEARRAY* array = ArrayOf(holder->value);
  if (array == nullptr) {
    if (holder->value.vt & VT_ARRAY) return;  // an array variant without its array
    ReturnText(result, VariantText(holder->value));
    return;
  }
  int64_t index = 0;
  if (!IndexArgument(args[1], &index)) return;
  std::vector<LONG> indices(SafeArrayGetDim(array));
  OwnedVariant element;
  if (!SplitFlatIndex(array, index, indices.data()) || !GetArrayElement(array, indices.data(), element.get())) return;
  ReturnText(result, VariantText(*element.get()));
}

void VariantSetValue(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  VariantHolder* holder = VariantArgument(args[0]);
  if (holder == nullptr) return;
  const RuntimeValue& value = args[1];

  if (!args.Present(2)) {
    // The new value is made before the old one is cleared, so a variant can be set from itself.
    OwnedVariant made;
    const bool ok = MakeStoredValue(value, made.get());
    VariantClear(&holder->value);
    std::memset(holder, 0, sizeof *holder);
    if (ok) holder->value = made.Release();
    ReturnBool(result, ok);
    return;
  }

  SAFEARRAY* array = ArrayOf(holder->value);
  VARTYPE element = VT_EMPTY;
  int64_t index = 0;
  if (array == nullptr || FAILED(SafeArrayGetVartype(array, &element)) || !IndexArgument(args[2], &index)) return;
  // A byte set or an array can only become an element of an array of VARIANTs.
  if (IsArrayValue(value) && element != VT_VARIANT) return;
  std::vector<LONG> indices(SafeArrayGetDim(array));
  if (!SplitFlatIndex(array, index, indices.data())) return;
  OwnedVariant made;
  if (!MakeStoredValue(value, made.get())) return;
  if (element != VT_VARIANT && FAILED(VariantChangeType(made.get(), made.get(), 0, element))) return;
  ReturnBool(result, PutArrayElement(array, indices.data(), made.get()));
}

}  // namespace automation_commands

void RegisterAutomationCommands() {
  using namespace automation_commands;
  static constexpr struct {
    Command command;
    CommandEntry entry;
  } kEntries[] = {
      {Command::ObjectCreate, &ObjectCreate},         {Command::ObjectGetText, &ObjectGetText},
      {Command::ObjectGetNumber, &ObjectGetNumber},   {Command::ObjectGetObject, &ObjectGetObject},
      {Command::ObjectGetVariant, &ObjectGetVariant}, {Command::ObjectCall, &ObjectCall},
      {Command::ObjectCallText, &ObjectCallText},     {Command::ObjectCallNumber, &ObjectCallNumber},
      {Command::ObjectCallBool, &ObjectCallBool},     {Command::ObjectCallObject, &ObjectCallObject},
      {Command::ObjectSetProperty, &ObjectSetProperty}, {Command::ObjectAssign, &ObjectAssign},
      {Command::ObjectRelease, &ObjectRelease},       {Command::ObjectIsEmpty, &ObjectIsEmpty},
      {Command::VariantAssign, &VariantAssign},       {Command::VariantReset, &VariantReset},
      {Command::VariantToText, &VariantToText},       {Command::VariantSetValue, &VariantSetValue},
  };
  for (const auto& e : kEntries) CoreCommandTable[static_cast<int>(e.command)] = e.entry;
  SetObjectHolderReleaser(&ReleaseHolderService);
}

void RegisterAutomationClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterRegExpClass();
    RegisterScriptControlClass();
    RegisterAdodbStreamClass();
  });
}

}  // namespace qv
