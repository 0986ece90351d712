#include "http/name_value_list.h"

#include <cstring>
#include <string>
#include <string_view>

#include "http/code_pages.h"
#include "http/text_markers.h"
#include "runtime/commands/command_front.h"

namespace quorvane {

using namespace qv;
namespace c = qv::cmd;

namespace {

OwnedArray CopyToTextArray(const std::vector<OwnedText>& texts) {
  void* block = NewArray(static_cast<int32_t>(texts.size()), sizeof(char*));
  auto* elements = static_cast<unsigned char*>(ArrayElements(block));
  for (size_t i = 0; i < texts.size(); ++i) {
    char* copy = NewText(texts[i].view());
    std::memcpy(elements + i * sizeof(char*), &copy, sizeof copy);
  }
  return OwnedArray::Adopt(type::Text, block);
}

bool IsSafeByte(unsigned char b) {
  return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '-' || b == '.';
}

}  // namespace

NameValueList::NameValueList(const NameValueList& other) {
  m_names.reserve(other.m_names.size());
  m_values.reserve(other.m_values.size());
  for (const OwnedText& name : other.m_names) m_names.push_back(OwnedText::Copy(name.view()));
  for (const OwnedText& value : other.m_values) m_values.push_back(OwnedText::Copy(value.view()));
}

size_t NameValueList::Find(const char* name) const {
  const std::string_view sought = name ? name : "";
  for (size_t i = 0; i < m_names.size(); ++i)
    if (m_names[i].view() == sought) return i;
  return m_names.size();
}

void NameValueList::Add(const char* name, const char* value, bool toUtf8) {
  if (toUtf8) {
    m_names.push_back(GbkToUtf8(name));
    m_values.push_back(GbkToUtf8(value));
  } else {
    m_names.push_back(OwnedText::Copy(name ? name : ""));
    m_values.push_back(OwnedText::Copy(value ? value : ""));
  }
}

void NameValueList::ParseFormText(const char* text, bool toUtf8) {
  const OwnedArray pieces = c::SplitText(text, "&");
  for (int64_t i = 0; i < pieces.size(); ++i) {
    const char* piece = pieces.TextAt(i);
    Add(TextBefore(piece, "=").c_str(), TextAfter(piece, "=").c_str(), toUtf8);
  }
}

OwnedText NameValueList::GetValue(const char* name) const {
  const size_t i = Find(name);
  return i < Count() ? OwnedText::Copy(m_values[i].view()) : OwnedText();
}

void NameValueList::SetValue(const char* name, const char* value) {
  const size_t i = Find(name);
  if (i < Count()) m_values[i] = OwnedText::Copy(value ? value : "");
  else Add(name, value);
}

OwnedText NameValueList::ToFormText(bool encode) const {
  std::string out;
  for (size_t i = 0; i < Count(); ++i) {
    if (encode) {
      out += UrlEncode(m_names[i].c_str(), true).view();
      out += '=';
      out += UrlEncode(m_values[i].c_str(), true).view();
    } else {
      out += m_names[i].view();
      out += '=';
      out += m_values[i].view();
    }
    out += '&';
  }
  if (!out.empty()) out.pop_back();
  return OwnedText::Copy(out);
}

OwnedText NameValueList::ToHeaderText(bool encode) const {
  std::string out;
  for (size_t i = 0; i < Count(); ++i) {
    out += m_names[i].view();
    out += ": ";
    out += encode ? UrlEncode(m_values[i].c_str(), true).view() : m_values[i].view();
    out += "\r\n";
  }
  if (!out.empty()) out.resize(out.size() - 2);
  return OwnedText::Copy(out);
}

void NameValueList::GetNames(OwnedArray& names) const { names = CopyToTextArray(m_names); }
void NameValueList::GetValues(OwnedArray& values) const { values = CopyToTextArray(m_values); }

void NameValueList::RemoveAll() {
  m_names.clear();
  m_values.clear();
}

void NameValueList::RemoveEntry(const char* name) {
  const size_t i = Find(name);
  if (i == Count()) return;
  m_names.erase(m_names.begin() + static_cast<ptrdiff_t>(i));
  m_values.erase(m_values.begin() + static_cast<ptrdiff_t>(i));
}

OwnedText NameValueList::ToJsonText() const {
  std::string out = "{";
  for (size_t i = 0; i < Count(); ++i) {
    out += '"';
    out += m_names[i].view();
    out += "\":\"";
    out += EscapeQuotes(m_values[i].c_str()).view();
    out += "\",";
  }
  OwnedText body = OwnedText::Copy(out);
  TrimMarker(body, ",");
  return OwnedText::Adopt(ConcatTexts(body.c_str(), "}"));
}

OwnedText NameValueList::EscapeQuotes(const char* text) {
  return c::ReplaceSubtext(text, "\"", "\\\"", {}, {}, true);
}

OwnedText NameValueList::TrimMarker(OwnedText& text, const char* marker) {
  const std::string_view m = marker ? marker : "";
  std::string_view s = text.view();
  if (s.ends_with(m)) s.remove_suffix(m.size());
  if (s.starts_with(m)) s.remove_prefix(m.size());
  text = OwnedText::Copy(s);
  return OwnedText::Copy(text.view());
}

OwnedText UrlEncode(const char* text, bool keepSafe, bool toUtf8) {
  if (text == nullptr || *text == '\0') return {};
  const OwnedText utf8 = toUtf8 ? GbkToUtf8(text) : OwnedText();
  const std::string_view bytes = toUtf8 ? utf8.view() : std::string_view(text);
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (keepSafe && IsSafeByte(b)) {
      out += ch;
    } else {
      out += '%';
      out += kHexDigits[b >> 4];
      out += kHexDigits[b & 0xF];
    }
  }
  return OwnedText::Copy(out);
}

}  // namespace quorvane
