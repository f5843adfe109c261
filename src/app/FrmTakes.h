#pragma once

#include <functional>
#include <memory>

#include <QWidget>

#include "app/TakeFile.h"
#include "platform/LanguageSection.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace sonarelle {

// The window that offers takes back which were never saved: those a program that ended
// left behind, and those a failed conversion kept. Each can be saved, discarded, shown in
// its folder or left for later; nothing is deleted unless the singer chooses Discard. A
// damaged take is listed as such and cannot be saved.
class TFrmTakes : public QWidget {
 public:
  TFrmTakes();
  ~TFrmTakes() override;

  // Adds the takes to the list (this window holds them now) and shows the window.
  void Offer(TTakeFiles takes);
  // The takes on offer, in the list's order.
  const TTakeFiles& Takes() const { return takes_; }
  // Sets the window's texts from the language file's [FrmTakes] section.
  void LoadLanguage(const TIniSnapshot& texts);

  // Saves the take given; answers it back when it was not saved (cancelled, failed), so it
  // stays on offer. Set by the main window.
  std::function<std::unique_ptr<TTakeFile>(std::unique_ptr<TTakeFile>)> OnSave;

  QLabel* Label1 = nullptr;
  QListWidget* ListTakes = nullptr;
  QPushButton* BtnSave = nullptr;
  QPushButton* BtnDiscard = nullptr;
  QPushButton* BtnShowFolder = nullptr;
  QPushButton* BtnLater = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Refresh();
  void BtnSaveClick();
  void BtnDiscardClick();
  // Opens the folder holding the selected take in the desktop's file manager.
  void BtnShowFolderClick();
  // Save only for a take that can be read; the others for any take.
  void UpdateButtons();
  // Keeps every take on disk for the next start and closes the window.
  void BtnLaterClick();
  int Selected() const;

  TTakeFiles takes_;
  TLanguageTexts texts_{QStringLiteral("FrmTakes")};
};

// "m:ss" for a take's length, "?" when it is not known.
QString TakeLengthText(std::int64_t milliseconds);

}  // namespace sonarelle
