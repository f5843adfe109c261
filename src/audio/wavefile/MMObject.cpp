#include "audio/wavefile/MMObject.h"

#include <algorithm>

namespace sonarelle {

void TMMObject::BeginUpdate() {
  if (updateCount_ == 0) {
    DoChanging();
  }
  ++updateCount_;
}

void TMMObject::EndUpdate() {
  if (updateCount_ == 0) {
    return;
  }
  if (--updateCount_ == 0) {
    DoChanged();
  }
}

void TMMObject::Changing() {
  if (updateCount_ == 0) {
    DoChanging();
  }
}

void TMMObject::Changed() {
  if (updateCount_ == 0) {
    DoChanged();
  }
}

TMMObserver::~TMMObserver() {
  SetObservable(nullptr);
}

void TMMObserver::SetObservable(TMMObservable* observable) {
  if (observable == observable_) {
    return;
  }
  if (observable_ != nullptr) {
    observable_->Remove(this);
  }
  observable_ = observable;
  if (observable_ != nullptr) {
    observable_->Add(this);
  }
}

TMMObservable::~TMMObservable() {
  DetachAll();
}

void TMMObservable::DetachAll() {
  while (!observers_.empty()) {
    observers_.back()->SetObservable(nullptr);
  }
}

void TMMObservable::Add(TMMObserver* observer) {
  observers_.push_back(observer);
}

void TMMObservable::Remove(TMMObserver* observer) {
  const auto it = std::find(observers_.begin(), observers_.end(), observer);
  if (it != observers_.end()) {
    observers_.erase(it);
  }
}

void TMMObservable::NotifyObservers(void* data) {
  // An observer may detach itself (or another) while being told: walk by index from the
  // end and re-check the bound on every step.
  for (auto i = static_cast<std::ptrdiff_t>(observers_.size()) - 1; i >= 0; --i) {
    if (i >= static_cast<std::ptrdiff_t>(observers_.size())) {
      continue;
    }
    TMMObserver* observer = observers_[static_cast<size_t>(i)];
    if (observer->OnNotify) {
      observer->OnNotify(this, data);
    }
  }
}

}  // namespace sonarelle
