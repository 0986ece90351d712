// Character-stepping scans over GBK texts, shared by the text commands.
//
// A double-byte character is a byte of 0x80 or above together with the byte after it; a scan
// moves over such a pair as one unit, so a match never starts at a trail byte, and a lead byte
// directly before the terminating NUL ends the scan. The scans here find candidates with the C
// library's memchr/memmem and then check that a candidate starts a character, so that searching a
// long text costs about as much as a plain byte search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv::text_scan {

inline constexpr size_t npos = static_cast<size_t>(-1);

inline bool IsLeadByte(unsigned char b) { return b >= 0x80; }
inline unsigned char FoldAscii(unsigned char b) { return b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b; }

// Answers "does this position start a character?" for increasing positions of a text whose
// character reading starts at a given position.
//
// A byte below 0x80 is either a single-byte character or a trail byte; either way the byte after
// it starts a character. So a position is a character start exactly when the run of bytes >= 0x80
// directly before it (back to the last byte below 0x80, or back to a known start) has even length.
// Each query only looks back to the previous query, so a whole pass over the text is linear.
class CharStarts {
 public:
  CharStarts(const unsigned char* text, size_t start) : m_text(text), m_known(start) {}

  // Whether pos starts a character. pos must not lie before the previous query or restart.
  bool IsCharStart(size_t pos);
  // Makes pos a character start: the reading of characters begins anew there.
  void RestartAt(size_t pos) { m_known = pos; }

 private:
  const unsigned char* m_text;
  size_t m_known;  // a position known to start a character; nothing before it is looked at
};

// Finds the occurrences of a sought text that start on a character, from left to right.
//
// Candidates come from memchr on the first sought byte plus memcmp, as a std::string_view search
// finds them; when false candidates pile up (work beyond twice the bytes passed) the search moves
// to memmem, whose two-way algorithm keeps long runs of near-matches linear.
//
// foldCase compares ASCII letters without regard to case. Bytes of double-byte characters always
// compare exactly, trail bytes in the letter range included; full-width letters are therefore not
// folded, which keeps the rule simple and byte-exact for every double-byte character. Folding
// searches a copy of the text in which every single-byte character is folded, so it stays a plain
// byte search.
class Finder {
 public:
  // text holds length bytes followed by the NUL; matches must end at or before limit (<= length);
  // the reading of characters starts at start. sought must not be empty.
  Finder(const char* text, size_t length, size_t limit, size_t start, std::string_view sought, bool foldCase);

  // The first match at or after from (from must not lie before an earlier result or restart), or
  // npos.
  size_t Next(size_t from);
  // Continues reading characters at pos, typically the end of a match that was consumed.
  void RestartAt(size_t pos);

 private:
  size_t Candidate(size_t from);

  const unsigned char* m_text;      // the text as given
  const unsigned char* m_haystack;  // the bytes searched: the text, or its folded copy
  size_t m_length;
  size_t m_limit;
  std::string_view m_sought;  // as searched: folded when the text is
  std::string m_foldedText;
  std::string m_foldedSought;
  bool m_refoldOnRestart = false;
  bool m_useMemmem = false;
  size_t m_origin;
  size_t m_falseCandidateWork = 0;
  CharStarts m_starts;
};

// Compares two texts character by character in code page order: a double-byte character counts as
// the 16-bit number lead * 256 + trail, a single byte as itself, so every double-byte character
// sorts after every ASCII character. foldCase folds ASCII letters to lower case first. -1, 0 or 1.
int CompareMultibyte(std::string_view a, std::string_view b, bool foldCase);

}  // namespace qv::text_scan
