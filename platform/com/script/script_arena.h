// The memory of one script heap: malloc blocks with a byte cap, all kept on one list.
//
// The cap makes a runaway script (a string doubled until memory ends) fail its own call with an
// out-of-memory error instead of taking the process down. The list lets a heap that can no longer
// be trusted (after a fatal engine error or an interrupted run) be dropped by freeing its blocks
// one by one, without asking the engine to walk its own, possibly half-updated, structures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win::script {

class ScriptArena {
 public:
  explicit ScriptArena(size_t limit) : m_limit(limit) {}
  ~ScriptArena() { ReleaseAll(); }
  ScriptArena(const ScriptArena&) = delete;
  ScriptArena& operator=(const ScriptArena&) = delete;

  // The engine's allocation contract: a size of 0 gives null (and Reallocate then frees), a
  // refused or failed request gives null and leaves the old block as it was.
  void* Allocate(size_t bytes);
  void* Reallocate(void* block, size_t bytes);
  void Free(void* block);

  // Frees every block still held.
  void ReleaseAll();

  size_t BytesInUse() const { return m_inUse; }
  size_t Limit() const { return m_limit; }
  void SetLimit(size_t limit) { m_limit = limit; }
  // How many requests the cap has refused so far; a script error that follows a refusal is an
  // out-of-memory failure.
  uint64_t Refusals() const { return m_refusals; }

 private:
  struct alignas(16) Header {
    Header* prev;
    Header* next;
  };

  bool Admits(size_t addedBytes) const;
  void Link(Header* h);
  static void Unlink(Header* h);

  Header m_list{&m_list, &m_list};
  size_t m_inUse = 0;
  size_t m_limit;
  uint64_t m_refusals = 0;
};

}  // namespace win::script
