// The typed front over the automation commands. Each call builds the argument slots, goes through
// CallCommand with the command's CoreCommandTable entry and takes ownership of the result, so that
// code driving an automation object reads like the routine it implements:
//
//   OwnedObject regex;
//   cmd::ObjectCreate(regex, "VBScript.RegExp");
//   cmd::ObjectSetProperty(regex, "Pattern", cmd::TextValue("a+"));
//   OwnedObject matches = cmd::ObjectCallObject(regex, "Execute", cmd::TextValue(subject));
//   const double count = cmd::ObjectGetNumber(matches, "Count");
//
// Member arguments are value slots from the builders of command_front.h (TextValue, IntValue,
// BoolValue, DoubleValue, ...) or from the ones below; Omitted() leaves an argument out and
// ByAddress(variable) passes a variable by reference, so that an output parameter is written back
// into it. Failures give the empty result; AutomationError() tells why.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "runtime/automation/automation.h"
#include "runtime/commands/command_front.h"
#include "runtime/automation/holders.h"
#include "runtime/memory/owned.h"
#include "runtime/memory/values.h"

namespace qv::cmd {

// One argument of a member call: a value slot, or a variable passed by address.
class AutomationArgument {
 public:
  AutomationArgument(const RuntimeValue& value) : m_value(value) {}

 private:
  friend class AutomationCall;
  friend AutomationArgument ByAddress(OwnedText& variable);
  AutomationArgument(const RuntimeValue& value, OwnedText* text) : m_value(value), m_text(text) {}

  RuntimeValue m_value;
  OwnedText* m_text = nullptr;  // a text variable, lent to the call and taken back after it
};

// Slot builders for automation values. The holders are borrowed for the call.
RuntimeValue ObjectValue(const OwnedObject& object);
RuntimeValue VariantValue(const OwnedVariantHolder& variant);
// An optional argument left out.
inline RuntimeValue Omitted() { return RuntimeValue{}; }

// Variables passed by address.
AutomationArgument ByAddress(OwnedText& variable);
AutomationArgument ByAddress(int32_t& variable);
AutomationArgument ByAddress(double& variable);
AutomationArgument ByAddress(OwnedObject& variable);
AutomationArgument ByAddress(OwnedVariantHolder& variable);

using AutomationArguments = std::initializer_list<AutomationArgument>;

// Creates the object named by a ProgID or a "{CLSID}" text and stores it in object, releasing what
// it held. False, with object unchanged, when it cannot be created.
bool ObjectCreate(OwnedObject& object, const char* progId, std::optional<const char*> typeLibrary = {});

// Property get, then method.
OwnedText ObjectGetText(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
double ObjectGetNumber(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
OwnedObject ObjectGetObject(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
OwnedVariantHolder ObjectGetVariant(const OwnedObject& object, const char* name, AutomationArguments arguments = {});

// Method, property get, property put, property put-by-reference.
void ObjectCall(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
OwnedText ObjectCallText(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
double ObjectCallNumber(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
bool ObjectCallBool(const OwnedObject& object, const char* name, AutomationArguments arguments = {});
OwnedObject ObjectCallObject(const OwnedObject& object, const char* name, AutomationArguments arguments = {});

// Property put, property put-by-reference, method; the last argument is the value. True when the
// call succeeded.
bool ObjectSetProperty(const OwnedObject& object, const char* name, AutomationArguments arguments);
inline bool ObjectSetProperty(const OwnedObject& object, const char* name, const AutomationArgument& value) {
  return ObjectSetProperty(object, name, AutomationArguments{value});
}

// target refers to the same object as source afterwards; what target held is released first.
void ObjectAssign(OwnedObject& target, const OwnedObject& source);
// Releases the object; the variable stays, empty.
void ObjectRelease(OwnedObject& object);
bool ObjectIsEmpty(const OwnedObject& object);

// target becomes a copy of source; what target held is cleared first.
void VariantAssign(OwnedVariantHolder& target, const OwnedVariantHolder& source);
void VariantReset(OwnedVariantHolder& variant);
// The variant as text; for an array variant, the element at the 1-based flat index.
OwnedText VariantToText(const OwnedVariantHolder& variant, std::optional<int32_t> index = {});
// Stores value in the variant (a byte set or an array becomes a SAFEARRAY with lower bound 1), or
// in the element at the 1-based flat index of the array it holds.
bool VariantSetValue(OwnedVariantHolder& variant, const RuntimeValue& value, std::optional<int32_t> index = {});

}  // namespace qv::cmd
