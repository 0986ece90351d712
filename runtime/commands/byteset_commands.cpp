// The byte-set commands, reading typed data out of a byte set, and letting window messages run.
#include <algorithm>
#include <cstring>

#include "platform/ui/ui.h"
#include "runtime/commands/command_args.h"
#include "runtime/errors.h"

namespace qv::core_commands {
namespace {

using command_detail::Arguments;
using command_detail::ReturnByteSet;
using command_detail::ReturnInt;

// The types ReadByteSetData can take out, by their type number 1..10.
constexpr TypeCode kReadableTypes[] = {type::Byte,   type::Short, type::Int,      type::Int64,
                                       type::Float,  type::Double, type::Bool,    type::DateTime,
                                       type::SubroutinePointer, type::Text};

}  // namespace

void ByteSetLength(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReturnInt(result, static_cast<int32_t>(args.ByteSet(0).size()));
}

void ByteSetLeft(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const ByteSetView set = args.ByteSet(0);
  const int32_t n = args.Int(1);
  if (n <= 0) return;
  ReturnByteSet(result, NewByteSet(set.data(), std::min(set.size(), static_cast<size_t>(n))));
}

void ByteSetMiddle(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const ByteSetView set = args.ByteSet(0);
  const int64_t length = static_cast<int64_t>(set.size());
  const int64_t start = std::clamp<int64_t>(args.Int(1), 1, length + 1);
  const int64_t n = std::clamp<int64_t>(args.Int(2), 0, length - start + 1);
  if (n == 0) return;
  ReturnByteSet(result, NewByteSet(set.data() + (start - 1), static_cast<size_t>(n)));
}

void ZeroByteSet(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const int32_t n = args.Int(0);
  if (n <= 0) return;
  unsigned char* set = NewByteSetUninitialised(static_cast<size_t>(n));
  std::memset(ByteSetData(set), 0, static_cast<size_t>(n));
  ReturnByteSet(result, set);
}

void PointerToByteSet(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const void* address = args[0].Pointer();
  const int32_t n = args.Int(1);
  if (address == nullptr || n <= 0) return;
  ReturnByteSet(result, NewByteSet(address, static_cast<size_t>(n)));
}

void ReadByteSetData(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const ByteSetView set = args.ByteSet(0);
  const int32_t typeNumber = args.Int(1);
  if (typeNumber < 1 || typeNumber > static_cast<int32_t>(std::size(kReadableTypes)))
    ReportRuntimeError(error_text::kBadDataType, 0, 0, 0);
  const TypeCode target = kReadableTypes[typeNumber - 1];

  // The position is either a plain value or, passed by address, the program's int32 variable,
  // which is moved past the data read. A null address reads as an omitted position.
  const RuntimeValue& positionArgument = args[2];
  void* variable = HasAddressFlag(positionArgument.type) ? positionArgument.Pointer() : nullptr;
  int64_t position = 1;
  if (variable != nullptr) position = ReadInt32(variable);
  else if (positionArgument.IsPresent() && !HasAddressFlag(positionArgument.type)) position = args.Int(2);

  const int64_t length = static_cast<int64_t>(set.size());
  const int64_t offset = position - 1;
  const bool readable = position >= 1 && offset < length;
  // Fewer bytes than the type's width read as if zero bytes followed; nothing at all gives zero.
  const size_t consumed = readable ? StoreRawBytes(target, set.data() + offset, static_cast<size_t>(length - offset), result)
                                   : StoreRawBytes(target, nullptr, 0, result);
  if (variable != nullptr) {
    const int64_t next = offset + static_cast<int64_t>(consumed);
    WriteInt32(variable, readable && next < length ? static_cast<int32_t>(next + 1) : -1);
  }
}

void ProcessEvents(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  win::ProcessPendingMessages();
}

}  // namespace qv::core_commands
