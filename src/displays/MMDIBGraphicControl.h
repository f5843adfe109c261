#pragma once

#include <memory>

#include <QImage>

#include "displays/MMDIBCanvas.h"
#include "displays/MMGraphicControl.h"

namespace sonarelle {

// A drawn control that owns an off-screen pixel buffer of its own size (a subclass may give
// the buffer another size after every resize).
class TMMDIBGraphicControl : public TMMGraphicControl {
  Q_OBJECT

 public:
  explicit TMMDIBGraphicControl(QWidget* parent = nullptr);
  ~TMMDIBGraphicControl() override;

  TMMDIBCanvas& Canvas() { return *canvas_; }
  const TMMDIBCanvas& Canvas() const { return *canvas_; }

  // A bitmap that replaces the fill colour when the buffer is cleared, while
  // UseBackGroundDIB is set and the bitmap is not empty.
  const QImage& BackGroundDIB() const { return backGroundDIB_; }
  void SetBackGroundDIB(const QImage& value);
  bool UseBackGroundDIB() const { return useBackGroundDIB_; }
  void SetUseBackGroundDIB(bool value);
  // Kept for the design settings; Qt maps colours itself, so no palette is realised.
  bool PaletteRealize() const { return paletteRealize_; }
  void SetPaletteRealize(bool value) { paletteRealize_ = value; }
  bool PaletteMapped() const { return paletteMapped_; }
  void SetPaletteMapped(bool value) { paletteMapped_ = value; }
  int Tag2() const { return tag2_; }
  void SetTag2(int value) { tag2_ = value; }

  // Bits per pixel of the buffer, 8 or 24.
  virtual void SetDIBBits(int bits);
  // Copies the background when one is in use, else fills with Color.
  virtual void DIBClear();

 protected:
  // Called after the buffer took the control's new size.
  virtual void DIBResized() {}
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::unique_ptr<TMMDIBCanvas> canvas_;
  QImage backGroundDIB_;
  bool useBackGroundDIB_ = false;
  bool paletteRealize_ = false;
  bool paletteMapped_ = false;
  int tag2_ = 0;
};

}  // namespace sonarelle
