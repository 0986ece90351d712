// ComPtr<T>: owns one reference to a COM interface and releases it when it goes. Copying adds a
// reference; Adopt takes over a reference the caller already owns; Receive hands out the address
// for an out parameter after releasing what was held.
#pragma once

#include <cstddef>
#include <utility>

#include "platform/com/unknown.h"

namespace win {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a reference of its own on p.
  static ComPtr Share(T* p) {
    if (p != nullptr) p->AddRef();
    return ComPtr(p);
  }
  // Takes over the caller's reference on p.
  static ComPtr Adopt(T* p) { return ComPtr(p); }

  ComPtr(const ComPtr& o) : m_p(o.m_p) {
    if (m_p != nullptr) m_p->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  template <class U>
  ComPtr(ComPtr<U>&& o) noexcept : m_p(o.Detach()) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(m_p, o.m_p);
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  // Gives up the reference without releasing it.
  T* Detach() { return std::exchange(m_p, nullptr); }
  // Releases what is held and returns the slot for an out parameter.
  T** Receive() {
    Reset();
    return &m_p;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // Queries the held object for another interface.
  template <class U>
  HRESULT QueryInterface(REFIID riid, ComPtr<U>* out) const {
    if (out == nullptr) return E_POINTER;
    if (m_p == nullptr) {
      out->Reset();
      return E_POINTER;
    }
    return m_p->QueryInterface(riid, out->ReceiveVoid());
  }

 private:
  explicit ComPtr(T* p) : m_p(p) {}
  T* m_p = nullptr;
};

}  // namespace win
