// The one file of the stream object that calls iconv.
#include "platform/com/stream/stream_charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace win::stream {
namespace {

// Owns one iconv conversion descriptor.
class IconvOwner {
 public:
  IconvOwner(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
  ~IconvOwner() {
    if (Valid()) iconv_close(m_cd);
  }
  IconvOwner(const IconvOwner&) = delete;
  IconvOwner& operator=(const IconvOwner&) = delete;

  bool Valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

 private:
  iconv_t m_cd;
};

constexpr char kUtf16Le[] = "UTF-16LE";
constexpr char16_t kReplacement = 0xFFFD;

struct Alias {
  std::string_view name;       // lower case
  std::string_view iconvName;
};

// Windows names whose conversion is not what iconv reads into the same name. Windows decodes the
// Chinese, Japanese and Korean names with its own code pages (936, 932, 949, 950), which are
// supersets of the standards the names come from, and web pages labelled with those names use
// them. "iso-8859-1" and "us-ascii" are read as windows-1252, as browsers read them.
constexpr Alias kAliases[] = {
    {"unicode", "UTF-16LE"},
    {"utf-16", "UTF-16LE"},
    {"utf-16le", "UTF-16LE"},
    {"ucs-2", "UTF-16LE"},
    {"unicodefffe", "UTF-16BE"},
    {"utf-16be", "UTF-16BE"},
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode-2-0-utf-8", "UTF-8"},
    {"x-unicode20utf8", "UTF-8"},
    {"utf-7", "UTF-7"},
    {"unicode-1-1-utf-7", "UTF-7"},
    {"unicode-2-0-utf-7", "UTF-7"},
    {"gb2312", "CP936"},
    {"gbk", "CP936"},
    {"x-gbk", "CP936"},
    {"cp936", "CP936"},
    {"gb_2312-80", "CP936"},
    {"csgb2312", "CP936"},
    {"chinese", "CP936"},
    {"iso-ir-58", "CP936"},
    {"gb18030", "GB18030"},
    {"big5", "CP950"},
    {"cn-big5", "CP950"},
    {"x-x-big5", "CP950"},
    {"csbig5", "CP950"},
    {"shift_jis", "CP932"},
    {"shift-jis", "CP932"},
    {"sjis", "CP932"},
    {"x-sjis", "CP932"},
    {"ms_kanji", "CP932"},
    {"csshiftjis", "CP932"},
    {"windows-31j", "CP932"},
    {"euc-kr", "CP949"},
    {"cseuckr", "CP949"},
    {"ks_c_5601-1987", "CP949"},
    {"ks_c_5601", "CP949"},
    {"ks_c_5601_1987", "CP949"},
    {"ksc5601", "CP949"},
    {"ksc_5601", "CP949"},
    {"korean", "CP949"},
    {"csksc56011987", "CP949"},
    {"iso-ir-149", "CP949"},
    {"x-euc-jp", "EUC-JP"},
    {"iso-8859-1", "WINDOWS-1252"},
    {"iso8859-1", "WINDOWS-1252"},
    {"latin1", "WINDOWS-1252"},
    {"l1", "WINDOWS-1252"},
    {"us-ascii", "WINDOWS-1252"},
    {"ascii", "WINDOWS-1252"},
};

// Character set names are short runs of ASCII letters, digits and a little punctuation. Anything
// else is refused before iconv sees it, in particular "/", which would let a name carry iconv
// options ("UTF-8//IGNORE").
bool IsPlausibleName(std::u16string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char16_t c : name) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
                    c == u'_' || c == u'.' || c == u':' || c == u'+' || c == u'(' || c == u')';
    if (!ok) return false;
  }
  return true;
}

