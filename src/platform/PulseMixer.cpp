// The mixer driver on a PulseAudio server: one device, the server itself.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MixerDriver.h"
#include "platform/PulseMainloop.h"
#include "platform/TakeMixChoice.h"

namespace sonarelle {

namespace {

// Line ids: the two destinations have fixed ids; each source gets the next free id the first
// time it is seen by a handle, and its volume control has the same number.
constexpr std::uint32_t kSinkLineId = 0xFFFF0000;
constexpr std::uint32_t kRecordingLineId = 0xFFFF0001;
constexpr std::uint32_t kTakeMixLineId = 0xFFFF0002;
// The recording-source panel shows the first nine sources; the take mix must be among them.
constexpr std::size_t kPanelSources = 9;
constexpr std::uint32_t kFirstSourceId = 0x1000;
constexpr std::uint32_t kSinkVolumeId = 1;
constexpr std::uint32_t kSinkMuteId = 2;
constexpr std::uint32_t kMuxId = 3;
constexpr std::uint32_t kValueMax = 65535;
constexpr qsizetype kNameMax = 64;

MMRESULT ServerError(int error) {
  return kMixerServerErrorBase + static_cast<MMRESULT>(std::max(error, 0));
}

std::uint32_t ToValue(pa_volume_t volume) {
  const std::uint64_t scaled =
      (std::uint64_t{std::min<pa_volume_t>(volume, PA_VOLUME_NORM)} * kValueMax +
       PA_VOLUME_NORM / 2) /
      PA_VOLUME_NORM;
  return static_cast<std::uint32_t>(scaled);
}

pa_volume_t ToVolume(std::uint32_t value) {
  const std::uint64_t scaled =
      (std::uint64_t{std::min(value, kValueMax)} * PA_VOLUME_NORM + kValueMax / 2) / kValueMax;
  return static_cast<pa_volume_t>(scaled);
}

QString LineName(const char* description, const char* name) {
  return QString::fromUtf8(description != nullptr ? description : name).left(kNameMax);
}

// PipeWire gives its nodes a nick; PulseAudio's cards carry the product name.
QString ShortName(const pa_proplist* properties) {
  for (const char* key : {"node.nick", PA_PROP_DEVICE_PRODUCT_NAME}) {
    const char* value = properties != nullptr ? pa_proplist_gets(properties, key) : nullptr;
    if (value != nullptr && *value != '\0') {
      return QString::fromUtf8(value).left(kNameMax);
    }
  }
  return {};
}

struct ServerFacts {
  bool seen = false;
  std::string name;
  std::string version;
  std::string defaultSink;
  std::string defaultSource;
};

// The loop's lock is held.
bool ReadServer(PulseMainloop& loop, pa_context* context, ServerFacts& facts) {
  pa_operation* op = pa_context_get_server_info(
      context,
      [](pa_context*, const pa_server_info* info, void* user) {
        auto* out = static_cast<ServerFacts*>(user);
        if (info == nullptr) {
          return;
        }
        out->seen = true;
        out->name = info->server_name != nullptr ? info->server_name : "";
        out->version = info->server_version != nullptr ? info->server_version : "";
        out->defaultSink = info->default_sink_name != nullptr ? info->default_sink_name : "";
        out->defaultSource = info->default_source_name != nullptr ? info->default_source_name : "";
      },
      &facts);
  return loop.Finish(op) && facts.seen;
}

// What a sink or source answered: its name, description, volume and mute.
struct Device {
  bool seen = false;
  std::string name;
  std::uint32_t index = PA_INVALID_INDEX;
  QString description;
  pa_cvolume volume{};
  bool mute = false;
  bool monitor = false;
  QString shortName;
};

template <class Info>
void Take(const Info& info, Device& device) {
  device.seen = true;
  device.name = info.name != nullptr ? info.name : "";
  device.index = info.index;
  device.description = LineName(info.description, device.name.c_str());
  device.volume = info.volume;
  device.mute = info.mute != 0;
}

void OnSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int eol, void* user) {
  if (eol == 0 && info != nullptr) {
    Take(*info, *static_cast<Device*>(user));
  }
}

void OnSourceInfo(pa_context* /*context*/, const pa_source_info* info, int eol, void* user) {
  if (eol == 0 && info != nullptr) {
    auto* device = static_cast<Device*>(user);
    Take(*info, *device);
    device->monitor = info->monitor_of_sink != PA_INVALID_INDEX;
    if (!device->monitor) {
      device->shortName = ShortName(info->proplist);
    }
  }
}

// Fills `values` (channels entries) from a server volume; one channel stands for all.
void FillVolume(const pa_cvolume& volume, std::uint32_t channels,
                std::vector<std::uint32_t>& values) {
  values.assign(channels, 0);
  if (volume.channels == 0) {
    return;
  }
  if (channels == 1) {
    values[0] = ToValue(pa_cvolume_max(&volume));
    return;
  }
  for (std::uint32_t c = 0; c < channels; ++c) {
    values[c] = ToValue(volume.values[std::min<std::uint32_t>(c, volume.channels - 1U)]);
  }
}

// A server volume of `like`'s channel count from `values`; one value applies to all channels.
pa_cvolume MakeVolume(const pa_cvolume& like, std::uint32_t channels,
                      const std::vector<std::uint32_t>& values) {
  pa_cvolume volume = like;
  for (std::uint8_t c = 0; c < volume.channels; ++c) {
    volume.values[c] = ToVolume(values[std::min<std::uint32_t>(c, channels - 1U)]);
  }
  return volume;
}

// One open handle: its own connection for the handle's life, and the structure read from it.
class OpenMixer {
 public:
  OpenMixer(MixerHandle handle, MixerNotify notify) : handle_(handle), notify_(std::move(notify)) {}
  ~OpenMixer() {
    PulseMainloop::Lock lock(loop_);
    closing_ = true;
    if (pa_context* context = loop_.Ready(); context != nullptr) {
      pa_context_set_subscribe_callback(context, nullptr, nullptr);
    }
  }
  OpenMixer(const OpenMixer&) = delete;
  OpenMixer& operator=(const OpenMixer&) = delete;

