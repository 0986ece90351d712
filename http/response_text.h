// The character-set step of a web request: a page that declares a character set other than GBK in
// a meta tag within its first 1024 bytes is decoded from its bytes in that character set by the
// "Adodb.Stream" automation object; any other page keeps its bytes as GBK text.
#pragma once

#include "regex/regex_object.h"
#include "runtime/memory/owned.h"

namespace quorvane {

// Its first group is the declared name: word characters and '-' after "charset=" and at most one
// other character (a quote).
inline constexpr const char* kMetaCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

// The text of a response body: bodyText (the bytes up to the first NUL, as GBK) unless the page
// declares another character set, in which case the stream's decoding of bodyBytes. regex is the
// request's own regex object.
qv::OwnedText DecodeResponseText(RegexObject& regex, qv::ByteSetView bodyBytes, qv::OwnedText bodyText);

}  // namespace quorvane
