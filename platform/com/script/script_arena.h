// The memory of one script heap, with a byte cap, all of it reachable from the arena.
//
// The cap makes a runaway script (a string doubled until memory ends) fail its own call with an
// out-of-memory error instead of taking the process down. Holding every block lets a heap that can
// no longer be trusted (after a fatal engine error or an interrupted run), or simply one that is
// done, be dropped by freeing the arena's memory, without asking the engine to walk its own
// structures.
//
// The engine makes and drops over a thousand small blocks just to set up a context, so small
// blocks come from pages of the arena's own, kept on one free list per size class; a freed small
// block waits there for the next request of its class and all pages go back when the arena does.
// Large blocks are malloc blocks on one list.
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
  // refused or failed request gives null and leaves the old block as it was. Blocks are aligned
  // to 16 bytes.
  void* Allocate(size_t bytes);
  void* Reallocate(void* block, size_t bytes);
  void Free(void* block);

  // Frees every block still held.
  void ReleaseAll();

  // What the blocks in use cost, their bookkeeping included.
  size_t BytesInUse() const { return m_inUse; }
  size_t Limit() const { return m_limit; }
  void SetLimit(size_t limit) { m_limit = limit; }
  // How many requests the cap has refused so far; a script error that follows a refusal is an
  // out-of-memory failure.
  uint64_t Refusals() const { return m_refusals; }

  // Blocks up to this size come from the arena's pages.
  static constexpr size_t kLargestSmallBlock = 512;

 private:
  static constexpr size_t kGranule = 16;
  static constexpr size_t kClasses = kLargestSmallBlock / kGranule;
  static constexpr size_t kPageBytes = 32 * 1024;

  // What sits right before every block: its size (the class size for a small block) and whether
  // it is large.
  struct alignas(16) Tag {
    size_t size;
    size_t large;
  };
  // A large block also sits on the list of large blocks.
  struct alignas(16) LargeHeader {
    LargeHeader* prev;
    LargeHeader* next;
    Tag tag;
  };
  struct FreeBlock {
    FreeBlock* next;
  };
  struct Page {
    Page* next;
  };

  bool Admits(size_t addedBytes) const;
  void* Refuse() {
    ++m_refusals;
    return nullptr;
  }
  void* AllocateSmall(size_t classIndex);
  void* AllocateLarge(size_t bytes);
  void Link(LargeHeader* h);
  static void Unlink(LargeHeader* h);
  static Tag* TagOf(void* block) { return static_cast<Tag*>(block) - 1; }
  static LargeHeader* LargeHeaderOf(void* block) {
    return reinterpret_cast<LargeHeader*>(reinterpret_cast<char*>(block) - sizeof(LargeHeader));
  }

  LargeHeader m_large{&m_large, &m_large, {}};
  FreeBlock* m_free[kClasses] = {};
  Page* m_pages = nullptr;
  char* m_pageNext = nullptr;  // the unused rest of the newest page
  char* m_pageEnd = nullptr;
  size_t m_inUse = 0;
  size_t m_limit;
  uint64_t m_refusals = 0;
};

}  // namespace win::script
