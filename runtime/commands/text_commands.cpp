// The text commands: lengths and parts of texts, finding, replacing and splitting, trimming, case
// and comparison, character codes. Positions and lengths count bytes; positions are 1-based.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "runtime/commands/command_args.h"
#include "runtime/errors.h"
#include "runtime/commands/text_scan.h"

namespace qv::core_commands {
namespace {

using command_detail::Arguments;
using command_detail::ReturnBool;
using command_detail::ReturnInt;
using command_detail::ReturnText;
using text_scan::Finder;
using text_scan::IsLeadByte;
using text_scan::npos;

constexpr unsigned char kFullWidthSpaceByte = 0xA1;  // the full-width space is A1 A1

[[noreturn]] void ReportTooLarge(size_t n) {
  char message[64];
  std::snprintf(message, sizeof message, error_text::kAllocationFailed, static_cast<int>(n));
  ReportRuntimeError(message, 0, 0, 0);
}

// Builds a text in one runtime block that grows geometrically, so that composing a long result
// costs a few reallocations rather than one per piece.
class TextBuilder {
 public:
  explicit TextBuilder(size_t capacity) { Reserve(capacity); }
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;
  ~TextBuilder() { RuntimeFree(m_block); }

  void Append(const char* bytes, size_t n) {
    if (n == 0) return;
    if (m_capacity - m_size < n) Reserve(std::max(m_size + n, m_capacity + m_capacity / 2));
    std::memcpy(m_block + m_size, bytes, n);
    m_size += n;
  }
  void Append(std::string_view s) { Append(s.data(), s.size()); }

  // The finished text, trimmed to its size; null when nothing was appended.
  char* Take() {
    if (m_size == 0) return nullptr;
    if (m_capacity - m_size > 4096) Resize(m_size);
    m_block[m_size] = '\0';
    m_capacity = m_size = 0;
    return std::exchange(m_block, nullptr);
  }

 private:
  void Reserve(size_t capacity) {
    if (capacity > m_capacity) Resize(capacity);
  }
  void Resize(size_t capacity) {
    // One byte beyond the capacity is kept for the NUL.
    if (capacity >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) ReportTooLarge(capacity + 1);
    m_block = static_cast<char*>(RuntimeRealloc(m_block, static_cast<int32_t>(capacity + 1)));
    m_capacity = capacity;
  }

  char* m_block = nullptr;
  size_t m_size = 0;
  size_t m_capacity = 0;
};

// Builds a one-dimensional text array: the block grows geometrically while parts are added and is
// cut to exactly its element count at the end. The texts are made as the parts are found.
class TextArrayBuilder {
 public:
  TextArrayBuilder() = default;
  TextArrayBuilder(const TextArrayBuilder&) = delete;
  TextArrayBuilder& operator=(const TextArrayBuilder&) = delete;
  ~TextArrayBuilder() {
    if (m_block) {
      WriteInt32(m_block + 4, static_cast<int32_t>(m_count));
      FreeArray(type::Text, m_block);
    }
  }

  int64_t size() const { return static_cast<int64_t>(m_count); }
  void Append(std::string_view part) {
    if (m_count == m_capacity) Resize(m_capacity < 16 ? 16 : m_capacity * 2);
    char* text = NewText(part);
    std::memcpy(m_block + kByteSetHeader + m_count * sizeof(char*), &text, sizeof text);
    ++m_count;
  }
  // The finished array block, with exactly as many elements as were appended (possibly none).
  void* Take() {
    Resize(m_count);
    WriteInt32(m_block, 1);
    WriteInt32(m_block + 4, static_cast<int32_t>(m_count));
    m_count = m_capacity = 0;
    return std::exchange(m_block, nullptr);
  }

