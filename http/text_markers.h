// Text around markers, as the HTTP client cuts header lines, cookies and form pieces. Positions
// and lengths count GBK bytes; searches are those of the runtime's FindText / FindTextReverse.
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"

namespace quorvane {

// The text before marker: with start 0 or above, before its first occurrence from start on; with
// a negative start, before its last occurrence that ends -start - 1 bytes (none for -1) before the
// end. Empty when marker does not occur.
qv::OwnedText TextBefore(const char* text, const char* marker, int32_t start = 0, bool ignoreCase = false);
// The text after marker: with start 0 or above, after its last occurrence in the text without its
// last start bytes; with a negative start, after its first occurrence from position -start on (from
// the start for -1). Empty when marker does not occur.
qv::OwnedText TextAfter(const char* text, const char* marker, int32_t start = 0, bool ignoreCase = false);
// The text between the first left marker from start on and the first right marker after it. In
// both markers "#引号" stands for a double quote. Empty when either marker is missing.
qv::OwnedText TextBetween(const char* text, const char* left, const char* right, int32_t start = 0,
                          bool ignoreCase = false);

}  // namespace quorvane
