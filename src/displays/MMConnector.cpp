#include "displays/MMConnector.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <thread>

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include "displays/MMOscope.h"
#include "platform/MessageBoxes.h"
#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

constexpr unsigned kStartMessage = 0xB1F5;
constexpr unsigned kTriggerMessage = 0xB1F6;
constexpr unsigned kLoopMessage = 0xB1F7;
constexpr int kTimerTickMs = 25;

std::int64_t SteadyMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TMMConnector::TimeSource& ClockSource() {
  static TMMConnector::TimeSource source;
  return source;
}

// One periodic 25 ms tick shared by every paused connector; it lives while it has clients.
// It ticks on the user-interface thread, like the rest of the program's timers.
class PauseTimer {
 public:
  struct Node {
    int periodMs;
    std::function<void()> callback;
    int suspendCount = 0;
    int elapsedMs = 0;
  };

  static PauseTimer& Instance() {
    static PauseTimer timer;
    return timer;
  }

  Node* Join(int requestMs, std::function<void()> callback) {
    std::lock_guard guard(lock_);
    nodes_.push_back(Node{std::max(requestMs, kTimerTickMs), std::move(callback)});
    if (!timer_) {
      timer_ = std::make_unique<QTimer>();
      timer_->setTimerType(Qt::PreciseTimer);
      QObject::connect(timer_.get(), &QTimer::timeout, [this] { Tick(); });
      timer_->start(kTimerTickMs);
      if (!timer_->isActive()) {
        timer_.reset();
        nodes_.pop_back();
        throw EOutOfResources("Not enough timers available");
      }
    }
    return &nodes_.back();
  }

  void Leave(Node* node) {
    std::lock_guard guard(lock_);
    nodes_.remove_if([node](const Node& n) { return &n == node; });
    if (nodes_.empty()) timer_.reset();
  }

 private:
  PauseTimer() = default;

  void Tick() {
    std::lock_guard guard(lock_);
    for (Node& node : nodes_) {
      if (node.suspendCount != 0) continue;
      node.elapsedMs += kTimerTickMs;
      if (node.elapsedMs >= node.periodMs) {
        node.elapsedMs = 0;
        node.callback();
      }
    }
  }

  std::recursive_mutex lock_;
  std::list<Node> nodes_;
  std::unique_ptr<QTimer> timer_;
};

std::map<const TMMConnector*, PauseTimer::Node*>& PauseNodes() {
  static std::map<const TMMConnector*, PauseTimer::Node*> nodes;
  return nodes;
}

}  // namespace

// Process-wide state of all connectors, created with the first and freed with the last.
struct TMMConnector::Shared {
  std::vector<TMMConnector*> registry;
  std::unique_ptr<MessageWindow> window;
  std::unique_ptr<QTimer> idleTimer;  // runs while the idle handler is installed
  int highestSpeed = 1;
  int activeCount = 0;
  bool loopPosted = false;

  static std::unique_ptr<Shared>& Instance() {
    static std::unique_ptr<Shared> shared;
    return shared;
  }

  // The registered connector of that id, or none.
  static TMMConnector* Find(std::intptr_t id) {
    const auto& shared = Instance();
    if (!shared) return nullptr;
    for (TMMConnector* c : shared->registry) {
      if (c->id_ == id) return c;
    }
    return nullptr;
  }

  bool Registered(const TMMConnector* connector) const {
    return std::find(registry.begin(), registry.end(), connector) != registry.end();
  }

  void RemoveIdleWhenInactive() {
    if (activeCount <= 0 && idleTimer) idleTimer.reset();
  }
};

namespace {
bool gEnterIdle = false;
}  // namespace

TMMConnector::TMMConnector() {
  static std::atomic<std::intptr_t> lastId{0};
  id_ = ++lastId;
  auto& shared = Shared::Instance();
  if (!shared) {
    shared = std::make_unique<Shared>();
    shared->window = std::make_unique<MessageWindow>(
        [](unsigned msg, std::uintptr_t /*wParam*/, std::intptr_t lParam) {
          if (msg == kLoopMessage) {
            LoopPass();
            return;
          }
          // Messages for a connector destroyed since they were posted find none.
          if (TMMConnector* connector = Shared::Find(lParam)) connector->HandleMessage(msg);
        });
  }
  shared->registry.push_back(this);
  RecomputeHighestSpeed();
}

