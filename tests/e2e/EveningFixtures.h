#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QString>

#include "DesktopSession.h"
#include "midi/SmfWriter.h"

// The song and the picture checks that the end-to-end test and the user guide's screenshots
// share.
namespace evening {

// A KAR song of about ten seconds: a melody of sixteen notes, each with a syllable of the
// lyrics, in two lines.
inline void WriteSong(const QString& path) {
  const char* syllables[] = {"\\Sing", " a",   " song", " of",  " the", " eve",  "ning", " light",
                             "/Stars", " are", " out",  " and", " we",  " sing", " all", " night"};
  // 96 ticks a quarter at 120 bpm: a syllable every 115 ticks is one every 0.6 s.
  smf::Track texts;
  smf::Track notes;
  texts.Text(0, "@TEvening");
  notes.Event(0, {0xC0, 0});
  int pitch = 60;
  for (const char* syllable : syllables) {
    const bool first = syllable == syllables[0];
    texts.Text(first ? 48 : 115, syllable);
    notes.Event(first ? 48 : 15, {0x90, pitch, 100}).Event(100, {0x80, pitch, 0});
    pitch = pitch == 67 ? 60 : pitch + 1;
  }
  smf::Write(path.toStdString(),
             smf::Song(1, 96, {smf::Track().Tempo(0, 500000).End(), texts.End(), notes.End()}));
}

// Pixels of the picture in the colour `is`.
template <class Colour>
inline int Pixels(const QImage& image, Colour is) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) count += is(image.pixel(x, y)) ? 1 : 0;
  }
  return count;
}

// The lyric window's colouring is pure blue; the words not yet sung are black.
inline bool Sung(QRgb c) {
  return qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60;
}
inline bool NotSung(QRgb c) {
  return qBlue(c) < 60 && qRed(c) < 60 && qGreen(c) < 60;
}
// The yellow bar of the test video's colour bars.
inline bool Yellow(QRgb c) {
  return qRed(c) > 160 && qGreen(c) > 160 && qBlue(c) < 60;
}

// What the window shows once it has more than `count` pixels of the colour, or after five
// seconds (a video's first frame comes a moment after its window).
template <class Colour>
inline QImage WaitPicture(const DesktopSession& desktop, const QString& window, Colour is,
                          int count) {
  QElapsedTimer waited;
  waited.start();
  QImage picture = desktop.Screenshot(window);
  while (Pixels(picture, is) <= count && waited.elapsed() < 5000) {
    picture = desktop.Screenshot(window);
  }
  return picture;
}

}  // namespace evening
