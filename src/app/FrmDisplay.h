#pragma once

#include <functional>

#include <QWidget>

#include "midi/KaraokeLyrics.h"
#include "skins/SkinColors.h"

namespace sonarelle {

class TKaraokeScreen;

class TIniSnapshot;

class TFrmMain;

// The video display window: its only content is Panel1, the surface the media service
// draws the video into, or the karaoke screen of a KAR song. Hidden at start; shown for
// video accompaniments and KAR songs.
class TFrmDisplay : public QWidget {
 public:
  // `main` owns the pop-up menu of the panel and takes the focus on a double click.
  explicit TFrmDisplay(TFrmMain& main);

  // Takes the caption from the window's section of the language file.
  void LoadLanguage(const TIniSnapshot& texts);

  QWidget* Panel1 = nullptr;
  TKaraokeScreen* KaraokeScreen = nullptr;  // on Panel1, filling it; shown for KAR songs

  // Shows the song's words on the karaoke screen, drawn from `position` (ms) while it runs.
  void ShowKaraoke(TKaraokeSong song, std::function<int()> position);
  // Gives the panel back to the video.
  void HideKaraoke();
  // Colours the karaoke screen after the look, now and for the songs to come.
  void SetLook(const TSkinColors& look);

  // Height of the title bar drawn inside the window; the desktop draws ours outside.
  int TitleBarHeight() const { return 0; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  TFrmMain& main_;
};

}  // namespace sonarelle
