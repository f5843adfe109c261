#pragma once

#include <functional>

namespace sonarelle {

class TMMComponent;

// A callback that carries only its sender; a callback that is not set is skipped.
using TNotifyEvent = std::function<void(TMMComponent* Sender)>;

// Base of the audio library's components: the framework state that holds back reactions
// while settings are being loaded, and the removal notification.
class TMMComponent {
 public:
  enum TComponentState : unsigned { csLoading = 1, csReading = 2, csDestroying = 4 };
  enum class TOperation { opInsert, opRemove };

  TMMComponent() = default;
  virtual ~TMMComponent() = default;
  TMMComponent(const TMMComponent&) = delete;
  TMMComponent& operator=(const TMMComponent&) = delete;

  unsigned ComponentState() const { return state_; }

  // Settings applied between BeginLoading and Loaded are taken as given, without reacting
  // (no format hand-down); Loaded lets the component bring itself into shape once.
  void BeginLoading() { state_ |= csLoading | csReading; }
  virtual void Loaded() { state_ &= ~static_cast<unsigned>(csLoading | csReading); }

  // Told about another component that is being removed, so links to it can be dropped.
  virtual void Notification(TMMComponent* component, TOperation operation) {
    (void)component;
    (void)operation;
  }

 protected:
  // Loading, reading or destroying: the times a component must not hand things on.
  bool HoldsBack() const { return (state_ & (csLoading | csReading | csDestroying)) != 0; }
  void MarkDestroying() { state_ |= csDestroying; }

 private:
  unsigned state_ = 0;
};

// Levels of the tree that add nothing of their own.
class TMMNonVisualComponent : public TMMComponent {};
class TMMCustomDSPComponent : public TMMNonVisualComponent {};

}  // namespace sonarelle
