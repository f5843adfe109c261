#include "platform/MciCommand.h"

#include <QStringList>
#include <atomic>

#include "platform/CdDoor.h"

namespace sonarelle {

namespace {

constexpr unsigned kLeftBit = 1;
constexpr unsigned kRightBit = 2;

// Read by the streaming threads of every open device for each audio buffer.
std::atomic<unsigned> gChannels{kLeftBit | kRightBit};

void SwitchChannels(unsigned bits, bool on) {
  if (on) {
    gChannels.fetch_or(bits);
  } else {
    gChannels.fetch_and(~bits);
  }
}

MciCommandKind ParseAudio(const QString& which, const QString& state) {
  const bool on = state == QLatin1String("on");
  if (!on && state != QLatin1String("off")) return MciCommandKind::kUnknown;
  if (which == QLatin1String("all")) {
    return on ? MciCommandKind::kAudioAllOn : MciCommandKind::kAudioAllOff;
  }
  if (which == QLatin1String("left")) {
    return on ? MciCommandKind::kAudioLeftOn : MciCommandKind::kAudioLeftOff;
  }
  if (which == QLatin1String("right")) {
    return on ? MciCommandKind::kAudioRightOn : MciCommandKind::kAudioRightOff;
  }
  return MciCommandKind::kUnknown;
}

}  // namespace

MciCommandKind ParseMciCommand(const QString& command) {
  const QStringList words = command.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (words.size() == 5 && words[0] == QLatin1String("set") && words[1] == QLatin1String("all") &&
      words[2] == QLatin1String("audio")) {
    return ParseAudio(words[3], words[4]);
  }
  if (words.size() == 4 && words[0] == QLatin1String("set") &&
      words[1] == QLatin1String("cdaudio") && words[2] == QLatin1String("door")) {
    if (words[3] == QLatin1String("open")) return MciCommandKind::kDoorOpen;
    if (words[3] == QLatin1String("closed")) return MciCommandKind::kDoorClosed;
  }
  return MciCommandKind::kUnknown;
}

bool MciSendString(const QString& command) {
  switch (ParseMciCommand(command)) {
    case MciCommandKind::kUnknown:
      return false;
    case MciCommandKind::kAudioAllOn:
      SwitchChannels(kLeftBit | kRightBit, true);
      return true;
    case MciCommandKind::kAudioAllOff:
      SwitchChannels(kLeftBit | kRightBit, false);
      return true;
    case MciCommandKind::kAudioLeftOn:
      SwitchChannels(kLeftBit, true);
      return true;
    case MciCommandKind::kAudioLeftOff:
      SwitchChannels(kLeftBit, false);
      return true;
    case MciCommandKind::kAudioRightOn:
      SwitchChannels(kRightBit, true);
      return true;
    case MciCommandKind::kAudioRightOff:
      SwitchChannels(kRightBit, false);
      return true;
    case MciCommandKind::kDoorOpen:
    case MciCommandKind::kDoorClosed: {
      // No drive: nothing to do, and the string was still understood.
      const QString drive = FirstOpticalDrive();
      if (!drive.isEmpty()) SetCdDoor(drive, ParseMciCommand(command) == MciCommandKind::kDoorOpen);
      return true;
    }
  }
  return false;
}

AudioChannels CurrentAudioChannels() {
  const unsigned bits = gChannels.load();
  return AudioChannels{(bits & kLeftBit) != 0, (bits & kRightBit) != 0};
}

}  // namespace sonarelle
