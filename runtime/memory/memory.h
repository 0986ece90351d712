// Value memory: the three memory entries, the program's static data region, and the block
// helpers that every command builds its results with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/memory/values.h"

namespace qv {

// n bytes from the runtime heap, not zeroed. Never returns null: a failed allocation is reported as
// the runtime error "分配 %d 字节内存失败!", which ends the process.
void* RuntimeAlloc(int32_t n);
// n bytes from the runtime heap, or null when the heap cannot give them (or n is negative); the
// failure is left to the caller and nothing is reported.
void* RuntimeAllocOrNull(int32_t n);
// Resizes p to n bytes. A null p allocates; a p inside the static data region is copied into a
// fresh block (as many bytes as the region still holds from p, at most n) and left untouched.
void* RuntimeRealloc(void* p, int32_t n);
// Returns p to the heap; null and static-data pointers are ignored.
void RuntimeFree(void* p);

// The bounds of the program's constant data. Blocks inside it belong to nobody.
void SetStaticDataRegion(const void* start, size_t length);
void ClearStaticDataRegion();
bool IsStaticData(const void* p);

// Frees an array block and, for text and byte-set elements, every element first.
void FreeArray(TypeCode elementType, void* block);
// When the array in *variable lies in static data, copies it into a fresh block and stores that.
void MakeArrayWritable(size_t elementWidth, void** variable);

// Array block geometry.
int32_t ArrayDimensionCount(const void* block);
int64_t ArrayElementCount(const void* block);
size_t ArrayHeaderSize(const void* block);
void* ArrayElements(void* block);
const void* ArrayElements(const void* block);
// A fresh one-dimensional array block with count elements of the given width, elements zeroed.
void* NewArray(int32_t count, size_t elementWidth);

// Texts: a null or empty result is the null pointer.
char* NewText(const char* bytes, size_t n);
char* NewText(std::string_view s);
inline char* NewText(const char* s) { return s ? NewText(std::string_view(s)) : nullptr; }
size_t TextLengthOf(const char* text);  // null counts as empty

// Byte sets: a zero-length result is the null pointer.
unsigned char* NewByteSet(const void* bytes, size_t n);
// A byte set of n bytes whose content the caller fills; null when n is 0.
unsigned char* NewByteSetUninitialised(size_t n);
size_t ByteSetLengthOf(const void* byteSet);  // null counts as empty
const unsigned char* ByteSetData(const void* byteSet);
unsigned char* ByteSetData(void* byteSet);

// A fresh text holding all parts one after another; always a block, even when empty.
char* ConcatTexts(int count, const char* const* parts);
template <typename... Parts>
char* ConcatTexts(const Parts*... parts) {
  const char* array[] = {parts...};
  return ConcatTexts(static_cast<int>(sizeof...(parts)), array);
}
// strcmp order over unsigned bytes; a null text equals "". Returns -1, 0 or 1.
int CompareTexts(const char* a, const char* b);

// The raw bytes of a value (a view into the slot or into the block it points to).
struct RawView {
  const void* data = nullptr;
  size_t size = 0;
  bool valid = false;
};
RawView RawDataView(const RuntimeValue& value);

// Builds a value of the given type from raw bytes at source, of which available may be read.
// Returns the number of bytes consumed (for texts: up to and including the NUL that ended it).
size_t StoreRawBytes(TypeCode target, const void* source, size_t available, RuntimeValue* out);

}  // namespace qv