 private:
  void Resize(size_t capacity) {
    const size_t bytes = kByteSetHeader + capacity * sizeof(char*);
    if (bytes > static_cast<size_t>(std::numeric_limits<int32_t>::max())) ReportTooLarge(bytes);
    const bool fresh = m_block == nullptr;
    m_block = static_cast<unsigned char*>(RuntimeRealloc(m_block, static_cast<int32_t>(bytes)));
    if (fresh) WriteInt32(m_block, 1);
    m_capacity = capacity;
  }

  unsigned char* m_block = nullptr;
  size_t m_count = 0;
  size_t m_capacity = 0;
};

// The start offset of a 1-based start argument, clamped to at least 0.
size_t StartOffset(int32_t start) { return start > 1 ? static_cast<size_t>(start) - 1 : 0; }

}  // namespace

void TextLength(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReturnInt(result, static_cast<int32_t>(args.Text(0).size()));
}

void TextLeft(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const int32_t n = args.Int(1);
  if (n <= 0) return;
  ReturnText(result, NewText(text.substr(0, static_cast<size_t>(n))));
}

void TextRight(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const int32_t n = args.Int(1);
  if (n <= 0) return;
  const size_t take = std::min(text.size(), static_cast<size_t>(n));
  ReturnText(result, NewText(text.substr(text.size() - take)));
}

void TextMiddle(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const int32_t start = args.Int(1);
  const int32_t n = args.Int(2);
  if (start < 1 || static_cast<size_t>(start) > text.size() || n <= 0) return;
  ReturnText(result, NewText(text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(n))));
}

void TextBeginsWith(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReturnBool(result, args.Text(0).starts_with(args.Text(1)));
}

void FindText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const std::string_view sought = args.Text(1);
  const size_t begin = args.Present(2) ? StartOffset(args.Int(2)) : 0;
  const bool ignoreCase = args[3].low == 1;  // only the value true folds case
  ReturnInt(result, -1);
  if (begin >= text.size()) return;
  if (sought.empty()) return ReturnInt(result, 1);
  // Characters are read from the start of the text, so a start inside a double-byte character
  // resumes at the next character instead of pairing the trail byte with the byte after it.
  Finder finder(text.data(), text.size(), text.size(), 0, sought, ignoreCase);
  const size_t found = finder.Next(begin);
  if (found != npos) ReturnInt(result, static_cast<int32_t>(found + 1));
}

void FindTextReverse(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const std::string_view sought = args.Text(1);
  const size_t end = std::min(args.Present(2) ? StartOffset(args.Int(2)) : text.size(), text.size());
  const bool ignoreCase = args[3].low == 1;
  ReturnInt(result, -1);
  if (end == 0) return;
  if (sought.empty()) return ReturnInt(result, 1);
  // Characters can only be told apart reading forward, so the scan runs from the start of the text
  // and keeps the last match that ends inside the range.
  Finder finder(text.data(), text.size(), end, 0, sought, ignoreCase);
  size_t last = npos;
  for (size_t at = finder.Next(0); at != npos; at = finder.Next(at + 1)) last = at;
  if (last != npos) ReturnInt(result, static_cast<int32_t>(last + 1));
}

void ReplaceSubtext(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const std::string_view sought = args.Text(1);
  const std::string_view replacement = args.Text(2);  // omitted: empty
  const size_t begin = args.Present(3) ? StartOffset(args.Int(3)) : 0;
  int64_t remaining = args.Present(4) ? args.Int(4) : -1;  // negative: every occurrence
  const bool caseSensitive = args.Flag(5);
  if (text.empty() || sought.empty() || begin >= text.size() || remaining == 0)
    return ReturnText(result, NewText(text));

  // Replacing with something no longer than the sought text never grows the text.
  TextBuilder out(replacement.size() <= sought.size() ? text.size() : text.size() + text.size() / 4 + 64);
  out.Append(text.substr(0, begin));
  Finder finder(text.data(), text.size(), text.size(), 0, sought, !caseSensitive);  // as in FindText
  size_t copied = begin;
  for (size_t at = finder.Next(begin); at != npos; at = finder.Next(copied)) {
    out.Append(text.substr(copied, at - copied));
    out.Append(replacement);
    copied = at + sought.size();
    finder.RestartAt(copied);  // the scan goes on behind the match
    if (remaining > 0 && --remaining == 0) break;
  }
  out.Append(text.substr(copied));
  ReturnText(result, out.Take());
}

