#pragma once

#include <cstdint>
#include <vector>

#include "platform/Exception.h"

namespace sonarelle {

// Raised for a bad list index.
class EListError : public Exception {
 public:
  using Exception::Exception;
};

// One play region of a wave: where it starts and how long it is, in samples and bytes.
struct TMMCutRegion {
  std::int64_t startSample = 0;
  std::int64_t startByte = 0;
  std::int64_t lengthSamples = 0;
  std::int64_t lengthBytes = 0;
};

// The play regions of a wave, kept sorted by start sample, none starting inside another.
class TMMCutList {
 public:
  // Inserts in start order and returns the index, or -1 (nothing added) when the region
  // starts inside one already listed.
  int Add(const TMMCutRegion& region);
  void Delete(int index);
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  // Grows by 4 while below 5, by 8 while below 9, then by 16.
  int Capacity() const { return capacity_; }
  // Raises EListError("List index out of bounds (index)") for a bad index.
  const TMMCutRegion& Item(int index) const;
  TMMCutRegion& Item(int index);

  std::int64_t TotalSamples() const;

 private:
  void CheckIndex(int index) const;
  void Grow();

  std::vector<TMMCutRegion> items_;
  int capacity_ = 0;
};

}  // namespace sonarelle
