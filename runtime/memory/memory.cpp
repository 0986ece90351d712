#include "runtime/memory/memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/heap/heap.h"
#include "runtime/errors.h"

namespace qv {
namespace {

struct StaticRegion {
  const unsigned char* start = nullptr;
  const unsigned char* end = nullptr;
};
StaticRegion g_static;

win::HANDLE Heap() {
  static const win::HANDLE heap = win::GetProcessHeap();
  return heap;
}

[[noreturn]] void AllocationFailed(int64_t n) {
  char message[64];
  std::snprintf(message, sizeof message, error_text::kAllocationFailed, static_cast<int>(n));
  ReportRuntimeError(message, 0, 0, 0);
}

// Internal allocations size their blocks with size_t; anything beyond the int32 range that the
// memory entries take cannot be had.
void* AllocBytes(size_t n) {
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max())) AllocationFailed(static_cast<int64_t>(n));
  return RuntimeAlloc(static_cast<int32_t>(n));
}

}  // namespace

void* RuntimeAlloc(int32_t n) {
  void* block = RuntimeAllocOrNull(n);
  if (block == nullptr) AllocationFailed(n);
  return block;
}

void* RuntimeAllocOrNull(int32_t n) {
  return n >= 0 ? win::HeapAlloc(Heap(), 0, static_cast<size_t>(n)) : nullptr;
}

void* RuntimeRealloc(void* p, int32_t n) {
  if (p == nullptr) return RuntimeAlloc(n);
  if (IsStaticData(p)) {
    void* block = RuntimeAlloc(n);
    const size_t available = static_cast<size_t>(g_static.end - static_cast<const unsigned char*>(p));
    std::memcpy(block, p, std::min(available, static_cast<size_t>(n)));
    return block;
  }
  void* block = n >= 0 ? win::HeapReAlloc(Heap(), 0, p, static_cast<size_t>(n)) : nullptr;
  if (block == nullptr) AllocationFailed(n);
  return block;
}

void RuntimeFree(void* p) {
  if (p == nullptr || IsStaticData(p)) return;
  win::HeapFree(Heap(), 0, p);
}

void SetStaticDataRegion(const void* start, size_t length) {
  if (start == nullptr || length == 0) {
    ClearStaticDataRegion();
    return;
  }
  g_static.start = static_cast<const unsigned char*>(start);
  g_static.end = g_static.start + length;
}

void ClearStaticDataRegion() { g_static = {}; }

bool IsStaticData(const void* p) {
  auto* b = static_cast<const unsigned char*>(p);
  return g_static.start != nullptr && std::less_equal<>()(g_static.start, b) && std::less<>()(b, g_static.end);
}

// ---- arrays ----

int32_t ArrayDimensionCount(const void* block) { return block ? ReadInt32(block) : 0; }

int64_t ArrayElementCount(const void* block) {
  if (block == nullptr) return 0;
  const int32_t dims = ReadInt32(block);
  if (dims <= 0) return 0;
  int64_t count = 1;
  auto* sizes = static_cast<const unsigned char*>(block) + 4;
  for (int32_t i = 0; i < dims; ++i) {
    const int32_t size = ReadInt32(sizes + 4 * i);
    if (size <= 0) return 0;
    count *= size;
    if (count > std::numeric_limits<int32_t>::max()) return 0;  // no real array is this large
  }
  return count;
}

size_t ArrayHeaderSize(const void* block) {
  const int32_t dims = ArrayDimensionCount(block);
  return 4 + 4 * static_cast<size_t>(std::max(dims, 0));
}

void* ArrayElements(void* block) { return static_cast<unsigned char*>(block) + ArrayHeaderSize(block); }
const void* ArrayElements(const void* block) {
  return static_cast<const unsigned char*>(block) + ArrayHeaderSize(block);
}

void* NewArray(int32_t count, size_t elementWidth) {
  count = std::max(count, 0);
  const size_t bytes = kByteSetHeader + static_cast<size_t>(count) * elementWidth;
  auto* block = static_cast<unsigned char*>(AllocBytes(bytes));
  WriteInt32(block, 1);
  WriteInt32(block + 4, count);
  std::memset(block + kByteSetHeader, 0, bytes - kByteSetHeader);
  return block;
}

void FreeArray(TypeCode elementType, void* block) {
  if (block == nullptr) return;
  const TypeCode base = BaseType(elementType);
  if ((base == type::Text || base == type::ByteSet) && !IsStaticData(block)) {
    const int64_t count = ArrayElementCount(block);
    auto* elements = static_cast<unsigned char*>(ArrayElements(block));
    for (int64_t i = 0; i < count; ++i) {
      void* element;
      std::memcpy(&element, elements + i * sizeof(void*), sizeof(void*));
      RuntimeFree(element);
    }
  }
  RuntimeFree(block);
}

void MakeArrayWritable(size_t elementWidth, void** variable) {
  if (variable == nullptr || !IsStaticData(*variable)) return;
  const void* old = *variable;
  const size_t bytes = ArrayHeaderSize(old) + static_cast<size_t>(ArrayElementCount(old)) * elementWidth;
  void* copy = AllocBytes(bytes);
  std::memcpy(copy, old, bytes);
  *variable = copy;
}

