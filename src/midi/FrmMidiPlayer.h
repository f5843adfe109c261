#pragma once

#include <memory>

#include <QStringList>
#include <QWidget>

#include "platform/MidiOutDriver.h"

class QComboBox;
class QLabel;
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

  // Lists the output devices and opens the first.
  explicit TFrmMidiPlayer(MidiOutDriver& driver = SystemMidiOutDriver());
  ~TFrmMidiPlayer() override;

  // Takes the caption and label from the window's section of the language file.
  void LoadLanguage(const TIniSnapshot& texts);

  // Opens the device picked in the list; nothing is picked when the list is empty.
  void OpenSelectedDevice();
  void CloseSelectedDevice();
  // Ends every sounding note on all sixteen channels.
  void SilenceAll();

  // Puts the lines into the lyric display, without any colouring.
  void LoadLyrics(const QStringList& lines);
  // Colours the first `chars` characters of the lyrics blue and bold, a line break counting
  // as two characters.
  void ColourLyrics(int chars);

  QLabel* Label1 = nullptr;
  QComboBox* suiComboBox1 = nullptr;
  QTextEdit* RichEdit1 = nullptr;
  std::unique_ptr<TMidiOutput> MidiOutput1;
  bool DeviceOpen = false;

 private:
  void suiComboBox1Change();

  int coloured_ = 0;  // document positions already coloured since the lyrics were loaded
};

}  // namespace sonarelle
