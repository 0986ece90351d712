// Texts between UTF-16 and Duktape's internal string form.
//
// Duktape keeps a string as one UTF-8 style sequence per UTF-16 code unit (CESU-8): a surrogate
// pair is two 3-byte sequences, a lone surrogate is one, and NUL is a plain zero byte. Encoding
// each code unit on its own keeps the script's string length and indexes equal to the UTF-16
// ones, which is what a script that came from Windows expects ("\uD83D\uDE00".length is 2).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace win::script {

// Each code unit becomes 1 to 3 bytes; nothing is rejected.
std::string Utf16ToCesu8(std::u16string_view text);

// Decodes CESU-8 and also proper 4-byte UTF-8 (as a surrogate pair). A byte that starts no valid
// sequence becomes U+FFFD, so any byte string the engine can hold gives some text.
std::u16string Cesu8ToUtf16(const char* data, size_t length);

}  // namespace win::script