void SplitText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const std::string_view separator = args.Present(1) ? args.Text(1) : std::string_view(",");
  const int64_t maxParts = args.Present(2) ? std::max(args.Int(2), 0) : std::numeric_limits<int64_t>::max();

  TextArrayBuilder parts;
  if (!text.empty() && maxParts > 0) {
    if (separator.empty()) {
      parts.Append(text);
    } else {
      Finder finder(text.data(), text.size(), text.size(), 0, separator, false);
      size_t partStart = 0;
      bool full = false;
      for (size_t at = finder.Next(0); at != npos; at = finder.Next(partStart)) {
        parts.Append(text.substr(partStart, at - partStart));
        partStart = at + separator.size();
        finder.RestartAt(partStart);
        if (parts.size() == maxParts) {
          full = true;
          break;
        }
      }
      if (!full && partStart < text.size()) parts.Append(text.substr(partStart));
    }
  }
  result->SetPointer(parts.Take());
}

void TrimSpaces(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t length = text.size();
  auto isWideSpace = [&](size_t i) {
    return s[i] == kFullWidthSpaceByte && i + 1 < length && s[i + 1] == kFullWidthSpaceByte;
  };

  size_t i = 0;
  while (i < length) {
    if (s[i] == ' ') ++i;
    else if (isWideSpace(i)) i += 2;
    else break;
  }
  const size_t begin = i;
  size_t end = i;  // just past the last character that is not a space
  while (i < length) {
    if (IsLeadByte(s[i])) {
      if (i + 1 == length) {
        // A lead byte without its trail byte is dropped; what comes before it stays.
        end = i;
        break;
      }
      const bool space = isWideSpace(i);
      i += 2;
      if (!space) end = i;
    } else {
      const bool space = s[i] == ' ';
      ++i;
      if (!space) end = i;
    }
  }
  ReturnText(result, NewText(text.substr(begin, end - begin)));
}

void ToUpper(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  char* copy = NewText(text);
  auto* s = reinterpret_cast<unsigned char*>(copy);
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsLeadByte(s[i])) ++i;  // a double-byte character stays as it is, trail byte included
    else if (s[i] >= 'a' && s[i] <= 'z') s[i] -= 'a' - 'A';
  }
  ReturnText(result, copy);
}

void CompareText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  ReturnInt(result, text_scan::CompareMultibyte(args.Text(0), args.Text(1), !args.Flag(2)));
}

void CharCode(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const std::string_view text = args.Text(0);
  const int32_t position = args.Present(1) ? args.Int(1) : 1;
  if (position < 1 || static_cast<size_t>(position) > text.size()) return ReturnInt(result, 0);
  ReturnInt(result, static_cast<signed char>(text[static_cast<size_t>(position) - 1]));
}

void CharFromCode(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const char c = static_cast<char>(args.Int(0) & 0xFF);
  ReturnText(result, NewText(&c, c != '\0' ? 1 : 0));
}

void SpaceText(RuntimeValue* result, int32_t argumentCount, RuntimeValue* arguments) {
  const Arguments args(argumentCount, arguments);
  const int32_t n = args.Int(0);
  if (n < 1) return;
  if (n == std::numeric_limits<int32_t>::max()) ReportTooLarge(static_cast<size_t>(n) + 1);
  auto* text = static_cast<char*>(RuntimeAlloc(n + 1));
  std::memset(text, ' ', static_cast<size_t>(n));
  text[n] = '\0';
  ReturnText(result, text);
}

}  // namespace qv::core_commands
