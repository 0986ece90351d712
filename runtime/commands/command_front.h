// The typed front over the core commands. Application code calls these instead of filling value
// slots by hand; each call builds the argument slots, goes through CallCommand with the command's
// CoreCommandTable entry and takes ownership of the result. Text arguments are borrowed GBK texts
// (null reads as the empty text); byte-set arguments are borrowed views.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/memory/owned.h"
#include "runtime/memory/values.h"

namespace qv::cmd {

// Slot builders for the values the commands take.
RuntimeValue TextValue(const char* text);
RuntimeValue ByteSetValue(ByteSetView set);
RuntimeValue IntValue(int32_t v);
RuntimeValue Int64Value(int64_t v);
RuntimeValue FloatValue(float v);
RuntimeValue DoubleValue(double v);
RuntimeValue BoolValue(bool v);
RuntimeValue DateTimeValue(double date);
// An array argument: the element type with the address flag, the block as the value.
RuntimeValue ArrayValue(TypeCode elementType, const void* block);

int32_t TextLength(const char* text);
OwnedText TextLeft(const char* text, int32_t n);
OwnedText TextRight(const char* text, int32_t n);
OwnedText TextMiddle(const char* text, int32_t start, int32_t n);
bool TextBeginsWith(const char* text, const char* prefix);
// 1-based position of sought, or -1. ignoreCase folds ASCII letters only.
int32_t FindText(const char* text, const char* sought, std::optional<int32_t> start = {},
                 std::optional<bool> ignoreCase = {});
int32_t FindTextReverse(const char* text, const char* sought, std::optional<int32_t> start = {},
                        std::optional<bool> ignoreCase = {});
OwnedText ReplaceSubtext(const char* text, const char* sought, std::optional<const char*> replacement,
                         std::optional<int32_t> start, std::optional<int32_t> count, bool caseSensitive);
// A one-dimensional array of texts.
OwnedArray SplitText(const char* text, std::optional<const char*> separator = {},
                     std::optional<int32_t> maxParts = {});
OwnedText TrimSpaces(const char* text);
OwnedText ToUpper(const char* text);
// Negative, 0 or positive in code page order.
int32_t CompareText(const char* a, const char* b, bool caseSensitive);
int32_t CharCode(const char* text, std::optional<int32_t> position = {});
OwnedText CharFromCode(int32_t code);
OwnedText SpaceText(int32_t n);

OwnedText ToText(const RuntimeValue& value);
OwnedText ToText(int32_t v);
OwnedText ToText(int64_t v);
OwnedText ToText(float v);
OwnedText ToText(double v);
OwnedText ToText(bool v);
OwnedText ToText(const char* text);
OwnedText ToText(ByteSetView set);
OwnedText ToHexText(int32_t v);

int32_t ToInteger(const RuntimeValue& value);
int32_t ToInteger(const char* text);
int32_t ToInteger(double v);

OwnedByteSet ToByteSet(const RuntimeValue& value);
OwnedByteSet ToByteSet(const char* text);
OwnedByteSet ToByteSet(int32_t v);
OwnedByteSet ToByteSet(double v);

int32_t ByteSetLength(ByteSetView set);
OwnedByteSet ByteSetLeft(ByteSetView set, int32_t n);
OwnedByteSet ByteSetMiddle(ByteSetView set, int32_t start, int32_t n);
OwnedByteSet ZeroByteSet(int32_t n);
OwnedByteSet PointerToByteSet(const void* address, int32_t n);

// Reads the value of type typeNumber (1 Byte ... 10 Text) at position (1-based; from the start
// when omitted). The result's type code names what was read; a Text result's block belongs to the
// caller (adopt it into an OwnedText). A type number outside 1..10 is a runtime error.
RuntimeValue ReadByteSetData(ByteSetView set, int32_t typeNumber, std::optional<int32_t> position = {});
// The same with the position as a variable: it is moved past the data read, and set to -1 once the
// end of the byte set is reached.
RuntimeValue ReadByteSetData(ByteSetView set, int32_t typeNumber, int32_t* positionVariable);

void ProcessEvents();

}  // namespace qv::cmd
