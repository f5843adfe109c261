#include "midi/KaraokeScreen.h"

#include <algorithm>

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

namespace sonarelle {

namespace {

// A line is a seventh of the screen high, or less where the longest line would not fit
// nine tenths of its width.
constexpr int kLinesPerScreen = 7;
constexpr double kWidthUsed = 0.9;

}  // namespace

TKaraokeScreen::TKaraokeScreen(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("KaraokeScreen"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  font_.setStyleHint(QFont::SansSerif);
  font_.setBold(true);
  frames_.setTimerType(Qt::PreciseTimer);
  frames_.setInterval(1000 / kFramesPerSecond);
  connect(&frames_, &QTimer::timeout, this, [this] { Frame(); });
  due_.setTimerType(Qt::PreciseTimer);
  due_.setSingleShot(true);
  connect(&due_, &QTimer::timeout, this, [this] { Frame(); });
}

void TKaraokeScreen::SetSong(TKaraokeSong song) {
  song_ = std::move(song);
  for (Place& place : places_) place.line = -1;
  dots_ = 0;
  Layout();
  Frame();
  update();
}

void TKaraokeScreen::Run(bool running) {
  // A screen put away (a song without words) draws nothing.
  if (running && !isHidden()) {
    frames_.start();
  } else {
    frames_.stop();
    due_.stop();
  }
  Frame();
}

void TKaraokeScreen::SetColours(const QColor& background, const QColor& toSing,
                                const QColor& sung) {
  background_ = background;
  toSing_ = toSing;
  sung_ = sung;
  Layout();
  update();
}

void TKaraokeScreen::resizeEvent(QResizeEvent* /*event*/) {
  Layout();
}

// Sizes the font to the window and draws the shown lines again: on a new song, size or look
// only, never at a frame.
void TKaraokeScreen::Layout() {
  int pixels = std::max(8, height() / kLinesPerScreen);
  font_.setPixelSize(pixels);
  int longest = 0;
  const QFontMetrics metrics(font_);
  for (const TKaraokeSong::Line& line : song_.lines) {
    QString text;
    for (const auto& syllable : line.syllables) text += syllable.text;
    longest = std::max(longest, metrics.horizontalAdvance(text));
  }
  if (longest > width() * kWidthUsed) {
    pixels = std::max(8, int(pixels * width() * kWidthUsed / longest));
    font_.setPixelSize(pixels);
  }
  const int lineHeight = QFontMetrics(font_).height();
  const int middle = height() / 2;
  places_[0].rect = QRect(0, middle - lineHeight - lineHeight / 8, width(), lineHeight);
  places_[1].rect = QRect(0, middle + lineHeight / 8, width(), lineHeight);
  const int ms = Position ? Position() : 0;
  for (Place& place : places_) Show(place, place.line, ms);
}

void TKaraokeScreen::Show(Place& place, int line, int ms) {
  place.line = line;
  place.edges.clear();
  place.wiped = 0;
  if (line < 0) return;
  const QFontMetrics metrics(font_);
  QString text;
  place.edges.push_back(0);
  for (const auto& syllable : song_.lines[std::size_t(line)].syllables) {
    text += syllable.text;
    place.edges.push_back(metrics.horizontalAdvance(text));
  }
  const QSize size(std::max(1, place.edges.back()), place.rect.height());
  place.rect.setLeft((width() - size.width()) / 2);
  place.rect.setWidth(size.width());
  for (auto [pixmap, colour] : {std::pair(&place.toSing, toSing_), std::pair(&place.sung, sung_)}) {
    *pixmap = QPixmap(size);
    pixmap->fill(background_);
    QPainter painter(pixmap);
    painter.setFont(font_);
    painter.setPen(colour);
    painter.drawText(QPoint(0, metrics.ascent()), text);
  }
  place.wiped = WipeOf(place, ms);
}

int TKaraokeScreen::WipeOf(const Place& place, int ms) const {
  if (place.line < 0) return 0;
  const auto& syllables = song_.lines[std::size_t(place.line)].syllables;
  int wiped = 0;
  for (std::size_t k = 0; k < syllables.size() && syllables[k].startMs <= ms; ++k) {
    const auto& syllable = syllables[k];
    const int length = std::max(1, syllable.endMs - syllable.startMs);
    const double part = std::min(1.0, double(ms - syllable.startMs) / length);
    // A syllable due shows at once, by a pixel at least, however long its wipe.
    const int span = place.edges[k + 1] - place.edges[k];
    wiped = place.edges[k] + std::min(span, std::max(1, int(part * span)));
  }
  return wiped;
}

int TKaraokeScreen::SyllablesStarted(int place) const {
  const Place& shown = places_[std::size_t(place)];
  if (shown.line < 0 || shown.wiped <= 0) return 0;
  const auto beyond = std::upper_bound(shown.edges.begin(), shown.edges.end() - 1, shown.wiped - 1);
  return int(beyond - shown.edges.begin());
}

int TKaraokeScreen::DotsAt(int line, int ms) const {
  if (line < 0 || line >= int(song_.lines.size())) return 0;
  const auto& beats = song_.lines[std::size_t(line)].countIn;
  if (beats.empty() || ms < beats.front() || ms >= song_.lines[std::size_t(line)].StartMs()) {
    return 0;
  }
  return int(std::count_if(beats.begin(), beats.end(), [ms](int beat) { return beat > ms; })) + 1;
}

QRect TKaraokeScreen::DotsRect() const {
  const int size = places_[0].rect.height() / 2;
  return {0, places_[0].rect.top() - size - size / 4, width(), size};
}

QRect TKaraokeScreen::TitleRect() const {
  return {0, 0, width(), std::max(0, DotsRect().top())};
}

void TKaraokeScreen::Frame() {
  const int ms = Position ? Position() : 0;
  const auto count = int(song_.lines.size());
  // Lines end in time order: found by halving, not counted from the first at every frame.
  const int current = int(
      std::partition_point(song_.lines.begin(), song_.lines.end(),
                           [ms](const TKaraokeSong::Line& line) { return line.EndMs() <= ms; }) -
      song_.lines.begin());
  // Lines take turns at the top and the bottom: the one sung and the one after it.
  for (int place = 0; place < 2; ++place) {
    int line = current % 2 == place ? current : current + 1;
    if (line >= count) line = -1;
    Place& shown = places_[std::size_t(place)];
    if (shown.line != line) {
      update(shown.rect);
      Show(shown, line, ms);
      update(shown.rect);
    }
    const int wiped = WipeOf(shown, ms);
    if (wiped != shown.wiped) {
      const int from = std::min(wiped, shown.wiped);
      update(shown.rect.left() + from - 1, shown.rect.top(), std::abs(wiped - shown.wiped) + 2,
             shown.rect.height());
      shown.wiped = wiped;
    }
  }
  const int dots = DotsAt(current, ms);
  if (dots != dots_) {
    dots_ = dots;
    update(DotsRect());
  }
  // Above the dots, so it stays through the count-in: a short intro is all count-in.
  const bool intro = count > 0 && ms < song_.lines.front().StartMs();
  if (intro != intro_) {
    intro_ = intro;
    update(TitleRect());
  }
  if (frames_.isActive()) WakeForNext(ms);
}

void TKaraokeScreen::WakeForNext(int ms) {
  // A frame timer alone would show a syllable up to a whole frame after it is due.
  int next = ms + frames_.interval();
  const auto consider = [&](int at) {
    if (at > ms) next = std::min(next, at);
  };
  for (const Place& place : places_) {
    if (place.line < 0) continue;
    const TKaraokeSong::Line& line = song_.lines[std::size_t(place.line)];
    consider(line.EndMs());
    for (const auto& syllable : line.syllables) consider(syllable.startMs);
    for (int beat : line.countIn) consider(beat);
  }
  if (next - ms < frames_.interval() - 1) {
    // A millisecond late, so the position read then has reached it.
    due_.start(next - ms + 1);
  }
}

void TKaraokeScreen::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), background_);
  if (intro_ && event->rect().intersects(TitleRect())) {
    QFont title = font_;
    title.setPixelSize(std::max(8, font_.pixelSize() * 2 / 3));
    painter.setFont(title);
    painter.setPen(toSing_);
    painter.drawText(TitleRect(), Qt::AlignCenter, song_.title + QLatin1Char('\n') + song_.artist);
  }
  if (dots_ > 0 && event->rect().intersects(DotsRect())) {
    const QRect area = DotsRect();
    const int size = area.height() / 2;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(toSing_);
    const int left = places_[0].line >= 0 ? places_[0].rect.left() : (width() - 8 * size) / 2;
    for (int dot = 0; dot < dots_; ++dot) {
      painter.drawEllipse(left + dot * 2 * size, area.top() + size / 2, size, size);
    }
  }
  for (const Place& place : places_) {
    if (place.line < 0 || !event->rect().intersects(place.rect)) continue;
    // A source of no width would draw the whole pixmap.
    const QPoint at = place.rect.topLeft();
    const int height = place.rect.height();
    if (place.wiped > 0) painter.drawPixmap(at, place.sung, QRect(0, 0, place.wiped, height));
    if (place.wiped < place.rect.width()) {
      painter.drawPixmap(at + QPoint(place.wiped, 0), place.toSing,
                         QRect(place.wiped, 0, place.rect.width() - place.wiped, height));
    }
  }
}

}  // namespace sonarelle
