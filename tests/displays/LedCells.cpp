#include "LedCells.h"

#include <map>

namespace sonarelle::test {

namespace {

constexpr int kFirstCode = 32;
constexpr int kLastCode = 157;

bool CellShows(const QImage& shown, const QImage& strip, QPoint at, int code, QRgb lit, QRgb unlit,
               QRgb background) {
  const int cw = strip.width() / 63;
  const int ch = (strip.height() - 2) / 2;
  const QPoint source = code < 95 ? QPoint((code - 32) * cw, 0) : QPoint((code - 95) * cw, ch + 2);
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      const QRgb dot = strip.pixel(source + QPoint(x, y)) & 0xFFFFFFU;
      const QRgb expected = dot == 0xFFFFFFU ? lit : dot == 0xC0C0C0U ? unlit : background;
      if (shown.pixel(at + QPoint(x, y)) != expected) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

QImage StripOf(TMMLEDFontSize size) {
  static std::map<TMMLEDFontSize, QImage> strips;
  auto it = strips.find(size);
  if (it == strips.end()) {
    const char* name = size == TMMLEDFontSize::fs11x13        ? ":/led/FONT_11X13.bmp"
                       : size == TMMLEDFontSize::fs11x13_bold ? ":/led/FONT_11X13_BOLD.bmp"
                                                              : ":/led/FONT_16X20.bmp";
    it = strips.emplace(size, QImage(name).convertToFormat(QImage::Format_RGB32)).first;
  }
  return it->second;
}

QImage Render(QWidget& widget) {
  QImage image(widget.size(), QImage::Format_RGB32);
  image.fill(Qt::magenta);
  widget.render(&image);
  return image;
}

QString ShownText(TMMLEDLABEL& label) {
  const QImage shown = Render(label);
  const QImage strip = StripOf(label.FontSize());
  const int bw = label.Bevel().BorderTotal();
  const int pitch = strip.width() / 63 + label.LEDSpace() - 1;
  const QRgb lit = ToQColor(label.LEDColor()).rgb();
  const QRgb background = ToQColor(label.Color()).rgb();
  const QRgb unlit = label.DrawInactive() ? ToQColor(label.InactiveColor()).rgb() : background;
  const int cells = (label.width() - 2 * bw + label.LEDSpace() - 1) / pitch;
  QString text;
  for (int i = 0; i < cells; ++i) {
    QChar read('?');
    for (int code = kFirstCode; code <= kLastCode; ++code) {
      if (CellShows(shown, strip, QPoint(bw + i * pitch, bw), code, lit, unlit, background)) {
        read = QChar(code);
        break;
      }
    }
    text += read;
  }
  return text;
}

}  // namespace sonarelle::test
