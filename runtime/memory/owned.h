// Owners of runtime blocks. Each owns one block allocated with the runtime's memory entries and
// frees it with them; borrowed arguments are plain views (const char*, ByteSetView).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "runtime/memory/memory.h"
#include "runtime/memory/values.h"

namespace qv {

// A borrowed byte set block (null or the empty byte set constant are both empty).
struct ByteSetView {
  const void* block = nullptr;
  size_t size() const { return ByteSetLengthOf(block); }
  const unsigned char* data() const { return ByteSetData(block); }
  bool empty() const { return size() == 0; }
  std::string_view bytes() const { return {reinterpret_cast<const char*>(data()), size()}; }
};

// Owns a text block; null is the empty text.
class OwnedText {
 public:
  OwnedText() = default;
  static OwnedText Adopt(char* block) { return OwnedText(block); }
  static OwnedText Copy(std::string_view s) { return OwnedText(NewText(s)); }
  OwnedText(const OwnedText&) = delete;
  OwnedText& operator=(const OwnedText&) = delete;
  OwnedText(OwnedText&& o) noexcept : m_block(std::exchange(o.m_block, nullptr)) {}
  OwnedText& operator=(OwnedText&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~OwnedText() { RuntimeFree(m_block); }

  // Never null: an empty text reads as "".
  const char* c_str() const { return m_block ? m_block : ""; }
  const char* get() const { return m_block; }
  std::string_view view() const { return m_block ? std::string_view(m_block) : std::string_view(); }
  size_t size() const { return TextLengthOf(m_block); }
  bool empty() const { return m_block == nullptr || *m_block == '\0'; }
  char* Release() { return std::exchange(m_block, nullptr); }
  void Reset(char* block = nullptr) {
    if (block != m_block) RuntimeFree(m_block);
    m_block = block;
  }

 private:
  explicit OwnedText(char* block) : m_block(block) {}
  char* m_block = nullptr;
};

// Owns a byte set block; null is the empty byte set.
class OwnedByteSet {
 public:
  OwnedByteSet() = default;
  static OwnedByteSet Adopt(void* block) { return OwnedByteSet(static_cast<unsigned char*>(block)); }
  static OwnedByteSet Copy(std::string_view bytes) { return OwnedByteSet(NewByteSet(bytes.data(), bytes.size())); }
  OwnedByteSet(const OwnedByteSet&) = delete;
  OwnedByteSet& operator=(const OwnedByteSet&) = delete;
  OwnedByteSet(OwnedByteSet&& o) noexcept : m_block(std::exchange(o.m_block, nullptr)) {}
  OwnedByteSet& operator=(OwnedByteSet&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~OwnedByteSet() { RuntimeFree(m_block); }

  ByteSetView view() const { return {m_block}; }
  const void* get() const { return m_block; }
  size_t size() const { return ByteSetLengthOf(m_block); }
  const unsigned char* data() const { return ByteSetData(m_block); }
  std::string_view bytes() const { return view().bytes(); }
  bool empty() const { return size() == 0; }
  void* Release() { return std::exchange(m_block, nullptr); }
  void Reset(void* block = nullptr) {
    if (block != m_block) RuntimeFree(m_block);
    m_block = static_cast<unsigned char*>(block);
  }

 private:
  explicit OwnedByteSet(unsigned char* block) : m_block(block) {}
  unsigned char* m_block = nullptr;
};

// Owns an array block and, for text and byte-set elements, the elements.
class OwnedArray {
 public:
  OwnedArray() = default;
  static OwnedArray Adopt(TypeCode elementType, void* block) { return OwnedArray(elementType, block); }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  OwnedArray(OwnedArray&& o) noexcept
      : m_type(o.m_type), m_block(std::exchange(o.m_block, nullptr)) {}
  OwnedArray& operator=(OwnedArray&& o) noexcept {
    if (this != &o) {
      FreeArray(m_type, m_block);
      m_type = o.m_type;
      m_block = std::exchange(o.m_block, nullptr);
    }
    return *this;
  }
  ~OwnedArray() { FreeArray(m_type, m_block); }

  TypeCode elementType() const { return m_type; }
  const void* get() const { return m_block; }
  void* Release() { return std::exchange(m_block, nullptr); }
  int64_t size() const { return ArrayElementCount(m_block); }
  // Element i of a text array (0-based), never null: an empty element reads as "".
  const char* TextAt(int64_t i) const {
    const char* p = PointerAt<const char>(i);
    return p ? p : "";
  }
  template <typename T>
  T* PointerAt(int64_t i) const {
    T* p;
    std::memcpy(&p, static_cast<const unsigned char*>(ArrayElements(m_block)) + i * sizeof(void*), sizeof p);
    return p;
  }

 private:
  OwnedArray(TypeCode elementType, void* block) : m_type(elementType), m_block(block) {}
  TypeCode m_type = type::Int;
  void* m_block = nullptr;
};

}  // namespace qv
