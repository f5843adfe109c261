#pragma once

#include <QString>

#include "audio/chain/MMDSPComponent.h"

namespace sonarelle {

// Where a driver's notifications are handled: on its hidden window (the main thread), in
// the service's callback, or on a worker thread.
enum class TMMCBMode { cmWindow, cmCallback, cmThread };

// Base of chain drivers, the components with a time base of their own. Their control
// operations walk the chain segment they drive: from the head of the chain (or from the
// driver itself when another driver sits above it) down to the next driver, which walks its
// own segment in turn.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  virtual void SetNumBuffers(int value) = 0;
  virtual int NumBuffers() const = 0;
  virtual void SetDeviceID(int value) = 0;
  virtual int DeviceID() const = 0;
  virtual void SetProductName(const QString& value) = 0;
  virtual QString ProductName() const = 0;
  virtual void SetCallBackMode(TMMCBMode value) = 0;
  virtual TMMCBMode CallBackMode() const = 0;

  // Each walks the driven segment, then applies the base behaviour to the driver itself.
  // Open also hands the driver's buffer size to every component it opens. Close and Stop
  // first go to the next driver below, so the tail is stopped before the head.
  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Reset() override;
  void Update() override;

 protected:
  enum class TChainOp { Open, Close, Start, Pause, Restart, Stop, Reset, Update };

  // The walk without the driver's own base behaviour.
  void WalkChain(TChainOp op);
  // The driver's own part of an operation: the base behaviour of TMMDSPComponent.
  void ApplyOwn(TChainOp op);

  static bool IsDriver(const TMMDSPComponent* component);
  static void Apply(TMMDSPComponent* component, TChainOp op);
};

}  // namespace sonarelle
