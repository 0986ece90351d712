// Automation objects: the 18 Object* and Variant* commands of the core library, the late-bound call
// routine behind them (InvokeByName) and the calling thread's last automation error.
//
// Every member is bound by name through the object's type information. Failures never raise a
// runtime error: the command gives the empty value of its result type and leaves a code in
// AutomationError().
#pragma once

#include <cstdint>

#include "runtime/memory/values.h"

namespace qv {

// The codes AutomationError() can hold; InvokeByName writes one at the end of every call.
namespace automation_error {
inline constexpr int32_t Success = 0;
inline constexpr int32_t EmptyObject = -1;
inline constexpr int32_t NoDispatch = -2;
inline constexpr int32_t MemberNotFound = -3;     // unknown name, or nothing callable under it
inline constexpr int32_t NoTypeInformation = -4;  // GetTypeInfo or GetTypeComp failed
inline constexpr int32_t TooManyArguments = -5;
inline constexpr int32_t BadArgumentType = -7;    // an argument that cannot become a VARIANT
inline constexpr int32_t ResultConversion = -8;
inline constexpr int32_t BadParamCount = -9;      // the DISP_E_ codes Invoke returned
inline constexpr int32_t BadVarType = -10;
inline constexpr int32_t Exception = -11;
inline constexpr int32_t DispMemberNotFound = -12;
inline constexpr int32_t NoNamedArgs = -13;
inline constexpr int32_t Overflow = -14;
inline constexpr int32_t ParamNotFound = -15;
inline constexpr int32_t TypeMismatch = -16;
inline constexpr int32_t ParamNotOptional = -17;
inline constexpr int32_t InvokeFailed = -18;      // any other failure of Invoke
}  // namespace automation_error

// The outcome of the calling thread's last get, call or put command (0 before any).
int32_t AutomationError();

// Installs the automation entries into CoreCommandTable and the object holder release into the
// runtime service. Safe to call more than once.
void RegisterAutomationCommands();
// Registers the built-in automation classes (VBScript.RegExp, MSScriptControl.ScriptControl,
// Adodb.Stream) in the class registry, once per process.
void RegisterAutomationClasses();

// How InvokeByName binds the member name: the invoke kinds it tries, in order.
enum class BindingKind {
  Get,   // property get, method
  Call,  // method, property get, property put, property put-by-reference
  Put,   // property put, property put-by-reference, method
};

// The call routine behind every get, call and put command. arguments[0] is the object,
// arguments[1] the member name, the rest the member's arguments. result->type names the wanted
// result type (0 for none); on failure the result is the empty value of that type. Sets
// AutomationError().
void InvokeByName(RuntimeValue* result, int32_t argumentCount, const RuntimeValue* arguments, BindingKind kind);

// The command entries, in CoreCommandTable order.
namespace automation_commands {
#define QV_AUTOMATION_COMMAND(name) void name(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments);
QV_AUTOMATION_COMMAND(ObjectCreate)
QV_AUTOMATION_COMMAND(ObjectGetText)
QV_AUTOMATION_COMMAND(ObjectGetNumber)
QV_AUTOMATION_COMMAND(ObjectGetObject)
QV_AUTOMATION_COMMAND(ObjectGetVariant)
QV_AUTOMATION_COMMAND(ObjectCall)
QV_AUTOMATION_COMMAND(ObjectCallText)
QV_AUTOMATION_COMMAND(ObjectCallNumber)
QV_AUTOMATION_COMMAND(ObjectCallBool)
QV_AUTOMATION_COMMAND(ObjectCallObject)
QV_AUTOMATION_COMMAND(ObjectSetProperty)
QV_AUTOMATION_COMMAND(ObjectAssign)
QV_AUTOMATION_COMMAND(ObjectRelease)
QV_AUTOMATION_COMMAND(ObjectIsEmpty)
QV_AUTOMATION_COMMAND(VariantAssign)
QV_AUTOMATION_COMMAND(VariantReset)
QV_AUTOMATION_COMMAND(VariantToText)
QV_AUTOMATION_COMMAND(VariantSetValue)
#undef QV_AUTOMATION_COMMAND
}  // namespace automation_commands

}  // namespace qv