TMMConnector::~TMMConnector() {
  BecomeStopped();
  auto& shared = Shared::Instance();
  if (!shared) return;
  std::erase(shared->registry, this);
  if (shared->registry.empty()) {
    shared.reset();
  } else {
    RecomputeHighestSpeed();
  }
}

std::int64_t TMMConnector::Now() {
  const TimeSource& source = ClockSource();
  return source ? source() : SteadyMicroseconds();
}

void TMMConnector::SetTimeSource(TimeSource source) {
  ClockSource() = std::move(source);
}

int TMMConnector::ActiveCount() {
  const auto& shared = Shared::Instance();
  return shared ? shared->activeCount : 0;
}

bool TMMConnector::LoopRunning() {
  const auto& shared = Shared::Instance();
  return shared && shared->loopPosted;
}

bool TMMConnector::EnterIdle() {
  return gEnterIdle;
}

void TMMConnector::SetEnterIdle(bool value) {
  gEnterIdle = value;
}

void TMMConnector::RecomputeHighestSpeed() {
  auto& shared = Shared::Instance();
  if (!shared) return;
  shared->highestSpeed = 1;
  for (const TMMConnector* c : shared->registry) {
    shared->highestSpeed = std::max(shared->highestSpeed, c->speed_);
  }
}

void TMMConnector::SetSpeed(int value) {
  speed_ = std::clamp(value, 1, 5000);
  RecomputeHighestSpeed();
}

void TMMConnector::SetRealTime(bool value) {
  if (value == realTime_) return;
  if (Opened()) throw EMMConnectorError("Change to property while device was open");
  realTime_ = value;
}

void TMMConnector::InstallIdleIfWanted() {
  auto& shared = Shared::Instance();
  if (!shared || !autoTrigger_ || !gEnterIdle || shared->idleTimer) return;
  // A zero-interval timer keeps the event loop from waiting for new events.
  shared->idleTimer = std::make_unique<QTimer>();
  shared->idleTimer->setInterval(0);
  shared->idleTimer->start();
}

void TMMConnector::PostStart() {
  auto& shared = Shared::Instance();
  if (shared) shared->window->PostMessage(kStartMessage, 0, id_);
}

void TMMConnector::BecomeNotRunning() {
  if (!running_) return;
  running_ = false;
  auto& shared = Shared::Instance();
  if (autoTrigger_ && shared) {
    --shared->activeCount;
    shared->RemoveIdleWhenInactive();
  }
}

void TMMConnector::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (!value) {
    BecomeNotRunning();
    ForEachDisplay([](TMMDisplay* d) { d->ClearData(); });
  } else if (connStarted_ && realTime_) {
    InstallIdleIfWanted();
    PostStart();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (value == autoTrigger_) return;
  if (!value) {
    if (running_) {
      auto& shared = Shared::Instance();
      if (shared) --shared->activeCount;
      running_ = false;
      if (shared) shared->RemoveIdleWhenInactive();
    }
    autoTrigger_ = false;
  } else {
    autoTrigger_ = true;
    if (connStarted_ && enabled_ && realTime_) {
      InstallIdleIfWanted();
      PostStart();
    }
  }
}

TMMOscope* TMMConnector::Oscope1() const {
  return static_cast<TMMOscope*>(slots_[kOscope1]);
}

TMMOscope* TMMConnector::Oscope2() const {
  return static_cast<TMMOscope*>(slots_[kOscope2]);
}

void TMMConnector::SetOscope1(TMMOscope* value) {
  SetSlot(kOscope1, value);
}

void TMMConnector::SetOscope2(TMMOscope* value) {
  SetSlot(kOscope2, value);
}

int TMMConnector::KindOfSlot(int slot) {
  switch (slot) {
    case kLevel1:
    case kLevel2:
      return kLevelKind;
    case kMeter1:
    case kMeter2:
      return kMeterKind;
    case kOscope1:
    case kOscope2:
      return kOscopeKind;
    case kLight1:
    case kLight2:
      return kLightKind;
    case kSpectrogram1:
      return kSpectrogram1Kind;
    case kSpectrogram2:
      return kSpectrogram2Kind;
    default:
      return kSpectrumKind;
  }
}

void TMMConnector::SetSlot(int slot, TMMDisplay* value) {
  if (slots_[slot] == value) return;
  // The other slot of the same kind (the spectra count as one kind of four).
  for (int other = 0; other < kSlotCount; ++other) {
    if (other != slot && value != nullptr && slots_[other] == value) {
      const bool sameKind = KindOfSlot(other) == KindOfSlot(slot) ||
                            (other >= kSpectrogram1 && slot >= kSpectrogram1);
      if (sameKind) return;
    }
  }
  std::lock_guard guard(lock_);
  slots_[slot] = value;
  kinds_[KindOfSlot(slot)].pending = false;
  if (value != nullptr) UpdateDisplayFormat();
}

