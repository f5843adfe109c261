#include "mixer/AudioMixer.h"

#include "platform/MessageWindow.h"

namespace sonarelle {

namespace {

std::uint32_t Channels(const MixerControl& control, const MixerLine& line) {
  return (control.controlFlags & MIXERCONTROL_CONTROLF_UNIFORM) != 0 ? 1 : line.channels;
}

std::uint32_t Items(const MixerControl& control) {
  return (control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE) != 0 ? control.items : 0;
}

bool Disabled(const MixerControl& control) {
  return (control.controlFlags & MIXERCONTROL_CONTROLF_DISABLED) != 0;
}

std::vector<MixerControl> ReadControls(MixerDriver& driver, MixerHandle handle,
                                       const MixerLine& line) {
  std::vector<MixerControl> controls;
  if (driver.GetLineControls(handle, line.lineId, controls) != MMSYSERR_NOERROR) controls.clear();
  return controls;
}

}  // namespace

TAudioMixer::TAudioMixer(MixerDriver& driver) : driver_(driver) {
  numDevs_ = driver_.GetNumDevs();
  window_ = std::make_unique<MessageWindow>(
      [this](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
        Notified(msg, wParam, lParam);
      });
  mixerId_ = -1;
  if (numDevs_ > 0) SetMixerId(0);
}

TAudioMixer::~TAudioMixer() {
  Close();
  window_.reset();
}

QString TAudioMixer::Manufacturer() const {
  if (caps_.manufacturerId == 1) return QStringLiteral("Microsoft");
  return QString::number(caps_.manufacturerId) + QStringLiteral(" = Unknown");
}

void TAudioMixer::SetMixerId(int id) {
  if (id < 0 || id >= numDevs_) return;
  Close();
  Open(id);
}

void TAudioMixer::Close() {
  if (open_) driver_.Close(handle_);
  open_ = false;
  handle_ = 0;
  destinations_.clear();
}

void TAudioMixer::Open(int id) {
  MessageWindow* window = window_.get();
  // Runs on a thread of the driver: only hands the change on to the window.
  const MixerNotify notify = [window](unsigned msg, MixerHandle handle, std::uint32_t changed) {
    window->PostMessage(msg, handle, std::intptr_t(changed));
  };
  MixerHandle handle = 0;
  if (driver_.Open(&handle, id, notify) != MMSYSERR_NOERROR &&
      driver_.Open(&handle, id, notify) != MMSYSERR_NOERROR &&
      driver_.Open(&handle, id, MixerNotify()) != MMSYSERR_NOERROR) {
    mixerId_ = -1;
    return;
  }
  handle_ = handle;
  open_ = true;
  mixerId_ = id;
  caps_ = MixerCaps();
  driver_.GetDevCaps(id, caps_);

  for (std::uint32_t d = 0; d < caps_.destinations; ++d) {
    auto destination = std::make_unique<TMixerDestination>();
    if (driver_.GetDestinationLine(handle_, d, destination->line) != MMSYSERR_NOERROR) continue;
    for (std::uint32_t s = 0; s < destination->line.connections; ++s) {
      auto connection = std::make_unique<TMixerConnection>();
      if (driver_.GetSourceLine(handle_, d, s, connection->line) != MMSYSERR_NOERROR) continue;
      connection->controls = ReadControls(driver_, handle_, connection->line);
      destination->connections.push_back(std::move(connection));
    }
    destination->controls = ReadControls(driver_, handle_, destination->line);
    destinations_.push_back(std::move(destination));
  }
}

void TAudioMixer::Notified(unsigned msg, std::uintptr_t handle, std::intptr_t id) {
  if (msg == MM_MIXM_LINE_CHANGE && OnLineChange) {
    OnLineChange(this, handle, std::uint32_t(id));
  } else if (msg == MM_MIXM_CONTROL_CHANGE && OnControlChange) {
    OnControlChange(this, handle, std::uint32_t(id));
  }
}

bool TAudioMixer::ChooseLine(int destination, int connection, Line& chosen) const {
  if (destination < 0 || std::size_t(destination) >= destinations_.size()) return false;
  const TMixerDestination& d = *destinations_[std::size_t(destination)];
  chosen.destination = &d;
  if (connection == -1) {
    chosen.line = &d.line;
    chosen.controls = &d.controls;
    return true;
  }
  if (connection < 0 || std::size_t(connection) >= d.connections.size()) return false;
  const TMixerConnection& c = *d.connections[std::size_t(connection)];
  chosen.line = &c.line;
  chosen.controls = &c.controls;
  return true;
}

bool TAudioMixer::ReadValues(const MixerControl& control, const MixerLine& line,
                             std::vector<std::uint32_t>& values) {
  const std::uint32_t channels = Channels(control, line);
  const std::uint32_t items = Items(control);
  values.clear();
  if (driver_.GetControlValues(handle_, control.controlId, channels, items, values) !=
      MMSYSERR_NOERROR) {
    return false;
  }
  // A short answer reads as zeros rather than past its end.
  values.resize(std::size_t(channels) * std::max<std::uint32_t>(items, 1), 0);
  return true;
}

bool TAudioMixer::ReadTexts(const MixerControl& control, const MixerLine& line,
                            std::vector<MixerListText>& texts) {
  texts.clear();
  return driver_.GetControlListText(handle_, control.controlId, Channels(control, line),
                                    Items(control), texts) == MMSYSERR_NOERROR;
}

int TAudioMixer::FindEntry(const MixerControl& control, const MixerLine& line,
                           const std::vector<MixerListText>& texts, std::uint32_t lineId) {
  const std::uint32_t channels = Channels(control, line);
  const std::uint32_t items = Items(control);
  for (std::uint32_t k = channels - 1; channels > 0 && k < items; k += channels) {
    if (k < texts.size() && texts[k].param1 == lineId) return int(k);
  }
  return -1;
}

bool TAudioMixer::GetLineLevels(int Destination, int Connection, int& Left, int& Right, int& Mute,
                                bool& IsStereo, bool& VolumeUnavailable, bool& MuteUnavailable,
                                bool& MuteIsSelection) {
  MuteIsSelection = false;
  MuteUnavailable = true;
  VolumeUnavailable = true;
  Left = -1;
  Right = -1;
  Mute = -1;
  IsStereo = false;
  Line chosen;
  if (!ChooseLine(Destination, Connection, chosen)) return false;

  std::vector<std::uint32_t> values;
  for (const MixerControl& control : *chosen.controls) {
    if (Left != -1 && Mute != -1) break;
    const bool volume = control.controlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
    const bool mute = control.controlType == MIXERCONTROL_CONTROLTYPE_MUTE;
    if ((!volume && !mute) || (control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE) != 0) {
      continue;
    }
    if (!ReadValues(control, *chosen.line, values)) continue;
    if (volume && Left == -1) {
      VolumeUnavailable = Disabled(control);
      Left = int(values[0]);
      if (Channels(control, *chosen.line) >= 2) {
        Right = int(values[1]);
        IsStereo = true;
      } else {
        Right = Left;
      }
    } else if (mute && Mute == -1) {
      MuteUnavailable = Disabled(control);
      Mute = values[0] != 0 ? 1 : 0;
    }
  }
  if (Mute != -1 || Connection == -1) return true;

  // A source without a mute of its own: its entry in the destination's selection.
  const MixerLine& destinationLine = chosen.destination->line;
  std::vector<MixerListText> texts;
  for (const MixerControl& control : chosen.destination->controls) {
    if (Mute != -1) break;
    if ((control.controlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_LIST) continue;
    if (!ReadValues(control, destinationLine, values)) continue;
    if (!ReadTexts(control, destinationLine, texts)) continue;
    const int k = FindEntry(control, destinationLine, texts, chosen.line->lineId);
    if (k < 0 || std::size_t(k) >= values.size()) continue;
    Mute = int(values[std::size_t(k)]);
    MuteUnavailable = Disabled(control);
    MuteIsSelection = true;
  }
  return true;
}

bool TAudioMixer::SetLineLevels(int Destination, int Connection, int Left, int Right, int Mute) {
  Line chosen;
  if (!ChooseLine(Destination, Connection, chosen)) return false;
  bool volumeDone = Left == -1;
  bool muteDone = Mute == -1;

  for (const MixerControl& control : *chosen.controls) {
    if (volumeDone && muteDone) break;
    if ((control.controlFlags & MIXERCONTROL_CONTROLF_MULTIPLE) != 0) continue;
    const std::uint32_t channels = Channels(control, *chosen.line);
    if (control.controlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !volumeDone) {
      std::vector<std::uint32_t> values(std::max<std::uint32_t>(channels, 1), std::uint32_t(Left));
      if (values.size() > 1) values[1] = std::uint32_t(Right == -1 ? Left : Right);
      driver_.SetControlValues(handle_, control.controlId, channels, 0, values);
      volumeDone = true;
    } else if (control.controlType == MIXERCONTROL_CONTROLTYPE_MUTE && !muteDone) {
      const std::vector<std::uint32_t> values(std::max<std::uint32_t>(channels, 1),
                                              std::uint32_t(Mute));
      driver_.SetControlValues(handle_, control.controlId, channels, 0, values);
      muteDone = true;
    }
  }
  if (muteDone || Connection == -1) return true;

  // A source without a mute of its own: only the destination's first selection counts.
  const MixerLine& destinationLine = chosen.destination->line;
  for (const MixerControl& control : chosen.destination->controls) {
    if (control.controlType != MIXERCONTROL_CONTROLTYPE_MIXER &&
        control.controlType != MIXERCONTROL_CONTROLTYPE_MUX) {
      continue;
    }
    std::vector<std::uint32_t> values;
    ReadValues(control, destinationLine, values);
    values.resize(std::size_t(Channels(control, destinationLine)) *
                      std::max<std::uint32_t>(Items(control), 1),
                  0);
    // One source at a time in a MUX: the new one replaces the others.
    if (control.controlType == MIXERCONTROL_CONTROLTYPE_MUX) {
      std::fill(values.begin(), values.end(), 0);
    }
    std::vector<MixerListText> texts;
    ReadTexts(control, destinationLine, texts);
    const int k = FindEntry(control, destinationLine, texts, chosen.line->lineId);
    if (k >= 0 && std::size_t(k) < values.size()) {
      values[std::size_t(k)] = std::uint32_t(Mute);
      driver_.SetControlValues(handle_, control.controlId, Channels(control, destinationLine),
                               Items(control), values);
    }
    break;
  }
  return true;
}

}  // namespace sonarelle
