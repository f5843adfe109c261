#include "displays/MMOscope.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "displays/MMConnector.h"

namespace sonarelle {

namespace {

// Holds the shared drawing lock for one frame, also when a callback raises.
class DrawScope {
 public:
  explicit DrawScope(TMMDIBCanvas& canvas) : canvas_(canvas) { canvas_.BeginDraw(); }
  ~DrawScope() { canvas_.EndDraw(); }
  DrawScope(const DrawScope&) = delete;
  DrawScope& operator=(const DrawScope&) = delete;

 private:
  TMMDIBCanvas& canvas_;
};

int Sample16(const std::uint8_t* p) {
  std::int16_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return v;
}

int Sample8(std::uint8_t b) {
  return b * 256 - 32768;
}

}  // namespace

TMMOscope::TMMOscope(QWidget* parent) : TMMDIBGraphicControl(parent) {
  setCursor(Qt::CrossCursor);
  setMouseTracking(false);
  SetBounds(0, 0, 194, 90);
  Redo();
}

TMMOscope::~TMMOscope() {
  // Leave the connectors before the widget goes, not after.
  TMMConnector::DisplayDestroyed(this);
}

void TMMOscope::AdoptFormat(const WAVEFORMATEX* format) {
  if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM ||
      (format->wBitsPerSample != 8 && format->wBitsPerSample != 16) ||
      (format->nChannels != 1 && format->nChannels != 2) || format->nSamplesPerSec < 4000 ||
      format->nSamplesPerSec > 100000) {
    throw EMMOscopeError("Invalid WaveFormat");
  }
  SetSampleRate(static_cast<int>(format->nSamplesPerSec));
  SetBitLength(format->wBitsPerSample == 8 ? TMMBits::b8Bit : TMMBits::b16Bit);
  SetMode(format->nChannels == 1 ? TMMMode::mMono : TMMMode::mStereo);
}

void TMMOscope::ShowData(const void* data) {
  if (!enabled_ || !isVisible() || readout_ || data == nullptr) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (scroll_) {
    ConvertChart(bytes);
  } else {
    ConvertFrame(bytes);
  }
  DrawFrame();
  frameReady_ = true;
  repaint(traceRect_);
  if (OnPostPaint) OnPostPaint(this);
}

void TMMOscope::ClearData() {
  if (readout_) EndReadout();
  std::fill(samples_.begin(), samples_.end(), 0);
  std::fill(chartMin_.begin(), chartMin_.end(), 0);
  std::fill(chartMax_.begin(), chartMax_.end(), 0);
  chartPos_ = 0;
  frameReady_ = false;
  repaint();
}

void TMMOscope::SetColorSetting(TColor& field, TColor value) {
  if (field == value) return;
  field = value;
  update();
}

void TMMOscope::SetKind(TMMOscopeKind value) {
  if (value == kind_) return;
  kind_ = value;
  divisor_ = kind_ == TMMOscopeKind::okSpikes ? 32767 : 65535;
  offset_ = kind_ == TMMOscopeKind::okSpikes ? 0 : 32767;
  update();
}

void TMMOscope::SetBitLength(TMMBits value) {
  if (value == bitLength_) return;
  bitLength_ = value;
  ComputeRefreshBytes();
  update();
}

void TMMOscope::SetMode(TMMMode value) {
  if (value == mode_) return;
  mode_ = value;
  ComputeRefreshBytes();
  update();
}

void TMMOscope::SetChannel(TMMChannel value) {
  if (value == channel_) return;
  channel_ = value;
  ComputeRefreshBytes();
  update();
}

void TMMOscope::SetSampleRate(int value) {
  sampleRate_ = std::clamp(value, 8000, 88200);
}

void TMMOscope::SetGain(int value) {
  if (value >= -8 && value <= 32) gain_ = value;
}

void TMMOscope::SetSteps(int value) {
  steps_ = std::clamp(value, 1, 9);
}

void TMMOscope::SetZoom(int value) {
  if (value == 0) return;
  zoom_ = std::clamp(value, -9, 9);
  ComputeRefreshBytes();
}

void TMMOscope::SetEffect(TMMOscopeEffect value) {
  if (value == effect_) return;
  effect_ = value;
  bandLow_ = rows_ / 3;
  bandHigh_ = rows_ - rows_ / 3;
  update();
}

