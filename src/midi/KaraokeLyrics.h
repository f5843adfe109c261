#pragma once

#include <QString>
#include <QStringList>

namespace sonarelle {

// The lines the lyric window shows for a song's karaoke text: "\" starts a paragraph, "/"
// a line, each paragraph ends in an empty line; nothing before the first paragraph, and
// nothing at all without one.
QStringList KaraokeLyricLines(const QString& lyric);

// Where the colouring of the lyric window stands while a song plays.
struct TLyricColouring {
  int line = -2;  // the line being sung; -2 before the first paragraph
  int chars = 0;  // display characters to colour, a line break counting two

  // Moves on by a text that came due, in a display of `lines` lines; false when it lies
  // outside them, and the display starts over uncoloured.
  bool Advance(QString text, qsizetype lines);
};

}  // namespace sonarelle
