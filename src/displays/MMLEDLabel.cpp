#include "displays/MMLEDLabel.h"

#include <algorithm>
#include <vector>

#include <QPainter>

namespace sonarelle {

namespace {

constexpr int kCellsPerRow = 63;
constexpr int kFirstCode = 32;
constexpr int kSecondRowCode = 95;
constexpr int kLastCode = 157;

const char* StripResource(TMMLEDFontSize size) {
  switch (size) {
    case TMMLEDFontSize::fs11x13:
      return ":/led/FONT_11X13.bmp";
    case TMMLEDFontSize::fs11x13_bold:
      return ":/led/FONT_11X13_BOLD.bmp";
    case TMMLEDFontSize::fs16x20:
      break;
  }
  return ":/led/FONT_16X20.bmp";
}

// The strip code of a character; codes outside the strip show the space cell.
int GlyphCode(QChar ch) {
  switch (ch.unicode()) {
    case 0x00C4:  // Ä
    case 0x00E4:  // ä
      return 135;
    case 0x00D6:  // Ö
    case 0x00F6:  // ö
      return 140;
    case 0x00DC:  // Ü
    case 0x00FC:  // ü
      return 137;
    case 0x00DF:  // ß
      return 149;
    case 0x00B1:  // ±
      return 150;
    case 0x20AC:  // € has no Latin-1 code; the strip keeps it at 128
      return 128;
    default:
      break;
  }
  const int code = ch.unicode();
  return code >= kFirstCode && code <= kLastCode ? code : kFirstCode;
}

// The pixel classes of a freshly loaded strip.
enum class Dot : unsigned char { kOther, kLit, kUnlit, kBackground };

}  // namespace

TMMLEDLABEL::TMMLEDLABEL(QWidget* parent) : TMMGraphicControl(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  scrollTimer_.setInterval(scrollSpeed_);
  connect(&scrollTimer_, &QTimer::timeout, this, [this] { ScrollTick(); });
  LoadStrip();
  Bevel().SetBorderSpace(2);
}

TMMLEDLABEL::~TMMLEDLABEL() = default;

void TMMLEDLABEL::SetCaption(const QString& value) {
  if (caption_ == value) {
    return;
  }
  caption_ = value;
  Refit();
}

void TMMLEDLABEL::SetLEDColor(TColor value) {
  if (ledColor_ != value) {
    ledColor_ = value;
    LoadStrip();
  }
}

void TMMLEDLABEL::SetInactiveColor(TColor value) {
  if (inactiveColor_ != value) {
    inactiveColor_ = value;
    LoadStrip();
  }
}

void TMMLEDLABEL::SetDrawInactive(bool value) {
  if (drawInactive_ != value) {
    drawInactive_ = value;
    LoadStrip();
  }
}

void TMMLEDLABEL::SetFontSize(TMMLEDFontSize value) {
  if (fontSize_ != value) {
    fontSize_ = value;
    LoadStrip();
  }
}

void TMMLEDLABEL::SetAutoSize(bool value) {
  if (autoSize_ != value) {
    autoSize_ = value;
    Refit();
  }
}

void TMMLEDLABEL::SetAlignment(TAlignment value) {
  if (alignment_ != value) {
    alignment_ = value;
    update();
  }
}

void TMMLEDLABEL::SetNumChars(int value) {
  value = std::max(0, value);
  if (numChars_ != value) {
    numChars_ = value;
    Refit();
  }
}

void TMMLEDLABEL::SetLEDSpace(int value) {
  if (value > 0 && ledSpace_ != value) {
    ledSpace_ = value;
    Refit();
  }
}

void TMMLEDLABEL::SetScrollSpeed(int value) {
  value = std::max(1, value);
  if (scrollSpeed_ != value) {
    scrollSpeed_ = value;
    scrollTimer_.setInterval(value);
  }
}

void TMMLEDLABEL::SetStartStep(int value) {
  if (startStep_ != value && value >= 0 && value <= caption_.size()) {
    startStep_ = value;
    currentStep_ = value;
    update();
  }
}

void TMMLEDLABEL::SetCurrentStep(int value) {
  if (currentStep_ != value && value >= 0 && value <= caption_.size()) {
    currentStep_ = value;
    update();
  }
}

void TMMLEDLABEL::SetAutoScroll(bool value) {
  if (autoScroll_ == value) {
    return;
  }
  autoScroll_ = value;
  if (value) {
    if (!scrollTimer_.isActive()) {
      if (caption_.size() < currentStep_) {
        currentStep_ = startStep_;
      }
      alignment_ = TAlignment::taLeftJustify;  // scrolling moves the left edge
      Raise(OnBegin, this);
      if (autoScroll_) {  // OnBegin may have called it off
        scrollTimer_.start();
      }
    }
  } else {
    scrollTimer_.stop();
  }
  update();
}

void TMMLEDLABEL::ScrollTick() {
  if (!scrollTimer_.isActive()) {
    return;
  }
  ++currentStep_;
  if (isVisible()) {
    repaint(InnerRect());
  }
  if (currentStep_ >= caption_.size()) {
    if (autoScroll_) {
      currentStep_ = startStep_;
    } else {
      scrollTimer_.stop();
    }
    Raise(OnEnd, this);
  } else {
    Raise(OnStep, this);
  }
}

void TMMLEDLABEL::SetBounds(int left, int top, int width, int height) {
  if (!IsLoading()) {
    FitSize(width, height);
  }
  TMMGraphicControl::SetBounds(left, top, width, height);
}

void TMMLEDLABEL::Loaded() {
  TMMGraphicControl::Loaded();
  Refit();
}

void TMMLEDLABEL::BevelChanged() {
  Refit();
}

void TMMLEDLABEL::ColorChanged() {
  LoadStrip();
}

void TMMLEDLABEL::LoadStrip() {
  QImage loaded =
      QImage(QString::fromLatin1(StripResource(fontSize_))).convertToFormat(QImage::Format_RGB32);
  cellWidth_ = loaded.width() / kCellsPerRow;
  cellHeight_ = std::max(0, (loaded.height() - 2) / 2);
  Refit();

  // Classify every pixel before any is changed, so that a new colour equal to one of the
  // three source colours cannot be recoloured twice.
  const int w = loaded.width();
  const int h = loaded.height();
  std::vector<Dot> mask(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), Dot::kOther);
  for (int y = 0; y < h; ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(loaded.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb rgb = line[x] & 0x00FFFFFFU;
      Dot& dot = mask[static_cast<std::size_t>(y) * w + x];
      if (rgb == 0xFFFFFFU) {
        dot = Dot::kLit;
      } else if (rgb == 0xC0C0C0U) {
        dot = Dot::kUnlit;
      } else if (rgb == 0) {
        dot = Dot::kBackground;
      }
    }
  }