void TMMOscope::SetDrawMidLine(bool value) {
  if (value == drawMidLine_) return;
  drawMidLine_ = value;
  update();
}

void TMMOscope::SetDrawGrid(bool value) {
  if (value == drawGrid_) return;
  drawGrid_ = value;
  update();
}

void TMMOscope::SetDrawAmpScale(bool value) {
  if (value == drawAmpScale_) return;
  drawAmpScale_ = value;
  SetBounds(x(), y(), width(), height());
  update();
}

void TMMOscope::SetDrawTimeScale(bool value) {
  if (value == drawTimeScale_) return;
  drawTimeScale_ = value;
  SetBounds(x(), y(), width(), height());
  update();
}

void TMMOscope::SetScroll(bool value) {
  if (value == scroll_) return;
  scroll_ = value;
  Redo();
  update();
}

void TMMOscope::SetFFTLength(int value) {
  value = std::clamp(value, 1, 4096);
  int power = 1;
  while (power * 2 <= value) power *= 2;
  if (power == fftLength_) return;
  fftLength_ = power;
  if (scroll_) {
    ComputeRefreshBytes();
    update();
  }
}

void TMMOscope::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  update();
}

void TMMOscope::SetSelection(int first, int last) {
  selStart_ = first;
  selEnd_ = last;
  update();
}

void TMMOscope::SetLocator(int column) {
  locator_ = column;
  update();
}

void TMMOscope::SetBounds(int left, int top, int width, int height) {
  const int bw = Bevel().BorderTotal();
  width = std::max(width, 2 * bw + (drawAmpScale_ ? 66 : 2));
  height = std::max(height, 2 * bw + (drawTimeScale_ ? 42 : 2));
  TMMDIBGraphicControl::SetBounds(left, top, width, height);
  Redo();
}

void TMMOscope::BevelChanged() {
  Redo();
  TMMDIBGraphicControl::BevelChanged();
}

void TMMOscope::DIBResized() {
  Redo();
}

void TMMOscope::ColorChanged() {
  update();
}

void TMMOscope::Redo() {
  const int bw = Bevel().BorderTotal();
  QRect r = rect();
  if (drawAmpScale_) r.adjust(32, 0, -32, 0);
  if (drawTimeScale_) r.adjust(0, 0, 0, -40);
  traceRect_ = r.adjusted(bw, bw, -bw, -bw);
  count_ = std::max(traceRect_.width(), 4);
  rows_ = std::max(traceRect_.height(), 4);
  mid_ = rows_ / 2;
  samples_.assign(static_cast<std::size_t>(count_), 0);
  chartMin_.assign(static_cast<std::size_t>(count_), 0);
  chartMax_.assign(static_cast<std::size_t>(count_), 0);
  chartPos_ = 0;
  if (!Canvas().Drawing()) Canvas().Resize(count_, rows_);
  bandLow_ = rows_ / 3;
  bandHigh_ = rows_ - rows_ / 3;
  ComputeRefreshBytes();
  firstActive_ = 0;
  lastActive_ = count_;
  selStart_ = -1;
  selEnd_ = -1;
  locator_ = -1;
  frameReady_ = false;
}

void TMMOscope::ComputeRefreshBytes() {
  const int frame = (static_cast<int>(bitLength_) + 1) * (static_cast<int>(mode_) + 1);
  if (scroll_) {
    refreshBytes_ = frame * fftLength_;
  } else if (zoom_ > 0) {
    refreshBytes_ = frame * count_ * zoom_;
  } else {
    refreshBytes_ = ((frame * count_) / (std::abs(zoom_) + 1) + 5) & ~3;
  }
}

