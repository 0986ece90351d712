#include "platform/com/script/script_arena.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace win::script {

bool ScriptArena::Admits(size_t addedBytes) const {
  return addedBytes <= m_limit && m_inUse <= m_limit - addedBytes;
}

void ScriptArena::Link(LargeHeader* h) {
  h->prev = &m_large;
  h->next = m_large.next;
  m_large.next->prev = h;
  m_large.next = h;
}

void ScriptArena::Unlink(LargeHeader* h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
}

void* ScriptArena::AllocateSmall(size_t classIndex) {
  const size_t size = (classIndex + 1) * kGranule;
  const size_t cost = size + sizeof(Tag);
  if (!Admits(cost)) return Refuse();
  void* block = m_free[classIndex];
  if (block != nullptr) {
    m_free[classIndex] = m_free[classIndex]->next;
  } else {
    if (static_cast<size_t>(m_pageEnd - m_pageNext) < cost) {
      // The rest of the old page is too small for this block; it stays unused.
      auto* page = static_cast<Page*>(std::malloc(kPageBytes));
      if (page == nullptr) return nullptr;
      page->next = m_pages;
      m_pages = page;
      m_pageNext = reinterpret_cast<char*>(page) + sizeof(Tag);  // keeps blocks 16-byte aligned
      m_pageEnd = reinterpret_cast<char*>(page) + kPageBytes;
    }
    block = m_pageNext + sizeof(Tag);
    m_pageNext += cost;
  }
  Tag* tag = TagOf(block);
  tag->size = size;
  tag->large = 0;
  m_inUse += cost;
  return block;
}

void* ScriptArena::AllocateLarge(size_t bytes) {
  if (bytes > SIZE_MAX - sizeof(LargeHeader) || !Admits(bytes + sizeof(LargeHeader))) return Refuse();
  auto* h = static_cast<LargeHeader*>(std::malloc(sizeof(LargeHeader) + bytes));
  if (h == nullptr) return nullptr;
  Link(h);
  h->tag.size = bytes;
  h->tag.large = 1;
  // malloc_usable_size counts the slack malloc gave, so the figure stays right when realloc
  // grows a block in place.
  m_inUse += malloc_usable_size(h);
  return h + 1;
}

void* ScriptArena::Allocate(size_t bytes) {
  if (bytes == 0) return nullptr;
  if (bytes <= kLargestSmallBlock) return AllocateSmall((bytes - 1) / kGranule);
  return AllocateLarge(bytes);
}

void* ScriptArena::Reallocate(void* block, size_t bytes) {
  if (block == nullptr) return Allocate(bytes);
  if (bytes == 0) {
    Free(block);
    return nullptr;
  }
  Tag* tag = TagOf(block);
  if (!tag->large) {
    if (bytes <= tag->size) return block;
    void* moved = Allocate(bytes);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, tag->size);
    Free(block);
    return moved;
  }
  LargeHeader* old = LargeHeaderOf(block);
  const size_t oldCost = malloc_usable_size(old);
  if (bytes > SIZE_MAX - sizeof(LargeHeader)) return Refuse();
  const size_t newCost = bytes + sizeof(LargeHeader);
  if (newCost > oldCost && !Admits(newCost - oldCost)) return Refuse();
  // realloc may move the block: take it off the list first and put back whichever block lives on.
  Unlink(old);
  auto* h = static_cast<LargeHeader*>(std::realloc(old, newCost));
  if (h == nullptr) {
    Link(old);
    return nullptr;
  }
  Link(h);
  h->tag.size = bytes;
  m_inUse = m_inUse - oldCost + malloc_usable_size(h);
  return h + 1;
}

void ScriptArena::Free(void* block) {
  if (block == nullptr) return;
  Tag* tag = TagOf(block);
  if (!tag->large) {
    const size_t classIndex = tag->size / kGranule - 1;
    auto* free = static_cast<FreeBlock*>(block);
    free->next = m_free[classIndex];
    m_free[classIndex] = free;
    m_inUse -= tag->size + sizeof(Tag);
    return;
  }
  LargeHeader* h = LargeHeaderOf(block);
  Unlink(h);
  m_inUse -= malloc_usable_size(h);
  std::free(h);
}

void ScriptArena::ReleaseAll() {
  LargeHeader* h = m_large.next;
  while (h != &m_large) {
    LargeHeader* next = h->next;
    std::free(h);
    h = next;
  }
  m_large.prev = m_large.next = &m_large;
  while (m_pages != nullptr) {
    Page* next = m_pages->next;
    std::free(m_pages);
    m_pages = next;
  }
  m_pageNext = m_pageEnd = nullptr;
  for (FreeBlock*& list : m_free) list = nullptr;
  m_inUse = 0;
}

}  // namespace win::script
