#include "tools/answer_service/matcher.h"

#include <algorithm>
#include <unordered_map>

#include "tools/answer_service/normaliser.h"

namespace qv::answers {
namespace {

// Questions are looked for by their rarest trigrams. A question that shares at least 60% of the
// typed question's n trigrams lacks at most 40% of them, so it holds at least one of any
// floor(0.4 n) + 1 of them: asking for that many rarest trigrams misses no such question. Very
// long questions use at most kMaxLookupTrigrams; the share is always computed on all trigrams.
constexpr size_t kMaxLookupTrigrams = 64;
// How many of the questions holding the most looked-for trigrams are compared in full.
constexpr size_t kComparedQuestions = 64;

struct Filters {
  std::string courseNorm;
  std::string chapterNorm;
  std::optional<int> type;
};

// A course or chapter given by the user fits an entry when one of the two texts contains the
// other ("第九章" fits "第九章指令系统"); an entry without that field fits nothing given.
bool Fits(const std::string& stored, const std::string& given) {
  if (stored.empty()) return false;
  return stored.find(given) != std::string::npos || given.find(stored) != std::string::npos;
}

// Keeps the candidates that fit each given filter in turn, skipping a filter that would leave none.
template <typename T, typename EntryOf>
void Narrow(std::vector<T>& candidates, const Filters& filters, EntryOf entryOf) {
  auto apply = [&](auto fits) {
    std::vector<T> kept;
    for (auto& candidate : candidates) {
      if (fits(entryOf(candidate))) kept.push_back(candidate);
    }
    if (!kept.empty()) candidates = std::move(kept);
  };
  if (!filters.courseNorm.empty()) apply([&](const BankEntry& e) { return Fits(e.courseNorm, filters.courseNorm); });
  if (!filters.chapterNorm.empty()) apply([&](const BankEntry& e) { return Fits(e.chapterNorm, filters.chapterNorm); });
  if (filters.type) apply([&](const BankEntry& e) { return e.type == *filters.type; });
}

// The distinct trigrams of a text as UTF-8 strings, the form the trigram index holds.
std::vector<std::string> TrigramTexts(std::u32string_view text) {
  std::vector<std::string> terms;
  for (size_t i = 0; i + 3 <= text.size(); ++i) terms.push_back(ToUtf8(text.substr(i, 3)));
  std::sort(terms.begin(), terms.end());
  terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
  return terms;
}

// The ids of the questions that hold the most of the typed question's rarest trigrams, most first.
std::vector<int64_t> LikelyIds(Store& store, Platform platform, std::u32string_view text) {
  std::vector<std::string> terms = TrigramTexts(text);
  std::vector<int64_t> counts = store.QuestionsWithTrigrams(platform, terms);
  std::vector<size_t> order(terms.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return counts[a] < counts[b]; });
  size_t wanted = std::min({terms.size(), terms.size() * (100 - kSimilarPercent) / 100 + 1, kMaxLookupTrigrams});
  std::unordered_map<int64_t, int> held;
  for (size_t k = 0; k < wanted; ++k) {
    if (counts[order[k]] == 0) continue;
    for (int64_t id : store.IdsWithTrigram(platform, terms[order[k]])) ++held[id];
  }
  std::vector<std::pair<int, int64_t>> ranked;
  ranked.reserve(held.size());
  for (auto [id, count] : held) ranked.emplace_back(-count, id);
  size_t keep = std::min(ranked.size(), kComparedQuestions);
  std::partial_sort(ranked.begin(), ranked.begin() + static_cast<ptrdiff_t>(keep), ranked.end());
  std::vector<int64_t> ids;
  for (size_t i = 0; i < keep; ++i) ids.push_back(ranked[i].second);
  return ids;
}

}  // namespace

std::vector<uint64_t> TrigramsOf(std::u32string_view text) {
  std::vector<uint64_t> grams;
  for (size_t i = 0; i + 3 <= text.size(); ++i) {
    grams.push_back((uint64_t{text[i]} << 42) | (uint64_t{text[i + 1]} << 21) | uint64_t{text[i + 2]});
  }
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  return grams;
}

size_t SharedTrigrams(const std::vector<uint64_t>& typed, const std::vector<uint64_t>& candidate) {
  size_t shared = 0;
  for (auto a = typed.begin(), b = candidate.begin(); a != typed.end() && b != candidate.end();) {
    if (*a < *b) {
      ++a;
    } else if (*b < *a) {
      ++b;
    } else {
      ++shared, ++a, ++b;
    }
  }
  return shared;
}

Match Matcher::Find(const Question& question) {
  Match match;
  std::string norm = NormaliseForMatching(question.text);
  if (norm.empty()) return match;
  Filters filters{NormaliseForMatching(question.course), NormaliseForMatching(question.chapter),
                  question.type};

  std::vector<BankEntry> exact = m_store.FindByQuestion(question.platform, norm);
  if (!exact.empty()) {
    Narrow(exact, filters, [](const BankEntry& e) -> const BankEntry& { return e; });
    match.kind = Match::Kind::kExact;
    match.entry = std::move(exact.front());
    match.shared = 1.0;
    return match;
  }

  std::u32string points = ToCodePoints(norm);
  std::vector<uint64_t> typed = TrigramsOf(points);
  if (typed.empty()) return match;
  struct Scored {
    BankEntry entry;
    size_t shared;
    size_t candidateGrams;
  };
  std::vector<Scored> close;
  for (int64_t id : LikelyIds(m_store, question.platform, points)) {
    std::optional<BankEntry> entry = m_store.FindById(question.platform, id);
    if (!entry) continue;
    std::vector<uint64_t> grams = TrigramsOf(ToCodePoints(entry->questionNorm));
    size_t shared = SharedTrigrams(typed, grams);
    if (shared * 100 >= typed.size() * kSimilarPercent) close.push_back({std::move(*entry), shared, grams.size()});
  }
  if (close.empty()) return match;
  Narrow(close, filters, [](const Scored& s) -> const BankEntry& { return s.entry; });
  // The most shared trigrams win; among equals, the question with fewer trigrams of its own,
  // that is the one closest in length to what was typed.
  auto best = std::min_element(close.begin(), close.end(), [](const Scored& a, const Scored& b) {
    if (a.shared != b.shared) return a.shared > b.shared;
    return a.candidateGrams < b.candidateGrams;
  });
  match.kind = Match::Kind::kSimilar;
  match.shared = static_cast<double>(best->shared) / static_cast<double>(typed.size());
  match.entry = std::move(best->entry);
  return match;
}

}  // namespace qv::answers
