#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QString>

#include "platform/MMResult.h"

namespace sonarelle {

// Control types, the list class and control flags of the mixer's control records.
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
inline constexpr std::uint32_t MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
inline constexpr std::uint32_t MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x1;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x2;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Result codes of the mixer operations beyond the shared ones.
inline constexpr MMRESULT MIXERR_INVALLINE = 1024;
inline constexpr MMRESULT MIXERR_INVALCONTROL = 1025;
// Codes from this value on carry a sound server error number (code - base).
inline constexpr MMRESULT kMixerServerErrorBase = 2000;

// Notifications of an open mixer: `id` is the line id or the control id that changed.
inline constexpr unsigned MM_MIXM_LINE_CHANGE = 0x3D0;
inline constexpr unsigned MM_MIXM_CONTROL_CHANGE = 0x3D1;

// A mixer handle. Every open gets a new number, never reused while the process runs.
using MixerHandle = std::uintptr_t;

struct MixerCaps {
  std::uint16_t manufacturerId = 0;
  std::uint16_t productId = 0;
  std::uint32_t driverVersion = 0;
  QString productName;
  std::uint32_t destinations = 0;
};

// A destination line or a source line (connection) of a destination.
struct MixerLine {
  std::uint32_t destination = 0;
  std::uint32_t source = 0;  // source lines only
  std::uint32_t lineId = 0;
  std::uint32_t channels = 0;
  std::uint32_t connections = 0;  // destinations only: their source lines
  std::uint32_t controls = 0;
  QString name;  // at most 64 characters
  // The server's own short name for a source line (a node's nick, a device's product name);
  // empty when it has none. At most 64 characters.
  QString shortName = {};
};

struct MixerControl {
  std::uint32_t controlId = 0;
  std::uint32_t controlType = 0;
  std::uint32_t controlFlags = 0;
  std::uint32_t items = 0;  // list controls: one item per entry
};

// One entry of a list control: `param1` is the line id of the source line it stands for.
struct MixerListText {
  std::uint32_t param1 = 0;
  std::uint32_t param2 = 0;
  QString name;
};

// Mixer notifications come on a thread of the driver; the receiver must only hand them on,
// never call the driver. None comes after Close has returned.
using MixerNotify = std::function<void(unsigned msg, MixerHandle handle, std::uint32_t id)>;

// The mixer operations the mixer wrapper needs. Values are unsigned 32-bit entries, one per
// channel and item (items outer, channels inner): `channels` is 1 for a uniform control,
// `items` 0 for a control that is not a list. All operations are called on the owner's
// thread and return within a few seconds even when the service does not answer.
class MixerDriver {
 public:
  virtual ~MixerDriver() = default;

  virtual int GetNumDevs() = 0;
  virtual MMRESULT GetDevCaps(int mixerId, MixerCaps& caps) = 0;
  // An empty `notify` opens without notifications.
  virtual MMRESULT Open(MixerHandle* handle, int mixerId, const MixerNotify& notify) = 0;
  virtual MMRESULT Close(MixerHandle handle) = 0;
  virtual MMRESULT GetDestinationLine(MixerHandle handle, std::uint32_t destination,
                                      MixerLine& line) = 0;
  virtual MMRESULT GetSourceLine(MixerHandle handle, std::uint32_t destination,
                                 std::uint32_t source, MixerLine& line) = 0;
  // All controls of the line, in the driver's order.
  virtual MMRESULT GetLineControls(MixerHandle handle, std::uint32_t lineId,
                                   std::vector<MixerControl>& controls) = 0;
  virtual MMRESULT GetControlValues(MixerHandle handle, std::uint32_t controlId,
                                    std::uint32_t channels, std::uint32_t items,
                                    std::vector<std::uint32_t>& values) = 0;
  virtual MMRESULT GetControlListText(MixerHandle handle, std::uint32_t controlId,
                                      std::uint32_t channels, std::uint32_t items,
                                      std::vector<MixerListText>& texts) = 0;
  virtual MMRESULT SetControlValues(MixerHandle handle, std::uint32_t controlId,
                                    std::uint32_t channels, std::uint32_t items,
                                    const std::vector<std::uint32_t>& values) = 0;
};

// The mixer of the sound server named by PULSE_SERVER (or the user's default): device 0 is
// the server; destination 0 its default sink (a volume and a mute control), destination 1
// recording, whose source lines are the server's sources (real inputs first, then monitors;
// each with a volume control) and which holds one MUX control selecting the default source.
// A real input's short name is its node's nick or else its device's product name; a monitor
// has none, as its properties are those of the output it listens to.
MixerDriver& PulseMixerDriver();

}  // namespace sonarelle
