#include "http/text_markers.h"

#include <algorithm>

#include "runtime/commands/command_front.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

OwnedText TextBefore(const char* text, const char* marker, int32_t start, bool ignoreCase) {
  int32_t p;
  if (start >= 0) {
    p = c::FindText(text, marker, std::max(start, 1), ignoreCase);
  } else {
    const int32_t back = start == -1 ? 0 : -start;
    p = c::FindTextReverse(text, marker, c::TextLength(text) - back + 1, ignoreCase);
  }
  if (p == -1) return {};
  return c::TextLeft(text, p - 1);
}

OwnedText TextAfter(const char* text, const char* marker, int32_t start, bool ignoreCase) {
  int32_t p;
  if (start < 0) {
    const int32_t from = start == -1 ? 0 : -start;
    p = c::FindText(text, marker, from > 0 ? from : 1, ignoreCase);
  } else {
    p = c::FindTextReverse(text, marker, c::TextLength(text) - start + 1, ignoreCase);
  }
  if (p == -1) return {};
  return c::TextRight(text, c::TextLength(text) - c::TextLength(marker) - p + 1);
}

OwnedText TextBetween(const char* text, const char* left, const char* right, int32_t start, bool ignoreCase) {
  const OwnedText leftMarker = c::ReplaceSubtext(left, "#引号", "\"", {}, {}, true);
  const OwnedText rightMarker = c::ReplaceSubtext(right, "#引号", "\"", {}, {}, true);
  const int32_t p = c::FindText(text, leftMarker.c_str(), start, ignoreCase);
  if (p == -1) return {};
  const int32_t q = p + c::TextLength(leftMarker.c_str());
  const int32_t r = c::FindText(text, rightMarker.c_str(), q, ignoreCase);
  if (r == -1) return {};
  return c::TextMiddle(text, q, r - q);
}

}  // namespace quorvane
