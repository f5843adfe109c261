#pragma once

#include <QWidget>

namespace sonarelle {

class TIniSnapshot;

class TFrmMain;

// The video display window: its only content is Panel1, the surface the media service
// draws the video into. Hidden at start; shown for video accompaniments.
class TFrmDisplay : public QWidget {
 public:
  // `main` owns the pop-up menu of the panel and takes the focus on a double click.
  explicit TFrmDisplay(TFrmMain& main);

  // Takes the caption from the window's section of the language file.
  void LoadLanguage(const TIniSnapshot& texts);

  QWidget* Panel1 = nullptr;

  // Height of the title bar drawn inside the window; the desktop draws ours outside.
  int TitleBarHeight() const { return 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  TFrmMain& main_;
};

}  // namespace sonarelle
