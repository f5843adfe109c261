#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "audio/chain/MMDSPComponent.h"
#include "displays/MMDisplay.h"
#include "platform/Exception.h"

namespace sonarelle {

class TMMOscope;

// Raised for a setting that cannot change while the chain is open.
class EMMConnectorError : public Exception {
 public:
  using Exception::Exception;
  explicit EMMConnectorError(const char* message) : Exception(std::string(message)) {}
};

// Raised when the shared pause timer cannot be started.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
  explicit EOutOfResources(const char* message) : Exception(std::string(message)) {}
};

enum class TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

// A passive chain member that copies every buffer passing through it and feeds the copy,
// frame by frame and paced to the audio's play time, to its attached displays. The drawing
// runs on the user-interface thread in a loop that lives only while a connector runs.
class TMMConnector : public TMMDSPComponent {
 public:
  // Microseconds of a monotonic clock; replaceable so that pacing can be driven by hand.
  using TimeSource = std::function<std::int64_t()>;
  using TNotifyEvent = std::function<void(TMMConnector* Sender)>;

  TMMConnector();
  ~TMMConnector() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoConvert() const { return autoConvert_; }
  void SetAutoConvert(bool value) { autoConvert_ = value; }
  bool AutoTrigger() const { return autoTrigger_; }
  void SetAutoTrigger(bool value);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool value) { synchronize_ = value; }
  int Speed() const { return speed_; }
  void SetSpeed(int value);  // clamped to 1..5000
  TMMTriggerMode TriggerMode() const { return triggerMode_; }
  void SetTriggerMode(TMMTriggerMode value) { triggerMode_ = value; }
  int TriggerLevel() const { return triggerLevel_; }
  void SetTriggerLevel(int value) { triggerLevel_ = value; }
  bool RefreshOnStop() const { return refreshOnStop_; }
  void SetRefreshOnStop(bool value) { refreshOnStop_ = value; }
  bool RealTime() const { return realTime_; }
  // Raises EMMConnectorError while the chain is open.
  void SetRealTime(bool value);
  // Shared by all connectors: keep idle processing busy while connectors run.
  static bool EnterIdle();
  static void SetEnterIdle(bool value);

  // Display slots. Only the oscilloscope kind exists; the others take any display.
  TMMDisplay* Level1() const { return slots_[kLevel1]; }
  void SetLevel1(TMMDisplay* value) { SetSlot(kLevel1, value); }
  TMMDisplay* Level2() const { return slots_[kLevel2]; }
  void SetLevel2(TMMDisplay* value) { SetSlot(kLevel2, value); }
  TMMDisplay* Meter1() const { return slots_[kMeter1]; }
  void SetMeter1(TMMDisplay* value) { SetSlot(kMeter1, value); }
  TMMDisplay* Meter2() const { return slots_[kMeter2]; }
  void SetMeter2(TMMDisplay* value) { SetSlot(kMeter2, value); }
  TMMOscope* Oscope1() const;
  void SetOscope1(TMMOscope* value);
  TMMOscope* Oscope2() const;
  void SetOscope2(TMMOscope* value);
  TMMDisplay* Light1() const { return slots_[kLight1]; }
  void SetLight1(TMMDisplay* value) { SetSlot(kLight1, value); }
  TMMDisplay* Light2() const { return slots_[kLight2]; }
  void SetLight2(TMMDisplay* value) { SetSlot(kLight2, value); }
  // index 1 to 4
  TMMDisplay* Spectrum(int index) const { return slots_[kSpectrum1 + index - 1]; }
  void SetSpectrum(int index, TMMDisplay* value) { SetSlot(kSpectrum1 + index - 1, value); }
  // index 1 or 2
  TMMDisplay* Spectrogram(int index) const { return slots_[kSpectrogram1 + index - 1]; }
  void SetSpectrogram(int index, TMMDisplay* value) { SetSlot(kSpectrogram1 + index - 1, value); }

  // Raised after every refresh pass.
  TNotifyEvent OnTrigger;

  void SetFormat(const WAVEFORMATEX* format) override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Reset() override;
  void BufferReady(PWaveHdr lpWaveHdr) override;
  void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

  // Accepts a block of audio bytes for display.
  virtual void TakeData(const void* data, std::int32_t length);
  // Asks for one refresh pass when AutoTrigger is off; safe from any thread.
  virtual void Trigger();
  // Draws the frames that are due now into the attached displays.
  void RefreshDisplays();

  // The display format fixed at start (or worked out from the chain format), or none.
  const WAVEFORMATEX* DisplayFormat() const { return displayFormat_.get(); }
  bool Running() const { return running_; }
  bool ConnectorStarted() const { return connStarted_; }
  bool ConnectorPaused() const { return connPaused_; }
  // Read offset of the oscilloscope kind and whether it still has frames to show.
  int OscopeOffset() const;
  bool OscopePending() const;

  static void SetTimeSource(TimeSource source);
  static std::int64_t Now();
  // Connectors running with AutoTrigger, which keep the drawing loop alive.
  static int ActiveCount();
  // Whether the drawing loop has a pass queued.
  static bool LoopRunning();
  // Empties every slot that holds `display`.
  static void DisplayDestroyed(TMMDisplay* display);

 private:
  enum Slot {
    kLevel1,
    kLevel2,
    kMeter1,
    kMeter2,
    kOscope1,
    kOscope2,
    kLight1,
    kLight2,
    kSpectrum1,
    kSpectrum2,
    kSpectrum3,
    kSpectrum4,
    kSpectrogram1,
    kSpectrogram2,
    kSlotCount
  };
  // Pacing state per display kind; the spectrogram kind keeps one per slot.
  enum KindIndex {
    kLevelKind,
    kMeterKind,
    kOscopeKind,
    kLightKind,
    kSpectrumKind,
    kSpectrogram1Kind,
    kSpectrogram2Kind,
    kKindCount
  };
  struct KindState {
    bool pending = false;
    int offset = 0;
  };
  struct Shared;
  friend struct Shared;

  void SetSlot(int slot, TMMDisplay* value);
  static int KindOfSlot(int slot);
  bool KindHasDisplay(int kind) const;
  void UpdateDisplayFormat();
  void HandOutFormat();
  void ForEachDisplay(const std::function<void(TMMDisplay*)>& action) const;
  void PaceKind(int kind, int firstSlot, int lastSlot, bool triggerSearch, std::int64_t now);
  int TriggerSearch(int from) const;
  void BecomeStopped();
  void BecomeNotRunning();
  void InstallIdleIfWanted();
  void PostStart();
  void FillSilence();
  void JoinPauseTimer();
  void LeavePauseTimer();
  void PauseTick();
  void HandleMessage(unsigned msg);
  static void LoopPass();
  static void RecomputeHighestSpeed();

  // Settings and states that the delivering thread and Trigger's callers read while the
  // user-interface thread changes them are atomic.
  std::atomic<bool> enabled_{true};
  bool autoConvert_ = true;
  std::atomic<bool> autoTrigger_{true};
  std::atomic<bool> synchronize_{true};
  int speed_ = 5000;
  std::atomic<TMMTriggerMode> triggerMode_{TMMTriggerMode::tmNone};
  std::atomic<int> triggerLevel_{0};
  bool refreshOnStop_ = true;
  std::atomic<bool> realTime_{true};
  std::array<TMMDisplay*, kSlotCount> slots_{};  // not owned; changed under lock_

  // Guards the display format, the silence byte, the data and the pacing state.
  mutable std::recursive_mutex lock_;
  FormatPtr displayFormat_;
  std::vector<std::uint8_t> data_;
  int validBytes_ = 0;
  std::uint8_t silence_ = 0;
  std::atomic<std::int64_t> arrival_{0};
  std::atomic<bool> connStarted_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> connPaused_{false};
  bool onPauseTimer_ = false;
  // Trigger requests posted and not yet handled: 0 or 1.
  std::atomic<int> pendingTriggers_{0};
  std::array<KindState, kKindCount> kinds_{};
  std::intptr_t id_ = 0;  // names the connector in posted messages
};

}  // namespace sonarelle
