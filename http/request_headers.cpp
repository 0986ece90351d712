#include "http/request_headers.h"

#include <cstring>
#include <string>
#include <string_view>

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
  const OwnedArray lines = c::SplitText(block, "\r\n");
  std::string out;
  for (int64_t i = 0; i < lines.size(); ++i) {
    const char* line = lines.TextAt(i);
    const int32_t colon = c::FindText(line, ":");
    if (colon == -1) continue;
    const OwnedText original = c::TextLeft(line, colon - 1);
    std::string name;
    if (Contains(original.c_str(), "-", false)) {
      const OwnedArray words = c::SplitText(original.c_str(), "-");
      for (int64_t w = 0; w < words.size(); ++w) {
        if (w > 0) name += '-';
        name += CapitaliseFirst(words.TextAt(w)).view();
      }
    } else {
      name = CapitaliseFirst(original.c_str()).view();
    }
    // The rest is measured by the rebuilt name, so a name that lost a trailing '-' in the split
    // gets it back from the line.
    const OwnedText rest = c::TextRight(line, static_cast<int32_t>(std::strlen(line) - name.size()));
    out += name;
    out += rest.view();
    out += "\r\n";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return OwnedText::Copy(out);
}

OwnedText GetHeaderValue(const char* block, const char* name) {
  const OwnedArray lines = c::SplitText(block, "\r\n");
  const std::string_view sought = name ? name : "";
  for (int64_t i = 0; i < lines.size(); ++i) {
    const char* line = lines.TextAt(i);
    if (std::string_view(line).starts_with(sought)) return TextAfter(line, (std::string(sought) + ": ").c_str());
  }
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
