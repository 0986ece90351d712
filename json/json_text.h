// JSON texts on their way into a script context: the check that a text is JSON, and the script
// string literal that carries it, both taken from the text as the script engine will see it.
//
// A runtime text reaches the script control as GBK and is decoded there by the system code page
// (936). The decoder reads a lead byte (0x81-0xFE) together with the byte after it, whatever that
// byte is, so a byte such as '\\' (0x5C) or '\'' can be the second half of a Chinese character and
// must then neither be checked nor escaped as ASCII. Both functions therefore work on the decoded
// text or follow the decoder's byte pairing exactly.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::json_text {

// Whether the GBK text, decoded as the script control decodes it, is a JSON text by RFC 8259.
bool IsJsonText(std::string_view gbk);

// The same check on UTF-16 text.
bool IsJsonUtf16(std::u16string_view text);

// Appends to out a single-quoted script string literal, in GBK, whose value is the text as the
// script control decodes it. Backslash, apostrophe and the C0 controls are escaped; a lead byte at
// the very end (which the decoder reads as '?') is written as '?' so that it cannot take the
// closing quote.
void AppendScriptStringLiteral(std::string& out, std::string_view gbk);

}  // namespace quorvane::json_text
