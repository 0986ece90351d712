#include "platform/com/script/script_code_cache.h"

#include <algorithm>

namespace win::script {

CompiledCodeCache& CompiledCodeCache::Process() {
  static CompiledCodeCache cache;
  return cache;
}

size_t CompiledCodeCache::Fingerprint(CodeKind kind, std::string_view text) {
  const size_t h = std::hash<std::string_view>{}(text);
  // Zero marks an empty slot of the ring; the kind keeps a program and an eval of one text apart.
  return (kind == CodeKind::Program ? h : ~h) | 1;
}

std::shared_ptr<const std::string> CompiledCodeCache::Find(CodeKind kind, std::string_view text) {
  if (text.size() > kLargestText) return nullptr;
  std::lock_guard lock(m_mutex);
  Map& map = MapOf(kind);
  const auto it = map.find(text);
  if (it == map.end()) return nullptr;
  it->second.lastUse = ++m_clock;
  ++m_counts.loads;
  return it->second.compiled;
}

bool CompiledCodeCache::WantsCompiledForm(CodeKind kind, std::string_view text) {
  if (text.size() > kLargestText) return false;
  const size_t print = Fingerprint(kind, text);
  std::lock_guard lock(m_mutex);
  if (std::find(std::begin(m_seen), std::end(m_seen), print) != std::end(m_seen)) return true;
  m_seen[m_nextSeen] = print;
  m_nextSeen = (m_nextSeen + 1) % kSeenSlots;
  return false;
}

void CompiledCodeCache::Store(CodeKind kind, std::string_view text, std::string compiled) {
  const size_t cost = text.size() + compiled.size();
  if (text.size() > kLargestText || cost > kMaxBytes || compiled.empty()) return;
  auto form = std::make_shared<const std::string>(std::move(compiled));
  std::string key(text);
  std::lock_guard lock(m_mutex);
  Map& map = MapOf(kind);
  if (map.find(text) != map.end()) return;  // another context stored it meanwhile
  while (!(m_programs.empty() && m_evals.empty()) &&
         (m_programs.size() + m_evals.size() >= kMaxEntries || m_bytes + cost > kMaxBytes)) {
    EvictOne();
  }
  map.emplace(std::move(key), Entry{std::move(form), ++m_clock});
  m_bytes += cost;
  ++m_counts.stores;
  const size_t print = Fingerprint(kind, text);
  std::replace(std::begin(m_seen), std::end(m_seen), print, size_t{0});
}

void CompiledCodeCache::EvictOne() {
  Map* oldestMap = nullptr;
  Map::iterator oldest;
  for (Map* map : {&m_programs, &m_evals}) {
    for (auto it = map->begin(); it != map->end(); ++it) {
      if (oldestMap == nullptr || it->second.lastUse < oldest->second.lastUse) {
        oldestMap = map;
        oldest = it;
      }
    }
  }
  if (oldestMap == nullptr) return;
  m_bytes -= oldest->first.size() + oldest->second.compiled->size();
  oldestMap->erase(oldest);
}

void CompiledCodeCache::Clear() {
  std::lock_guard lock(m_mutex);
  m_programs.clear();
  m_evals.clear();
  m_bytes = 0;
  std::fill(std::begin(m_seen), std::end(m_seen), size_t{0});
  m_counts = {};
}

CompiledCodeCache::Counts CompiledCodeCache::GetCounts() const {
  std::lock_guard lock(m_mutex);
  return m_counts;
}

}  // namespace win::script
