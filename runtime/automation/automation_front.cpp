#include "runtime/automation/automation_front.h"

#include <vector>

#include "runtime/commands/commands.h"

namespace qv::cmd {
namespace {

// What an object or variant argument points at when its variable has no holder yet: the empty
// forms, as a variable that was never assigned holds them. The commands only read these.
ObjectHolder g_emptyObject{};
VariantHolder g_emptyVariant{};

RuntimeValue Call(Command c, std::vector<RuntimeValue>& slots) {
  // The front works before start-up has run (in tests, for instance): the entries are installed on
  // first use.
  if (CommandEntryOf(c) == nullptr) RegisterAutomationCommands();
  return CallCommand(c, static_cast<int32_t>(slots.size()), slots.data());
}

}  // namespace

// The slots of one member call: the object, the name, then the arguments. Text variables passed by
// address are lent to the call as plain pointers and taken back by their owners afterwards.
class AutomationCall {
 public:
  AutomationCall(const OwnedObject& object, const char* name, AutomationArguments arguments)
      : m_lent(arguments.size(), nullptr) {
    m_slots.reserve(arguments.size() + 2);
    m_slots.push_back(ObjectValue(object));
    m_slots.push_back(TextValue(name));
    size_t i = 0;
    for (const AutomationArgument& a : arguments) {
      RuntimeValue slot = a.m_value;
      if (a.m_text != nullptr) {
        m_owners.push_back({a.m_text, i});
        m_lent[i] = a.m_text->Release();
        slot.SetPointer(&m_lent[i]);
      }
      m_slots.push_back(slot);
      ++i;
    }
  }
  AutomationCall(const AutomationCall&) = delete;
  AutomationCall& operator=(const AutomationCall&) = delete;
  ~AutomationCall() {
    for (const Owner& o : m_owners) o.text->Reset(m_lent[o.index]);
  }

  RuntimeValue Run(Command c) { return Call(c, m_slots); }

 private:
  struct Owner {
    OwnedText* text;
    size_t index;
  };
  std::vector<RuntimeValue> m_slots;
  std::vector<char*> m_lent;
  std::vector<Owner> m_owners;
};

RuntimeValue ObjectValue(const OwnedObject& object) {
  return RuntimeValue::OfPointer(type::Object, object.get() ? object.get() : &g_emptyObject);
}
RuntimeValue VariantValue(const OwnedVariantHolder& variant) {
  return RuntimeValue::OfPointer(type::Variant, variant.get() ? variant.get() : &g_emptyVariant);
}

AutomationArgument ByAddress(OwnedText& variable) {
  // The slot's address is filled in by the call, which lends the text block to it.
  return AutomationArgument(RuntimeValue::OfPointer(type::Text | AddressFlag, nullptr), &variable);
}
AutomationArgument ByAddress(int32_t& variable) { return RuntimeValue::OfPointer(type::Int | AddressFlag, &variable); }
AutomationArgument ByAddress(double& variable) {
  return RuntimeValue::OfPointer(type::Double | AddressFlag, &variable);
}
AutomationArgument ByAddress(OwnedObject& variable) {
  return RuntimeValue::OfPointer(type::Object | AddressFlag, variable.Address());
}
AutomationArgument ByAddress(OwnedVariantHolder& variable) {
  return RuntimeValue::OfPointer(type::Variant | AddressFlag, variable.Address());
}

bool ObjectCreate(OwnedObject& object, const char* progId, std::optional<const char*> typeLibrary) {
  std::vector<RuntimeValue> slots = {RuntimeValue::OfPointer(type::Object, object.Holder()), TextValue(progId)};
  if (typeLibrary) slots.push_back(TextValue(*typeLibrary));
  return Call(Command::ObjectCreate, slots).low != 0;
}

OwnedText ObjectGetText(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return OwnedText::Adopt(static_cast<char*>(call.Run(Command::ObjectGetText).Pointer()));
}
double ObjectGetNumber(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return call.Run(Command::ObjectGetNumber).Double();
}
OwnedObject ObjectGetObject(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return OwnedObject::Adopt(static_cast<ObjectHolder*>(call.Run(Command::ObjectGetObject).Pointer()));
}
OwnedVariantHolder ObjectGetVariant(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return OwnedVariantHolder::Adopt(static_cast<VariantHolder*>(call.Run(Command::ObjectGetVariant).Pointer()));
}

void ObjectCall(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  call.Run(Command::ObjectCall);
}
OwnedText ObjectCallText(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return OwnedText::Adopt(static_cast<char*>(call.Run(Command::ObjectCallText).Pointer()));
}
double ObjectCallNumber(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return call.Run(Command::ObjectCallNumber).Double();
}
bool ObjectCallBool(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return call.Run(Command::ObjectCallBool).low != 0;
}
OwnedObject ObjectCallObject(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return OwnedObject::Adopt(static_cast<ObjectHolder*>(call.Run(Command::ObjectCallObject).Pointer()));
}

bool ObjectSetProperty(const OwnedObject& object, const char* name, AutomationArguments arguments) {
  AutomationCall call(object, name, arguments);
  return call.Run(Command::ObjectSetProperty).low != 0;
}

void ObjectAssign(OwnedObject& target, const OwnedObject& source) {
  if (&target == &source) return;
  // The command overwrites the holder without releasing it, so it gets an empty one.
  ObjectRelease(target);
  std::vector<RuntimeValue> slots = {RuntimeValue::OfPointer(type::Object, target.Holder()), ObjectValue(source)};
  Call(Command::ObjectAssign, slots);
}

void ObjectRelease(OwnedObject& object) {
  if (object.get() == nullptr) return;
  std::vector<RuntimeValue> slots = {ObjectValue(object)};
  Call(Command::ObjectRelease, slots);
}

bool ObjectIsEmpty(const OwnedObject& object) {
  std::vector<RuntimeValue> slots = {ObjectValue(object)};
  return Call(Command::ObjectIsEmpty, slots).low != 0;
}

void VariantAssign(OwnedVariantHolder& target, const OwnedVariantHolder& source) {
  if (&target == &source) return;
  // The command zeroes the target without clearing it, so what it holds is cleared first.
  VariantReset(target);
  std::vector<RuntimeValue> slots = {RuntimeValue::OfPointer(type::Variant, target.Holder()), VariantValue(source)};
  Call(Command::VariantAssign, slots);
}

void VariantReset(OwnedVariantHolder& variant) {
  if (variant.get() == nullptr) return;
  std::vector<RuntimeValue> slots = {VariantValue(variant)};
  Call(Command::VariantReset, slots);
}

OwnedText VariantToText(const OwnedVariantHolder& variant, std::optional<int32_t> index) {
  std::vector<RuntimeValue> slots = {VariantValue(variant)};
  if (index) slots.push_back(IntValue(*index));
  return OwnedText::Adopt(static_cast<char*>(Call(Command::VariantToText, slots).Pointer()));
}

bool VariantSetValue(OwnedVariantHolder& variant, const RuntimeValue& value, std::optional<int32_t> index) {
  std::vector<RuntimeValue> slots = {RuntimeValue::OfPointer(type::Variant, variant.Holder()), value};
  if (index) slots.push_back(IntValue(*index));
  return Call(Command::VariantSetValue, slots).low != 0;
}

}  // namespace qv::cmd