void TMMOscope::ConvertFrame(const std::uint8_t* data) {
  const bool wide = bitLength_ == TMMBits::b16Bit;
  const bool stereo = mode_ == TMMMode::mStereo;
  const int sampleBytes = wide ? 2 : 1;
  const int frameBytes = sampleBytes * (stereo ? 2 : 1);
  int previous = 0;
  for (int i = 0; i < count_; ++i) {
    const int f = zoom_ > 0 ? i * zoom_ : i / (std::abs(zoom_) + 1);
    const std::uint8_t* p = data + static_cast<std::ptrdiff_t>(f) * frameBytes;
    int v = 0;
    if (!stereo || channel_ == TMMChannel::chLeft) {
      v = wide ? Sample16(p) : Sample8(p[0]);
    } else if (channel_ == TMMChannel::chRight) {
      v = wide ? Sample16(p + 2) : Sample8(p[1]);
    } else {
      v = wide ? (Sample16(p) + Sample16(p + 2)) / 2 : Sample8((p[0] + p[1]) / 2);
    }
    if (lowPass_) {
      const int raw = v;
      v = (previous + 3 * v) / 4;
      previous = raw;
    }
    samples_[static_cast<std::size_t>(i)] = static_cast<int16_t>(v);
  }
}

void TMMOscope::ConvertChart(const std::uint8_t* data) {
  const bool wide = bitLength_ == TMMBits::b16Bit;
  const bool stereo = mode_ == TMMMode::mStereo;
  const int frameBytes = (wide ? 2 : 1) * (stereo ? 2 : 1);
  int lo = 32767;
  int hi = -32768;
  for (int f = 0; f < fftLength_; ++f) {
    const std::uint8_t* p = data + static_cast<std::ptrdiff_t>(f) * frameBytes;
    int v = 0;
    if (!stereo || channel_ == TMMChannel::chLeft) {
      v = wide ? Sample16(p) : Sample8(p[0]);
    } else if (channel_ == TMMChannel::chRight) {
      v = wide ? Sample16(p + 2) : Sample8(p[1]);
    } else {
      v = wide ? (Sample16(p) + Sample16(p + 2)) / 2 : Sample8((p[0] + p[1]) / 2);
    }
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  chartMin_[static_cast<std::size_t>(chartPos_)] = static_cast<int16_t>(lo);
  chartMax_[static_cast<std::size_t>(chartPos_)] = static_cast<int16_t>(hi);
  chartPos_ = (chartPos_ + 1) % count_;
}

int TMMOscope::TraceY(int sample) {
  if (sample >= 32767) PcmOverflow();
  const std::int64_t s = kind_ == TMMOscopeKind::okSpikes ? std::abs(sample) : sample;
  const std::int64_t y = ((s * (gain_ + 8) / 8) + offset_) * rows_ / divisor_;
  if (y > rows_) GainOverflow();
  return static_cast<int>(std::clamp<std::int64_t>(y, -rows_, std::int64_t{2} * rows_));
}

void TMMOscope::DrawColumnLine(int x, int top, int bottom, TColor color) {
  TMMDIBCanvas& c = Canvas();
  if (top > bottom) std::swap(top, bottom);
  c.SetDrawColor(color);
  c.VLine(x, top, bottom);
  if (effect_ == TMMOscopeEffect::efSplit) {
    c.SetDrawColor(effectColor_);
    if (top < bandLow_) c.VLine(x, top, std::min(bottom, bandLow_));
    if (bottom > bandHigh_) c.VLine(x, std::max(top, bandHigh_), bottom);
  } else if (effect_ == TMMOscopeEffect::efPeak && bottom > top) {
    c.SetDrawColor(effectColor_);
    if (top < bandLow_) c.HLine(top, x - 2, x + 3);
    if (bottom - 1 >= bandHigh_) c.HLine(bottom - 1, x - 2, x + 3);
  }
}

void TMMOscope::DrawTrace() {
  TMMDIBCanvas& c = Canvas();
  const int h = rows_;
  auto colorOf = [this](int x) {
    return x >= firstActive_ && x <= lastActive_ ? foregroundColor_ : inactiveColor_;
  };
  auto sampleAt = [this](int x) {
    return samples_[static_cast<std::size_t>(std::min(x, count_ - 1))];
  };

  if (kind_ == TMMOscopeKind::okMirLines) {
    for (int row : {mid_, mid_ - 1}) {
      c.SetDrawColor(inactiveColor_);
      c.HLine(row, 0, firstActive_);
      c.SetDrawColor(foregroundColor_);
      c.HLine(row, firstActive_, lastActive_ + 1);
      c.SetDrawColor(inactiveColor_);
      c.HLine(row, lastActive_ + 1, count_);
    }
  }
  if (kind_ == TMMOscopeKind::okConLines) {
    c.MoveTo(0, h - 1 - TraceY(sampleAt(0)));
    int x = 0;
    do {
      x += steps_;
      const int row = h - 1 - TraceY(sampleAt(x));
      c.SetDrawColor(colorOf(x));
      c.LineTo(x, row);
      if (effect_ != TMMOscopeEffect::efNone && (row < bandLow_ || row >= bandHigh_)) {
        c.SetDrawColor(effectColor_);
        c.Pixel(std::min(x, count_ - 1), row);
      }
    } while (x < count_);
    return;
  }
  for (int x = 0; x < count_; x += steps_) {
    const int y = TraceY(samples_[static_cast<std::size_t>(x)]);
    const TColor color = colorOf(x);
    switch (kind_) {
      case TMMOscopeKind::okDots: {
        const int row = h - 1 - y;
        const bool outside = row < bandLow_ || row >= bandHigh_;
        c.SetDrawColor(effect_ != TMMOscopeEffect::efNone && outside ? effectColor_ : color);
        c.Pixel(x, row);
        break;
      }
      case TMMOscopeKind::okVertLines:
        DrawColumnLine(x, h - 1 - y, mid_, color);
        break;
      case TMMOscopeKind::okMirLines:
        DrawColumnLine(x, y, h - 1 - y, color);
        break;
      case TMMOscopeKind::okSpikes:
        DrawColumnLine(x, h - 1 - y, h, color);
        break;
      case TMMOscopeKind::okConLines:
        break;
    }
  }
}

void TMMOscope::DrawChart() {
  TMMDIBCanvas& c = Canvas();
  for (int x = 0; x < count_; ++x) {
    const int top = rows_ - 1 - TraceY(chartMax_[static_cast<std::size_t>(x)]);
    const int bottom = rows_ - 1 - TraceY(chartMin_[static_cast<std::size_t>(x)]);
    DrawColumnLine(x, top, bottom + 1, foregroundColor_);
  }
  // The cursor bar marks where the next column goes.
  c.SetDrawColor(barColor_);
  for (int x = chartPos_; x < std::min(chartPos_ + barWidth_, count_); ++x) c.VLine(x, 0, rows_);
  c.SetDrawColor(barTickColor_);
  c.VLine(chartPos_, 0, rows_);
}

void TMMOscope::DrawFrame() {
  TMMDIBCanvas& c = Canvas();
  DrawScope scope(c);
  if (OnDrawLine) {
    OnDrawLine(this, c, QRect(0, 0, count_, rows_), samples_);
    return;
  }
  DIBClear();
  if (!enabled_) {
    c.SetDrawColor(disabledColor_);
    c.HLine(mid_, 5, count_ - 5);
  } else {
    if (selStart_ >= 0 && selEnd_ >= 0) {
      c.SetDrawColor(selectionColor_);
      for (int x = std::min(selStart_, selEnd_); x <= std::max(selStart_, selEnd_); ++x) {
        c.VLine(x, 0, rows_);
      }
    }
    if (drawMidLine_) {
      c.SetDrawColor(disabledColor_);
      c.HLineDashed(mid_, 0, count_);
    }
    if (drawGrid_) {
      c.SetDrawColor(gridColor_);
      int n = 2;
      for (int candidate : {10, 8, 6, 4, 2}) {
        if (rows_ / candidate >= 10) {
          n = candidate;
          break;
        }
      }
      for (int i = 0; i <= n; ++i) c.HLine(std::min(i * rows_ / n, rows_ - 1), 0, count_);
      int columns = 32;
      while (columns > 1 && count_ / columns < 10) columns /= 2;
      for (int i = 0; i <= columns; ++i)
        c.VLine(std::min(i * count_ / columns, count_ - 1), 0, rows_);
    }
    if (scroll_) {
      DrawChart();
    } else {
      DrawTrace();
    }
  }
  if (selStart_ >= 0 && selEnd_ >= 0) {
    c.SetDrawColor(selectionDotColor_);
    const int first = std::min(selStart_, selEnd_);
    const int last = std::max(selStart_, selEnd_) + 1;
    c.HLineDashed(0, first, last);
    c.HLineDashed(rows_ - 1, first, last);
  }
  if (locator_ >= 0) {
    c.SetDrawColor(locatorColor_);
    c.VLine(locator_, 0, rows_);
  }
}

void TMMOscope::PaintScales(QPainter& painter) {
  const QColor parentColor = parentWidget() != nullptr
                                 ? parentWidget()->palette().color(QPalette::Window)
                                 : palette().color(QPalette::Window);
  const QRect frame = traceRect_.adjusted(-Bevel().BorderTotal(), -Bevel().BorderTotal(),
                                          Bevel().BorderTotal(), Bevel().BorderTotal());
  painter.fillRect(rect(), parentColor);
  QFont font("ARIAL");
  font.setPixelSize(9);
  painter.setFont(font);
  painter.setPen(ToQColor(scaleLineColor_));
  if (drawAmpScale_) {
    // Ticks at +1, +0.5, 0, -0.5, -1 of full scale on both sides.
    for (int i = 0; i <= 4; ++i) {
      const int y = traceRect_.top() + i * (traceRect_.height() - 1) / 4;
      const double level = 1.0 - 0.5 * i;
      painter.drawLine(frame.left() - 6, y, frame.left() - 4, y);
      painter.drawLine(frame.right() + 4, y, frame.right() + 6, y);
      painter.setPen(ToQColor(scaleTextColor_));
      const QString label = QString::asprintf("%+4.2f", level);
      painter.drawText(QRect(0, y - 6, 26, 12), Qt::AlignRight | Qt::AlignVCenter, label);
      painter.drawText(QRect(frame.right() + 7, y - 6, 26, 12), Qt::AlignLeft | Qt::AlignVCenter,
                       label);
      painter.setPen(ToQColor(scaleLineColor_));
    }
  }
  if (drawTimeScale_) {
    const double ms =
        refreshBytes_ * 1000.0 /
        (sampleRate_ * (static_cast<int>(bitLength_) + 1) * (static_cast<int>(mode_) + 1));
    for (int i = 0; i <= 4; ++i) {
      const int x = traceRect_.left() + i * (traceRect_.width() - 1) / 4;
      painter.drawLine(x, frame.bottom() + 4, x, frame.bottom() + 7);
      painter.setPen(ToQColor(scaleTextColor_));
      painter.drawText(QRect(x - 20, frame.bottom() + 8, 40, 12), Qt::AlignCenter,
                       QString::asprintf("%4.1f", ms * i / 4));
      painter.setPen(ToQColor(scaleLineColor_));
    }
  }
  if (drawAmpScale_ && drawTimeScale_) {
    painter.setPen(ToQColor(scaleTextColor_));
    painter.drawText(QRect(0, height() - 20, 30, 16), Qt::AlignCenter, "V");
    painter.drawText(QRect(width() - 30, height() - 20, 30, 16), Qt::AlignCenter, "V");
    painter.drawText(QRect(frame.right() - 30, height() - 14, 30, 14), Qt::AlignRight, "mS");
  }
}

void TMMOscope::Paint(QPainter& painter) {
  if (drawAmpScale_ || drawTimeScale_) PaintScales(painter);
  const int bw = Bevel().BorderTotal();
  Bevel().Paint(painter, traceRect_.adjusted(-bw, -bw, bw, bw));
  DrawFrame();
  painter.save();
  painter.setClipRect(traceRect_);
  Canvas().CopyTo(painter, traceRect_.topLeft(), QRect(0, 0, count_, rows_));
  painter.restore();
  if (OnPostPaint) OnPostPaint(this);
}

void TMMOscope::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (frameReady_ && traceRect_.contains(event->rect())) {
    // A data frame: the buffer already holds it, so only the copy is left to do.
    painter.setClipRect(traceRect_);
    Canvas().CopyTo(painter, traceRect_.topLeft(), QRect(0, 0, count_, rows_));
  } else {
    Paint(painter);
  }
  frameReady_ = false;
  if (readout_) {
    QFont font("MS Sans Serif");
    font.setPointSize(8);
    painter.setFont(font);
    const QRect box = painter.fontMetrics().boundingRect(readoutText_).adjusted(-3, -2, 3, 2);
    QRect placed = box.translated(readoutPos_ + QPoint(10, 10) - box.topLeft());
    if (placed.right() > width()) placed.moveRight(readoutPos_.x() - 10);
    if (placed.bottom() > height()) placed.moveBottom(readoutPos_.y() - 10);
    painter.fillRect(placed, Qt::white);
    painter.setPen(Qt::black);
    painter.drawRect(placed.adjusted(0, 0, -1, -1));
    painter.drawText(placed, Qt::AlignCenter, readoutText_);
  }
}

