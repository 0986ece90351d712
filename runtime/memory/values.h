// Runtime values: type codes, the 12-byte value slot and the block forms of texts, byte sets and
// arrays. Every command, the automation support and the component property access exchange values
// in exactly these forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv {

// A 32-bit type code. Basic types lie in 0x80000000..0xBFFFFFFF; numeric basic types are the ones
// whose lowest byte is 0x01. Library-defined types carry the library number in the high 16 bits.
using TypeCode = uint32_t;

namespace type {
inline constexpr TypeCode None = 0;  // an optional argument that was left out
inline constexpr TypeCode Byte = 0x80000101;
inline constexpr TypeCode Short = 0x80000201;
inline constexpr TypeCode Int = 0x80000301;
inline constexpr TypeCode Int64 = 0x80000401;
inline constexpr TypeCode Float = 0x80000501;
inline constexpr TypeCode Double = 0x80000601;
inline constexpr TypeCode Bool = 0x80000002;
inline constexpr TypeCode DateTime = 0x80000003;
inline constexpr TypeCode Text = 0x80000004;
inline constexpr TypeCode ByteSet = 0x80000005;
inline constexpr TypeCode SubroutinePointer = 0x80000006;
inline constexpr TypeCode Object = 0x00010030;
inline constexpr TypeCode Variant = 0x00010031;
}  // namespace type

// Bit 0x20000000 of a type code: the value word holds the address of the data (an array, or a
// variable passed by reference). Readers mask it off before they look at the type.
inline constexpr TypeCode AddressFlag = 0x20000000;

constexpr TypeCode BaseType(TypeCode t) { return t & ~AddressFlag; }
constexpr bool HasAddressFlag(TypeCode t) { return (t & AddressFlag) != 0; }
constexpr bool IsBasicType(TypeCode t) {
  TypeCode b = BaseType(t);
  return b >= 0x80000000u && b <= 0xBFFFFFFFu;
}
constexpr bool IsNumericType(TypeCode t) { return IsBasicType(t) && (BaseType(t) & 0xFF) == 0x01; }

// The valid range of a DateTime: 100-01-01 to 9999-12-31 as days since 1899-12-30.
inline constexpr double kMinDateTime = -657434.0;
inline constexpr double kMaxDateTime = 2958465.0;

// Width of one element of the type in an array or a byte set. Pointer-typed elements (texts,
// byte sets, objects, variants) take a full pointer on this platform. 0 for unknown types.
constexpr size_t ElementWidth(TypeCode t) {
  switch (BaseType(t)) {
    case type::Byte: return 1;
    case type::Short: return 2;
    case type::Int:
    case type::Float:
    case type::Bool:
    case type::SubroutinePointer: return 4;
    case type::Int64:
    case type::Double:
    case type::DateTime: return 8;
    case type::Text:
    case type::ByteSet:
    case type::Object:
    case type::Variant: return sizeof(void*);
    default: return 0;
  }
}

// The 12-byte slot in which arguments and results travel: value low word, value high word, type
// code. 8-byte values are split low word first; a pointer fills both value words.
struct RuntimeValue {
  uint32_t low = 0;
  uint32_t high = 0;
  TypeCode type = type::None;

  bool IsPresent() const { return type != type::None; }

  void* Pointer() const {
    return reinterpret_cast<void*>(static_cast<uintptr_t>((uint64_t{high} << 32) | low));
  }
  int32_t Int32() const { return static_cast<int32_t>(low); }
  int64_t Int64() const { return static_cast<int64_t>((uint64_t{high} << 32) | low); }
  float Float() const {
    float f;
    std::memcpy(&f, &low, 4);
    return f;
  }
  double Double() const {
    uint64_t bits = (uint64_t{high} << 32) | low;
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }

  void SetPointer(const void* p) { SetBits64(reinterpret_cast<uintptr_t>(p)); }
  void SetInt32(int32_t v) {
    low = static_cast<uint32_t>(v);
    high = 0;
  }
  void SetInt64(int64_t v) { SetBits64(static_cast<uint64_t>(v)); }
  void SetFloat(float f) {
    std::memcpy(&low, &f, 4);
    high = 0;
  }
  void SetDouble(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    SetBits64(bits);
  }
  void SetBits64(uint64_t bits) {
    low = static_cast<uint32_t>(bits);
    high = static_cast<uint32_t>(bits >> 32);
  }

  static RuntimeValue Of(TypeCode t, int32_t v) {
    RuntimeValue r;
    r.SetInt32(v);
    r.type = t;
    return r;
  }
  static RuntimeValue OfPointer(TypeCode t, const void* p) {
    RuntimeValue r;
    r.SetPointer(p);
    r.type = t;
    return r;
  }
};
static_assert(sizeof(RuntimeValue) == 12, "a value slot is three 32-bit words");

// Block layouts. Texts are NUL-terminated GBK bytes (null is the empty text). A byte set is int32 1,
// int32 n, then n bytes (null is the empty byte set). An array is int32 d, d int32 sizes, then the
// packed elements.
inline constexpr size_t kByteSetHeader = 8;

inline int32_t ReadInt32(const void* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void WriteInt32(void* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace qv
