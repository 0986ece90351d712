#include "runtime/commands/text_scan.h"

#include <bit>
#include <cstring>

namespace qv::text_scan {
namespace {

static_assert(std::endian::native == std::endian::little, "the word scan reads bytes little-endian");

constexpr uint64_t kHighBits = 0x8080808080808080ull;

}  // namespace

bool CharStarts::IsCharStart(size_t pos) {
  if (pos <= m_known) return pos == m_known;
  // Find where the run of bytes >= 0x80 that ends at pos begins: just after the last byte below
  // 0x80 in [m_known, pos), or at m_known when there is none. Eight bytes at a time.
  size_t runStart = m_known;
  size_t j = pos;
  while (j > m_known) {
    if (j - m_known >= 8) {
      uint64_t word;
      std::memcpy(&word, m_text + j - 8, 8);
      const uint64_t low = ~word & kHighBits;  // the high bit of every byte below 0x80
      if (low != 0) {
        runStart = j - 8 + static_cast<size_t>((63 - std::countl_zero(low)) >> 3) + 1;
        break;
      }
      j -= 8;
    } else {
      --j;
      if (!IsLeadByte(m_text[j])) {
        runStart = j + 1;
        break;
      }
    }
  }
  const bool start = ((pos - runStart) & 1) == 0;
  // pos is either a start, or the trail byte of a character, in which case the next byte starts one.
  m_known = start ? pos : pos + 1;
  return start;
}

namespace {

// Folds every single-byte character of s[from, size) (reading characters from `from`) to lower
// case. Returns whether anything could fold, that is whether a single-byte character is a letter.
bool FoldSingleByteCharacters(std::string& s, size_t from) {
  bool letters = false;
  for (size_t i = from; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (IsLeadByte(c)) {
      i += 2;
      continue;
    }
    const unsigned char folded = FoldAscii(c);
    letters |= folded >= 'a' && folded <= 'z';
    s[i++] = static_cast<char>(folded);
  }
  return letters;
}

// Whether reading s character by character ends on a lead byte without its trail byte.
bool EndsInLoneLeadByte(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 == s.size()) return true;
    i += IsLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
  }
  return false;
}

}  // namespace

Finder::Finder(const char* text, size_t length, size_t limit, size_t start, std::string_view sought,
               bool foldCase)
    : m_text(reinterpret_cast<const unsigned char*>(text)),
      m_haystack(m_text),
      m_length(length),
      m_limit(limit < length ? limit : length),
      m_sought(sought),
      m_origin(start),
      m_starts(m_text, start) {
  if (!foldCase) return;
  m_foldedSought.assign(sought);
  // Without a letter among its single-byte characters, a folding compare is an exact compare.
  if (!FoldSingleByteCharacters(m_foldedSought, 0)) return;
  m_sought = m_foldedSought;
  m_foldedText.assign(text, m_limit);
  FoldSingleByteCharacters(m_foldedText, start < m_limit ? start : m_limit);
  m_haystack = reinterpret_cast<const unsigned char*>(m_foldedText.data());
  // A match that ends inside a character makes the scan read characters anew from a trail byte,
  // which can change which bytes of the copy are single-byte characters; see RestartAt.
  m_refoldOnRestart = EndsInLoneLeadByte(sought);
}

void Finder::RestartAt(size_t pos) {
  m_starts.RestartAt(pos);
  if (!m_refoldOnRestart) return;
  // Reading anew from pos can only change how the run of bytes >= 0x80 at pos pairs up, and so
  // whether the first byte below 0x80 after that run is a character of its own (folded) or a
  // trail byte (kept); every later byte reads as before.
  size_t r = pos;
  while (r < m_limit && IsLeadByte(m_text[r])) ++r;
  if (r < m_limit) m_foldedText[r] = static_cast<char>(((r - pos) & 1) == 0 ? FoldAscii(m_text[r]) : m_text[r]);
}

size_t Finder::Candidate(size_t from) {
  const size_t m = m_sought.size();
  const auto* sought = reinterpret_cast<const unsigned char*>(m_sought.data());
  const size_t end = m_limit - m + 1;  // candidates start in [from, end)
  if (m == 1 || !m_useMemmem) {
    while (from < end) {
      const void* hit = std::memchr(m_haystack + from, sought[0], end - from);
      if (hit == nullptr) return npos;
      const size_t p = static_cast<size_t>(static_cast<const unsigned char*>(hit) - m_haystack);
      if (m == 1 || std::memcmp(m_haystack + p + 1, sought + 1, m - 1) == 0) return p;
      from = p + 1;
      m_falseCandidateWork += m;
      if (m_falseCandidateWork > 2 * (from - m_origin) + 4096) {
        m_useMemmem = true;
        break;
      }
    }
    if (from >= end) return npos;
  }
  const void* hit = ::memmem(m_haystack + from, m_limit - from, sought, m);
  return hit ? static_cast<size_t>(static_cast<const unsigned char*>(hit) - m_haystack) : npos;
}

size_t Finder::Next(size_t from) {
  const size_t m = m_sought.size();
  while (from < m_limit && m_limit - from >= m) {
    const size_t c = Candidate(from);
    if (c == npos) return npos;
    if (m_starts.IsCharStart(c)) {
      // A lead byte right before the NUL ends the scan: there is no character there.
      if (c + 1 == m_length && IsLeadByte(m_text[c])) return npos;
      return c;
    }
    from = c + 1;
  }
  return npos;
}

int CompareMultibyte(std::string_view a, std::string_view b, bool foldCase) {
  // Reads the character at i as a number and moves i past it. A lead byte at the end counts alone.
  auto next = [foldCase](std::string_view s, size_t& i) -> uint32_t {
    const auto c = static_cast<unsigned char>(s[i++]);
    if (IsLeadByte(c) && i < s.size()) return (uint32_t{c} << 8) | static_cast<unsigned char>(s[i++]);
    return foldCase ? FoldAscii(c) : c;
  };
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const uint32_t ca = next(a, i);
    const uint32_t cb = next(b, j);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace qv::text_scan
