#include "http/request_headers.h"

#include <string>
#include <string_view>
#include <vector>

#include "http/text_markers.h"
#include "runtime/commands/command_front.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

struct DefaultHeader {
  const char* search;  // looked for anywhere in the block, ignoring case
  const char* line;
  bool postOnly;
};

// Considered in this order; each row sees the lines the rows before it appended. Content-Type is
// searched without its space, so a caller's "Content-Type:value" counts.
constexpr DefaultHeader kDefaultHeaders[] = {
    {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)", false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312", false},
    {"Accept-Language: ", "Accept-Language: zh-cn", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded", true},
    {"Cache-Control: ", "Cache-Control: no-cache", false},
};

// The pieces of text between separators, as the runtime's SplitText gives them (no empty piece at
// the end). The separators here are CR LF, '-' and ':', bytes that never occur inside a GBK
// double-byte character, so a plain byte search finds the same places as the runtime's
// character-wise one.
std::vector<std::string_view> SplitAt(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (size_t at = text.find(separator); at != std::string_view::npos; at = text.find(separator, start)) {
    pieces.push_back(text.substr(start, at - start));
    start = at + separator.size();
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

bool Contains(const char* text, const char* sought, bool ignoreCase) {
  return c::FindText(text, sought, {}, ignoreCase) != -1;
}

}  // namespace

OwnedText CapitaliseFirst(const char* text) {
  std::string out = text ? text : "";
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return OwnedText::Copy(out);
}

OwnedText NormaliseHeaderNames(const char* block) {
  std::string out;
  for (const std::string_view line : SplitAt(block ? block : "", "\r\n")) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view original = line.substr(0, colon);
    std::string name;
    if (original.find('-') != std::string_view::npos) {
      bool first = true;
      for (const std::string_view word : SplitAt(original, "-")) {
        if (!first) name += '-';
        first = false;
        name += CapitaliseFirst(std::string(word).c_str()).view();
      }
    } else {
      name = CapitaliseFirst(std::string(original).c_str()).view();
    }
    // The rest is measured by the rebuilt name, so a name that lost a trailing '-' in the split
    // gets it back from the line.
    out += name;
    out += line.substr(name.size());
    out += "\r\n";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return OwnedText::Copy(out);
}

OwnedText GetHeaderValue(const char* block, const char* name) {
  const std::string_view sought = name ? name : "";
  for (const std::string_view line : SplitAt(block ? block : "", "\r\n"))
    if (line.starts_with(sought)) return TextAfter(std::string(line).c_str(), (std::string(sought) + ": ").c_str());
  return {};
}

OwnedText BuildRequestHeaders(const char* extraHeaders, int32_t method, const char* sendCookies,
                              bool completeHeaders, bool normaliseHeaderNames) {
  std::string block;
  if (extraHeaders && *extraHeaders) {
    block = extraHeaders;
    block += "\r\n";
  }
  if (completeHeaders) {
    for (const DefaultHeader& header : kDefaultHeaders) {
      if (header.postOnly && method != kMethodPost) continue;
      if (Contains(block.c_str(), header.search, true)) continue;
      block += header.line;
      block += "\r\n";
    }
  }
  if (normaliseHeaderNames) block = NormaliseHeaderNames(block.c_str()).view();

  if (Contains(block.c_str(), "Connection", false) &&
      GetHeaderValue(block.c_str(), "Connection").view() == "keep-alive")
    block = c::ReplaceSubtext(block.c_str(), "Connection: keep-alive\r\n", "", {}, {}, true).view();

  if (sendCookies && *sendCookies && !Contains(block.c_str(), "Cookie:", true)) {
    // A caller may pass the whole line, prefix included.
    block += Contains(sendCookies, "Cookie:", true) ? "\r\n" : "\r\nCookie: ";
    block += sendCookies;
    block += "\r\n";
  }
  return OwnedText::Copy(block);
}

}  // namespace quorvane
