#include "platform/heap/heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace win {
namespace {

// The default heap has no state of its own here; its handle only has to be non-null and stable.
int g_processHeapTag;
std::atomic<size_t> g_allocationLimit{0};

bool OverLimit(size_t bytes) {
  size_t limit = g_allocationLimit.load(std::memory_order_relaxed);
  return limit != 0 && bytes > limit;
}

}  // namespace

HANDLE GetProcessHeap() { return &g_processHeapTag; }

void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes) {
  if (heap == nullptr || OverLimit(bytes)) return nullptr;
  // malloc(0) may return null; a zero-byte heap block is still a valid, distinct block.
  void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  return block;
}

void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, size_t bytes) {
  if (heap == nullptr || block == nullptr || OverLimit(bytes)) return nullptr;
  return std::realloc(block, bytes ? bytes : 1);
}

BOOL HeapFree(HANDLE heap, DWORD, void* block) {
  if (heap == nullptr) return FALSE;
  std::free(block);
  return TRUE;
}

void SetHeapAllocationLimitForTesting(size_t limit) { g_allocationLimit.store(limit, std::memory_order_relaxed); }

}  // namespace win
