// RegexObject: regular-expression matching and replacement on runtime texts, through the
// "VBScript.RegExp" automation object. One ExecutePattern compiles a pattern with its options and
// runs it over a subject; the other operations read its matches or replace over the same subject.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/automation/holders.h"
#include "runtime/memory/owned.h"

namespace quorvane {

// The program's declared DLL commands this class calls, by index.
inline constexpr int32_t kDllCoInitialize = 15;
inline constexpr int32_t kDllCoUninitialize = 16;

class RegexObject {
 public:
  // Initialises COM for the calling thread; no regex object exists until ExecutePattern.
  RegexObject();
  // A second reference to the same regex object and match collection, and a copy of the subject.
  RegexObject(const RegexObject& other);
  RegexObject& operator=(const RegexObject&) = delete;
  ~RegexObject();

  // Matches pattern over subject. Options left out take their defaults: matching ignores case
  // unless caseSensitive is given true; multiline and global are true; quoteMark false (when true,
  // every "#引号" in the pattern stands for a double quote). False when the pattern is invalid.
  bool ExecutePattern(const char* pattern, const char* subject, std::optional<bool> caseSensitive = {},
                      std::optional<bool> multiline = {}, std::optional<bool> global = {},
                      std::optional<bool> quoteMark = {});
  void NoOperation() {}
  qv::OwnedText GetPattern() const;
  // The subject with the matches replaced; the replacement knows "$1".."$99", "$&", "$`", "$'", "$$".
  qv::OwnedText ReplaceMatches(std::optional<const char*> replacement = {}) const;
  int32_t GetMatchCount() const;
  // Match n (1-based). When position is given it receives the match's 0-based byte offset in the
  // subject (-2 when it cannot be found).
  qv::OwnedText GetMatchText(int32_t n, int32_t* position = nullptr) const;
  // Capture group k (1-based) of match n; a group that took no part gives the empty text.
  qv::OwnedText GetSubMatchText(int32_t n, int32_t k, int32_t* position = nullptr) const;
  // The number of capture groups, read from the first match; 0 without a match.
  int32_t GetSubMatchCount() const;

 private:
  // Finds text in the subject from the match's FirstIndex and stores its byte offset in position.
  void LocateInSubject(const qv::OwnedObject& match, const char* text, int32_t* position) const;

  qv::OwnedObject m_regexp;
  qv::OwnedObject m_matches;
  qv::OwnedVariantHolder m_subject;
};

}  // namespace quorvane
