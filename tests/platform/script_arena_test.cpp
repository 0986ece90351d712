#include "platform/com/script/script_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace win::script {
namespace {

bool Aligned(void* p) { return reinterpret_cast<uintptr_t>(p) % 16 == 0; }

// Blocks keep their bytes through every kind of resize: within a size class, to a larger class,
// from the pages to malloc and back; the bytes in use go back to zero once all are freed.
TEST(ScriptArena, ResizingKeepsContentsAndAccounting) {
  struct Row {
    size_t from, to;
  };
  const Row rows[] = {{1, 16},   {16, 17},  {24, 512}, {100, 513}, {513, 100}, {512, 4096},
                      {4096, 1}, {700, 80000}, {80000, 300}, {17, 3}};
  ScriptArena arena(size_t{1} << 20);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.from) + " -> " + std::to_string(row.to));
    auto* block = static_cast<unsigned char*>(arena.Allocate(row.from));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(Aligned(block));
    for (size_t i = 0; i < row.from; ++i) block[i] = static_cast<unsigned char>(i * 7 + 1);
    auto* resized = static_cast<unsigned char*>(arena.Reallocate(block, row.to));
    ASSERT_NE(resized, nullptr);
    EXPECT_TRUE(Aligned(resized));
    for (size_t i = 0; i < std::min(row.from, row.to); ++i) ASSERT_EQ(resized[i], static_cast<unsigned char>(i * 7 + 1));
    EXPECT_GE(arena.BytesInUse(), row.to);
    arena.Free(resized);
    EXPECT_EQ(arena.BytesInUse(), 0u);
  }
  EXPECT_EQ(arena.Refusals(), 0u);
}

TEST(ScriptArena, ReusesFreedBlocksAndReleasesAll) {
  ScriptArena arena(size_t{1} << 20);
  std::vector<void*> blocks;
  for (size_t i = 1; i <= 2000; ++i) blocks.push_back(arena.Allocate(i % 600 + 1));
  for (void* b : blocks) ASSERT_NE(b, nullptr);
  // No two live blocks overlap.
  for (size_t i = 0; i < blocks.size(); ++i) std::memset(blocks[i], static_cast<int>(i & 0xFF), i % 600 + 1);
  for (size_t i = 0; i < blocks.size(); ++i)
    ASSERT_EQ(static_cast<unsigned char*>(blocks[i])[i % 600], static_cast<unsigned char>(i & 0xFF)) << i;
  const size_t used = arena.BytesInUse();
  void* freed = blocks[10];
  arena.Free(freed);
  EXPECT_EQ(arena.Allocate(10 % 600 + 1), freed);  // the same class gives the block back
  EXPECT_EQ(arena.BytesInUse(), used);
  arena.ReleaseAll();  // also every page; the sanitizer build reports anything left over
  EXPECT_EQ(arena.BytesInUse(), 0u);
  EXPECT_NE(arena.Allocate(32), nullptr);
}

TEST(ScriptArena, CapRefusesAndLeavesBlocksAsTheyWere) {
  ScriptArena arena(4096);
  EXPECT_EQ(arena.Allocate(0), nullptr);
  EXPECT_EQ(arena.Refusals(), 0u);
  auto* small = static_cast<char*>(arena.Allocate(400));
  ASSERT_NE(small, nullptr);
  std::memset(small, 'a', 400);
  EXPECT_EQ(arena.Allocate(4096), nullptr);
  EXPECT_EQ(arena.Reallocate(small, 5000), nullptr);  // refused: the old block is untouched
  EXPECT_EQ(arena.Refusals(), 2u);
  EXPECT_EQ(small[399], 'a');
  EXPECT_EQ(arena.Allocate(SIZE_MAX - 8), nullptr);
  std::vector<void*> held;
  while (void* b = arena.Allocate(100)) held.push_back(b);
  EXPECT_LE(arena.BytesInUse(), 4096u);
  EXPECT_EQ(arena.Reallocate(small, 0), nullptr);  // frees
  EXPECT_NE(arena.Allocate(100), nullptr);
}

}  // namespace
}  // namespace win::script
