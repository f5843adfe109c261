#include "platform/VideoSurface.h"

#include <QPainter>

namespace sonarelle {

VideoSurface::VideoSurface(QWidget* panel) : QWidget(panel) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

void VideoSurface::SetFrame(const QImage& frame) {
  frame_ = frame;
  update();
}

void VideoSurface::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  if (frame_.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  painter.drawImage(rect(), frame_);
}

}  // namespace sonarelle
