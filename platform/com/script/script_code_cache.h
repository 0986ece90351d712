// Compiled script texts kept for the whole process, so that a text which every new context runs
// again (a library of helper functions, the same small expressions) is compiled once and then
// loaded from the engine's compiled form, which takes a fraction of the time.
//
// A text is stored only once it has been compiled a second time: most texts (a document handed to
// one context) are never seen again and are not worth keeping. Only texts that compiled are stored,
// so a syntax error is found and reported by the compiler every time. The store is bounded in
// entries and bytes and drops the least recently used entry first.
//
// The compiled forms come from this process's own engine and nowhere else, which is what the
// engine requires of the forms it loads (it does not validate them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace win::script {

// Program texts and eval texts compile to different functions, so they are kept apart.
enum class CodeKind { Program, Eval };

class CompiledCodeCache {
 public:
  static constexpr size_t kLargestText = 64 * 1024;
  static constexpr size_t kMaxEntries = 64;
  static constexpr size_t kMaxBytes = 4 * 1024 * 1024;  // texts and compiled forms together

  struct Counts {
    uint64_t loads = 0;   // texts found compiled
    uint64_t stores = 0;  // compiled forms kept
  };

  // The one store the engines of this process share; it may be used from any thread.
  static CompiledCodeCache& Process();

  CompiledCodeCache() = default;
  CompiledCodeCache(const CompiledCodeCache&) = delete;
  CompiledCodeCache& operator=(const CompiledCodeCache&) = delete;

  // The compiled form of the text, or null.
  std::shared_ptr<const std::string> Find(CodeKind kind, std::string_view text);
  // Called for a text that has just compiled: whether its compiled form should be handed to Store.
  bool WantsCompiledForm(CodeKind kind, std::string_view text);
  void Store(CodeKind kind, std::string_view text, std::string compiled);

  void Clear();
  Counts GetCounts() const;

 private:
  struct Entry {
    std::shared_ptr<const std::string> compiled;
    uint64_t lastUse = 0;
  };
  struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, Entry, TextHash, std::equal_to<>>;

  static size_t Fingerprint(CodeKind kind, std::string_view text);
  Map& MapOf(CodeKind kind) { return kind == CodeKind::Program ? m_programs : m_evals; }
  void EvictOne();

  mutable std::mutex m_mutex;
  Map m_programs;
  Map m_evals;
  size_t m_bytes = 0;
  uint64_t m_clock = 0;
  Counts m_counts;
  // Fingerprints of texts compiled once and not stored yet, in a ring: a text compiled again
  // while its fingerprint is still here is stored.
  static constexpr size_t kSeenSlots = 256;
  size_t m_seen[kSeenSlots] = {};
  size_t m_nextSeen = 0;
};

}  // namespace win::script
