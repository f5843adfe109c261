#include "audio/chain/MMAllocator.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace sonarelle {

void* GlobalAllocMem(std::size_t size) {
  // calloc(0) may answer nullptr; one byte keeps "a block" meaning a valid pointer.
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void GlobalReAllocMem(void*& block, std::size_t size) {
  GlobalFreeMem(block);
  block = GlobalAllocMem(size);
}

void GlobalFreeMem(void*& block) {
  std::free(block);
  block = nullptr;
}

TMMAllocator::~TMMAllocator() {
  FreeAll();
}

void* TMMAllocator::AllocBlock(unsigned flags, std::size_t size) {
  std::lock_guard guard(lock_);
  Entry* found = nullptr;
  for (auto& entry : entries_) {
    if (entry.useCount == 0 && entry.size == size) {
      found = &entry;
      break;
    }
  }
  if (found == nullptr) {
    for (auto& entry : entries_) {
      if (entry.useCount == 0 && entry.size >= size) {
        found = &entry;
        break;
      }
    }
  }
  if (found != nullptr) {
    ++found->useCount;
    if ((flags & GMEM_ZEROINIT) != 0) std::memset(found->block, 0, found->size);
    return found->block;
  }
  void* block = std::calloc(size == 0 ? 1 : size, 1);
  if (block == nullptr) return nullptr;
  try {
    entries_.push_back({block, size, 1});
  } catch (...) {
    std::free(block);
    return nullptr;
  }
  return block;
}

void TMMAllocator::FreeBlock(void*& block) {
  if (block == nullptr) return;
  std::lock_guard guard(lock_);
  for (auto& entry : entries_) {
    if (entry.block == block) {
      if (entry.useCount > 0) --entry.useCount;
      block = nullptr;
      return;
    }
  }
}

void TMMAllocator::FreeAll() {
  std::lock_guard guard(lock_);
  while (!entries_.empty()) {
    std::free(entries_.back().block);
    entries_.pop_back();
  }
}

std::size_t TMMAllocator::BlockCount() const {
  std::lock_guard guard(lock_);
  return entries_.size();
}

}  // namespace sonarelle
