// The process heap: HeapAlloc / HeapReAlloc / HeapFree on the default heap.
#pragma once

#include <cstddef>

#include "platform/windows_types.h"

namespace win {

HANDLE GetProcessHeap();
// Null on failure. Blocks are not zeroed unless HEAP_ZERO_MEMORY is given.
void* HeapAlloc(HANDLE heap, DWORD flags, size_t bytes);
void* HeapReAlloc(HANDLE heap, DWORD flags, void* block, size_t bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, void* block);

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

// Test hook: makes every allocation of more than limit bytes fail, as a heap that is out of memory
// would. 0 removes the limit.
void SetHeapAllocationLimitForTesting(size_t limit);

}  // namespace win
