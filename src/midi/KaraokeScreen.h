#pragma once

#include <array>
#include <functional>
#include <vector>

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include "midi/KaraokeLyrics.h"

namespace sonarelle {

// The singer's screen: the line being sung and the next, large and centred, each syllable
// wiping from the "to sing" colour to the "sung" one over its time; four dots counting the
// beats in before a line that follows a silence, and the title and artist while the intro
// plays. It draws from the song's position, read at every frame.
class TKaraokeScreen : public QWidget {
 public:
  // Frames a second while the song runs.
  static constexpr int kFramesPerSecond = 60;

  explicit TKaraokeScreen(QWidget* parent = nullptr);

  // Shows the song's words from their start.
  void SetSong(TKaraokeSong song);
  // Where the song is, in milliseconds.
  std::function<int()> Position;
  // Draws a frame at every display frame while the song runs and the screen is not hidden;
  // halted, the screen stands where the song stands.
  void Run(bool running);
  void SetColours(const QColor& background, const QColor& toSing, const QColor& sung);
  // Brings the screen to the song's position now.
  void Frame();

  // The line shown in each of the two places (top, bottom); -1 for none.
  int LineShown(int place) const { return places_[std::size_t(place)].line; }
  // Syllables of the line in `place` whose wipe has begun.
  int SyllablesStarted(int place) const;
  // The dots of the count-in on screen.
  int CountInShown() const { return dots_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // A place on screen showing one line, drawn once in both colours.
  struct Place {
    int line = -1;
    QRect rect;
    QPixmap toSing;
    QPixmap sung;
    std::vector<int> edges;  // x of each syllable's start, and the line's end
    int wiped = 0;           // pixels from the left drawn sung
  };

  void Layout();
  // Draws the line into the place, wiped as far as the song stands at `ms`.
  void Show(Place& place, int line, int ms);
  int WipeOf(const Place& place, int ms) const;
  int DotsAt(int line, int ms) const;
  QRect DotsRect() const;
  QRect TitleRect() const;
  // Wakes for the next syllable, dot or line due before the next frame, so it shows on time.
  void WakeForNext(int ms);

  TKaraokeSong song_;
  std::array<Place, 2> places_;
  QFont font_;
  QColor background_{Qt::black};
  QColor toSing_{Qt::white};
  QColor sung_{QColor(0, 160, 255)};
  int dots_ = 0;
  bool intro_ = false;
  QTimer frames_;
  QTimer due_;
};

}  // namespace sonarelle