void TMMConnector::DisplayDestroyed(TMMDisplay* display) {
  auto& shared = Shared::Instance();
  if (!shared) return;
  for (TMMConnector* c : shared->registry) {
    std::lock_guard guard(c->lock_);
    for (TMMDisplay*& slot : c->slots_) {
      if (slot == display) slot = nullptr;
    }
  }
}

void TMMConnector::ForEachDisplay(const std::function<void(TMMDisplay*)>& action) const {
  for (TMMDisplay* d : slots_) {
    if (d != nullptr) action(d);
  }
}

bool TMMConnector::KindHasDisplay(int kind) const {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (slots_[slot] != nullptr && KindOfSlot(slot) == kind) return true;
  }
  return false;
}

void TMMConnector::UpdateDisplayFormat() {
  const WAVEFORMATEX* chain = GetFormat();
  if (chain == nullptr) return;
  if (!connStarted_) {
    // No compression manager here: only PCM can be shown.
    if (chain->wFormatTag != WAVE_FORMAT_PCM) return;
    std::lock_guard guard(lock_);
    displayFormat_ = CopyFormat(chain);
  }
  HandOutFormat();
}

void TMMConnector::HandOutFormat() {
  const WAVEFORMATEX* format = nullptr;
  {
    std::lock_guard guard(lock_);
    if (!displayFormat_) return;
    silence_ = displayFormat_->wBitsPerSample == 8 ? 128 : 0;
    // Only this thread replaces the format, so the pointer stays good below.
    format = displayFormat_.get();
  }
  ForEachDisplay([format](TMMDisplay* d) { d->AdoptFormat(format); });
}

void TMMConnector::SetFormat(const WAVEFORMATEX* format) {
  TMMDSPComponent::SetFormat(format);
  UpdateDisplayFormat();
}

void TMMConnector::Start() {
  TMMDSPComponent::Start();
  const WAVEFORMATEX* chain = GetFormat();
  if (chain == nullptr || connStarted_) return;
  {
    std::lock_guard guard(lock_);
    if (chain->wFormatTag == WAVE_FORMAT_PCM) {
      displayFormat_ = CopyFormat(chain);
      data_.assign(static_cast<std::size_t>(std::max(BufferSize(), 0)), 0);
    } else {
      // A conversion stream cannot be opened on this platform: nothing is shown.
      data_.clear();
    }
    validBytes_ = 0;
    kinds_ = {};
    if (data_.empty()) return;
    connStarted_ = true;
  }
  RecomputeHighestSpeed();
  HandOutFormat();
  if (enabled_ && realTime_) {
    InstallIdleIfWanted();
    PostStart();
  }
}

void TMMConnector::FillSilence() {
  std::lock_guard guard(lock_);
  std::fill(data_.begin(), data_.end(), silence_);
}

void TMMConnector::Pause() {
  if (connStarted_ && !connPaused_) {
    {
      // The pause tick reads the flag under the same lock.
      std::lock_guard guard(lock_);
      connPaused_ = true;
      std::fill(data_.begin(), data_.end(), silence_);
    }
    if (realTime_) JoinPauseTimer();
  }
  TMMDSPComponent::Pause();
}

void TMMConnector::Restart() {
  if (connPaused_) {
    {
      std::lock_guard guard(lock_);
      connPaused_ = false;
    }
    if (realTime_) LeavePauseTimer();
  }
  TMMDSPComponent::Restart();
}

void TMMConnector::Stop() {
  BecomeStopped();
  TMMDSPComponent::Stop();
}

void TMMConnector::BecomeStopped() {
  if (!connStarted_) return;
  connStarted_ = false;
  BecomeNotRunning();
  LeavePauseTimer();
  {
    std::lock_guard guard(lock_);
    connPaused_ = false;
    data_.clear();
    data_.shrink_to_fit();
    validBytes_ = 0;
    kinds_ = {};
  }
  if (refreshOnStop_) ForEachDisplay([](TMMDisplay* d) { d->ClearData(); });
}

void TMMConnector::Reset() {
  if (connStarted_) FillSilence();
  TMMDSPComponent::Reset();
}

