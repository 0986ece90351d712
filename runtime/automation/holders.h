// The blocks behind Object and Variant values, and their owners.
//
// An Object value points at an ObjectHolder: the automation object's interface pointer (one
// reference owned by the holder) and, for a value that came from an automation record, the record
// data, whose interface pointer is then the record's IRecordInfo. A Variant value points at a
// VariantHolder, one VARIANT owned by the variable. Both blocks come from RuntimeAlloc.
#pragma once

#include <cstddef>
#include <utility>

#include "platform/com/record_info.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace qv {

struct ObjectHolder {
  win::IUnknown* object;  // null: the object is empty
  void* record;           // non-null only for record data; object is then its IRecordInfo
};
static_assert(sizeof(ObjectHolder) == 2 * sizeof(void*), "interface pointer, then record pointer");

struct VariantHolder {
  win::VARIANT value;
};
static_assert(sizeof(VariantHolder) == sizeof(win::VARIANT), "one VARIANT and nothing else");

// A fresh holder with both pointers null.
ObjectHolder* NewObjectHolder();
// A fresh holder owning a new reference to object (which may be null).
ObjectHolder* NewObjectHolder(win::IUnknown* object);
// The release rule: record data is destroyed by its IRecordInfo (or freed when there is no
// interface), then the interface is released; both pointers end up null. The block stays.
void ReleaseObjectHolderContent(ObjectHolder* holder);
// Releases the content and frees the block. Null is ignored. This is the runtime's release service
// for object holders.
void FreeObjectHolder(ObjectHolder* holder);
// Replaces the content with a new reference to object (record pointer null).
void StoreObject(ObjectHolder* holder, win::IUnknown* object);

// A fresh holder with a zeroed (VT_EMPTY) VARIANT.
VariantHolder* NewVariantHolder();
// Clears the VARIANT and frees the block. Null is ignored.
void FreeVariantHolder(VariantHolder* holder);

// Owns one ObjectHolder block. Null reads as an empty object; the holder is made on demand when
// something is to be stored.
class OwnedObject {
 public:
  OwnedObject() = default;
  static OwnedObject Adopt(ObjectHolder* holder) { return OwnedObject(holder); }
  // A holder of its own with a new reference to object.
  static OwnedObject Share(win::IUnknown* object) { return OwnedObject(NewObjectHolder(object)); }
  OwnedObject(const OwnedObject&) = delete;
  OwnedObject& operator=(const OwnedObject&) = delete;
  OwnedObject(OwnedObject&& o) noexcept : m_holder(std::exchange(o.m_holder, nullptr)) {}
  OwnedObject& operator=(OwnedObject&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~OwnedObject() { FreeObjectHolder(m_holder); }

  // The holder block, or null when none was made yet.
  ObjectHolder* get() const { return m_holder; }
  win::IUnknown* object() const { return m_holder ? m_holder->object : nullptr; }
  bool empty() const { return object() == nullptr; }
  // The holder block, made now when there is none.
  ObjectHolder* Holder() {
    if (m_holder == nullptr) m_holder = NewObjectHolder();
    return m_holder;
  }
  // The variable's address, for passing it by address: the holder is made first, so the callee
  // always finds one.
  ObjectHolder** Address() {
    Holder();
    return &m_holder;
  }
  ObjectHolder* Release() { return std::exchange(m_holder, nullptr); }
  void Reset(ObjectHolder* holder = nullptr) {
    if (holder != m_holder) FreeObjectHolder(m_holder);
    m_holder = holder;
  }

 private:
  explicit OwnedObject(ObjectHolder* holder) : m_holder(holder) {}
  ObjectHolder* m_holder = nullptr;
};

// Owns one VariantHolder block. Null reads as an empty variant; the holder is made on demand.
class OwnedVariantHolder {
 public:
  OwnedVariantHolder() = default;
  static OwnedVariantHolder Adopt(VariantHolder* holder) { return OwnedVariantHolder(holder); }
  OwnedVariantHolder(const OwnedVariantHolder&) = delete;
  OwnedVariantHolder& operator=(const OwnedVariantHolder&) = delete;
  OwnedVariantHolder(OwnedVariantHolder&& o) noexcept : m_holder(std::exchange(o.m_holder, nullptr)) {}
  OwnedVariantHolder& operator=(OwnedVariantHolder&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  ~OwnedVariantHolder() { FreeVariantHolder(m_holder); }

  VariantHolder* get() const { return m_holder; }
  // The held VARIANT, or null when no holder was made yet.
  const win::VARIANT* value() const { return m_holder ? &m_holder->value : nullptr; }
  win::VARTYPE vt() const { return m_holder ? m_holder->value.vt : win::VT_EMPTY; }
  VariantHolder* Holder() {
    if (m_holder == nullptr) m_holder = NewVariantHolder();
    return m_holder;
  }
  VariantHolder** Address() {
    Holder();
    return &m_holder;
  }
  VariantHolder* Release() { return std::exchange(m_holder, nullptr); }
  void Reset(VariantHolder* holder = nullptr) {
    if (holder != m_holder) FreeVariantHolder(m_holder);
    m_holder = holder;
  }

 private:
  explicit OwnedVariantHolder(VariantHolder* holder) : m_holder(holder) {}
  VariantHolder* m_holder = nullptr;
};

}  // namespace qv
