#include "displays/MMDIBGraphicControl.h"

namespace sonarelle {

TMMDIBGraphicControl::TMMDIBGraphicControl(QWidget* parent)
    : TMMGraphicControl(parent), canvas_(std::make_unique<TMMDIBCanvas>("TMMDIBGraphicControl")) {}

TMMDIBGraphicControl::~TMMDIBGraphicControl() = default;

void TMMDIBGraphicControl::SetBackGroundDIB(const QImage& value) {
  backGroundDIB_ = value;
  canvas_->SetBackground(useBackGroundDIB_ ? backGroundDIB_ : QImage(), true);
  update();
}

void TMMDIBGraphicControl::SetUseBackGroundDIB(bool value) {
  if (value == useBackGroundDIB_) return;
  useBackGroundDIB_ = value;
  canvas_->SetBackground(useBackGroundDIB_ ? backGroundDIB_ : QImage(), true);
  update();
}

void TMMDIBGraphicControl::SetDIBBits(int bits) {
  canvas_->SetBitCount(bits);
  update();
}

void TMMDIBGraphicControl::DIBClear() {
  if (canvas_->HasBackground()) {
    canvas_->ClearToBackground();
  } else {
    canvas_->Clear(Color());
  }
}

void TMMDIBGraphicControl::resizeEvent(QResizeEvent* event) {
  TMMGraphicControl::resizeEvent(event);
  canvas_->Resize(width(), height());
  DIBResized();
}

}  // namespace sonarelle
