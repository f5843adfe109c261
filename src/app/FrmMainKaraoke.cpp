// The main window's KAR songs: opening and playing them on the MIDI player, and the lyric
// lines coloured as the song reaches them.
#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include <QSlider>
#include <QTimer>

#include "app/FrmDisplay.h"
#include "app/FrmMain.h"
#include "app/TimeDisplay.h"
#include "displays/MMLEDLabel.h"
#include "midi/FrmMidiPlayer.h"
#include "midi/KaraokeLyrics.h"
#include "midi/KaraokeScreen.h"
#include "midi/MidiOutput.h"
#include "settings/ConfigKeys.h"
#include "settings/SettingsStore.h"

namespace sonarelle {

void TFrmMain::PlayKaraoke(const QString& fileName) {
  FMediaKind = TMediaKind::mkKaraoke;
  MidiFile1->TextEncoding =
      SettingsStore::ReadText(FConfigFile, QString::fromLatin1(ConfigKeys::kMidiSection),
                              QString::fromLatin1(ConfigKeys::kMidiEncoding),
                              QString::fromLatin1(ConfigKeys::kMidiEncodingDefault))
          .toLatin1();
  MidiFile1->SetFilename(fileName);
  try {
    MidiFile1->LoadFile();
  } catch (...) {
    MMLEDLABEL1->SetCaption(QString::fromLatin1(kTimeDisplayAtStart));
    throw;
  }
  // A song opened before the window was on screen opens the devices itself.
  FrmMidiPlayer->OpenDevices();
  BuildLyricLines();
  FrmMidiPlayer->LoadLyrics(*LyricLines);
  // A MIDI song the media service could not play comes here too; without lyrics it shows
  // no lyric window.
  const bool kar = fileName.right(3).toLower() == QLatin1String("kar");
  if (kar || !LyricLines->isEmpty()) {
    if (FrmMidiPlayer->isHidden()) FrmMidiPlayer->show();
    ShowKaraokeScreen();
  }
  // The song's clock runs from here: what takes long is done before.
  FrmMidiPlayer->ResetDevice();
  SendOpeningInstruments();
  MidiFile1->StartPlayback();
  FrmDisplay->KaraokeScreen->Run(true);
  HoldForDevice();
  FCurrentFile = fileName;
  Timer1->start();
  SetTransport(false, true, true);
  FPlayState = TPlayState::psPlaying;
}

// The song's words on the display window, which opens for every song as for a video; a
// user who closes it has it back at the next song.
void TFrmMain::ShowKaraokeScreen() {
  if (FrmDisplay->isHidden()) {
    SetScreenModes(true, false);
    SizeDisplayTo(kKaraokeScreenSize);
    ShowTaskbar(true);
    FrmDisplay->show();
  }
  FrmDisplay->ShowKaraoke(KaraokeSongOf(*MidiFile1, FSungTextType),
                          [this] { return MidiFile1->ClockMs(); });
}

void TFrmMain::StopKaraoke() {
  MidiFile1->StopPlayback();
  FrmDisplay->KaraokeScreen->Run(false);
  FKaraokeWaiting = false;
  FrmMidiPlayer->ShowWaiting(false);
  FrmMidiPlayer->SilenceAll();
}

// The synthesizer reads its SoundFont for a while after it opened: notes sent meanwhile
// would wait in it and then sound at once, the song's start lost in a burst.
void TFrmMain::HoldForDevice() {
  if (!FrmMidiPlayer->DeviceLoading()) return;
  MidiFile1->StopPlayback();
  FKaraokeWaiting = true;
  FrmMidiPlayer->ShowWaiting(true);
}

// Choosing an instrument reads its samples, up to a second for the fullest SoundFont's
// strings: the instrument each channel has at its first note (its last bank and program
// before it) is sent before the song's clock runs (while the device gets ready, if it does),
// so that it reads them then rather than at the song's first tick, where the notes due
// meanwhile would come in a burst. The song sends its choices again when they come due;
// choosing what a channel has already changes nothing.
void TFrmMain::SendOpeningInstruments() {
  if (!FrmMidiPlayer->DeviceOpen) return;
  constexpr std::int32_t kNever = std::numeric_limits<std::int32_t>::max();
  std::array<std::int32_t, 16> firstNote;
  firstNote.fill(kNever);
  for (const auto& track : MidiFile1->Tracks()) {
    for (const TMidiEvent& e : track->Events) {
      if ((e.status & 0xF0) == 0x90 && e.data2 > 0) {
        firstNote[e.status & 0x0F] = std::min(firstNote[e.status & 0x0F], e.tick);
      }
    }
  }
  // Per channel: bank select (coarse, fine), then program change.
  std::array<std::array<const TMidiEvent*, 3>, 16> chosen{};
  for (const auto& track : MidiFile1->Tracks()) {
    for (const TMidiEvent& e : track->Events) {
      const int kind = (e.status & 0xF0) == 0xC0   ? 2
                       : (e.status & 0xF0) != 0xB0 ? -1
                       : e.data1 == 0              ? 0
                       : e.data1 == 32             ? 1
                                                   : -1;
      const std::int32_t note = firstNote[e.status & 0x0F];
      if (kind < 0 || note == kNever || e.tick > note) continue;
      const TMidiEvent*& last = chosen[e.status & 0x0F][std::size_t(kind)];
      if (last == nullptr || e.tick >= last->tick) last = &e;
    }
  }
  for (const auto& channel : chosen) {
    for (const TMidiEvent* e : channel) {
      if (e != nullptr) FrmMidiPlayer->MidiOutput1->SendShort(e->status, e->data1, e->data2);
    }
  }
}

void TFrmMain::MidiDeviceReady() {
  if (!FKaraokeWaiting) return;
  FKaraokeWaiting = false;
  FrmMidiPlayer->ShowWaiting(false);
  // Paused meanwhile, the song waits for Play.
  if (FMediaKind == TMediaKind::mkKaraoke && FPlayState == TPlayState::psPlaying) {
    MidiFile1->ResumePlayback();
  }
}

void TFrmMain::BuildLyricLines() {
  const TKaraokeText sung = PrepareKaraokeText(*MidiFile1);
  FSungTextType = sung.type;
  *LyricLines = KaraokeLyricLines(sung.lyric);
  LyricChars = 0;
  LyricLine = -2;
}

void TFrmMain::MidiFile1MidiEvent(PMidiEvent event) {
  if (event->status != 0xFF) {
    // Only channel messages: the reader keeps no data of a system-exclusive event, and a
    // bare status byte would be garbage to the device.
    if (event->status < 0x80 || event->status > 0xEF || !FrmMidiPlayer->DeviceOpen) return;
    TMyMidiEvent message;
    message.StatusByte = event->status;
    message.DataByte1 = event->data1;
    message.DataByte2 = event->data2;
    FrmMidiPlayer->MidiOutput1->SendEvent(message);
    return;
  }
  // Only the texts the lyric window shows may move the colouring: lyric events, track
  // names or markers that repeat them would run ahead of the singer.
  if (event->data1 != FSungTextType) return;
  TLyricColouring colouring{LyricLine, LyricChars};
  const bool inside = colouring.Advance(event->text, LyricLines->size());
  LyricLine = colouring.line;
  LyricChars = colouring.chars;
  if (inside) {
    FrmMidiPlayer->ColourLyrics(LyricChars);
  } else {
    FrmMidiPlayer->LoadLyrics(*LyricLines);
  }
}

}  // namespace sonarelle
