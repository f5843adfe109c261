#pragma once

#include <QImage>
#include <QWidget>

namespace sonarelle {

// The child of a display panel that a media device draws its video frames into, scaled to
// the surface's own geometry (the device's display rectangle). Mouse input passes through
// to the panel. Lives on the GUI thread only.
class VideoSurface : public QWidget {
 public:
  explicit VideoSurface(QWidget* panel);

  // Shows `frame` from the next paint on; a null image paints black.
  void SetFrame(const QImage& frame);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage frame_;
};

}  // namespace sonarelle
