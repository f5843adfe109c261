#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "audio/chain/SampleMode.h"
#include "audio/chain/WaveFormat.h"
#include "displays/MMDIBGraphicControl.h"
#include "displays/MMDisplay.h"

namespace sonarelle {

// Raised by the oscilloscope for a format it cannot show.
class EMMOscopeError : public Exception {
 public:
  using Exception::Exception;
  explicit EMMOscopeError(const char* message) : Exception(std::string(message)) {}
};

enum class TMMOscopeKind { okDots, okConLines, okVertLines, okMirLines, okSpikes };
enum class TMMOscopeEffect { efNone, efPeak, efSplit };
enum class TMMBits { b8Bit, b16Bit };
enum class TMMChannel { chBoth, chLeft, chRight };

class TMMOscope;
using TMMNotifyEvent = std::function<void(TMMOscope* Sender)>;
using TMMOscopeDrawLine = std::function<void(TMMOscope* Sender, TMMDIBCanvas& canvas,
                                             const QRect& rect, const std::vector<int16_t>& row)>;
using TMMOscopeSelect = std::function<void(TMMOscope* Sender, int first, int last)>;

// Draws the frames of audio a connector hands it into its pixel buffer and shows each at
// once; a mirrored envelope, dots, lines or spikes, or a scrolling chart.
class TMMOscope : public TMMDIBGraphicControl, public TMMDisplay {
  Q_OBJECT

 public:
  explicit TMMOscope(QWidget* parent = nullptr);
  ~TMMOscope() override;

  // What the connector uses: the display format, one frame of data, clearing, frame size.
  void AdoptFormat(const WAVEFORMATEX* format) override;
  void ShowData(const void* data) override;
  void ClearData() override;
  int RefreshBytes() const override { return refreshBytes_; }

  TMMOscopeKind Kind() const { return kind_; }
  void SetKind(TMMOscopeKind value);
  TColor ForegroundColor() const { return foregroundColor_; }
  void SetForegroundColor(TColor value) { SetColorSetting(foregroundColor_, value); }
  TColor InactiveColor() const { return inactiveColor_; }
  void SetInactiveColor(TColor value) { SetColorSetting(inactiveColor_, value); }
  TColor EffectColor() const { return effectColor_; }
  void SetEffectColor(TColor value) { SetColorSetting(effectColor_, value); }
  TColor DisabledColor() const { return disabledColor_; }
  void SetDisabledColor(TColor value) { SetColorSetting(disabledColor_, value); }
  TColor ScaleTextColor() const { return scaleTextColor_; }
  void SetScaleTextColor(TColor value) { SetColorSetting(scaleTextColor_, value); }
  TColor ScaleLineColor() const { return scaleLineColor_; }
  void SetScaleLineColor(TColor value) { SetColorSetting(scaleLineColor_, value); }
  TColor GridColor() const { return gridColor_; }
  void SetGridColor(TColor value) { SetColorSetting(gridColor_, value); }
  TColor BarColor() const { return barColor_; }
  void SetBarColor(TColor value) { SetColorSetting(barColor_, value); }
  TColor BarTickColor() const { return barTickColor_; }
  void SetBarTickColor(TColor value) { SetColorSetting(barTickColor_, value); }
  TColor SelectionColor() const { return selectionColor_; }
  void SetSelectionColor(TColor value) { SetColorSetting(selectionColor_, value); }
  TColor SelectionDotColor() const { return selectionDotColor_; }
  void SetSelectionDotColor(TColor value) { SetColorSetting(selectionDotColor_, value); }
  TColor LocatorColor() const { return locatorColor_; }
  void SetLocatorColor(TColor value) { SetColorSetting(locatorColor_, value); }

  TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  int SampleRate() const { return sampleRate_; }
  void SetSampleRate(int value);  // clamped to 8000..88200
  int Gain() const { return gain_; }
  void SetGain(int value);  // -8..32, other values ignored
  int Steps() const { return steps_; }
  void SetSteps(int value);  // clamped to 1..9
  int Zoom() const { return zoom_; }
  void SetZoom(int value);  // 0 ignored, clamped to -9..9
  TMMOscopeEffect Effect() const { return effect_; }
  void SetEffect(TMMOscopeEffect value);
  bool DrawMidLine() const { return drawMidLine_; }
  void SetDrawMidLine(bool value);
  bool DrawGrid() const { return drawGrid_; }
  void SetDrawGrid(bool value);
  bool DrawAmpScale() const { return drawAmpScale_; }
  void SetDrawAmpScale(bool value);
  bool DrawTimeScale() const { return drawTimeScale_; }
  void SetDrawTimeScale(bool value);
  bool ShowInfo() const { return showInfo_; }
  void SetShowInfo(bool value) { showInfo_ = value; }
  bool Scroll() const { return scroll_; }
  void SetScroll(bool value);
  bool Accelerate() const { return accelerate_; }
  void SetAccelerate(bool value) { accelerate_ = value; }
  int FFTLength() const { return fftLength_; }
  void SetFFTLength(int value);  // 1..4096, rounded down to a power of two
  int BarWidth() const { return barWidth_; }
  void SetBarWidth(int value) { barWidth_ = std::max(value, 1); }
  bool LowPass() const { return lowPass_; }
  void SetLowPass(bool value) { lowPass_ = value; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool UseSelection() const { return useSelection_; }
  void SetUseSelection(bool value) { useSelection_ = value; }
  bool Locked() const { return locked_; }
  void SetLocked(bool value) { locked_ = value; }

  // Columns and rows of the trace, and the rectangle it takes in the control.
  int Columns() const { return count_; }
  int Rows() const { return rows_; }
  QRect TraceRect() const { return traceRect_; }
  const std::vector<int16_t>& SampleRow() const { return samples_; }
  // First and last column of the selection, -1 for none.
  int SelectionStart() const { return selStart_; }
  int SelectionEnd() const { return selEnd_; }
  void SetSelection(int first, int last);
  int Locator() const { return locator_; }
  void SetLocator(int column);
  // Whether the chart scrolls by moving pixels, which the connector paces by FFT length.
  bool ScrollsAccelerated() const { return scroll_ && accelerate_; }

  void SetBounds(int left, int top, int width, int height) override;
  void BevelChanged() override;

  TMMNotifyEvent OnGainOverflow;
  TMMNotifyEvent OnPcmOverflow;
  TMMOscopeDrawLine OnDrawLine;
  TMMNotifyEvent OnPostPaint;
  TMMOscopeSelect OnSelecting;
  TMMOscopeSelect OnSelectEnd;

 protected:
  virtual void GainOverflow();
  virtual void PcmOverflow();
  virtual void Selecting(int first, int last);
  virtual void SelectEnd(int first, int last);

  void DIBResized() override;
  void ColorChanged() override;
  void Paint(QPainter& painter) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetColorSetting(TColor& field, TColor value);
  void Redo();
  void ComputeRefreshBytes();
  void DrawFrame();
  void DrawTrace();
  void DrawChart();
  void ConvertFrame(const std::uint8_t* data);
  void ConvertChart(const std::uint8_t* data);
  int TraceY(int sample);
  void DrawColumnLine(int x, int top, int bottom, TColor color);
  void PaintScales(QPainter& painter);
  void ShowReadout(QPoint pos);
  void EndReadout();
  int ColumnAt(int x) const;

  TMMOscopeKind kind_ = TMMOscopeKind::okDots;
  TColor foregroundColor_ = clAqua;
  TColor inactiveColor_ = clTeal;
  TColor effectColor_ = clRed;
  TColor disabledColor_ = clGray;
  TColor scaleTextColor_ = clBlack;
  TColor scaleLineColor_ = clBlack;
  TColor gridColor_ = clGray;
  TColor barColor_ = clGray;
  TColor barTickColor_ = clWhite;
  TColor selectionColor_ = clRed;
  TColor selectionDotColor_ = clRed;
  TColor locatorColor_ = clYellow;
  TMMBits bitLength_ = TMMBits::b8Bit;
  TMMMode mode_ = TMMMode::mMono;
  TMMChannel channel_ = TMMChannel::chBoth;
  int sampleRate_ = 11025;
  int gain_ = 0;
  int steps_ = 1;
  int zoom_ = 1;
  TMMOscopeEffect effect_ = TMMOscopeEffect::efNone;
  bool drawMidLine_ = false;
  bool drawGrid_ = false;
  bool drawAmpScale_ = false;
  bool drawTimeScale_ = false;
  bool showInfo_ = true;
  bool scroll_ = false;
  bool accelerate_ = true;
  int fftLength_ = 128;
  int barWidth_ = 5;
  bool lowPass_ = false;
  bool enabled_ = true;
  bool useSelection_ = false;
  bool locked_ = false;

  QRect traceRect_;
  int count_ = 4;
  int rows_ = 4;
  int mid_ = 2;
  int divisor_ = 65535;
  int offset_ = 32767;
  std::vector<int16_t> samples_;
  std::vector<int16_t> chartMin_;  // scroll mode: one range per column
  std::vector<int16_t> chartMax_;
  int chartPos_ = 0;
  int refreshBytes_ = 0;
  int firstActive_ = 0;
  int lastActive_ = 4;
  int selStart_ = -1;
  int selEnd_ = -1;
  int locator_ = -1;
  int bandLow_ = 1;
  int bandHigh_ = 3;
  bool frameReady_ = false;  // the buffer holds a frame not yet copied to the screen
  bool readout_ = false;
  QPoint readoutPos_;
  QString readoutText_;
  QString savedHint_;
  int dragAnchor_ = -1;
  int dragMode_ = 0;  // 0 none, 1 new range or edge, 2 moving the range
  int dragOrigin_ = 0;
};

}  // namespace sonarelle
