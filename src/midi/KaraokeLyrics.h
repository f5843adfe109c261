#pragma once

#include <cstdint>
#include <vector>

#include <QString>
#include <QStringList>

namespace sonarelle {

class TMidiFile;

// The texts a song sings, once readied: their meta type and the lyric they make.
struct TKaraokeText {
  static constexpr std::uint8_t kKaraokeType = 1;  // karaoke texts, "\" and "/" marking
  static constexpr std::uint8_t kLyricType = 5;    // lyric events
  // Lines a paragraph is given in a song that marks lines but no paragraphs.
  static constexpr int kLinesPerParagraph = 4;

  std::uint8_t type = kKaraokeType;
  QString lyric;  // the sung texts joined in the order they come due
};

// Readies a loaded song's sung texts, in place, where real files leave them wanting. A song
// whose karaoke texts mark lines but no paragraph starts one at its first text after the "@"
// headers and after every kLinesPerParagraph lines; a song without marked karaoke texts
// sings its lyric events, their line and paragraph ends (CR, LF) made markers.
TKaraokeText PrepareKaraokeText(TMidiFile& song);

// The lines the lyric window shows for a song's karaoke text: "\" starts a paragraph, "/"
// a line, each paragraph ends in an empty line; nothing before the first paragraph, and
// nothing at all without one.
QStringList KaraokeLyricLines(const QString& lyric);

// The words of a song as the karaoke screen shows them: lines of syllables, each due at its
// moment of the song, and the beats counted in before the lines that follow a silence.
struct TKaraokeSong {
  // An instrumental gap longer than this is counted in again.
  static constexpr int kCountInGapMs = 5000;
  static constexpr int kCountInBeats = 4;
  // A syllable wipes until the next is due, but no longer than this.
  static constexpr int kLongestWipeMs = 1500;

  struct Syllable {
    int startMs = 0;
    int endMs = 0;
    QString text;
  };
  struct Line {
    std::vector<Syllable> syllables;
    // Empty, or the kCountInBeats beats before the line's first syllable.
    std::vector<int> countIn;
    int StartMs() const { return syllables.front().startMs; }
    int EndMs() const { return syllables.back().endMs; }
  };

  QString title;   // the first "@T" header text
  QString artist;  // the second
  std::vector<Line> lines;
};

// The song's sung texts of `type`, readied by PrepareKaraokeText, as the screen shows them.
TKaraokeSong KaraokeSongOf(const TMidiFile& song, std::uint8_t type);

// Where the colouring of the lyric window stands while a song plays.
struct TLyricColouring {
  int line = -2;  // the line being sung; -2 before the first paragraph
  int chars = 0;  // display characters to colour, a line break counting two

  // Moves on by a text that came due, in a display of `lines` lines; false when it lies
  // outside them, and the display starts over uncoloured. Before the first paragraph no
  // marker counts: header texts hold "/" in dates and addresses.
  bool Advance(QString text, qsizetype lines);
};

}  // namespace sonarelle
