// The command library: the dispatcher, the table of core commands and the runtime service entry
// through which the library reaches the runtime.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/memory/values.h"

namespace qv {

// A command receives its zeroed result slot, the argument count and the first argument slot
// (argument k lies 12 * k bytes after it).
using CommandEntry = void (*)(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments);

// Calls a command with a fresh zeroed result slot and hands the slot back. The argument slots
// belong to the caller; by-address arguments may be written through.
RuntimeValue CallCommand(CommandEntry entry, int32_t argumentCount, RuntimeValue* arguments);

// Indices into CoreCommandTable, in table order.
enum class Command : int {
  TextLength,
  TextLeft,
  TextRight,
  TextMiddle,
  TextBeginsWith,
  FindText,
  FindTextReverse,
  ReplaceSubtext,
  SplitText,
  TrimSpaces,
  ToUpper,
  CompareText,
  CharCode,
  CharFromCode,
  SpaceText,
  ToText,
  ToHexText,
  ToInteger,
  ToByteSet,
  ByteSetLength,
  ByteSetLeft,
  ByteSetMiddle,
  ZeroByteSet,
  PointerToByteSet,
  ReadByteSetData,
  ProcessEvents,
  // Automation commands.
  ObjectCreate,
  ObjectGetText,
  ObjectGetNumber,
  ObjectGetObject,
  ObjectGetVariant,
  ObjectCall,
  ObjectCallText,
  ObjectCallNumber,
  ObjectCallBool,
  ObjectCallObject,
  ObjectSetProperty,
  ObjectAssign,
  ObjectRelease,
  ObjectIsEmpty,
  VariantAssign,
  VariantReset,
  VariantToText,
  VariantSetValue,
  Count
};
inline constexpr int kCommandCount = static_cast<int>(Command::Count);
static_assert(kCommandCount == 44);

// The entry addresses of the library's commands, indexed by Command. Automation entries are
// installed by the automation support (RegisterAutomationCommands) and are null until then.
extern CommandEntry CoreCommandTable[kCommandCount];
inline CommandEntry CommandEntryOf(Command c) { return CoreCommandTable[static_cast<int>(c)]; }
RuntimeValue CallCommand(Command c, int32_t argumentCount, RuntimeValue* arguments);

// The runtime's service entry for the command library: 32-bit codes, pointer-wide arguments.
using ServiceEntry = intptr_t (*)(int32_t code, intptr_t argument1, intptr_t argument2);
namespace service {
inline constexpr int32_t DescribeType = 1002;
inline constexpr int32_t ProcessMessages = 2018;
inline constexpr int32_t FreeArray = 2023;
inline constexpr int32_t Allocate = 2024;
inline constexpr int32_t Free = 2025;
inline constexpr int32_t Reallocate = 2026;
inline constexpr int32_t RaiseErrorText = 2027;
inline constexpr int32_t EndProcess = 2028;
inline constexpr int32_t ReleaseObjectHolder = 2035;
}  // namespace service
intptr_t RuntimeService(int32_t code, intptr_t argument1, intptr_t argument2);

// Notification codes the runtime sends to a command library.
namespace notify {
inline constexpr int32_t Initialise = 1;
inline constexpr int32_t ShutDown = 6;
}  // namespace notify
using LibraryNotification = intptr_t (*)(int32_t code, intptr_t argument1, intptr_t argument2);

// The static record that describes a command library.
struct CommandLibraryDescriptor {
  const char* identifier;  // 32 hex digits
  int32_t majorVersion;
  int32_t minorVersion;
  const char* displayName;
  int32_t commandCount;
  CommandEntry* commands;
  const TypeCode* dataTypes;
  int32_t dataTypeCount;
  LibraryNotification notification;
};
const CommandLibraryDescriptor& CoreCommandLibrary();
// The service entry the core library received with its initialise notification, or null.
ServiceEntry CoreLibraryServiceEntry();

}  // namespace qv