  PulseMainloop& Loop() { return loop_; }

  // Connects and reads the structure; the loop's lock is held.
  MMRESULT Connect() {
    int error = PA_OK;
    pa_context* context = loop_.Usable() ? loop_.Context(error) : nullptr;
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    ServerFacts facts;
    if (!ReadServer(loop_, context, facts)) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    defaultSink_ = facts.defaultSink;
    defaultSource_ = facts.defaultSource;
    if (const MMRESULT result = RefreshSources(); result != MMSYSERR_NOERROR) {
      return result;
    }
    Device sink;
    if (!loop_.Finish(
            pa_context_get_sink_info_by_name(context, "@DEFAULT_SINK@", &OnSinkInfo, &sink))) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    sinkVolume_ = sink.volume;
    sinkMute_ = sink.mute;
    if (!notify_) {
      return MMSYSERR_NOERROR;
    }
    pa_context_set_subscribe_callback(context, &OpenMixer::OnEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
    return loop_.Finish(pa_context_subscribe(context, mask, nullptr, nullptr))
               ? MMSYSERR_NOERROR
               : ServerError(PA_ERR_TIMEOUT);
  }

  MMRESULT GetDestinationLine(std::uint32_t destination, MixerLine& line) {
    pa_context* context = loop_.Ready();
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    line = MixerLine{};
    line.destination = destination;
    if (destination == 0) {
      Device sink;
      if (const MMRESULT result = ReadSink(context, sink); result != MMSYSERR_NOERROR) {
        return result;
      }
      line.lineId = kSinkLineId;
      line.channels = sink.volume.channels;
      line.controls = 2;
      line.name = sink.description;
      return MMSYSERR_NOERROR;
    }
    if (destination != 1) {
      return MIXERR_INVALLINE;
    }
    if (const MMRESULT result = RefreshSources(); result != MMSYSERR_NOERROR) {
      return result;
    }
    line.lineId = kRecordingLineId;
    line.channels = 1;
    line.connections = static_cast<std::uint32_t>(sources_.size());
    line.controls = 1;
    line.name = QStringLiteral("Recording");
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetSourceLine(std::uint32_t destination, std::uint32_t source, MixerLine& line) {
    if (loop_.Ready() == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    if (destination != 1 || source >= sources_.size()) {
      return MIXERR_INVALLINE;
    }
    const Source& found = sources_[source];
    line = MixerLine{};
    line.destination = 1;
    line.source = source;
    line.lineId = found.lineId;
    line.channels = found.channels;
    line.controls = 1;
    line.name = found.description;
    line.shortName = found.shortName;
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetLineControls(std::uint32_t lineId, std::vector<MixerControl>& controls) {
    if (loop_.Ready() == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    if (lineId == kSinkLineId) {
      controls = {{kSinkVolumeId, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0},
                  {kSinkMuteId, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, 0}};
    } else if (lineId == kRecordingLineId) {
      controls = {{kMuxId, MIXERCONTROL_CONTROLTYPE_MUX,
                   MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                   static_cast<std::uint32_t>(sources_.size())}};
    } else if (FindSource(lineId) != nullptr) {
      controls = {{lineId, MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0}};
    } else {
      return MIXERR_INVALLINE;
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetControlValues(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                            std::vector<std::uint32_t>& values) {
    pa_context* context = loop_.Ready();
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    if (channels == 0) {
      return MMSYSERR_INVALPARAM;
    }
    if (controlId == kMuxId) {
      if (items != sources_.size()) {
        return MMSYSERR_INVALPARAM;
      }
      if (take_mix::Chosen()) {
        values.assign(std::size_t{channels} * items, 0);
        for (std::uint32_t i = 0; i < items; ++i) {
          if (sources_[i].takeMix) {
            std::fill_n(values.begin() + std::ptrdiff_t{i} * channels, channels, 1U);
          }
        }
        return MMSYSERR_NOERROR;
      }
      ServerFacts facts;
      if (!ReadServer(loop_, context, facts)) {
        return ServerError(PA_ERR_TIMEOUT);
      }
      values.assign(std::size_t{channels} * items, 0);
      for (std::uint32_t i = 0; i < items; ++i) {
        if (sources_[i].name == facts.defaultSource) {
          std::fill_n(values.begin() + std::ptrdiff_t{i} * channels, channels, 1U);
        }
      }
      return MMSYSERR_NOERROR;
    }
    if (controlId == kTakeMixLineId) {
      values.assign(channels, take_mix::VoiceLevel());
      return MMSYSERR_NOERROR;
    }
    Device device;
    if (const MMRESULT result = ReadControlDevice(context, controlId, device);
        result != MMSYSERR_NOERROR) {
      return result;
    }
    if (controlId == kSinkMuteId) {
      values.assign(channels, device.mute ? 1U : 0U);
    } else {
      FillVolume(device.volume, channels, values);
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetControlListText(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                              std::vector<MixerListText>& texts) {
    if (loop_.Ready() == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    if (controlId != kMuxId) {
      return controlId == kSinkVolumeId || controlId == kSinkMuteId ||
                     FindSource(controlId) != nullptr
                 ? MMSYSERR_INVALPARAM
                 : MIXERR_INVALCONTROL;
    }
    if (channels == 0 || items != sources_.size()) {
      return MMSYSERR_INVALPARAM;
    }
    texts.clear();
    for (const Source& source : sources_) {
      texts.insert(texts.end(), channels, MixerListText{source.lineId, 0, source.description});
    }
    return MMSYSERR_NOERROR;
  }

  MMRESULT SetControlValues(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                            const std::vector<std::uint32_t>& values) {
    pa_context* context = loop_.Ready();
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    if (channels == 0 || values.size() < std::size_t{channels} * std::max(items, 1U)) {
      return MMSYSERR_INVALPARAM;
    }
    if (controlId == kMuxId) {
      if (items != sources_.size()) {
        return MMSYSERR_INVALPARAM;
      }
      const auto chosen =
          std::find_if(values.begin(), values.begin() + std::ptrdiff_t{items} * channels,
                       [](std::uint32_t value) { return value != 0; });
      const auto item = static_cast<std::size_t>(chosen - values.begin()) / channels;
      // All zero chooses nothing: the server always keeps a default source.
      if (item >= items) {
        return MMSYSERR_NOERROR;
      }
      if (sources_[item].takeMix) {
        return ChooseTakeMix(context);
      }
      take_mix::SetChosen(false);
      return Answer(pa_context_set_default_source(context, sources_[item].name.c_str(),
                                                  &OpenMixer::OnSuccess, &success_));
    }
    if (controlId == kTakeMixLineId) {
      take_mix::SetVoiceLevel(values[0]);
      return MMSYSERR_NOERROR;
    }
    Device device;
    if (const MMRESULT result = ReadControlDevice(context, controlId, device);
        result != MMSYSERR_NOERROR) {
      return result;
    }
    const char* name = device.name.c_str();
    if (controlId == kSinkMuteId) {
      return Answer(pa_context_set_sink_mute_by_name(context, name, values[0] != 0 ? 1 : 0,
                                                     &OpenMixer::OnSuccess, &success_));
    }
    const pa_cvolume volume = MakeVolume(device.volume, channels, values);
    if (controlId == kSinkVolumeId) {
      return Answer(pa_context_set_sink_volume_by_name(context, name, &volume,
                                                       &OpenMixer::OnSuccess, &success_));
    }
    return Answer(pa_context_set_source_volume_by_name(context, name, &volume,
                                                       &OpenMixer::OnSuccess, &success_));
  }

 private:
  struct Source {
    std::string name;
    std::uint32_t lineId = 0;
    std::uint32_t channels = 0;
    QString description;
    bool monitor = false;
    bool takeMix = false;  // the program's own source, not the server's
    QString shortName = {};
  };

  // The voice comes from the server's default source, which must then be a microphone or a
  // line input rather than a monitor of the speakers.
  MMRESULT ChooseTakeMix(pa_context* context) {
    ServerFacts facts;
    if (!ReadServer(loop_, context, facts)) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    const auto isDefault = [&](const Source& s) { return s.name == facts.defaultSource; };
    const auto current = std::find_if(sources_.begin(), sources_.end(), isDefault);
    if (current == sources_.end() || current->monitor) {
      const auto input = std::find_if(sources_.begin(), sources_.end(),
                                      [](const Source& s) { return !s.monitor && !s.takeMix; });
      if (input == sources_.end()) {
        return ServerError(PA_ERR_NOENTITY);
      }
      if (const MMRESULT result = Answer(pa_context_set_default_source(
              context, input->name.c_str(), &OpenMixer::OnSuccess, &success_));
          result != MMSYSERR_NOERROR) {
        return result;
      }
    }
    take_mix::SetChosen(true);
    return MMSYSERR_NOERROR;
  }

  const Source* FindSource(std::uint32_t lineId) const {
    const auto found = std::find_if(sources_.begin(), sources_.end(),
                                    [lineId](const Source& s) { return s.lineId == lineId; });
    return found != sources_.end() ? &*found : nullptr;
  }

  MMRESULT ReadSink(pa_context* context, Device& sink) {
    if (!loop_.Finish(
            pa_context_get_sink_info_by_name(context, "@DEFAULT_SINK@", &OnSinkInfo, &sink))) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    return sink.seen ? MMSYSERR_NOERROR : ServerError(PA_ERR_NOENTITY);
  }

  // The sink or source a (non-list) control belongs to, read live.
  MMRESULT ReadControlDevice(pa_context* context, std::uint32_t controlId, Device& device) {
    if (controlId == kSinkVolumeId || controlId == kSinkMuteId) {
      return ReadSink(context, device);
    }
    const Source* source = FindSource(controlId);
    if (source == nullptr) {
      return MIXERR_INVALCONTROL;
    }
    if (!loop_.Finish(pa_context_get_source_info_by_name(context, source->name.c_str(),
                                                         &OnSourceInfo, &device))) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    return device.seen ? MMSYSERR_NOERROR : ServerError(PA_ERR_NOENTITY);
  }

  // Reads the server's sources: real inputs first, then monitors, each in index order.
  MMRESULT RefreshSources() {
    pa_context* context = loop_.Ready();
    if (context == nullptr) {
      return MMSYSERR_NODRIVER;
    }
    std::vector<Device> devices;
    pa_operation* op = pa_context_get_source_info_list(
        context,
        [](pa_context* c, const pa_source_info* info, int eol, void* user) {
          auto* out = static_cast<std::vector<Device>*>(user);
          if (eol == 0 && info != nullptr) {
            OnSourceInfo(c, info, eol, &out->emplace_back());
          }
        },
        &devices);
    if (!loop_.Finish(op)) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    std::stable_sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
      return a.monitor != b.monitor ? !a.monitor : a.index < b.index;
    });
    sources_.clear();
    for (const Device& device : devices) {
      auto [id, fresh] = ids_.try_emplace(device.name, nextId_);
      if (fresh) {
        ++nextId_;
      }
      sources_.push_back({device.name, id->second, device.volume.channels, device.description,
                          device.monitor, false, device.shortName});
      sourceVolumes_[device.name] = device.volume;
    }
    // After the server's sources, but never beyond what the panel shows; only with an input
    // for the voice.
    if (std::any_of(sources_.begin(), sources_.end(), [](const Source& s) { return !s.monitor; })) {
      const std::size_t at = std::min(sources_.size(), kPanelSources - 1);
      sources_.insert(sources_.begin() + static_cast<std::ptrdiff_t>(at),
                      Source{{}, kTakeMixLineId, 1, take_mix::kSourceName, false, true});
    }
    return MMSYSERR_NOERROR;
  }

  // Waits for a write; the server's refusal comes back as its error number.
  MMRESULT Answer(pa_operation* op) {
    success_ = -1;
    if (!loop_.Finish(op) || success_ < 0) {
      return ServerError(PA_ERR_TIMEOUT);
    }
    pa_context* context = loop_.Ready();
    if (success_ != 0) {
      return MMSYSERR_NOERROR;
    }
    return ServerError(context != nullptr ? pa_context_errno(context)
                                          : PA_ERR_CONNECTIONTERMINATED);
  }

  static void OnSuccess(pa_context* /*context*/, int success, void* user) {
    *static_cast<int*>(user) = success;
  }

  void Notify(unsigned msg, std::uint32_t id) const {
    if (!closing_) {
      notify_(msg, handle_, id);
    }
  }

  // The callbacks below run on the loop's thread with its lock held; they ask the server
  // and compare what it answers with what was last seen, to name the control that changed.
  static void OnEvent(pa_context* context, pa_subscription_event_type_t event, std::uint32_t index,
                      void* user) {
    auto* self = static_cast<OpenMixer*>(user);
    if (self->closing_) {
      return;
    }
    const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const bool change = (event & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE;
    pa_operation* op = nullptr;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
      op = pa_context_get_server_info(context, &OpenMixer::OnServerEvent, self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK && change) {
      op = pa_context_get_sink_info_by_index(context, index, &OpenMixer::OnSinkEvent, self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && change) {
      op = pa_context_get_source_info_by_index(context, index, &OpenMixer::OnSourceEvent, self);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SOURCE) {
      self->Notify(MM_MIXM_LINE_CHANGE, kRecordingLineId);
    }
    if (op != nullptr) {
      pa_operation_unref(op);
    }
  }

  static void OnServerEvent(pa_context* context, const pa_server_info* info, void* user) {
    auto* self = static_cast<OpenMixer*>(user);
    if (info == nullptr || self->closing_) {
      return;
    }
    const std::string sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
    const std::string source =
        info->default_source_name != nullptr ? info->default_source_name : "";
    if (sink != self->defaultSink_) {
      self->defaultSink_ = sink;
      self->Notify(MM_MIXM_LINE_CHANGE, kSinkLineId);
      // The new sink's volume and mute are the destination's values now.
      pa_operation* op =
          pa_context_get_sink_info_by_name(context, sink.c_str(), &OpenMixer::OnSinkEvent, self);
      if (op != nullptr) {
        pa_operation_unref(op);
      }
    }
    if (source != self->defaultSource_) {
      self->defaultSource_ = source;
      self->Notify(MM_MIXM_LINE_CHANGE, kRecordingLineId);
      self->Notify(MM_MIXM_CONTROL_CHANGE, kMuxId);
    }
  }

  static void OnSinkEvent(pa_context* /*context*/, const pa_sink_info* info, int eol, void* user) {
    auto* self = static_cast<OpenMixer*>(user);
    if (eol != 0 || info == nullptr || self->closing_ || info->name != self->defaultSink_) {
      return;
    }
    if (pa_cvolume_equal(&info->volume, &self->sinkVolume_) == 0) {
      self->sinkVolume_ = info->volume;
      self->Notify(MM_MIXM_CONTROL_CHANGE, kSinkVolumeId);
    }
    if ((info->mute != 0) != self->sinkMute_) {
      self->sinkMute_ = info->mute != 0;
      self->Notify(MM_MIXM_CONTROL_CHANGE, kSinkMuteId);
    }
  }

  static void OnSourceEvent(pa_context* /*context*/, const pa_source_info* info, int eol,
                            void* user) {
    auto* self = static_cast<OpenMixer*>(user);
    if (eol != 0 || info == nullptr || info->name == nullptr || self->closing_) {
      return;
    }
    const auto id = self->ids_.find(info->name);
    if (id == self->ids_.end()) {
      return;
    }
    pa_cvolume& seen = self->sourceVolumes_[info->name];
    if (pa_cvolume_equal(&info->volume, &seen) == 0) {
      seen = info->volume;
      self->Notify(MM_MIXM_CONTROL_CHANGE, id->second);
    }
  }

  MixerHandle handle_;
  MixerNotify notify_;
  bool closing_ = false;
  int success_ = -1;
  std::vector<Source> sources_;
  std::map<std::string, std::uint32_t> ids_;  // never forgets a source while the handle lives
  std::uint32_t nextId_ = kFirstSourceId;
  std::string defaultSink_;
  std::string defaultSource_;
  pa_cvolume sinkVolume_{};
  bool sinkMute_ = false;
  std::map<std::string, pa_cvolume> sourceVolumes_;
  // Last, so that it stops (and no callback runs) before the state above goes.
  PulseMainloop loop_;
};

class PulseMixer final : public MixerDriver {
 public:
  int GetNumDevs() override {
    ServerFacts facts;
    return Probe(facts) ? 1 : 0;
  }

  MMRESULT GetDevCaps(int mixerId, MixerCaps& caps) override {
    if (mixerId != 0) {
      return MMSYSERR_BADDEVICEID;
    }
    ServerFacts facts;
    if (!Probe(facts)) {
      return MMSYSERR_NODRIVER;
    }
    unsigned major = 0;
    unsigned minor = 0;
    // NOLINTNEXTLINE(cert-err34-c): a version that does not parse gives 0.0
    std::sscanf(facts.version.c_str(), "%u.%u", &major, &minor);
    caps = MixerCaps{};
    caps.driverVersion = ((major & 0xFFU) << 8U) | (minor & 0xFFU);
    caps.productName =
        QString::fromUtf8((facts.name + " " + facts.version).c_str()).left(kNameMax - 1);
    caps.destinations = 2;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Open(MixerHandle* handle, int mixerId, const MixerNotify& notify) override {
    if (handle == nullptr) {
      return MMSYSERR_INVALPARAM;
    }
    if (mixerId != 0) {
      return MMSYSERR_BADDEVICEID;
    }
    MixerHandle id = 0;
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      id = nextHandle_++;
    }
    auto mixer = std::make_unique<OpenMixer>(id, notify);
    {
      PulseMainloop::Lock lock(mixer->Loop());
      if (const MMRESULT result = mixer->Connect(); result != MMSYSERR_NOERROR) {
        return result;
      }
    }
    const std::lock_guard<std::mutex> guard(mutex_);
    open_[id] = std::move(mixer);
    *handle = id;
    return MMSYSERR_NOERROR;
  }

  MMRESULT Close(MixerHandle handle) override {
    std::unique_ptr<OpenMixer> closed;
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      auto found = open_.find(handle);
      if (found == open_.end()) {
        return MMSYSERR_INVALHANDLE;
      }
      closed = std::move(found->second);
      open_.erase(found);
    }
    closed.reset();
    return MMSYSERR_NOERROR;
  }

  MMRESULT GetDestinationLine(MixerHandle handle, std::uint32_t destination,
                              MixerLine& line) override {
    return With(handle, [&](OpenMixer& m) { return m.GetDestinationLine(destination, line); });
  }

  MMRESULT GetSourceLine(MixerHandle handle, std::uint32_t destination, std::uint32_t source,
                         MixerLine& line) override {
    return With(handle, [&](OpenMixer& m) { return m.GetSourceLine(destination, source, line); });
  }

  MMRESULT GetLineControls(MixerHandle handle, std::uint32_t lineId,
                           std::vector<MixerControl>& controls) override {
    return With(handle, [&](OpenMixer& m) { return m.GetLineControls(lineId, controls); });
  }

  MMRESULT GetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t channels,
                            std::uint32_t items, std::vector<std::uint32_t>& values) override {
    return With(handle, [&](OpenMixer& m) {
      return m.GetControlValues(controlId, channels, items, values);
    });
  }

  MMRESULT GetControlListText(MixerHandle handle, std::uint32_t controlId, std::uint32_t channels,
                              std::uint32_t items, std::vector<MixerListText>& texts) override {
    return With(handle, [&](OpenMixer& m) {
      return m.GetControlListText(controlId, channels, items, texts);
    });
  }

  MMRESULT SetControlValues(MixerHandle handle, std::uint32_t controlId, std::uint32_t channels,
                            std::uint32_t items,
                            const std::vector<std::uint32_t>& values) override {
    return With(handle, [&](OpenMixer& m) {
      return m.SetControlValues(controlId, channels, items, values);
    });
  }

 private:
  // Runs `call` on the open handle with its loop's lock held.
  template <class Call>
  MMRESULT With(MixerHandle handle, Call call) {
    OpenMixer* mixer = nullptr;
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      auto found = open_.find(handle);
      if (found == open_.end()) {
        return MMSYSERR_INVALHANDLE;
      }
      mixer = found->second.get();
    }
    PulseMainloop::Lock lock(mixer->Loop());
    return call(*mixer);
  }

  // Asks the server who it is, on a connection of its own; false when it does not answer.
  static bool Probe(ServerFacts& facts) {
    PulseMainloop loop;
    PulseMainloop::Lock lock(loop);
    int error = PA_OK;
    pa_context* context = loop.Usable() ? loop.Context(error) : nullptr;
    return context != nullptr && ReadServer(loop, context, facts);
  }

  std::mutex mutex_;  // guards the handle table; each handle's state is under its loop's lock
  std::map<MixerHandle, std::unique_ptr<OpenMixer>> open_;
  MixerHandle nextHandle_ = 1;
};

}  // namespace

MixerDriver& PulseMixerDriver() {
  static PulseMixer driver;
  return driver;
}

}  // namespace sonarelle
