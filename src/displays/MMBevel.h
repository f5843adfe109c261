#pragma once

#include <QRect>

#include "displays/Colors.h"

class QPainter;

namespace sonarelle {

class TMMGraphicControl;

enum class TBevelCut { bvNone, bvLowered, bvRaised };
enum class TBorderStyle { bsNone, bsSingle };

// The frame of a drawn control, from the outside in: an optional single line, the outer
// bevel, a flat border, the inner bevel and a flat space. Every change is reported to the
// owning control's BevelChanged().
class TMMBevel {
 public:
  // `owner` is told of every change; a bevel without owner is a plain settings holder.
  explicit TMMBevel(TMMGraphicControl* owner = nullptr);
  TMMBevel(const TMMBevel&) = delete;

  // Copies all settings through the setters; the owner stays.
  TMMBevel& operator=(const TMMBevel& other);
  void Assign(const TMMBevel& other) { *this = other; }

  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value);
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);
  int BevelInnerWidth() const { return bevelInnerWidth_; }
  void SetBevelInnerWidth(int value);  // at least 1
  int BevelOuterWidth() const { return bevelOuterWidth_; }
  void SetBevelOuterWidth(int value);  // at least 1
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);  // at least 0
  int BorderSpace() const { return borderSpace_; }
  void SetBorderSpace(int value);  // at least 0
  TColor BorderColor() const { return borderColor_; }
  void SetBorderColor(TColor value);
  TColor BorderSpaceColor() const { return borderSpaceColor_; }
  void SetBorderSpaceColor(TColor value);
  TColor InnerLightColor() const { return innerLightColor_; }
  void SetInnerLightColor(TColor value);
  TColor InnerShadowColor() const { return innerShadowColor_; }
  void SetInnerShadowColor(TColor value);
  TColor OuterLightColor() const { return outerLightColor_; }
  void SetOuterLightColor(TColor value);
  TColor OuterShadowColor() const { return outerShadowColor_; }
  void SetOuterShadowColor(TColor value);

  // Pixels the whole frame takes from each side of the control.
  int BorderTotal() const;

  // Draws the frame into `bounds` and returns the rectangle left inside it.
  QRect Paint(QPainter& painter, const QRect& bounds) const;

 private:
  template <typename T>
  void Change(T& field, T value);

  TMMGraphicControl* owner_;
  TBevelCut bevelInner_ = TBevelCut::bvNone;
  TBevelCut bevelOuter_ = TBevelCut::bvLowered;
  int bevelInnerWidth_ = 1;
  int bevelOuterWidth_ = 1;
  TBorderStyle borderStyle_ = TBorderStyle::bsNone;
  int borderWidth_ = 0;
  int borderSpace_ = 0;
  TColor borderColor_ = clBtnFace;
  TColor borderSpaceColor_ = clBlack;
  TColor innerLightColor_ = clBtnHighlight;
  TColor innerShadowColor_ = clBtnShadow;
  TColor outerLightColor_ = clBtnHighlight;
  TColor outerShadowColor_ = clBtnShadow;
};

}  // namespace sonarelle