void TMMConnector::JoinPauseTimer() {
  if (onPauseTimer_) return;
  const std::int32_t size = BufferSize();
  int request = kTimerTickMs;
  if (size <= 8191 && displayFormat_) {
    request = static_cast<int>(BytesToMs(displayFormat_.get(), size));
  }
  PauseNodes()[this] = PauseTimer::Instance().Join(request, [this] { PauseTick(); });
  onPauseTimer_ = true;
}

void TMMConnector::LeavePauseTimer() {
  if (!onPauseTimer_) return;
  onPauseTimer_ = false;
  PauseTimer::Node* node = PauseNodes()[this];
  PauseNodes().erase(this);
  PauseTimer::Instance().Leave(node);
}

void TMMConnector::PauseTick() {
  std::lock_guard guard(lock_);
  if (!connPaused_) return;
  arrival_ = Now();
  for (int kind = 0; kind < kKindCount; ++kind) {
    if (KindHasDisplay(kind)) kinds_[kind] = KindState{true, 0};
  }
}

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr) {
  PWaveHdr shown = lpWaveHdr;
  if (synchronize_ && lpWaveHdr->SyncHeader != nullptr && lpWaveHdr->dwBytesRecorded != 0) {
    shown = lpWaveHdr->SyncHeader;
  }
  TakeData(shown->lpData, static_cast<std::int32_t>(shown->dwBytesRecorded));
  TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
  TakeData(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded));
}

void TMMConnector::TakeData(const void* data, std::int32_t length) {
  if (!enabled_ || data == nullptr || length <= 0) return;
  {
    std::lock_guard guard(lock_);
    // Pausing, stopping and a new format change these under the lock as well.
    if (connPaused_ || !displayFormat_ || data_.empty()) return;
    arrival_ = Now();
    const std::size_t n = std::min(static_cast<std::size_t>(length), data_.size());
    std::memcpy(data_.data(), data, n);
    validBytes_ = static_cast<int>(n);
    for (int kind = 0; kind < kKindCount; ++kind) {
      if (KindHasDisplay(kind)) kinds_[kind] = KindState{true, 0};
    }
  }
  if (!realTime_ && autoTrigger_) RefreshDisplays();
}

void TMMConnector::Trigger() {
  if (!enabled_ || autoTrigger_ || pendingTriggers_ != 0) return;
  if (!(running_ || (!realTime_ && connStarted_))) return;
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
    RefreshDisplays();
    return;
  }
  auto& shared = Shared::Instance();
  if (!shared) return;
  // One step: of callers that race here, only one posts a request.
  int none = 0;
  if (!pendingTriggers_.compare_exchange_strong(none, 1)) return;
  shared->window->PostMessage(kTriggerMessage, 0, id_);
}

void TMMConnector::HandleMessage(unsigned msg) {
  auto& shared = Shared::Instance();
  if (msg == kStartMessage) {
    if (!connStarted_ || running_) return;
    pendingTriggers_ = 0;
    running_ = true;
    if (autoTrigger_) {
      ++shared->activeCount;
      if (!shared->loopPosted) {
        shared->loopPosted = true;
        shared->window->PostMessage(kLoopMessage);
      }
    }
  } else if (msg == kTriggerMessage) {
    // Lowered even when the pass raises, and never below 0: a start in between has
    // cleared the count already.
    const auto lower = qScopeGuard([this] {
      int count = pendingTriggers_.load();
      while (count > 0 && !pendingTriggers_.compare_exchange_weak(count, count - 1)) {
      }
    });
    if (enabled_ && running_) RefreshDisplays();
  }
}

void TMMConnector::LoopPass() {
  auto& shared = Shared::Instance();
  if (!shared) return;
  shared->loopPosted = false;
  for (int i = 0; i < 5001 - shared->highestSpeed; ++i) {
    QCoreApplication::processEvents();
    if (!Shared::Instance()) return;
  }
  auto stopped = [] {
    const auto& s = Shared::Instance();
    return !s || s->activeCount <= 0 || QCoreApplication::closingDown() || s->registry.empty();
  };
  if (stopped()) return;
  // A copy: a pass may end with a connector gone.
  const std::vector<TMMConnector*> connectors = shared->registry;
  for (TMMConnector* c : connectors) {
    if (!Shared::Instance() || !Shared::Instance()->Registered(c)) continue;
    if (c->autoTrigger_ && c->enabled_ && c->running_) {
      RunGuarded([c] { c->RefreshDisplays(); });
    }
  }
  if (stopped() || Shared::Instance()->loopPosted) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (gEnterIdle) QCoreApplication::processEvents(QEventLoop::AllEvents, 0);
  auto& again = Shared::Instance();
  if (!again || again->loopPosted) return;
  again->loopPosted = true;
  again->window->PostMessage(kLoopMessage);
}

