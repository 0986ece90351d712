// NameValueList: an ordered list of name and value texts that renders itself as an HTML-form body
// (name=value joined by '&'), as request header lines (name: value joined by CR LF) or as a flat
// JSON object. Names may repeat; lookups take the first entry whose name equals the sought one byte
// for byte.
#pragma once

#include <vector>

#include "runtime/memory/owned.h"

namespace quorvane {

class NameValueList {
 public:
  NameValueList() = default;
  // A deep copy: the two lists share nothing.
  NameValueList(const NameValueList& other);
  NameValueList& operator=(const NameValueList&) = delete;
  ~NameValueList() = default;

  // Appends one entry; with toUtf8 both texts are converted from GBK to UTF-8 first.
  void Add(const char* name, const char* value, bool toUtf8 = false);
  // Adds one entry per '&'-separated piece: the text before the piece's first '=' and after its
  // last; a piece without '=' gives an entry with an empty name and value.
  void ParseFormText(const char* text, bool toUtf8 = false);
  qv::OwnedText GetValue(const char* name) const;
  // Replaces the value of the first entry named so, or adds the entry.
  void SetValue(const char* name, const char* value);
  // name=value pairs joined by '&'; with encode both are percent-encoded (UrlEncode, keeping the
  // safe characters).
  qv::OwnedText ToFormText(bool encode = false) const;
  // "name: value" lines joined by CR LF; with encode the values are percent-encoded.
  qv::OwnedText ToHeaderText(bool encode = false) const;
  // The variable receives a text array with copies of the names (values).
  void GetNames(qv::OwnedArray& names) const;
  void GetValues(qv::OwnedArray& values) const;
  void RemoveAll();
  // Removes the first entry named so, if there is one.
  void RemoveEntry(const char* name);
  // {"name":"value",...}: names as they are, values with their double quotes escaped.
  qv::OwnedText ToJsonText() const;
  // Every '"' preceded by a backslash; nothing else is escaped.
  static qv::OwnedText EscapeQuotes(const char* text);
  // Removes marker once from the end of text, then once from its start; the variable and the result
  // hold the new text.
  static qv::OwnedText TrimMarker(qv::OwnedText& text, const char* marker);

  size_t Count() const { return m_names.size(); }

 private:
  // The index of the first entry with that name, or Count().
  size_t Find(const char* name) const;

  std::vector<qv::OwnedText> m_names;
  std::vector<qv::OwnedText> m_values;
};

// Percent-encodes the GBK bytes of text (its UTF-8 bytes with toUtf8) as '%' and two upper-case
// hexadecimal digits. With keepSafe the digits, ASCII letters, '-' and '.' stay as they are.
qv::OwnedText UrlEncode(const char* text, bool keepSafe = false, bool toUtf8 = false);

}  // namespace quorvane
