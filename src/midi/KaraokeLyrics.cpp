#include "midi/KaraokeLyrics.h"

namespace sonarelle {

QStringList KaraokeLyricLines(const QString& lyric) {
  QStringList lines;
  const qsizetype first = lyric.indexOf(QLatin1Char('\\'));
  if (first < 0) return lines;
  // What comes before the first paragraph (titles, credits) is not sung.
  for (const QString& paragraph : lyric.mid(first + 1).split(QLatin1Char('\\'))) {
    lines += paragraph.split(QLatin1Char('/'));
    lines.append(QString());
  }
  return lines;
}

bool TLyricColouring::Advance(QString text, qsizetype lines) {
  bool firstParagraph = false;
  const qsizetype paragraph = text.indexOf(QLatin1Char('\\'));
  if (paragraph >= 0) {
    text[paragraph] = QLatin1Char(' ');
    // The song's first paragraph has no line before it, and its space is not shown.
    firstParagraph = line == -2;
    line += 2;
    if (!firstParagraph) chars += 3;
  }
  const qsizetype next = text.indexOf(QLatin1Char('/'));
  if (next >= 0) {
    text[next] = QLatin1Char(' ');
    line += 1;
    chars += 1;
  }
  if (line < 0 || line >= lines) return false;
  chars += int(text.size()) - (firstParagraph ? 1 : 0);
  return true;
}

}  // namespace sonarelle
