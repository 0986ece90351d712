// The one file that uses nlohmann-json: its conforming RFC 8259 parser decides what is JSON.
#include <nlohmann/json.hpp>

#include "json/json_text.h"

namespace quorvane::json_text {

bool IsJsonUtf16(std::u16string_view text) {
  // accept() parses without building a document; the UTF-16 input is read as the
  // characters it encodes. Comments are not JSON and stay rejected.
  try {
    return nlohmann::json::accept(text.begin(), text.end(), /*ignore_comments=*/false);
  } catch (...) {
    return false;  // out of memory for the nesting stack: not a text this program can read
  }
}

}  // namespace quorvane::json_text