bool CanConvert(const std::string& iconvName) {
  return IconvOwner(kUtf16Le, iconvName.c_str()).Valid() && IconvOwner(iconvName.c_str(), kUtf16Le).Valid();
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::optional<Charset> Charset::Find(std::u16string_view name) {
  if (!IsPlausibleName(name)) return std::nullopt;
  std::string lower;
  for (char16_t c : name) lower.push_back(static_cast<char>(c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c));
  std::string iconvName;
  for (const Alias& alias : kAliases) {
    if (alias.name == lower) {
      iconvName = alias.iconvName;
      break;
    }
  }
  if (iconvName.empty()) {
    for (char c : lower) iconvName.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  }
  if (!CanConvert(iconvName)) return std::nullopt;
  Family family = Family::Other;
  if (iconvName == "UTF-16LE") family = Family::Utf16Le;
  if (iconvName == "UTF-16BE") family = Family::Utf16Be;
  if (iconvName == "UTF-8") family = Family::Utf8;
  return Charset(std::move(iconvName), family);
}

std::string_view Charset::ByteOrderMark() const {
  switch (m_family) {
    case Family::Utf16Le: return "\xFF\xFE";
    case Family::Utf16Be: return "\xFE\xFF";
    case Family::Utf8: return "\xEF\xBB\xBF";
    case Family::Other: break;
  }
  return {};
}

Charset::Decoded Charset::Decode(const uint8_t* bytes, size_t size, size_t maxUnits) const {
  Decoded out;
  if (m_family == Family::Utf16Le) {
    // The stream's own form of text: taken unit for unit, lone surrogates included.
    const size_t units = size / 2;
    out.text.reserve(units < maxUnits ? units : maxUnits);
    size_t i = 0;
    while (i < units && out.text.size() < maxUnits) {
      const char16_t c = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      if (IsHighSurrogate(c) && out.text.size() + 1 == maxUnits && i + 1 < units) {
        const char16_t next = static_cast<char16_t>(bytes[2 * i + 2] | (bytes[2 * i + 3] << 8));
        if (IsLowSurrogate(next)) break;  // the pair does not fit
      }
      out.text.push_back(c);
      ++i;
    }
    out.bytesUsed = 2 * i;
    if (i == units && size % 2 != 0 && out.text.size() < maxUnits) {
      out.text.push_back(kReplacement);
      out.bytesUsed = size;
    }
    return out;
  }

  IconvOwner cd(kUtf16Le, m_iconvName.c_str());
  if (!cd.Valid()) throw std::bad_alloc();  // only running out of resources makes a known name fail
  char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
  size_t inLeft = size;
  const size_t skipOnError = m_family == Family::Utf16Be ? 2 : 1;
  constexpr size_t kChunk = 4096;
  char16_t buffer[kChunk];
  while (inLeft > 0 && out.text.size() < maxUnits) {
    const size_t room = std::min(kChunk, maxUnits - out.text.size());
    char* o = reinterpret_cast<char*>(buffer);
    size_t oLeft = room * sizeof(char16_t);
    const size_t r = iconv(cd.get(), &in, &inLeft, &o, &oLeft);
    const int error = errno;
    const size_t produced = room - oLeft / sizeof(char16_t);
    out.text.append(buffer, produced);
    if (r != static_cast<size_t>(-1)) break;  // all input converted
    if (error == E2BIG) {
      if (produced == 0) break;  // the next character needs more room than maxUnits leaves
      continue;
    }
    if (error == EILSEQ) {
      out.text.push_back(kReplacement);
      const size_t skip = std::min(skipOnError, inLeft);
      in += skip;
      inLeft -= skip;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
      continue;
    }
    // EINVAL: the input ends inside a character.
    out.text.push_back(kReplacement);
    in += inLeft;
    inLeft = 0;
  }
  out.bytesUsed = size - inLeft;
  return out;
}

std::vector<uint8_t> Charset::Encode(std::u16string_view text) const {
  std::vector<uint8_t> out;
  if (m_family == Family::Utf16Le) {
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
      out.push_back(static_cast<uint8_t>(c & 0xFF));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
    return out;
  }
  IconvOwner cd(m_iconvName.c_str(), kUtf16Le);
  if (!cd.Valid()) throw std::bad_alloc();
  // What an unrepresentable character becomes: "?" in this character set.
  std::vector<uint8_t> question;
  {
    IconvOwner q(m_iconvName.c_str(), kUtf16Le);
    char16_t mark = u'?';
    char* in = reinterpret_cast<char*>(&mark);
    size_t inLeft = sizeof mark;
    char buf[16];
    char* o = buf;
    size_t oLeft = sizeof buf;
    if (q.Valid() && iconv(q.get(), &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1)) {
      iconv(q.get(), nullptr, nullptr, &o, &oLeft);
      question.assign(buf, o);
    }
  }
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t inLeft = text.size() * sizeof(char16_t);
  char buffer[8192];
  for (;;) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    const size_t r = inLeft > 0 ? iconv(cd.get(), &in, &inLeft, &o, &oLeft) : iconv(cd.get(), nullptr, nullptr, &o, &oLeft);
    const int error = errno;
    out.insert(out.end(), buffer, o);
    if (r != static_cast<size_t>(-1)) {
      if (inLeft == 0 && o == buffer) break;  // input done and the shift state reset written
      continue;
    }
    if (error == E2BIG) continue;
    // EILSEQ (no such character here, or a lone surrogate) and EINVAL (a pair cut at the end):
    // skip one code unit, or a whole pair.
    size_t skip = sizeof(char16_t);
    if (inLeft >= 4) {
      char16_t pair[2];
      std::memcpy(pair, in, sizeof pair);
      if (IsHighSurrogate(pair[0]) && IsLowSurrogate(pair[1])) skip = 4;
    }
    skip = std::min(skip, inLeft);
    in += skip;
    inLeft -= skip;
    out.insert(out.end(), question.begin(), question.end());
  }
  return out;
}

}  // namespace win::stream
