#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace sonarelle {

// Allocation flags of AllocBlock; blocks are always zero-filled when first allocated.
inline constexpr unsigned GMEM_MOVEABLE = 0x0002;
inline constexpr unsigned GMEM_ZEROINIT = 0x0040;
inline constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// Global-heap helpers: the only raw allocation of the audio chain, for formats and buffers.
// A zero-filled block of `size` bytes; raises std::bad_alloc when memory is exhausted.
void* GlobalAllocMem(std::size_t size);
// Frees `block` (if set) and allocates a fresh zero-filled one of `size` bytes.
void GlobalReAllocMem(void*& block, std::size_t size);
// Frees `block` (if set) and clears the pointer.
void GlobalFreeMem(void*& block);

// A pool of zero-filled blocks for buffer headers and their data. A block freed with
// FreeBlock stays in the pool and is handed out again; blocks go back to the heap only in
// FreeAll (and on destruction). Safe to use from several threads.
class TMMAllocator {
 public:
  TMMAllocator() = default;
  ~TMMAllocator();
  TMMAllocator(const TMMAllocator&) = delete;
  TMMAllocator& operator=(const TMMAllocator&) = delete;

  // A free pooled block of exactly `size` bytes, else the first free larger one, else a new
  // block. Returns nullptr when the heap is exhausted. With GMEM_ZEROINIT a reused block is
  // cleared as well, so the caller always sees zeroes.
  void* AllocBlock(unsigned flags, std::size_t size);

  // Returns `block` to the pool and clears the pointer; a pointer not from this pool is left
  // as it is.
  void FreeBlock(void*& block);
  template <class T>
  void FreeBlock(T*& block) {
    void* raw = block;
    FreeBlock(raw);
    block = static_cast<T*>(raw);
  }

  // Gives every block back to the heap, in use or not.
  void FreeAll();

  // Blocks in the pool, in use or not.
  std::size_t BlockCount() const;

 private:
  struct Entry {
    void* block;
    std::size_t size;
    int useCount;
  };

  mutable std::mutex lock_;
  std::vector<Entry> entries_;
};

}  // namespace sonarelle
