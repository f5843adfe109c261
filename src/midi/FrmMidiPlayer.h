#pragma once

#include <functional>
#include <memory>

#include <QStringList>
#include <QWidget>

#include "platform/MidiOutDriver.h"

class QComboBox;
class QLabel;
class QTextCursor;
class QTextEdit;

namespace sonarelle {

class TIniSnapshot;

class TMidiOutput;

// The lyric window: the chosen MIDI output device, and the lyrics of the KAR song, coloured
// as the song reaches them.
class TFrmMidiPlayer : public QWidget {
 public:
  static constexpr int kClientWidth = 583;
  static constexpr int kClientHeight = 562;

  // Shown while a song waits for the synthesizer to load its SoundFont.
  static const char* const kWaitingForDevice;

  // Builds the window; OpenDevices lists the output devices of `driver`, which must outlive
  // the window.
  explicit TFrmMidiPlayer(MidiOutDriver& driver = SystemMidiOutDriver());
  ~TFrmMidiPlayer() override;

  // Lists the output devices and opens the first, once; later calls do nothing. Scanning the
  // ports and loading the synthesizer take long: the program calls it once its main window
  // is on screen, or sooner when a song needs the device.
  void OpenDevices();
  // The device is open but does not sound yet (the synthesizer reads its SoundFont); what it
  // is sent meanwhile waits for it. OnDeviceReady follows.
  bool DeviceLoading() const;
  // Called once the opened device sounds what it is sent.
  std::function<void()> OnDeviceReady;
  // Says in the window that the song waits for the device, or no longer.
  void ShowWaiting(bool waiting);

  // Takes the caption and label from the window's section of the language file.
  void LoadLanguage(const TIniSnapshot& texts);

  // Opens the device picked in the list; nothing is picked when the list is empty.
  void OpenSelectedDevice();
  void CloseSelectedDevice();
  // Ends every sounding note on all sixteen channels.
  void SilenceAll();
  // Puts the device back to General MIDI's start: what a song chose (banks, programs,
  // controllers, bend ranges, tuning) does not carry into the next one.
  void ResetDevice();

  // Puts the lines into the lyric display, without any colouring.
  void LoadLyrics(const QStringList& lines);
  // Colours the first `chars` characters of the lyrics blue and bold, a line break counting
  // as two characters, and keeps the line being sung in view.
  void ColourLyrics(int chars);

  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;  // kWaitingForDevice while a song waits
  QComboBox* suiComboBox1 = nullptr;
  QTextEdit* RichEdit1 = nullptr;
  std::unique_ptr<TMidiOutput> MidiOutput1;  // made by OpenDevices
  bool DeviceOpen = false;

 private:
  void suiComboBox1Change();

  MidiOutDriver& driver_;

  // Scrolls the sung line into view unless the user scrolled in its paragraph.
  void FollowSong(const QTextCursor& sung);

  int coloured_ = 0;       // document positions already coloured since the lyrics were loaded
  int paragraph_ = 0;      // first block of the paragraph being sung
  int handScrolled_ = -1;  // the paragraph the user scrolled in, followed again after it
  bool ownScroll_ = false;
};

}  // namespace sonarelle