  const QRgb lit = ToQColor(ledColor_).rgb();
  const QRgb background = ToQColor(Color()).rgb();
  const QRgb unlit = drawInactive_ ? ToQColor(inactiveColor_).rgb() : background;
  for (int y = 0; y < h; ++y) {
    auto* line = reinterpret_cast<QRgb*>(loaded.scanLine(y));
    for (int x = 0; x < w; ++x) {
      switch (mask[static_cast<std::size_t>(y) * w + x]) {
        case Dot::kLit:
          line[x] = lit;
          break;
        case Dot::kUnlit:
          line[x] = unlit;
          break;
        case Dot::kBackground:
          line[x] = background;
          break;
        case Dot::kOther:
          break;
      }
    }
  }
  strip_ = std::move(loaded);
  update();
}

void TMMLEDLABEL::FitSize(int& width, int& height) {
  const int bw = Bevel().BorderTotal();
  const int pitch = cellWidth_ + ledSpace_ - 1;
  if (autoSize_) {
    numChars_ = static_cast<int>(caption_.size());
  } else {
    // A width too small for one cell gives no cells rather than a negative count.
    numChars_ = pitch > 0 ? std::max(0, (width - 2 * bw + ledSpace_ - 1) / pitch) : 0;
  }
  if (Align() != TAlign::alTop && Align() != TAlign::alBottom) {
    width = 2 * bw + std::max(0, pitch * numChars_ - (ledSpace_ - 1));
  }
  height = 2 * bw + cellHeight_;
}

void TMMLEDLABEL::Refit() {
  if (IsLoading()) {
    return;
  }
  int w = width();
  int h = height();
  FitSize(w, h);
  if (w == width() && h == height()) {
    update();
  } else {
    TMMGraphicControl::SetBounds(x(), y(), w, h);
  }
}

QString TMMLEDLABEL::VisibleText() const {
  const qsizetype n = numChars_;
  const qsizetype length = caption_.size();
  switch (alignment_) {
    case TAlignment::taRightJustify: {
      const QString text = caption_.right(n);
      return QString(n - text.size(), QLatin1Char(' ')) + text;
    }
    case TAlignment::taCenter: {
      const QString text = caption_.mid(std::max<qsizetype>(0, (length - n) / 2), n);
      const qsizetype left = (n - text.size()) / 2;
      return QString(left, QLatin1Char(' ')) + text +
             QString(n - text.size() - left, QLatin1Char(' '));
    }
    case TAlignment::taLeftJustify:
      break;
  }
  const QString text = currentStep_ < length ? caption_.mid(currentStep_, n) : QString();
  return text + QString(n - text.size(), QLatin1Char(' '));
}

void TMMLEDLABEL::Paint(QPainter& painter) {
  TMMGraphicControl::Paint(painter);
  PaintCells(painter);
}

void TMMLEDLABEL::PaintCells(QPainter& painter) const {
  if (strip_.isNull() || numChars_ <= 0) {
    return;
  }
  const int bw = Bevel().BorderTotal();
  const int pitch = cellWidth_ + ledSpace_ - 1;
  const QString text = VisibleText();
  painter.save();
  painter.setClipRect(InnerRect());  // cells never cover the bevel
  for (int i = 0; i < numChars_; ++i) {
    const int code = GlyphCode(text.at(i));
    const bool firstRow = code < kSecondRowCode;
    const QRect source((code - (firstRow ? kFirstCode : kSecondRowCode)) * cellWidth_,
                       firstRow ? 0 : cellHeight_ + 2, cellWidth_, cellHeight_);
    painter.drawImage(QPoint(bw + i * pitch, bw), strip_, source);
  }
  painter.restore();
}

void TMMLEDLABEL::Raise(const std::function<void(QObject*)>& callback, QObject* sender) {
  if (callback) {
    callback(sender);
  }
}

}  // namespace sonarelle