int TMMConnector::TriggerSearch(int from) const {
  const WAVEFORMATEX* f = displayFormat_.get();
  const int block = std::max<int>(f->nBlockAlign, 1);
  const bool wide = f->wBitsPerSample == 16;
  // Stereo data is searched on the left channel.
  const int percent = triggerLevel_;
  const TMMTriggerMode mode = triggerMode_;
  const int level = wide ? percent * 32767 / 100 : 128 + percent * 127 / 100;
  auto sampleAt = [&](int pos) {
    if (!wide) return static_cast<int>(data_[static_cast<std::size_t>(pos)]);
    std::int16_t v = 0;
    std::memcpy(&v, &data_[static_cast<std::size_t>(pos)], sizeof v);
    return static_cast<int>(v);
  };
  if (from + block > validBytes_) return -1;
  int previous = sampleAt(from);
  for (int pos = from + block; pos + block <= validBytes_; pos += block) {
    const int s = sampleAt(pos);
    const bool up = mode == TMMTriggerMode::tmUpFlank && previous < level && s >= level;
    const bool down = mode == TMMTriggerMode::tmDownFlank && previous > level && s <= level;
    if (up || down) return pos - from;
    previous = s;
  }
  return -1;
}

void TMMConnector::PaceKind(int kind, int firstSlot, int lastSlot, bool triggerSearch,
                            std::int64_t now) {
  KindState& state = kinds_[kind];
  if (!state.pending) return;
  int need = 0;
  for (int slot = firstSlot; slot <= lastSlot; ++slot) {
    if (slots_[slot] != nullptr) need = std::max(need, slots_[slot]->RefreshBytes());
  }
  if (need <= 0) {
    state.pending = false;
    return;
  }
  int src = state.offset;
  int skip = -1;
  if (triggerSearch && triggerMode_ != TMMTriggerMode::tmNone && !connPaused_) {
    skip = TriggerSearch(src);
  }
  if (synchronize_) {
    const std::int64_t dueUs =
        static_cast<std::int64_t>(state.offset) * 1000000 / displayFormat_->nAvgBytesPerSec;
    if (now - arrival_ < dueUs) return;
  }
  if (skip > 0) {
    state.offset += skip;
    src += skip;
  }
  int step = need;
  if (kind == kOscopeKind) {
    const TMMOscope* scope = Oscope1() != nullptr ? Oscope1() : Oscope2();
    if (scope != nullptr && scope->ScrollsAccelerated()) {
      // Short charts still advance by whole frames.
      step = std::max(scope->FFTLength() / 4, 1) * std::max<int>(displayFormat_->nBlockAlign, 1);
    }
  }
  state.offset += step;
  if (src + need > validBytes_) {
    state.pending = false;
    return;
  }
  for (int slot = firstSlot; slot <= lastSlot; ++slot) {
    if (slots_[slot] != nullptr) slots_[slot]->ShowData(data_.data() + src);
  }
}

int TMMConnector::OscopeOffset() const {
  std::lock_guard guard(lock_);
  return kinds_[kOscopeKind].offset;
}

bool TMMConnector::OscopePending() const {
  std::lock_guard guard(lock_);
  return kinds_[kOscopeKind].pending;
}

void TMMConnector::RefreshDisplays() {
  if (!enabled_ || !(running_ || (!realTime_ && connStarted_))) return;
  {
    std::lock_guard guard(lock_);
    if (data_.empty() || !displayFormat_ || displayFormat_->nAvgBytesPerSec == 0) return;
    const std::int64_t now = Now();
    PaceKind(kLevelKind, kLevel1, kLevel2, false, now);
    PaceKind(kMeterKind, kMeter1, kMeter2, false, now);
    PaceKind(kOscopeKind, kOscope1, kOscope2, true, now);
    PaceKind(kLightKind, kLight1, kLight2, false, now);
    PaceKind(kSpectrumKind, kSpectrum1, kSpectrum4, false, now);
    PaceKind(kSpectrogram1Kind, kSpectrogram1, kSpectrogram1, false, now);
    PaceKind(kSpectrogram2Kind, kSpectrogram2, kSpectrogram2, false, now);
  }
  if (OnTrigger) OnTrigger(this);
}

}  // namespace sonarelle
