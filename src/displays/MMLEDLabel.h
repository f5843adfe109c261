#pragma once

#include <functional>

#include <QImage>
#include <QString>
#include <QTimer>

#include "displays/MMGraphicControl.h"

namespace sonarelle {

enum class TMMLEDFontSize { fs11x13, fs16x20, fs11x13_bold };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };

// One line of text in the look of a dot-matrix LED display, drawn from a glyph strip in
// character cells inside the bevel. With AutoSize the cell count follows the caption,
// otherwise it follows the width; every resize request is fitted to whole cells.
//
// Typical set-up with fixed bounds:
//   auto* led = new TMMLEDLABEL(parent);
//   led->BeginLoading();
//   led->SetAutoSize(false);
//   led->SetBounds(16, 47, 310, 26);
//   led->Loaded();                      // 19 cells of 16 x 20
//   led->SetCaption("00:00:00   00:00:00");
class TMMLEDLABEL : public TMMGraphicControl {
  Q_OBJECT

 public:
  explicit TMMLEDLABEL(QWidget* parent = nullptr);
  ~TMMLEDLABEL() override;

  // The text shown. Each character stands for its Latin-1 code, so U+0080..U+009D reach the
  // strip's extra glyphs; ÄäÖöÜüß± show their own glyphs and the euro sign the euro glyph.
  QString Caption() const { return caption_; }
  void SetCaption(const QString& value);

  TColor LEDColor() const { return ledColor_; }
  void SetLEDColor(TColor value);
  TColor InactiveColor() const { return inactiveColor_; }
  void SetInactiveColor(TColor value);
  // Unlit dots in InactiveColor, or hidden in Color.
  bool DrawInactive() const { return drawInactive_; }
  void SetDrawInactive(bool value);
  TMMLEDFontSize FontSize() const { return fontSize_; }
  void SetFontSize(TMMLEDFontSize value);

  // With AutoSize the cell count is the caption's length, otherwise it follows the width.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool value);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  // The cell count; outside loading the next fit recomputes it (see AutoSize).
  int NumChars() const { return numChars_; }
  void SetNumChars(int value);
  // Spacing term of the cell pitch (cell width + LEDSpace - 1); values below 1 are ignored.
  int LEDSpace() const { return ledSpace_; }
  void SetLEDSpace(int value);

  // Scroll timer interval in milliseconds.
  int ScrollSpeed() const { return scrollSpeed_; }
  void SetScrollSpeed(int value);
  // Where scrolling restarts; also sets CurrentStep. Accepts 0..caption length.
  int StartStep() const { return startStep_; }
  void SetStartStep(int value);
  // Index of the first character shown when left-justified. Accepts 0..caption length.
  int CurrentStep() const { return currentStep_; }
  void SetCurrentStep(int value);
  // Scrolls the caption leftwards, one character per ScrollSpeed, starting over at the end.
  bool AutoScroll() const { return autoScroll_; }
  void SetAutoScroll(bool value);
  // Whether the scroll timer runs.
  bool IsScrolling() const { return scrollTimer_.isActive(); }

  // A spare value for the owner.
  int Tag2() const { return tag2_; }
  void SetTag2(int value) { tag2_ = value; }

  // Cell size of the loaded glyph strip.
  int CellWidth() const { return cellWidth_; }
  int CellHeight() const { return cellHeight_; }

  // Scrolling events; each receives the label. Unset callbacks are skipped.
  std::function<void(QObject* sender)> OnBegin;
  std::function<void(QObject* sender)> OnStep;
  std::function<void(QObject* sender)> OnEnd;

  // Fits the requested size to whole cells before applying it.
  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  void BevelChanged() override;

 protected:
  void ColorChanged() override;
  void Paint(QPainter& painter) override;
  // One step of the scroll timer.
  void ScrollTick();

 private:
  void LoadStrip();
  // Sets NumChars for the requested size and adjusts the size to whole cells.
  void FitSize(int& width, int& height);
  void Refit();
  QString VisibleText() const;
  void PaintCells(QPainter& painter) const;
  static void Raise(const std::function<void(QObject*)>& callback, QObject* sender);

  QString caption_;
  TColor ledColor_ = clLime;
  TColor inactiveColor_ = clGreen;
  bool drawInactive_ = true;
  TMMLEDFontSize fontSize_ = TMMLEDFontSize::fs16x20;
  bool autoSize_ = true;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  int numChars_ = 0;
  int ledSpace_ = 1;
  int scrollSpeed_ = 100;
  int startStep_ = 0;
  int currentStep_ = 0;
  bool autoScroll_ = false;
  int tag2_ = 0;

  QImage strip_;  // the glyph strip, recoloured
  int cellWidth_ = 0;
  int cellHeight_ = 0;
  QTimer scrollTimer_;
};

}  // namespace sonarelle
