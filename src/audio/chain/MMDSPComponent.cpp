#include "audio/chain/MMDSPComponent.h"

#include <algorithm>
#include <mutex>

namespace sonarelle {

namespace {

const std::string kInput = "Input";
const std::string kOutput = "Output";

// Every live chain component. Touched when components come and go, which is the main
// thread's business, but the lock keeps a stray worker-thread construction from corrupting it.
struct ComponentRegistry {
  std::mutex lock;
  std::vector<TMMDSPComponent*> components;
};

ComponentRegistry& Registry() {
  static ComponentRegistry registry;
  return registry;
}

std::string CutLinkName(const std::string& name) {
  return name.substr(0, TMMDSPComponent::kMaxLinkName);
}

}  // namespace

TMMDSPComponent::TMMDSPComponent() {
  auto& registry = Registry();
  std::lock_guard guard(registry.lock);
  registry.components.push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  MarkDestroying();
  for (TMMDSPComponent* other : Components()) {
    if (other != this) other->Notification(this, TOperation::opRemove);
  }
  TMMDSPComponent::SetInput(nullptr);
  TMMDSPComponent::SetOutput(nullptr);
  // A partner whose setter refused to let go must still not keep a dangling link.
  for (TMMDSPComponent* other : Components()) {
    if (other->input_ == this) other->TMMDSPComponent::SetInputLink(nullptr, {});
    if (other->output_ == this) other->TMMDSPComponent::SetOutputLink(nullptr, {});
  }
  TMMDSPComponent::SetFormat(nullptr);

  auto& registry = Registry();
  std::lock_guard guard(registry.lock);
  auto& list = registry.components;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

std::vector<TMMDSPComponent*> TMMDSPComponent::Components() {
  auto& registry = Registry();
  std::lock_guard guard(registry.lock);
  return registry.components;
}

void TMMDSPComponent::Broadcast(TMMDSPComponent* component, bool outputSide,
                                const std::string& linkName) {
  // A snapshot: receivers only drop links, but must not run under the registry's lock.
  for (TMMDSPComponent* receiver : Components()) {
    receiver->LinkChanged(component, outputSide, linkName);
  }
}

void TMMDSPComponent::Loaded() {
  TMMCustomDSPComponent::Loaded();
  SetFormat(GetFormat());
}

void TMMDSPComponent::Notification(TMMComponent* component, TOperation operation) {
  TMMCustomDSPComponent::Notification(component, operation);
  if (operation != TOperation::opRemove || component == nullptr) return;
  if (component == Input()) SetInput(nullptr);
  if (component == Output()) SetOutput(nullptr);
}

void TMMDSPComponent::UpdateFormat() {
  if (HoldsBack()) return;
  if (Input() != nullptr) {
    FormatChanged(Input()->GetFormat());
  } else if (Output() != nullptr) {
    Output()->FormatChanged(GetFormat());
  }
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* component, bool outputSide,
                                  const std::string& linkName) {
  if (component == nullptr) return;
  if (outputSide) {
    if (component == input_ && linkName == inputLinkName_ &&
        component->LinkNamed(linkName) == this) {
      SetInputLink(nullptr, {});
    }
  } else {
    if (component == output_ && linkName == outputLinkName_ &&
        component->LinkNamed(linkName) == this) {
      SetOutputLink(nullptr, {});
    }
  }
}

TMMDSPComponent* TMMDSPComponent::LinkNamed(const std::string& name) const {
  if (name == kInput && ExposesInput()) return Input();
  if (name == kOutput && ExposesOutput()) return Output();
  return nullptr;
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  if (value == Input()) return;
  if (value != nullptr && !CanConnectInput(value)) return;
  Stop();
  if (Input() != nullptr) {
    Broadcast(this, false, kInput);  // the old partner drops its Output
    SetInputLink(nullptr, {});
    FormatChanged(nullptr);
  }
  if (value == nullptr) return;
  Broadcast(value, true, kOutput);  // whoever V fed until now drops its Input
  SetInputLink(value, kOutput);
  value->SetOutputLink(this, kInput);
  UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  if (value == Output()) return;
  if (value != nullptr && !CanConnectOutput(value)) return;
  Stop();
  if (TMMDSPComponent* old = Output(); old != nullptr) {
    Broadcast(this, true, kOutput);  // the old partner drops its Input
    old->FormatChanged(nullptr);
    SetOutputLink(nullptr, {});
  }
  if (value == nullptr) return;
  Broadcast(value, false, kInput);  // whoever fed V until now drops its Output
  SetOutputLink(value, kInput);
  value->SetInputLink(this, kOutput);
  UpdateFormat();
}

void TMMDSPComponent::SetFormat(const WAVEFORMATEX* format) {
  if (format != format_.get()) {
    if (Started()) Stop();
    format_ = CopyFormat(format);
  }
  if (!HoldsBack() && Output() != nullptr) Output()->FormatChanged(format_.get());
}

std::int32_t TMMDSPComponent::BufferSize() const {
  return opened_ ? realBufferSize_ : bufferSize_;
}

void TMMDSPComponent::SetBufferSize(std::int32_t value) {
  if (value == bufferSize_) return;
  if (Started()) Stop();
  bufferSize_ = value;
}

void TMMDSPComponent::FormatChanged(const WAVEFORMATEX* format) {
  SetFormat(format);
}

void TMMDSPComponent::Open() {
  if (opened_) return;
  const WAVEFORMATEX* format = GetFormat();
  // A block size of 0 (a broken record) would divide by zero; such a format fixes nothing.
  if (format != nullptr && format->nBlockAlign > 0) {
    const std::int32_t block = format->nBlockAlign;
    realBufferSize_ = std::max(bufferSize_ - bufferSize_ % block, block);
  } else {
    realBufferSize_ = bufferSize_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Close() {
  opened_ = false;
}

void TMMDSPComponent::Start() {
  if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Pause() {
  paused_ = true;
}

void TMMDSPComponent::Restart() {
  paused_ = false;
}

void TMMDSPComponent::Stop() {
  if (!started_) return;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Reset() {}

void TMMDSPComponent::Update() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (TMMDSPComponent* output = Output(); output != nullptr) output->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (TMMDSPComponent* input = Input(); input != nullptr) input->BufferLoad(lpWaveHdr, MoreBuffers);
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, const std::string& name) {
  input_ = component;
  inputLinkName_ = CutLinkName(name);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, const std::string& name) {
  output_ = component;
  outputLinkName_ = CutLinkName(name);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* component) {
  if (component == nullptr || component == this) return false;
  if (!component->ExposesOutput() && !component->AcceptsOutputLink()) return false;
  TMMDSPComponent* output = Output();
  return output == nullptr || output->CanConnectInput(component);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* component) {
  if (component == nullptr || component == this) return false;
  if (!component->ExposesInput() && !component->AcceptsInputLink()) return false;
  TMMDSPComponent* input = Input();
  return input == nullptr || input->CanConnectOutput(component);
}

}  // namespace sonarelle
