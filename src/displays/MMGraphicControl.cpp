#include "displays/MMGraphicControl.h"

#include <QPainter>

namespace sonarelle {

TMMGraphicControl::TMMGraphicControl(QWidget* parent)
    : QWidget(parent), bevel_(std::make_unique<TMMBevel>(this)) {
  // Paint covers every pixel, so Qt need not clear the background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

TMMGraphicControl::~TMMGraphicControl() = default;

void TMMGraphicControl::SetBevel(const TMMBevel& bevel) {
  *bevel_ = bevel;
}

void TMMGraphicControl::SetColor(TColor value) {
  if (color_ == value) {
    return;
  }
  color_ = value;
  ColorChanged();
}

void TMMGraphicControl::SetAlign(TAlign value) {
  align_ = value;
}

QRect TMMGraphicControl::InnerRect() const {
  const int bw = bevel_->BorderTotal();
  return rect().adjusted(bw, bw, -bw, -bw);
}

void TMMGraphicControl::SetBounds(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  updateGeometry();
}

void TMMGraphicControl::BevelChanged() {
  update();
}

void TMMGraphicControl::ColorChanged() {
  update();
}

void TMMGraphicControl::Paint(QPainter& painter) {
  bevel_->Paint(painter, rect());
  painter.fillRect(InnerRect(), ToQColor(color_));
}

void TMMGraphicControl::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  Paint(painter);
}

}  // namespace sonarelle