int TMMOscope::ColumnAt(int x) const {
  return std::clamp(x - traceRect_.left(), 0, count_ - 1);
}

void TMMOscope::ShowReadout(QPoint pos) {
  readoutPos_ = QPoint(std::clamp(pos.x(), traceRect_.left(), traceRect_.right()),
                       std::clamp(pos.y(), traceRect_.top(), traceRect_.bottom()));
  const int column = readoutPos_.x() - traceRect_.left();
  int row = readoutPos_.y() - traceRect_.top();
  double level = 0;
  if (kind_ == TMMOscopeKind::okSpikes) {
    level = static_cast<double>(rows_ - row - 1) / (rows_ - 1);
  } else {
    const int half = rows_ / 2;
    if (row >= half) ++row;
    level = 2.0 * (half - row) / rows_;
  }
  const int frame = (static_cast<int>(bitLength_) + 1) * (static_cast<int>(mode_) + 1);
  const double frameMs = refreshBytes_ * 1000.0 / (static_cast<double>(sampleRate_) * frame);
  const double ms = (column + 1) * frameMs / count_;
  readoutText_ = QString::asprintf("%4.1f ms", ms) + QString::asprintf(" %4.2f V", level);
  readout_ = true;
  update();
}

void TMMOscope::EndReadout() {
  readout_ = false;
  setToolTip(savedHint_);
  update();
}

