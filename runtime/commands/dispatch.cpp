// The command dispatcher, the table of core command entries, the runtime's service entry for the
// command library and the core library's descriptor.
#include "runtime/commands/dispatch.h"

#include <limits>

#include "platform/ui/ui.h"
#include "runtime/commands/command_args.h"
#include "runtime/commands/commands.h"
#include "runtime/errors.h"
#include "runtime/memory/memory.h"
#include "runtime/startup.h"

namespace qv {
namespace {

ObjectHolderReleaser g_objectHolderReleaser = nullptr;
ServiceEntry g_coreServiceEntry = nullptr;

// Sizes arrive pointer-wide; a size that no int32 can hold is handed on as -1, which the memory
// entries report as a failed allocation.
int32_t BlockSize(intptr_t n) {
  return n >= 0 && n <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(n) : -1;
}

intptr_t CoreLibraryNotification(int32_t code, intptr_t argument1, intptr_t argument2) {
  if (code == notify::Initialise) g_coreServiceEntry = reinterpret_cast<ServiceEntry>(argument1);
  else if (code == notify::ShutDown) g_coreServiceEntry = nullptr;
  return 0;
}

const TypeCode kCoreDataTypes[] = {type::Object, type::Variant};

}  // namespace

// The core entries in Command order; the automation entries stay null until the automation support
// registers them.
CommandEntry CoreCommandTable[kCommandCount] = {
    core_commands::TextLength,     core_commands::TextLeft,         core_commands::TextRight,
    core_commands::TextMiddle,     core_commands::TextBeginsWith,   core_commands::FindText,
    core_commands::FindTextReverse, core_commands::ReplaceSubtext,  core_commands::SplitText,
    core_commands::TrimSpaces,     core_commands::ToUpper,          core_commands::CompareText,
    core_commands::CharCode,       core_commands::CharFromCode,     core_commands::SpaceText,
    core_commands::ToText,         core_commands::ToHexText,        core_commands::ToInteger,
    core_commands::ToByteSet,      core_commands::ByteSetLength,    core_commands::ByteSetLeft,
    core_commands::ByteSetMiddle,  core_commands::ZeroByteSet,      core_commands::PointerToByteSet,
    core_commands::ReadByteSetData, core_commands::ProcessEvents,
};
static_assert(static_cast<int>(Command::ProcessEvents) == 25 && static_cast<int>(Command::ObjectCreate) == 26,
              "the core entries above are listed in Command order");

RuntimeValue CallCommand(CommandEntry entry, int32_t argumentCount, RuntimeValue* arguments) {
  RuntimeValue result{};
  if (entry != nullptr) entry(&result, argumentCount, arguments);
  return result;
}

RuntimeValue CallCommand(Command c, int32_t argumentCount, RuntimeValue* arguments) {
  const int index = static_cast<int>(c);
  if (index < 0 || index >= kCommandCount) return RuntimeValue{};
  return CallCommand(CoreCommandTable[index], argumentCount, arguments);
}

void SetObjectHolderReleaser(ObjectHolderReleaser releaser) { g_objectHolderReleaser = releaser; }

intptr_t RuntimeService(int32_t code, intptr_t argument1, intptr_t argument2) {
  switch (code) {
    case service::DescribeType: {
      // The commands only ask whether a library-defined type holds an automation object.
      const auto t = static_cast<TypeCode>(argument1);
      return BaseType(t) == type::Object || BaseType(t) == type::Variant ? 1 : 0;
    }
    case service::ProcessMessages:
      win::ProcessPendingMessages();
      return 0;
    case service::FreeArray:
      FreeArray(static_cast<TypeCode>(argument1), reinterpret_cast<void*>(argument2));
      return 0;
    case service::Allocate:
      // With argument 2 set the caller handles a failure itself: it gets 0 instead of the report.
      if (argument2 != 0) return reinterpret_cast<intptr_t>(RuntimeAllocOrNull(BlockSize(argument1)));
      return reinterpret_cast<intptr_t>(RuntimeAlloc(BlockSize(argument1)));
    case service::Free:
      RuntimeFree(reinterpret_cast<void*>(argument1));
      return 0;
    case service::Reallocate:
      return reinterpret_cast<intptr_t>(RuntimeRealloc(reinterpret_cast<void*>(argument1), BlockSize(argument2)));
    case service::RaiseErrorText: ReportRuntimeError(reinterpret_cast<const char*>(argument1), 0, 0, 0);
    case service::EndProcess: EndProgram(static_cast<int32_t>(argument1));
    case service::ReleaseObjectHolder:
      if (g_objectHolderReleaser != nullptr) g_objectHolderReleaser(reinterpret_cast<void*>(argument1));
      return 0;
    default: return 0;
  }
}

const CommandLibraryDescriptor& CoreCommandLibrary() {
  static const CommandLibraryDescriptor descriptor{
      "5A3C90E1B7D24F68A1C3E5079B2D4F61",
      1,
      0,
      "系统核心支持库",
      kCommandCount,
      CoreCommandTable,
      kCoreDataTypes,
      static_cast<int32_t>(std::size(kCoreDataTypes)),
      &CoreLibraryNotification,
  };
  return descriptor;
}

ServiceEntry CoreLibraryServiceEntry() { return g_coreServiceEntry; }

}  // namespace qv
