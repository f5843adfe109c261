#pragma once

#include <cstdint>

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace sonarelle {

class TIniSnapshot;

// The progress window of the MP3 conversion: a label and a bar from 0 to 100, shown while
// the conversion runs; the main window drives its timer.
class TFrmWaiting : public QWidget {
 public:
  TFrmWaiting();

  // Takes the caption and label from the window's section of the language file.
  void LoadLanguage(const TIniSnapshot& texts);

  // The program waits for the conversion to end before it closes: the window says so over
  // every other window and offers to stop the conversion, keeping the take.
  void ShowClosing();

  QLabel* Label1 = nullptr;
  QProgressBar* suiProgressBar1 = nullptr;
  QTimer* Timer1 = nullptr;
  // Shown only while the program waits to close.
  QPushButton* BtnStop = nullptr;

 private:
  QString closingText_;
};

// done x 100 / total, rounded to the nearest whole number with halves to the even
// neighbour, without overflow for any sample count; a total of 0 counts as 1.
int ProgressPercent(std::int64_t done, std::int64_t total);

}  // namespace sonarelle