void TMMOscope::mousePressEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (!traceRect_.contains(pos)) return;
  if (event->button() == Qt::LeftButton && showInfo_) {
    // The hint would cover the box; it comes back on release.
    savedHint_ = toolTip();
    setToolTip(QString());
    ShowReadout(pos);
  } else if (event->button() == Qt::RightButton && useSelection_ && !locked_) {
    const int column = ColumnAt(pos.x());
    const bool has = selStart_ >= 0 && selEnd_ >= 0;
    const int first = std::min(selStart_, selEnd_);
    const int last = std::max(selStart_, selEnd_);
    if (has && std::abs(column - first) <= 2) {
      dragMode_ = 1;
      dragAnchor_ = last;
    } else if (has && std::abs(column - last) <= 2) {
      dragMode_ = 1;
      dragAnchor_ = first;
    } else if (has && column > first && column < last) {
      dragMode_ = 2;
      dragOrigin_ = column;
    } else {
      dragMode_ = 1;
      dragAnchor_ = column;
      Selecting(column, column);
    }
  }
}

void TMMOscope::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  if (readout_) {
    ShowReadout(pos);
    return;
  }
  const int column = ColumnAt(pos.x());
  if (dragMode_ == 1) {
    Selecting(std::min(dragAnchor_, column), std::max(dragAnchor_, column));
  } else if (dragMode_ == 2) {
    const int first = std::min(selStart_, selEnd_);
    const int last = std::max(selStart_, selEnd_);
    const int shift = std::clamp(column - dragOrigin_, -first, count_ - 1 - last);
    dragOrigin_ += shift;
    Selecting(first + shift, last + shift);
  }
}

void TMMOscope::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && readout_) {
    EndReadout();
  } else if (event->button() == Qt::RightButton && dragMode_ != 0) {
    dragMode_ = 0;
    if (selStart_ == selEnd_) SetSelection(-1, -1);
    SelectEnd(selStart_, selEnd_);
  }
}

void TMMOscope::GainOverflow() {
  if (OnGainOverflow) OnGainOverflow(this);
}

void TMMOscope::PcmOverflow() {
  if (OnPcmOverflow) OnPcmOverflow(this);
}

void TMMOscope::Selecting(int first, int last) {
  SetSelection(first, last);
  if (OnSelecting) OnSelecting(this, first, last);
}

void TMMOscope::SelectEnd(int first, int last) {
  if (OnSelectEnd) OnSelectEnd(this, first, last);
}

}  // namespace sonarelle
