#include "displays/MMDIBCanvas.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include <QPainter>

namespace sonarelle {

namespace {

// All buffers share one lock, so a frame is never drawn while another is.
std::mutex& DrawingLock() {
  static std::mutex lock;
  return lock;
}

int Distance(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
         std::abs(qBlue(a) - qBlue(b));
}

int NearestEntry(QRgb rgb) {
  const QList<QRgb>& palette = TMMDIBCanvas::SystemPalette();
  int best = 0;
  int bestDistance = Distance(rgb, palette[0]);
  for (int i = 1; i < palette.size() && bestDistance > 0; ++i) {
    const int d = Distance(rgb, palette[i]);
    if (d < bestDistance) {
      best = i;
      bestDistance = d;
    }
  }
  return best;
}

QRgb ToRgb(TColor color) {
  const TColor bgr = ColorToRGB(color);
  return qRgb(static_cast<int>(bgr & 0xFFU), static_cast<int>((bgr >> 8) & 0xFFU),
              static_cast<int>((bgr >> 16) & 0xFFU));
}

}  // namespace

const QList<QRgb>& TMMDIBCanvas::SystemPalette() {
  static const QList<QRgb> palette = [] {
    QList<QRgb> p(256, qRgb(0, 0, 0));
    const QRgb low[10] = {qRgb(0, 0, 0),      qRgb(128, 0, 0),     qRgb(0, 128, 0),
                          qRgb(128, 128, 0),  qRgb(0, 0, 128),     qRgb(128, 0, 128),
                          qRgb(0, 128, 128),  qRgb(192, 192, 192), qRgb(192, 220, 192),
                          qRgb(166, 202, 240)};
    const QRgb high[10] = {qRgb(255, 251, 240), qRgb(160, 160, 164), qRgb(128, 128, 128),
                           qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
                           qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),
                           qRgb(255, 255, 255)};
    for (int i = 0; i < 10; ++i) {
      p[i] = low[i];
      p[246 + i] = high[i];
    }
    return p;
  }();
  return palette;
}

TMMDIBCanvas::TMMDIBCanvas(std::string ownerName) : ownerName_(std::move(ownerName)) {
  Rebuild(1, 1, 8);
}

TMMDIBCanvas::~TMMDIBCanvas() {
  if (drawing_) EndDraw();
}

void TMMDIBCanvas::SetBitCount(int bits) {
  if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
  if (bits != bits_) Rebuild(Width(), Height(), bits);
}

void TMMDIBCanvas::Resize(int width, int height) {
  if (width == Width() && height == Height()) return;
  Rebuild(width, height, bits_);
}

void TMMDIBCanvas::Rebuild(int width, int height, int bits) {
  if (drawing_) {
    throw EMMDIBError(ownerName_ + ": Attempt to create new DIB while initialized for drawing");
  }
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (bits == 8) {
    image_ = QImage(width, height, QImage::Format_Indexed8);
    image_.setColorTable(SystemPalette());
  } else {
    image_ = QImage(width, height, QImage::Format_RGB888);
  }
  bits_ = bits;
  if (!image_.isNull()) image_.fill(0);
  clip_ = image_.rect();
}

void TMMDIBCanvas::SetBackground(const QImage& image, bool stretch) {
  background_ = image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGB32);
  stretchBackground_ = stretch;
}

void TMMDIBCanvas::BeginDraw() {
  if (image_.isNull()) throw EMMDIBError("Unable to access DIB device context");
  DrawingLock().lock();
  drawing_ = true;
}

void TMMDIBCanvas::EndDraw() {
  if (!drawing_) return;
  drawing_ = false;
  DrawingLock().unlock();
}

void TMMDIBCanvas::SetDrawColor(TColor color) {
  const QRgb rgb = ToRgb(color);
  pen_ = bits_ == 8 ? static_cast<std::uint32_t>(NearestEntry(rgb)) : (rgb & 0xFFFFFFU);
}

void TMMDIBCanvas::Clear(TColor color) {
  SetDrawColor(color);
  image_.fill(bits_ == 8 ? pen_ : (pen_ | 0xFF000000U));
}

void TMMDIBCanvas::ClearToBackground() {
  if (background_.isNull()) return;
  QImage composed(image_.size(), QImage::Format_RGB32);
  {
    QPainter painter(&composed);
    if (stretchBackground_) {
      painter.drawImage(composed.rect(), background_);
    } else {
      painter.drawTiledPixmap(composed.rect(), QPixmap::fromImage(background_));
    }
  }
  if (bits_ == 8) {
    composed = composed.convertToFormat(QImage::Format_Indexed8, SystemPalette());
  } else {
    composed = composed.convertToFormat(QImage::Format_RGB888);
  }
  image_ = composed;
}

void TMMDIBCanvas::Put(int x, int y) {
  if (bits_ == 8) {
    image_.scanLine(y)[x] = static_cast<uchar>(pen_);
  } else {
    uchar* p = image_.scanLine(y) + static_cast<std::ptrdiff_t>(3) * x;
    p[0] = static_cast<uchar>(pen_ >> 16);
    p[1] = static_cast<uchar>(pen_ >> 8);
    p[2] = static_cast<uchar>(pen_);
  }
}

void TMMDIBCanvas::HLine(int y, int x1, int x2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y < clip_.top() || y > clip_.bottom()) return;
  x1 = std::max(x1, clip_.left());
  x2 = std::min(x2, clip_.right() + 1);
  for (int x = x1; x < x2; ++x) Put(x, y);
}

void TMMDIBCanvas::HLineDashed(int y, int x1, int x2) {
  if (x1 > x2) std::swap(x1, x2);
  if (x2 - x1 < 4 || y < clip_.top() || y > clip_.bottom()) return;
  for (int x = std::max(x1, clip_.left()); x < std::min(x2, clip_.right() + 1); ++x) {
    if (((x - x1) & 4) == 0) Put(x, y);
  }
}

void TMMDIBCanvas::VLine(int x, int y1, int y2) {
  if (y1 > y2) std::swap(y1, y2);
  if (x < clip_.left() || x > clip_.right()) return;
  y1 = std::max(y1, clip_.top());
  y2 = std::min(y2, clip_.bottom() + 1);
  for (int y = y1; y < y2; ++y) Put(x, y);
}

void TMMDIBCanvas::Pixel(int x, int y) {
  if (clip_.contains(x, y)) Put(x, y);
}

void TMMDIBCanvas::MoveTo(int x, int y) {
  current_ = QPoint(x, y);
}

void TMMDIBCanvas::LineTo(int x, int y) {
  int x0 = current_.x();
  int y0 = current_.y();
  const int dx = std::abs(x - x0);
  const int dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1;
  const int sy = y0 < y ? 1 : -1;
  int err = dx + dy;
  while (x0 != x || y0 != y) {
    Pixel(x0, y0);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  current_ = QPoint(x, y);
}

void TMMDIBCanvas::CopyTo(QPainter& painter, QPoint target, const QRect& source) const {
  painter.drawImage(target, image_, source);
}

}  // namespace sonarelle
