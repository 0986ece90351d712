// The COM task allocator: memory that one side of an interface allocates and the other frees
// (strings from StringFromCLSID and ProgIDFromCLSID, for instance).
#pragma once

#include <cstddef>

namespace win {

// A request for 0 bytes still gives a block of its own. Null on failure.
void* CoTaskMemAlloc(size_t size);
void* CoTaskMemRealloc(void* block, size_t size);
// Null is ignored.
void CoTaskMemFree(void* block);

}  // namespace win