// ---- texts and byte sets ----

char* NewText(const char* bytes, size_t n) {
  if (n == 0 || bytes == nullptr) return nullptr;
  auto* text = static_cast<char*>(AllocBytes(n + 1));
  std::memcpy(text, bytes, n);
  text[n] = '\0';
  return text;
}

char* NewText(std::string_view s) { return NewText(s.data(), s.size()); }

size_t TextLengthOf(const char* text) { return text ? std::strlen(text) : 0; }

unsigned char* NewByteSetUninitialised(size_t n) {
  if (n == 0) return nullptr;
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max())) AllocationFailed(static_cast<int64_t>(n));
  auto* block = static_cast<unsigned char*>(AllocBytes(n + kByteSetHeader));
  WriteInt32(block, 1);
  WriteInt32(block + 4, static_cast<int32_t>(n));
  return block;
}

unsigned char* NewByteSet(const void* bytes, size_t n) {
  unsigned char* block = NewByteSetUninitialised(n);
  if (block) std::memcpy(block + kByteSetHeader, bytes, n);
  return block;
}

size_t ByteSetLengthOf(const void* byteSet) {
  if (byteSet == nullptr) return 0;
  const int32_t n = ReadInt32(static_cast<const unsigned char*>(byteSet) + 4);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

const unsigned char* ByteSetData(const void* byteSet) {
  return byteSet ? static_cast<const unsigned char*>(byteSet) + kByteSetHeader : nullptr;
}
unsigned char* ByteSetData(void* byteSet) {
  return byteSet ? static_cast<unsigned char*>(byteSet) + kByteSetHeader : nullptr;
}

char* ConcatTexts(int count, const char* const* parts) {
  size_t total = 0;
  for (int i = 0; i < count; ++i) total += TextLengthOf(parts[i]);
  auto* text = static_cast<char*>(AllocBytes(total + 1));
  char* out = text;
  for (int i = 0; i < count; ++i) {
    const size_t n = TextLengthOf(parts[i]);
    if (n) std::memcpy(out, parts[i], n);
    out += n;
  }
  *out = '\0';
  return text;
}

int CompareTexts(const char* a, const char* b) {
  const int r = std::strcmp(a ? a : "", b ? b : "");  // strcmp compares as unsigned char
  return (r > 0) - (r < 0);
}

// ---- raw views ----

RawView RawDataView(const RuntimeValue& value) {
  const TypeCode t = BaseType(value.type);
  if (HasAddressFlag(value.type)) return {};
  switch (t) {
    case type::Bool:
    case type::SubroutinePointer:
    case type::Int:
    case type::Float: return {&value.low, 4, true};
    case type::DateTime:
    case type::Int64:
    case type::Double: return {&value.low, 8, true};  // low and high words lie back to back
    case type::Byte: return {&value.low, 1, true};
    case type::Short: return {&value.low, 2, true};
    case type::Text: {
      auto* text = static_cast<const char*>(value.Pointer());
      static const char kEmpty = '\0';
      if (text == nullptr) return {&kEmpty, 1, true};
      return {text, std::strlen(text) + 1, true};
    }
    case type::ByteSet: {
      const void* set = value.Pointer();
      return {ByteSetData(set), ByteSetLengthOf(set), true};
    }
    default: return {};
  }
}

size_t StoreRawBytes(TypeCode target, const void* source, size_t available, RuntimeValue* out) {
  const TypeCode t = BaseType(target);
  auto* src = static_cast<const unsigned char*>(source);
  out->type = t;
  out->low = out->high = 0;
  // Copies up to width bytes into the value words; missing bytes read as zero.
  auto copyWidth = [&](size_t width) {
    uint64_t bits = 0;
    if (available > 0) std::memcpy(&bits, src, std::min(width, available));
    out->SetBits64(width < 8 ? bits & ((uint64_t{1} << (8 * width)) - 1) : bits);
    return width;
  };
  switch (t) {
    case type::Bool: {
      uint32_t word = 0;
      if (available > 0) std::memcpy(&word, src, std::min<size_t>(4, available));
      out->SetInt32(word != 0 ? 1 : 0);
      return 4;
    }
    case type::DateTime: {
      copyWidth(8);
      double d = out->Double();
      if (!(d >= kMinDateTime)) d = d != d ? 0.0 : kMinDateTime;  // NaN has no date: take day 0
      if (d > kMaxDateTime) d = kMaxDateTime;
      out->SetDouble(d);
      return 8;
    }
    case type::Text: {
      const void* nul = available ? std::memchr(src, 0, available) : nullptr;
      const size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - src) : available;
      out->SetPointer(NewText(reinterpret_cast<const char*>(src), n));
      return nul ? n + 1 : n;
    }
    case type::ByteSet:
      out->SetPointer(NewByteSet(src, available));
      return available;
    case type::Byte: return copyWidth(1);
    case type::Short: return copyWidth(2);
    case type::Int:
    case type::Float:
    case type::SubroutinePointer: return copyWidth(4);
    case type::Int64:
    case type::Double: return copyWidth(8);
    default: out->type = type::None; return 0;
  }
}

}  // namespace qv
