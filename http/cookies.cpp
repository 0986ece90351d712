#include "http/cookies.h"

#include <algorithm>
#include <string_view>

#include "http/text_markers.h"
#include "runtime/commands/command_front.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

TextItems Split(const char* text, const char* separator) {
  const OwnedArray pieces = c::SplitText(text, separator);
  TextItems items;
  items.reserve(static_cast<size_t>(pieces.size()));
  for (int64_t i = 0; i < pieces.size(); ++i) items.emplace_back(pieces.TextAt(i));
  return items;
}

// Trims the variable and gives a text that ends in ';' the space that makes it an item separator.
void PrepareCookieText(OwnedText& cookies) {
  std::string trimmed(c::TrimSpaces(cookies.c_str()).view());
  if (!trimmed.empty() && trimmed.back() == ';') trimmed += ' ';
  cookies = OwnedText::Copy(trimmed);
}

}  // namespace

bool CollectCookie(const char* line, OwnedText& receivedCookies) {
  if (TextBefore(line, ": ").view() != "Set-Cookie") return false;
  OwnedText cookie = c::FindText(line, ";") != -1 ? TextBetween(line, "Set-Cookie:", ";")
                                                  : c::ReplaceSubtext(line, "Set-Cookie:", "", {}, {}, false);
  cookie = c::TrimSpaces(cookie.c_str());
  receivedCookies = OwnedText::Adopt(ConcatTexts(receivedCookies.c_str(), cookie.c_str(), "; "));
  return true;
}

void FinishReceivedCookies(OwnedText& receivedCookies, OwnedText& sendCookies, bool mergeCookies) {
  if (receivedCookies.view().ends_with("; "))
    receivedCookies = c::TextLeft(receivedCookies.c_str(), static_cast<int32_t>(receivedCookies.size()) - 2);
  if (mergeCookies && !sendCookies.empty()) receivedCookies = MergeCookies(sendCookies, receivedCookies);
}

OwnedText CookieName(const char* item) {
  const int32_t equals = c::FindText(item, "=");
  if (equals == -1) return c::TrimSpaces(item);
  return c::TrimSpaces(c::TextLeft(item, equals - 1).c_str());
}

bool HasCookieName(const TextItems& items, const char* name) {
  const std::string_view sought = name ? name : "";
  return std::any_of(items.begin(), items.end(),
                     [&](const std::string& item) { return CookieName(item.c_str()).view() == sought; });
}

OwnedText MergeCookies(OwnedText& oldCookies, OwnedText& newCookies) {
  PrepareCookieText(oldCookies);
  PrepareCookieText(newCookies);
  const TextItems sent = Split(oldCookies.c_str(), "; ");
  TextItems merged = Split(newCookies.c_str(), "; ");
  // A sent cookie survives only when the response did not set its name again; survivors follow the
  // received ones in their old order.
  for (const std::string& item : sent)
    if (!HasCookieName(merged, CookieName(item.c_str()).c_str())) merged.push_back(item);

  std::string out;
  for (const std::string& item : merged) {
    if (std::string_view(item).ends_with("=deleted")) continue;
    out += item;
    out += "; ";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  oldCookies = RemoveDuplicateItems(out.c_str(), "; ", true);
  return OwnedText::Copy(oldCookies.view());
}

OwnedText RemoveDuplicateItems(const char* text, const char* separator, bool bySeparator) {
  const std::string_view glue = separator ? separator : "";
  const TextItems items = bySeparator ? Split(text, separator) : SplitCharacters(text);
  TextItems seen;
  std::string out;
  for (const std::string& item : items) {
    if (FindInTextArray(seen, item.c_str()) != -1) continue;
    seen.push_back(item);
    out += item;
    out += glue;
  }
  out.resize(out.size() >= glue.size() ? out.size() - glue.size() : 0);
  return OwnedText::Copy(out);
}

int32_t FindInTextArray(const TextItems& array, const char* text) {
  const std::string_view sought = text ? text : "";
  for (size_t i = 0; i < array.size(); ++i)
    if (array[i] == sought) return static_cast<int32_t>(i + 1);
  return -1;
}

TextItems SplitCharacters(const char* text) {
  const std::string_view s = text ? text : "";
  TextItems items;
  for (size_t i = 0; i < s.size();) {
    const bool pair = (static_cast<unsigned char>(s[i]) >= 0x80 || (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) &&
                      i + 1 < s.size();
    const size_t n = pair ? 2 : 1;
    items.emplace_back(s.substr(i, n));
    i += n;
  }
  return items;
}

}  // namespace quorvane
