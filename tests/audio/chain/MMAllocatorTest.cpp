#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "audio/chain/MMAllocator.h"

using namespace sonarelle;

namespace {

bool AllZero(const void* block, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(block);
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

TEST(MMAllocatorTest, FreedBlocksAreReusedExactSizeFirstThenLarger) {
  TMMAllocator pool;
  void* big = pool.AllocBlock(GHND, 4096);
  void* small = pool.AllocBlock(GHND, 1024);
  ASSERT_NE(big, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_TRUE(AllZero(big, 4096));

  void* keepBig = big;
  void* keepSmall = small;
  pool.FreeBlock(big);
  pool.FreeBlock(small);
  EXPECT_EQ(big, nullptr);
  EXPECT_EQ(small, nullptr);

  // Exact size wins over the first free block that is merely large enough.
  EXPECT_EQ(pool.AllocBlock(GHND, 1024), keepSmall);
  // A smaller request takes the larger free block instead of allocating.
  EXPECT_EQ(pool.AllocBlock(GHND, 512), keepBig);
  EXPECT_EQ(pool.BlockCount(), 2u);
  // Nothing free now: a new block.
  void* third = pool.AllocBlock(GHND, 512);
  EXPECT_NE(third, keepBig);
  EXPECT_NE(third, keepSmall);
  EXPECT_EQ(pool.BlockCount(), 3u);
}

TEST(MMAllocatorTest, ReusedBlockIsZeroFilledAgain) {
  TMMAllocator pool;
  void* block = pool.AllocBlock(GHND, 256);
  std::memset(block, 0xAB, 256);
  void* first = block;
  pool.FreeBlock(block);
  void* again = pool.AllocBlock(GHND, 256);
  ASSERT_EQ(again, first);
  EXPECT_TRUE(AllZero(again, 256));
}

TEST(MMAllocatorTest, ForeignPointersAreLeftAloneAndFreeAllEmptiesThePool) {
  TMMAllocator pool;
  int local = 0;
  int* foreign = &local;
  pool.FreeBlock(foreign);
  EXPECT_EQ(foreign, &local);

  void* block = pool.AllocBlock(GHND, 64);
  pool.AllocBlock(GHND, 64);
  EXPECT_EQ(pool.BlockCount(), 2u);
  pool.FreeAll();
  EXPECT_EQ(pool.BlockCount(), 0u);
  // After FreeAll the block is gone from the pool: freeing the stale pointer does nothing.
  pool.FreeBlock(block);
  EXPECT_NE(block, nullptr);
}

TEST(MMAllocatorTest, SeveralThreadsNeverShareABlock) {
  TMMAllocator pool;
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::size_t size = 128 + 64 * (t % 2);
      for (int i = 0; i < kRounds; ++i) {
        auto* block = static_cast<unsigned char*>(pool.AllocBlock(GHND, size));
        if (block == nullptr || !AllZero(block, size)) {
          ++failures[t];
          continue;
        }
        // Mark the block as ours; another thread holding it would overwrite the mark.
        std::memset(block, t + 1, size);
        std::this_thread::yield();
        for (std::size_t k = 0; k < size; ++k) {
          if (block[k] != t + 1) {
            ++failures[t];
            break;
          }
        }
        pool.FreeBlock(block);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  // Never more blocks than threads holding one at the same time.
  EXPECT_LE(pool.BlockCount(), static_cast<std::size_t>(kThreads));
}

}  // namespace
