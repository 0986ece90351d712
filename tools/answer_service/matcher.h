// Finds the bank's answer to a typed question: first among the questions that are equal after
// normalisation, then, when there is none, the closest question by shared trigrams.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/answer_service/store.h"

namespace qv::answers {

// What the user typed, in UTF-8. Empty course and chapter texts and a missing type mean "any".
struct Question {
  Platform platform = Platform::kVelmora;
  std::string text;
  std::string course;
  std::string chapter;
  std::optional<int> type;
};

struct Match {
  enum class Kind { kExact, kSimilar, kNone };
  Kind kind = Kind::kNone;
  BankEntry entry;       // the matched question (empty for kNone)
  double shared = 0.0;   // the share of the typed question's trigrams that the match has too
};

// The distinct trigrams (three consecutive code points) of a normalised text, sorted.
std::vector<uint64_t> TrigramsOf(std::u32string_view text);

// How many of `typed`'s trigrams `candidate` has; both sorted and distinct.
size_t SharedTrigrams(const std::vector<uint64_t>& typed, const std::vector<uint64_t>& candidate);

// A fuzzy match needs at least this share of the typed question's trigrams.
inline constexpr int kSimilarPercent = 60;

class Matcher {
 public:
  explicit Matcher(Store& store) : m_store(store) {}
  Match Find(const Question& question);

 private:
  Store& m_store;
};

}  // namespace qv::answers
