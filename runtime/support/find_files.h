// Finding files for program code, one name per call, over the platform's file search.
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"

namespace qv {

// The attributes a search may ask for; a file matches when it has any of those asked.
namespace file_attribute {
inline constexpr int32_t ReadOnly = 1;
inline constexpr int32_t Hidden = 2;
inline constexpr int32_t System = 4;
inline constexpr int32_t Directory = 16;
inline constexpr int32_t Archive = 32;
}  // namespace file_attribute

// A GBK pattern (a path whose last part may hold * and ?) starts a new search, ending the one
// before, and gives the first matching name; a null or empty pattern gives the next name of the
// search under way. The attributes given when the search starts hold for all of it: 0 takes every
// entry but directories; otherwise an entry is taken when it has any of the attributes asked for. The names "." and ".." are never given. The result
// is the name without its directory; the empty text once nothing (more) matches, which also ends
// the search.
OwnedText FindFiles(const char* pattern, int32_t attributes);
// Ends the search under way, if any.
void EndFileSearch();

}  // namespace qv
