#include "displays/MMBevel.h"

#include <algorithm>

#include <QPainter>

#include "displays/MMGraphicControl.h"

namespace sonarelle {

namespace {

// `width` nested one-pixel rectangles, each with its top and left edges in `first` and its
// right and bottom edges (and so the top-right and bottom-left corners) in `second`.
// Returns the rectangle inside the frame.
QRect Frame(QPainter& painter, QRect rect, int width, TColor first, TColor second) {
  const QColor topLeft = ToQColor(first);
  const QColor bottomRight = ToQColor(second);
  for (int i = 0; i < width && rect.width() > 0 && rect.height() > 0; ++i) {
    const int l = rect.left();
    const int t = rect.top();
    const int r = rect.right();
    const int b = rect.bottom();
    painter.fillRect(QRect(l, t, rect.width() - 1, 1), topLeft);
    painter.fillRect(QRect(l, t, 1, rect.height() - 1), topLeft);
    painter.fillRect(QRect(r, t, 1, rect.height()), bottomRight);
    painter.fillRect(QRect(l, b, rect.width(), 1), bottomRight);
    rect.adjust(1, 1, -1, -1);
  }
  return rect;
}

QRect Bevel(QPainter& painter, const QRect& rect, TBevelCut cut, int width, TColor light,
            TColor shadow) {
  switch (cut) {
    case TBevelCut::bvLowered:
      return Frame(painter, rect, width, shadow, light);
    case TBevelCut::bvRaised:
      return Frame(painter, rect, width, light, shadow);
    case TBevelCut::bvNone:
      break;
  }
  return rect;
}

}  // namespace

TMMBevel::TMMBevel(TMMGraphicControl* owner) : owner_(owner) {}

TMMBevel& TMMBevel::operator=(const TMMBevel& other) {
  if (this == &other) {
    return *this;
  }
  SetBevelInner(other.bevelInner_);
  SetBevelOuter(other.bevelOuter_);
  SetBevelInnerWidth(other.bevelInnerWidth_);
  SetBevelOuterWidth(other.bevelOuterWidth_);
  SetBorderStyle(other.borderStyle_);
  SetBorderWidth(other.borderWidth_);
  SetBorderSpace(other.borderSpace_);
  SetBorderColor(other.borderColor_);
  SetBorderSpaceColor(other.borderSpaceColor_);
  SetInnerLightColor(other.innerLightColor_);
  SetInnerShadowColor(other.innerShadowColor_);
  SetOuterLightColor(other.outerLightColor_);
  SetOuterShadowColor(other.outerShadowColor_);
  return *this;
}

template <typename T>
void TMMBevel::Change(T& field, T value) {
  if (field == value) {
    return;
  }
  field = value;
  if (owner_ != nullptr) {
    owner_->BevelChanged();
  }
}

void TMMBevel::SetBevelInner(TBevelCut value) {
  Change(bevelInner_, value);
}
void TMMBevel::SetBevelOuter(TBevelCut value) {
  Change(bevelOuter_, value);
}
void TMMBevel::SetBevelInnerWidth(int value) {
  Change(bevelInnerWidth_, std::max(1, value));
}
void TMMBevel::SetBevelOuterWidth(int value) {
  Change(bevelOuterWidth_, std::max(1, value));
}
void TMMBevel::SetBorderStyle(TBorderStyle value) {
  Change(borderStyle_, value);
}
void TMMBevel::SetBorderWidth(int value) {
  Change(borderWidth_, std::max(0, value));
}
void TMMBevel::SetBorderSpace(int value) {
  Change(borderSpace_, std::max(0, value));
}
void TMMBevel::SetBorderColor(TColor value) {
  Change(borderColor_, value);
}
void TMMBevel::SetBorderSpaceColor(TColor value) {
  Change(borderSpaceColor_, value);
}
void TMMBevel::SetInnerLightColor(TColor value) {
  Change(innerLightColor_, value);
}
void TMMBevel::SetInnerShadowColor(TColor value) {
  Change(innerShadowColor_, value);
}
void TMMBevel::SetOuterLightColor(TColor value) {
  Change(outerLightColor_, value);
}
void TMMBevel::SetOuterShadowColor(TColor value) {
  Change(outerShadowColor_, value);
}

int TMMBevel::BorderTotal() const {
  int total = borderWidth_ + borderSpace_;
  if (bevelOuter_ != TBevelCut::bvNone) {
    total += bevelOuterWidth_;
  }
  if (bevelInner_ != TBevelCut::bvNone) {
    total += bevelInnerWidth_;
  }
  if (borderStyle_ != TBorderStyle::bsNone) {
    total += 1;
  }
  return total;
}

QRect TMMBevel::Paint(QPainter& painter, const QRect& bounds) const {
  QRect rect = bounds;
  if (borderStyle_ == TBorderStyle::bsSingle) {
    rect = Frame(painter, rect, 1, clWindowFrame, clWindowFrame);
  }
  rect = Bevel(painter, rect, bevelOuter_, bevelOuterWidth_, outerLightColor_, outerShadowColor_);
  rect = Frame(painter, rect, borderWidth_, borderColor_, borderColor_);
  rect = Bevel(painter, rect, bevelInner_, bevelInnerWidth_, innerLightColor_, innerShadowColor_);
  return Frame(painter, rect, borderSpace_, borderSpaceColor_, borderSpaceColor_);
}

}  // namespace sonarelle
