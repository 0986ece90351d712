#include "platform/com/script/script_arena.h"

#include <malloc.h>

#include <cstdlib>

namespace win::script {
namespace {

// What a block really costs, header included. malloc_usable_size counts the slack malloc gave,
// so the figure stays right when realloc grows a block in place.
size_t BlockCost(void* header) { return malloc_usable_size(header); }

}  // namespace

bool ScriptArena::Admits(size_t addedBytes) const {
  return addedBytes <= m_limit && m_inUse <= m_limit - addedBytes;
}

void ScriptArena::Link(Header* h) {
  h->prev = &m_list;
  h->next = m_list.next;
  m_list.next->prev = h;
  m_list.next = h;
}

void ScriptArena::Unlink(Header* h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
}

void* ScriptArena::Allocate(size_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes > SIZE_MAX - sizeof(Header) || !Admits(bytes + sizeof(Header))) {
    ++m_refusals;
    return nullptr;
  }
  auto* h = static_cast<Header*>(std::malloc(sizeof(Header) + bytes));
  if (h == nullptr) return nullptr;
  Link(h);
  m_inUse += BlockCost(h);
  return h + 1;
}

void* ScriptArena::Reallocate(void* block, size_t bytes) {
  if (block == nullptr) return Allocate(bytes);
  if (bytes == 0) {
    Free(block);
    return nullptr;
  }
  Header* old = static_cast<Header*>(block) - 1;
  const size_t oldCost = BlockCost(old);
  if (bytes > SIZE_MAX - sizeof(Header)) {
    ++m_refusals;
    return nullptr;
  }
  const size_t newCost = bytes + sizeof(Header);
  if (newCost > oldCost && !Admits(newCost - oldCost)) {
    ++m_refusals;
    return nullptr;
  }
  // realloc may move the block: take it off the list first and put back whichever block lives on.
  Unlink(old);
  auto* h = static_cast<Header*>(std::realloc(old, newCost));
  if (h == nullptr) {
    Link(old);
    return nullptr;
  }
  Link(h);
  m_inUse = m_inUse - oldCost + BlockCost(h);
  return h + 1;
}

void ScriptArena::Free(void* block) {
  if (block == nullptr) return;
  Header* h = static_cast<Header*>(block) - 1;
  Unlink(h);
  m_inUse -= BlockCost(h);
  std::free(h);
}

void ScriptArena::ReleaseAll() {
  Header* h = m_list.next;
  while (h != &m_list) {
    Header* next = h->next;
    std::free(h);
    h = next;
  }
  m_list.prev = m_list.next = &m_list;
  m_inUse = 0;
}

}  // namespace win::script
