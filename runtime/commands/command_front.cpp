#include "runtime/commands/command_front.h"

#include <initializer_list>
#include <iterator>

#include "runtime/commands/commands.h"

namespace qv::cmd {
namespace {

// The shared empty forms that stand in for null arguments, as the program's static data holds them.
const char kEmptyText[1] = {'\0'};
const int32_t kEmptyByteSet[2] = {1, 0};

// Calls the command with the argument slots in order. The slots are copied into one contiguous
// block, since the commands read argument k at 12 * k bytes from the first.
RuntimeValue Call(Command c, std::initializer_list<RuntimeValue> arguments) {
  RuntimeValue slots[8];
  int32_t count = 0;
  for (const RuntimeValue& a : arguments)
    if (count < static_cast<int32_t>(std::size(slots))) slots[count++] = a;
  return CallCommand(c, count, slots);
}

RuntimeValue OptionalInt(std::optional<int32_t> v) { return v ? IntValue(*v) : RuntimeValue{}; }
RuntimeValue OptionalBool(std::optional<bool> v) { return v ? BoolValue(*v) : RuntimeValue{}; }
RuntimeValue OptionalText(std::optional<const char*> v) { return v ? TextValue(*v) : RuntimeValue{}; }

OwnedText TextResult(const RuntimeValue& r) { return OwnedText::Adopt(static_cast<char*>(r.Pointer())); }
OwnedByteSet ByteSetResult(const RuntimeValue& r) { return OwnedByteSet::Adopt(r.Pointer()); }

}  // namespace

RuntimeValue TextValue(const char* text) { return RuntimeValue::OfPointer(type::Text, text ? text : kEmptyText); }
RuntimeValue ByteSetValue(ByteSetView set) {
  return RuntimeValue::OfPointer(type::ByteSet, set.block ? set.block : kEmptyByteSet);
}
RuntimeValue IntValue(int32_t v) { return RuntimeValue::Of(type::Int, v); }
RuntimeValue Int64Value(int64_t v) {
  RuntimeValue r;
  r.SetInt64(v);
  r.type = type::Int64;
  return r;
}
RuntimeValue FloatValue(float v) {
  RuntimeValue r;
  r.SetFloat(v);
  r.type = type::Float;
  return r;
}
RuntimeValue DoubleValue(double v) {
  RuntimeValue r;
  r.SetDouble(v);
  r.type = type::Double;
  return r;
}
RuntimeValue BoolValue(bool v) { return RuntimeValue::Of(type::Bool, v ? 1 : 0); }
RuntimeValue DateTimeValue(double date) {
  RuntimeValue r = DoubleValue(date);
  r.type = type::DateTime;
  return r;
}
RuntimeValue ArrayValue(TypeCode elementType, const void* block) {
  return RuntimeValue::OfPointer(BaseType(elementType) | AddressFlag, block);
}

int32_t TextLength(const char* text) { return Call(Command::TextLength, {TextValue(text)}).Int32(); }
OwnedText TextLeft(const char* text, int32_t n) {
  return TextResult(Call(Command::TextLeft, {TextValue(text), IntValue(n)}));
}
OwnedText TextRight(const char* text, int32_t n) {
  return TextResult(Call(Command::TextRight, {TextValue(text), IntValue(n)}));
}
OwnedText TextMiddle(const char* text, int32_t start, int32_t n) {
  return TextResult(Call(Command::TextMiddle, {TextValue(text), IntValue(start), IntValue(n)}));
}
bool TextBeginsWith(const char* text, const char* prefix) {
  return Call(Command::TextBeginsWith, {TextValue(text), TextValue(prefix)}).low != 0;
}
int32_t FindText(const char* text, const char* sought, std::optional<int32_t> start,
                 std::optional<bool> ignoreCase) {
  return Call(Command::FindText, {TextValue(text), TextValue(sought), OptionalInt(start), OptionalBool(ignoreCase)})
      .Int32();
}
int32_t FindTextReverse(const char* text, const char* sought, std::optional<int32_t> start,
                        std::optional<bool> ignoreCase) {
  return Call(Command::FindTextReverse,
              {TextValue(text), TextValue(sought), OptionalInt(start), OptionalBool(ignoreCase)})
      .Int32();
}
OwnedText ReplaceSubtext(const char* text, const char* sought, std::optional<const char*> replacement,
                         std::optional<int32_t> start, std::optional<int32_t> count, bool caseSensitive) {
  return TextResult(Call(Command::ReplaceSubtext, {TextValue(text), TextValue(sought), OptionalText(replacement),
                                                   OptionalInt(start), OptionalInt(count), BoolValue(caseSensitive)}));
}
OwnedArray SplitText(const char* text, std::optional<const char*> separator, std::optional<int32_t> maxParts) {
  const RuntimeValue r =
      Call(Command::SplitText, {TextValue(text), OptionalText(separator), OptionalInt(maxParts)});
  return OwnedArray::Adopt(type::Text, r.Pointer());
}
OwnedText TrimSpaces(const char* text) { return TextResult(Call(Command::TrimSpaces, {TextValue(text)})); }
OwnedText ToUpper(const char* text) { return TextResult(Call(Command::ToUpper, {TextValue(text)})); }
int32_t CompareText(const char* a, const char* b, bool caseSensitive) {
  return Call(Command::CompareText, {TextValue(a), TextValue(b), BoolValue(caseSensitive)}).Int32();
}
int32_t CharCode(const char* text, std::optional<int32_t> position) {
  return Call(Command::CharCode, {TextValue(text), OptionalInt(position)}).Int32();
}
OwnedText CharFromCode(int32_t code) { return TextResult(Call(Command::CharFromCode, {IntValue(code)})); }
OwnedText SpaceText(int32_t n) { return TextResult(Call(Command::SpaceText, {IntValue(n)})); }

OwnedText ToText(const RuntimeValue& value) { return TextResult(Call(Command::ToText, {value})); }
OwnedText ToText(int32_t v) { return ToText(IntValue(v)); }
OwnedText ToText(int64_t v) { return ToText(Int64Value(v)); }
OwnedText ToText(float v) { return ToText(FloatValue(v)); }
OwnedText ToText(double v) { return ToText(DoubleValue(v)); }
OwnedText ToText(bool v) { return ToText(BoolValue(v)); }
OwnedText ToText(const char* text) { return ToText(TextValue(text)); }
OwnedText ToText(ByteSetView set) { return ToText(ByteSetValue(set)); }
OwnedText ToHexText(int32_t v) { return TextResult(Call(Command::ToHexText, {IntValue(v)})); }

int32_t ToInteger(const RuntimeValue& value) { return Call(Command::ToInteger, {value}).Int32(); }
int32_t ToInteger(const char* text) { return ToInteger(TextValue(text)); }
int32_t ToInteger(double v) { return ToInteger(DoubleValue(v)); }

OwnedByteSet ToByteSet(const RuntimeValue& value) { return ByteSetResult(Call(Command::ToByteSet, {value})); }
OwnedByteSet ToByteSet(const char* text) { return ToByteSet(TextValue(text)); }
OwnedByteSet ToByteSet(int32_t v) { return ToByteSet(IntValue(v)); }
OwnedByteSet ToByteSet(double v) { return ToByteSet(DoubleValue(v)); }

int32_t ByteSetLength(ByteSetView set) { return Call(Command::ByteSetLength, {ByteSetValue(set)}).Int32(); }
OwnedByteSet ByteSetLeft(ByteSetView set, int32_t n) {
  return ByteSetResult(Call(Command::ByteSetLeft, {ByteSetValue(set), IntValue(n)}));
}
OwnedByteSet ByteSetMiddle(ByteSetView set, int32_t start, int32_t n) {
  return ByteSetResult(Call(Command::ByteSetMiddle, {ByteSetValue(set), IntValue(start), IntValue(n)}));
}
OwnedByteSet ZeroByteSet(int32_t n) { return ByteSetResult(Call(Command::ZeroByteSet, {IntValue(n)})); }
OwnedByteSet PointerToByteSet(const void* address, int32_t n) {
  return ByteSetResult(Call(Command::PointerToByteSet, {RuntimeValue::OfPointer(type::Int, address), IntValue(n)}));
}

RuntimeValue ReadByteSetData(ByteSetView set, int32_t typeNumber, std::optional<int32_t> position) {
  return Call(Command::ReadByteSetData, {ByteSetValue(set), IntValue(typeNumber), OptionalInt(position)});
}
RuntimeValue ReadByteSetData(ByteSetView set, int32_t typeNumber, int32_t* positionVariable) {
  return Call(Command::ReadByteSetData, {ByteSetValue(set), IntValue(typeNumber),
                                         RuntimeValue::OfPointer(type::Int | AddressFlag, positionVariable)});
}

void ProcessEvents() { Call(Command::ProcessEvents, {}); }

}  // namespace qv::cmd
