// What the core command files share: reading argument slots, writing result slots, and the entry
// points that the dispatcher puts into CoreCommandTable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "runtime/memory/memory.h"
#include "runtime/memory/owned.h"
#include "runtime/memory/values.h"

namespace qv::command_detail {

// Converts a floating value to int32 by truncation toward zero. A value that does not fit (or NaN)
// gives INT32_MIN, the "integer indefinite" result the x86 conversion instruction produces on the
// target machines, rather than undefined behaviour.
inline int32_t TruncateToInt32(double d) {
  if (!(d > -2147483649.0 && d < 2147483648.0)) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(d);
}

// The argument slots of one command call. Reading past the given count yields an omitted argument,
// so a caller that passes too few arguments gets the empty values instead of reading stray memory.
class Arguments {
 public:
  Arguments(int32_t count, const RuntimeValue* first) : m_count(first ? count : 0), m_first(first) {}

  const RuntimeValue& operator[](int i) const {
    static const RuntimeValue kOmitted{};
    return i >= 0 && i < m_count ? m_first[i] : kOmitted;
  }
  bool Present(int i) const { return (*this)[i].IsPresent(); }

  // A text argument; null (which callers are not supposed to pass) and omitted read as "".
  std::string_view Text(int i) const {
    const char* p = static_cast<const char*>((*this)[i].Pointer());
    return p ? std::string_view(p) : std::string_view();
  }
  // A byte set argument; null and omitted read as the empty byte set.
  ByteSetView ByteSet(int i) const { return {(*this)[i].Pointer()}; }

  // An integer argument. Integer slots carry the value in the low word; other numeric types are
  // converted the way an implicit conversion in the program would.
  int32_t Int(int i) const {
    const RuntimeValue& v = (*this)[i];
    switch (BaseType(v.type)) {
      case type::Byte: return static_cast<uint8_t>(v.low);
      case type::Short: return static_cast<int16_t>(v.low);
      case type::Float: return TruncateToInt32(v.Float());
      case type::Double: return TruncateToInt32(v.Double());
      default: return v.Int32();  // Int, Int64 (low word), Bool, omitted (0)
    }
  }
  // A Bool argument: any non-zero value word is true; an omitted flag reads as false.
  bool Flag(int i) const { return (*this)[i].low != 0; }

 private:
  int32_t m_count;
  const RuntimeValue* m_first;
};

// Hands a fresh text block to the result slot (null for an empty result).
inline void ReturnText(RuntimeValue* result, char* text) { result->SetPointer(text); }
inline void ReturnByteSet(RuntimeValue* result, void* byteSet) { result->SetPointer(byteSet); }
inline void ReturnInt(RuntimeValue* result, int32_t v) { result->SetInt32(v); }
inline void ReturnBool(RuntimeValue* result, bool v) { result->SetInt32(v ? 1 : 0); }

}  // namespace qv::command_detail

// The core command entries, in CoreCommandTable order.
namespace qv::core_commands {
#define QV_CORE_COMMAND(name) void name(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments);
QV_CORE_COMMAND(TextLength)
QV_CORE_COMMAND(TextLeft)
QV_CORE_COMMAND(TextRight)
QV_CORE_COMMAND(TextMiddle)
QV_CORE_COMMAND(TextBeginsWith)
QV_CORE_COMMAND(FindText)
QV_CORE_COMMAND(FindTextReverse)
QV_CORE_COMMAND(ReplaceSubtext)
QV_CORE_COMMAND(SplitText)
QV_CORE_COMMAND(TrimSpaces)
QV_CORE_COMMAND(ToUpper)
QV_CORE_COMMAND(CompareText)
QV_CORE_COMMAND(CharCode)
QV_CORE_COMMAND(CharFromCode)
QV_CORE_COMMAND(SpaceText)
QV_CORE_COMMAND(ToText)
QV_CORE_COMMAND(ToHexText)
QV_CORE_COMMAND(ToInteger)
QV_CORE_COMMAND(ToByteSet)
QV_CORE_COMMAND(ByteSetLength)
QV_CORE_COMMAND(ByteSetLeft)
QV_CORE_COMMAND(ByteSetMiddle)
QV_CORE_COMMAND(ZeroByteSet)
QV_CORE_COMMAND(PointerToByteSet)
QV_CORE_COMMAND(ReadByteSetData)
QV_CORE_COMMAND(ProcessEvents)
#undef QV_CORE_COMMAND
}  // namespace qv::core_commands
