#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audio/chain/MMComponent.h"
#include "audio/chain/WaveFormat.h"
#include "audio/chain/WaveHeader.h"

namespace sonarelle {

class TMMDSPComponent;

// Called on the thread that delivers the buffer (see BufferReady). The header stays its
// owner's; do not keep the pointer after returning.
using TMMBufferEvent = std::function<void(TMMDSPComponent* Sender, PWaveHdr lpWaveHdr)>;
// Called on the pulling driver's thread before the Input fills the header.
using TMMBufferLoadEvent =
    std::function<void(TMMDSPComponent* Sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;

// Base of every chain component: the Input and Output links, the format handed down the
// chain, the buffer size, the control operations and the two buffer operations. Links,
// formats and control operations belong to the main thread; the buffer operations run on
// whatever thread the chain's driver uses.
class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  static constexpr std::size_t kMaxLinkName = 20;
  static constexpr std::int32_t kDefaultBufferSize = 2048;

  TMMDSPComponent();
  // Partners drop their links to this component, then the format is freed.
  ~TMMDSPComponent() override;

  // Hands the own format down again: propagation is held back while loading.
  void Loaded() override;
  // A removed partner is unlinked through the full setters.
  void Notification(TMMComponent* component, TOperation operation) override;

  // Fetches the format from the Input (or hands the own one to the Output).
  virtual void UpdateFormat();
  // Receiver of the link broadcast: drops a link that `component` has taken over.
  virtual void LinkChanged(TMMDSPComponent* component, bool outputSide,
                           const std::string& linkName);

  // The upstream partner. Setting it unlinks the old one, takes V over from whatever it
  // fed and fetches its format; a link that would form a cycle is silently refused.
  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* Input() const { return input_; }
  // The downstream partner, the mirror of Input.
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* Output() const { return output_; }

  // Takes its own copy of `format` (the own pointer again is kept as is) and hands it on
  // to the Output. Stops the component first when the format changes while started.
  virtual void SetFormat(const WAVEFORMATEX* format);
  // The own copy, or none. Owned by this component: callers take their own copy.
  virtual const WAVEFORMATEX* GetFormat() const { return format_.get(); }

  // The wanted buffer size in bytes; while opened, the size fixed at Open.
  virtual std::int32_t BufferSize() const;
  virtual void SetBufferSize(std::int32_t value);
  std::int32_t RealBufferSize() const { return realBufferSize_; }

  // Called by the upstream partner with its new format.
  virtual void FormatChanged(const WAVEFORMATEX* format);

  // Control operations; on a component in the wrong state they do nothing.
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
  virtual void Reset();
  virtual void Update();

  // Push: fires OnBufferReady, then hands the same header to the Output.
  virtual void BufferReady(PWaveHdr lpWaveHdr);
  // Pull: fires OnBufferLoad, then asks the Input to fill the header. The head of a chain
  // fills lpData, sets dwBytesRecorded and sets MoreBuffers while it has more to give.
  virtual void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers);

  // Raw stores of a link and its name (cut to kMaxLinkName characters), without any of
  // the setters' consequences.
  virtual void SetInputLink(TMMDSPComponent* component, const std::string& name);
  virtual void SetOutputLink(TMMDSPComponent* component, const std::string& name);

  // Whether `component` may become the Input (Output); refuses self, partners that cannot
  // link back, and anything already downstream (upstream), so no cycle can form.
  virtual bool CanConnectInput(TMMDSPComponent* component);
  virtual bool CanConnectOutput(TMMDSPComponent* component);

  // Whether the component offers the Input or Output setting; one that has no use for a
  // link says false.
  virtual bool ExposesInput() const { return true; }
  virtual bool ExposesOutput() const { return true; }
  // The link the named setting holds: "Input" or "Output" when exposed, else none.
  TMMDSPComponent* LinkNamed(const std::string& name) const;

  // Lets a component be linked by a partner although it does not expose the setting.
  bool AcceptsInputLink() const { return acceptsInputLink_; }
  void SetAcceptsInputLink(bool value) { acceptsInputLink_ = value; }
  bool AcceptsOutputLink() const { return acceptsOutputLink_; }
  void SetAcceptsOutputLink(bool value) { acceptsOutputLink_ = value; }

  // The name of the link by which the Input (Output) partner points back here; empty
  // while unlinked.
  const std::string& InputLinkName() const { return inputLinkName_; }
  const std::string& OutputLinkName() const { return outputLinkName_; }

  bool Opened() const { return opened_; }
  bool Started() const { return started_; }
  bool Paused() const { return paused_; }

  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

  // Calls LinkChanged on every live chain component.
  static void Broadcast(TMMDSPComponent* component, bool outputSide, const std::string& linkName);
  // Every live chain component, in order of creation.
  static std::vector<TMMDSPComponent*> Components();

 protected:
  // For subclasses that keep the state flags themselves.
  void SetOpened(bool value) { opened_ = value; }
  void SetStarted(bool value) { started_ = value; }
  void SetPaused(bool value) { paused_ = value; }
  void SetRealBufferSize(std::int32_t value) { realBufferSize_ = value; }

 private:
  TMMDSPComponent* input_ = nullptr;   // not owned
  TMMDSPComponent* output_ = nullptr;  // not owned
  FormatPtr format_;
  std::int32_t bufferSize_ = kDefaultBufferSize;
  std::int32_t realBufferSize_ = kDefaultBufferSize;
  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;
  bool acceptsInputLink_ = false;
  bool acceptsOutputLink_ = false;
  std::string inputLinkName_;
  std::string outputLinkName_;
};

}  // namespace sonarelle
