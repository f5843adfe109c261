#pragma once

#include <functional>

#include <QString>
#include <QWidget>

#include "platform/LanguageSection.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;

namespace sonarelle {

class TIniSnapshot;

// The recording-quality dialog: sample rate, channels, bits and the recorder's buffers,
// shown afresh from config.ini each time it becomes the active window and stored by OK.
class TFrmConfig : public QWidget {
 public:
  static constexpr int kClientWidth = 320;
  static constexpr int kClientHeight = 372;
  // The rates the recorder records at; others would be clamped to these ends unasked.
  static constexpr int kMinSampleRate = 8000;
  static constexpr int kMaxSampleRate = 100000;

  // Reads and writes `configFile`; `productName` names the recorder's input device.
  TFrmConfig(QString configFile, std::function<QString()> productName);

  // Takes the window's texts from the "FrmConfig" section of the language file; missing
  // keys keep their defaults.
  void LoadLanguage(const TIniSnapshot& texts);

  QLabel* Label1 = nullptr;      // "Sample Rate"
  QLabel* Label2 = nullptr;      // "Byte Rate"
  QLabel* Label3 = nullptr;      // the recording device's product name
  QLabel* Label4 = nullptr;      // "Buffer Size"
  QLabel* Label5 = nullptr;      // "Number of Buffer"
  QLabel* Label6 = nullptr;      // end label of TrackBar1
  QLabel* Label7 = nullptr;      // end label of TrackBar2
  QLabel* Label8 = nullptr;      // "HZ"
  QSlider* TrackBar1 = nullptr;  // buffer size in 256-byte steps
  QSlider* TrackBar2 = nullptr;  // number of buffers in steps of 2
  QGroupBox* suiRadioGroup1 = nullptr;
  QRadioButton* suiRadioButton1 = nullptr;  // "Mono"
  QRadioButton* suiRadioButton2 = nullptr;  // "Stereo"
  QGroupBox* suiRadioGroup2 = nullptr;
  QRadioButton* suiRadioButton3 = nullptr;  // "8   Bit"
  QRadioButton* suiRadioButton4 = nullptr;  // "16 Bit"
  QComboBox* suiComboBox1 = nullptr;        // sample rate
  QLineEdit* suiEdit1 = nullptr;            // byte rate
  // The "Voice and accompaniment" recording source: the accompaniment's level, this
  // machine's offset and the latencies the sound server reports.
  QGroupBox* MixGroup = nullptr;
  QLabel* Label9 = nullptr;   // "Accompaniment level"
  QLabel* Label10 = nullptr;  // "Offset"
  QSpinBox* MixLevelEdit = nullptr;
  QSpinBox* MixOffsetEdit = nullptr;
  QLabel* LatencyLabel = nullptr;
  QPushButton* suiButton1 = nullptr;  // OK
  QPushButton* suiButton2 = nullptr;  // Cancel
  QPushButton* suiButton3 = nullptr;  // Default

 protected:
  bool event(QEvent* event) override;

 private:
  void FormActivate();
  void suiButton1Click();
  void suiButton3Click();
  void RecomputeByteRate();
  void ShowLatencies();

  QString configFile_;
  std::function<QString()> productName_;
  TLanguageTexts texts_{QStringLiteral("FrmConfig")};
};

// The byte-rate field's text for a rate, channel count and bit depth: megabytes a minute of
// recording, cut (not rounded) to four characters, then "M/min".
QString ByteRateText(int sampleRate, int channels, int bits);

}  // namespace sonarelle
