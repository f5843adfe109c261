#include "audio/wavefile/MMCutList.h"

#include <QString>

namespace sonarelle {

void TMMCutList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) {
    throw EListError(QStringLiteral("List index out of bounds (%1)").arg(index));
  }
}

const TMMCutRegion& TMMCutList::Item(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

TMMCutRegion& TMMCutList::Item(int index) {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

void TMMCutList::Grow() {
  int delta = 16;
  if (capacity_ < 5) {
    delta = 4;
  } else if (capacity_ < 9) {
    delta = 8;
  }
  capacity_ += delta;
  items_.reserve(static_cast<size_t>(capacity_));
}

int TMMCutList::Add(const TMMCutRegion& region) {
  size_t at = 0;
  while (at < items_.size() && items_[at].startSample <= region.startSample) {
    const TMMCutRegion& other = items_[at];
    if (region.startSample < other.startSample + other.lengthSamples) {
      return -1;
    }
    ++at;
  }
  if (Count() == capacity_) {
    Grow();
  }
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), region);
  return static_cast<int>(at);
}

void TMMCutList::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
}

void TMMCutList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
}

std::int64_t TMMCutList::TotalSamples() const {
  std::int64_t total = 0;
  for (const TMMCutRegion& region : items_) {
    total += region.lengthSamples;
  }
  return total;
}

}  // namespace sonarelle
