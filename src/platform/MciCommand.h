#pragma once

#include <QString>

namespace sonarelle {

// What a media-control command string asks for.
enum class MciCommandKind {
  kUnknown,
  kAudioAllOn,
  kAudioAllOff,
  kAudioLeftOn,
  kAudioLeftOff,
  kAudioRightOn,
  kAudioRightOff,
  kDoorOpen,
  kDoorClosed,
};

// Reads a command string. Words are separated by any run of blanks, as the media-control
// string grammar has it, so "set all  audio all off" (two blanks) and "set all audio all
// off" say the same; words are compared without regard to case. Anything else is kUnknown.
MciCommandKind ParseMciCommand(const QString& command);

// Sends a command string to the media service and carries it out. Returns whether the
// string was understood; callers may ignore the result. Never raises.
//   "set all audio <all|left|right> <on|off>": which channels every open media device, and
//   every device opened later, plays (see AudioChannels);
//   "set cdaudio door <open|closed>": opens or closes the first optical drive's tray.
bool MciSendString(const QString& command);

// The source channels the media service plays. Stereo plays both as they are; with one of
// them on, its signal goes alone to both outputs (a karaoke disc's music-only channel);
// with none on, playback is silent.
struct AudioChannels {
  bool left = true;
  bool right = true;

  bool operator==(const AudioChannels&) const = default;
};

// The channel choice in force; shared by all media devices of the process.
AudioChannels CurrentAudioChannels();

}  // namespace sonarelle
