// Text folding and character-set conversion for the answer service. This is the one file that
// talks to ICU; everything else in the service handles UTF-8 std::strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qv::answers {

// The form in which questions, courses and chapters are compared: NFKC with case folding (so
// full-width Latin letters and digits equal their ASCII forms and "ABC" equals "abc"), then every
// white-space, punctuation, control and format character removed. The input must be UTF-8; ill-
// formed sequences are folded as U+FFFD.
std::string NormaliseForMatching(std::string_view utf8);

// The number of code points in well-formed UTF-8 text.
size_t CodePointCount(std::string_view utf8);

// The text's code points; ill-formed sequences become U+FFFD.
std::u32string ToCodePoints(std::string_view utf8);

// UTF-8 of code points (which must be scalar values).
std::string ToUtf8(std::u32string_view points);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or truncated tails).
bool IsWellFormedUtf8(std::string_view bytes);

// GBK (code page 936, with 0x80 as the euro sign) to UTF-8; nothing when a byte sequence is not
// GBK, including a lead byte cut off at the end.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

}  // namespace qv::answers
