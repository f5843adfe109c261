#pragma once

#include <functional>
#include <vector>

namespace sonarelle {

// Base of persistent audio objects: an update lock that holds back the change calls.
// Taking the first lock raises Changing, releasing the last one raises Changed.
class TMMObject {
 public:
  TMMObject() = default;
  virtual ~TMMObject() = default;
  TMMObject(const TMMObject&) = delete;
  TMMObject& operator=(const TMMObject&) = delete;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

 protected:
  // Announce a change; both do nothing while the lock is held.
  void Changing();
  void Changed();
  virtual void DoChanging() {}
  virtual void DoChanged() {}

 private:
  int updateCount_ = 0;
};

class TMMObservable;

// Watches one observable at a time; OnNotify runs for each notification it sends.
class TMMObserver {
 public:
  TMMObserver() = default;
  ~TMMObserver();
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;

  // Attaching to another observable detaches from the old one first; none detaches.
  void SetObservable(TMMObservable* observable);
  TMMObservable* Observable() const { return observable_; }

  // Called with the observable that notifies and the data it passes along.
  std::function<void(TMMObservable* sender, void* data)> OnNotify;

 private:
  friend class TMMObservable;
  TMMObservable* observable_ = nullptr;
};

// The observers attached to an object; it does not own them.
class TMMObservable {
 public:
  TMMObservable() = default;
  ~TMMObservable();  // detaches every observer
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;

  // Tells every attached observer, the last attached first.
  void NotifyObservers(void* data = nullptr);
  void DetachAll();
  int ObserverCount() const { return static_cast<int>(observers_.size()); }

 private:
  friend class TMMObserver;
  void Add(TMMObserver* observer);
  void Remove(TMMObserver* observer);

  std::vector<TMMObserver*> observers_;
};

}  // namespace sonarelle
