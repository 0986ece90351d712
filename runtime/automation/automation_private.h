// What the automation files share: texts to and from UTF-16, runtime values to and from VARIANTs,
// and the flat element index of variant arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/com.h"
#include "runtime/automation/holders.h"
#include "runtime/memory/values.h"

namespace qv::automation_detail {

// Texts are converted with the system ANSI code page in both directions.
std::u16string AnsiToWide(std::string_view text);
// A BSTR holding the text; an empty text gives a zero-length BSTR. Null only when out of memory.
win::BSTR NewBstrFromAnsi(std::string_view text);
// A runtime text from UTF-16 (read up to its first NUL, as a text ends there); empty gives null.
char* NewTextFromWide(const char16_t* text, size_t length);

// A runtime argument's type with the address flag removed and library-defined types that the
// runtime reports as automation objects folded into Object.
TypeCode AutomationType(TypeCode t);

// The value of an argument: the slot itself, or, when it carries the address flag, the variable it
// points at, read with the width of its type. The result carries the type without the flag.
RuntimeValue LoadArgument(const RuntimeValue& argument);

// The holder an Object or Variant value points at (null when there is none).
inline ObjectHolder* ObjectHolderOf(const RuntimeValue& loaded) { return static_cast<ObjectHolder*>(loaded.Pointer()); }
inline VariantHolder* VariantHolderOf(const RuntimeValue& loaded) {
  return static_cast<VariantHolder*>(loaded.Pointer());
}
// The holder of a command's object or variant argument, passed as the holder or by address.
ObjectHolder* ObjectArgument(const RuntimeValue& argument);
VariantHolder* VariantArgument(const RuntimeValue& argument);

// How an Object value becomes a VARIANT.
enum class ObjectForm {
  Declared,  // by the declared parameter type: VT_UNKNOWN, VT_DISPATCH (any other: empty VT_UNKNOWN)
  Unknown,   // VT_UNKNOWN from a query for IUnknown
};

// Builds the VARIANT for a loaded runtime value (out starts uninitialised and is always left valid).
// declared is the parameter's type without VT_BYREF (VT_EMPTY when there is no declaration).
// False when the type has no VARIANT form.
bool MakeVariant(const RuntimeValue& loaded, win::VARTYPE declared, ObjectForm form, win::VARIANT* out);

// A one-dimensional SAFEARRAY with lower bound 1 from a byte set or a runtime array block (an
// array is flattened in memory order). Null when the element type has no VARIANT form or the array
// cannot be made or filled.
win::SAFEARRAY* MakeSafeArray(const RuntimeValue& loaded);
// Whether a loaded value is stored as a SAFEARRAY (a byte set, or an array block).
bool IsArrayValue(const RuntimeValue& argument);

// Converts a VARIANT into a fresh runtime value of type target (its block, if any, belongs to the
// caller). VT_RECORD is never accepted. False on failure, with out untouched.
bool ConvertResult(const win::VARIANT& source, TypeCode target, RuntimeValue* out);
// Writes a VARIANT into the runtime variable at address, of type target, replacing and freeing the
// variable's previous text, object or variant content. False (variable untouched) on failure.
bool WriteBack(const win::VARIANT& source, TypeCode target, void* address);
// The empty value of a result type: 0, null text, or a fresh empty holder.
RuntimeValue EmptyResult(TypeCode target);

// Where a by-reference VARIANT of v's type points: the value part of v, or all of v for a DECIMAL.
void* VariantValueAddress(win::VARIANT& v);

// The array a variant holds, directly or by reference; null when it holds none.
win::SAFEARRAY* ArrayOf(const win::VARIANT& v);
// Splits a 1-based flat element index into one index per dimension (the first dimension varying
// fastest, each offset by its lower bound). False when the index lies outside the array.
bool SplitFlatIndex(win::SAFEARRAY* array, int64_t flatIndex, win::LONG* indices);
// The element at indices as a VARIANT of the array's element type.
bool GetArrayElement(win::SAFEARRAY* array, const win::LONG* indices, win::VARIANT* out);
// Stores value (already of the array's element type, or any VARIANT for VT_VARIANT arrays).
bool PutArrayElement(win::SAFEARRAY* array, const win::LONG* indices, win::VARIANT* value);

// Converts any VARIANT to a text: a BSTR directly, anything else through a copy changed to VT_BSTR.
// Null for the empty text and on failure.
char* VariantText(const win::VARIANT& v);

}  // namespace qv::automation_detail
