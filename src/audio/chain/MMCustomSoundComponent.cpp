#include "audio/chain/MMCustomSoundComponent.h"

namespace sonarelle {

bool TMMCustomSoundComponent::IsDriver(const TMMDSPComponent* component) {
  return dynamic_cast<const TMMCustomSoundComponent*>(component) != nullptr;
}

void TMMCustomSoundComponent::Apply(TMMDSPComponent* component, TChainOp op) {
  switch (op) {
    case TChainOp::Open:
      component->Open();
      break;
    case TChainOp::Close:
      component->Close();
      break;
    case TChainOp::Start:
      component->Start();
      break;
    case TChainOp::Pause:
      component->Pause();
      break;
    case TChainOp::Restart:
      component->Restart();
      break;
    case TChainOp::Stop:
      component->Stop();
      break;
    case TChainOp::Reset:
      component->Reset();
      break;
    case TChainOp::Update:
      component->Update();
      break;
  }
}

void TMMCustomSoundComponent::ApplyOwn(TChainOp op) {
  switch (op) {
    case TChainOp::Open:
      TMMDSPComponent::Open();
      break;
    case TChainOp::Close:
      TMMDSPComponent::Close();
      break;
    case TChainOp::Start:
      TMMDSPComponent::Start();
      break;
    case TChainOp::Pause:
      TMMDSPComponent::Pause();
      break;
    case TChainOp::Restart:
      TMMDSPComponent::Restart();
      break;
    case TChainOp::Stop:
      TMMDSPComponent::Stop();
      break;
    case TChainOp::Reset:
      TMMDSPComponent::Reset();
      break;
    case TChainOp::Update:
      TMMDSPComponent::Update();
      break;
  }
}

void TMMCustomSoundComponent::WalkChain(TChainOp op) {
  const bool tailFirst = op == TChainOp::Close || op == TChainOp::Stop;
  if (tailFirst) {
    for (TMMDSPComponent* c = Output(); c != nullptr; c = c->Output()) {
      if (IsDriver(c)) {
        if (c != this) Apply(c, op);
        break;
      }
    }
  }

  // The segment starts at the head of the chain, or here when another driver is above.
  TMMDSPComponent* start = this;
  for (TMMDSPComponent* c = Input(); c != nullptr; c = c->Input()) {
    if (IsDriver(c) && c != this) {
      start = this;
      break;
    }
    start = c;
  }

  TMMDSPComponent* c = start;
  while (c != nullptr) {
    TMMDSPComponent* next = c->Output();
    if (c != this) {
      const bool driver = IsDriver(c);
      if (driver && tailFirst) break;  // already done above
      if (op == TChainOp::Open) c->SetBufferSize(BufferSize());
      Apply(c, op);
      if (driver) break;
    }
    c = next;
  }
}

void TMMCustomSoundComponent::Open() {
  WalkChain(TChainOp::Open);
  ApplyOwn(TChainOp::Open);
}

void TMMCustomSoundComponent::Close() {
  WalkChain(TChainOp::Close);
  ApplyOwn(TChainOp::Close);
}

void TMMCustomSoundComponent::Start() {
  WalkChain(TChainOp::Start);
  ApplyOwn(TChainOp::Start);
}

void TMMCustomSoundComponent::Pause() {
  WalkChain(TChainOp::Pause);
  ApplyOwn(TChainOp::Pause);
}

void TMMCustomSoundComponent::Restart() {
  WalkChain(TChainOp::Restart);
  ApplyOwn(TChainOp::Restart);
}

void TMMCustomSoundComponent::Stop() {
  WalkChain(TChainOp::Stop);
  ApplyOwn(TChainOp::Stop);
}

void TMMCustomSoundComponent::Reset() {
  WalkChain(TChainOp::Reset);
  ApplyOwn(TChainOp::Reset);
}

void TMMCustomSoundComponent::Update() {
  WalkChain(TChainOp::Update);
  ApplyOwn(TChainOp::Update);
}

}  // namespace sonarelle
