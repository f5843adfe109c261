#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QString>

#include "platform/MixerDriver.h"

namespace sonarelle {

class MessageWindow;

// A source line of a destination, with its controls.
struct TMixerConnection {
  MixerLine line;
  std::vector<MixerControl> controls;
};

// A destination line, with its controls and its source lines.
struct TMixerDestination {
  MixerLine line;
  std::vector<MixerControl> controls;
  std::vector<std::unique_ptr<TMixerConnection>> connections;
};

// One of the system's mixers as a tree of destinations, their source lines and their
// controls, with reading and writing a line's volume and mute; for a recording source
// without a mute of its own the mute stands for its entry in the destination's selection,
// so the same two operations choose the recording source. Reports nothing: answers false
// or -1.
class TAudioMixer {
 public:
  using TMixerChange =
      std::function<void(TAudioMixer* Sender, MixerHandle MixerH, std::uint32_t ID)>;

  // Counts the mixers and opens the first, if any.
  explicit TAudioMixer(MixerDriver& driver = PulseMixerDriver());
  ~TAudioMixer();
  TAudioMixer(const TAudioMixer&) = delete;
  TAudioMixer& operator=(const TAudioMixer&) = delete;

  std::uint32_t DriverVersion() const { return caps_.driverVersion; }
  std::uint16_t ProductId() const { return caps_.productId; }
  int NumberOfLine() const { return int(caps_.destinations); }
  QString Manufacturer() const;
  QString ProductName() const { return caps_.productName; }
  // The open mixer; -1 when none is.
  int MixerId() const { return mixerId_; }
  // Opens mixer `id` and reads its tree; ids out of range are ignored.
  void SetMixerId(int id);

  TMixerChange OnLineChange;
  TMixerChange OnControlChange;

  // The tree read when the mixer was opened.
  const std::vector<std::unique_ptr<TMixerDestination>>& Destinations() const {
    return destinations_;
  }

  // Reads a line's volume and mute (-1 when not found); Connection -1 is the destination
  // itself. False only when the line does not exist.
  bool GetLineLevels(int Destination, int Connection, int& Left, int& Right, int& Mute,
                     bool& IsStereo, bool& VolumeUnavailable, bool& MuteUnavailable,
                     bool& MuteIsSelection);
  // Writes a line's volume and mute; -1 in Left or Mute leaves that alone, -1 in Right is
  // Left. False only when the line does not exist.
  bool SetLineLevels(int Destination, int Connection, int Left, int Right, int Mute);

 private:
  struct Line {
    const MixerLine* line = nullptr;
    const std::vector<MixerControl>* controls = nullptr;
    const TMixerDestination* destination = nullptr;
  };
  bool ChooseLine(int destination, int connection, Line& chosen) const;
  void Close();
  void Open(int id);
  bool ReadValues(const MixerControl& control, const MixerLine& line,
                  std::vector<std::uint32_t>& values);
  bool ReadTexts(const MixerControl& control, const MixerLine& line,
                 std::vector<MixerListText>& texts);
  // The index of the entry of `lineId` in a list control's values, or -1.
  static int FindEntry(const MixerControl& control, const MixerLine& line,
                       const std::vector<MixerListText>& texts, std::uint32_t lineId);
  void Notified(unsigned msg, std::uintptr_t handle, std::intptr_t id);

  MixerDriver& driver_;
  int numDevs_ = 0;
  int mixerId_ = -1;
  MixerHandle handle_ = 0;
  bool open_ = false;
  MixerCaps caps_;
  std::vector<std::unique_ptr<TMixerDestination>> destinations_;
  std::unique_ptr<MessageWindow> window_;
};

}  // namespace sonarelle
