#pragma once

#include <cstdint>
#include <string>

#include <QImage>
#include <QRect>

#include "displays/Colors.h"
#include "platform/Exception.h"

class QPainter;

namespace sonarelle {

// Raised by the pixel buffer for an unsupported depth, an unusable buffer or a rebuild
// in the middle of drawing.
class EMMDIBError : public Exception {
 public:
  using Exception::Exception;
  explicit EMMDIBError(const char* message) : Exception(std::string(message)) {}
};

// The off-screen pixel buffer of the drawn displays: 8 bits per pixel with the 20 standard
// system colours in its palette, or 24 bits. Primitives address rows top-down (y = 0 is the
// top) and clip to the clip rectangle; every drawing happens between BeginDraw and EndDraw,
// which hold one lock shared by all buffers.
class TMMDIBCanvas {
 public:
  // `ownerName` names the owning control in the rebuild error.
  explicit TMMDIBCanvas(std::string ownerName = "TMMDIBCanvas");
  TMMDIBCanvas(const TMMDIBCanvas&) = delete;
  TMMDIBCanvas& operator=(const TMMDIBCanvas&) = delete;
  ~TMMDIBCanvas();

  int Width() const { return image_.width(); }
  int Height() const { return image_.height(); }
  int BitCount() const { return bits_; }
  // 8 or 24; anything else raises "Bitlength not supported yet".
  void SetBitCount(int bits);
  // Rebuilds the buffer (contents cleared to palette entry 0) and resets the clip rectangle.
  void Resize(int width, int height);

  QRect ClipRect() const { return clip_; }
  void SetClipRect(const QRect& rect) { clip_ = rect.intersected(image_.rect()); }

  // An optional background that Clear copies instead of filling; stretched or tiled.
  void SetBackground(const QImage& image, bool stretch);
  bool HasBackground() const { return !background_.isNull(); }

  void BeginDraw();
  void EndDraw();
  bool Drawing() const { return drawing_; }

  void SetDrawColor(TColor color);
  void Clear(TColor color);
  void ClearToBackground();
  // Row y over columns [x1, x2), ends in either order.
  void HLine(int y, int x1, int x2);
  // The same line, 4 pixels on and 4 off; only drawn for spans of at least 4.
  void HLineDashed(int y, int x1, int x2);
  // Column x over rows [y1, y2), ends in either order.
  void VLine(int x, int y1, int y2);
  void Pixel(int x, int y);
  void MoveTo(int x, int y);
  // A line from the current point to (x, y), the end point excluded.
  void LineTo(int x, int y);

  // Copies `source` of the buffer to `target` of the painter's device.
  void CopyTo(QPainter& painter, QPoint target, const QRect& source) const;

  // The colour at (x, y), resolved through the palette.
  QRgb PixelAt(int x, int y) const { return image_.pixel(x, y); }
  const QImage& Image() const { return image_; }

  // The 256-entry palette: the 20 system colours at 0 to 9 and 246 to 255, black between.
  static const QList<QRgb>& SystemPalette();

 private:
  void Put(int x, int y);
  void Rebuild(int width, int height, int bits);

  std::string ownerName_;
  QImage image_;
  QImage background_;
  bool stretchBackground_ = true;
  int bits_ = 8;
  QRect clip_;
  bool drawing_ = false;
  std::uint32_t pen_ = 0;  // palette index or 0xRRGGBB, as the depth needs
  QPoint current_;
};

}  // namespace sonarelle
