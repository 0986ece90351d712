// The request header block a web request sends: the caller's lines completed with the default
// headers it lacks, header names capitalised word by word, a keep-alive Connection line dropped and
// the cookie line added. A block is one text of lines separated by CR LF.
#pragma once

#include <cstdint>

#include "runtime/memory/owned.h"

namespace quorvane {

// The method index of POST, the one method that gets a default Content-Type.
inline constexpr int32_t kMethodPost = 1;

qv::OwnedText BuildRequestHeaders(const char* extraHeaders, int32_t method, const char* sendCookies,
                                  bool completeHeaders, bool normaliseHeaderNames);
// Every line's name (before its first ':') with the first letter of each '-'-separated word
// upper-cased; lines without ':' are dropped. The lines are joined by CR LF, with none at the end.
qv::OwnedText NormaliseHeaderNames(const char* block);
// The first byte upper-cased when it is an ASCII letter; the rest unchanged.
qv::OwnedText CapitaliseFirst(const char* text);
// The value after name and ": " in the first line that begins with name (case-sensitive); empty
// when no line begins with it.
qv::OwnedText GetHeaderValue(const char* block, const char* name);

}  // namespace quorvane
