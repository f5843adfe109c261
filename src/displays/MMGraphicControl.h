#pragma once

#include <memory>

#include <QWidget>

#include "displays/Colors.h"
#include "displays/MMBevel.h"

namespace sonarelle {

// Where a control docks in its parent; the drawn displays only store it, and the LED label
// keeps its width when docked to the top or the bottom.
enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

// The base of the drawn displays: an opaque control that paints a bevel around a field of
// its Color. Geometry is set through SetBounds so that derived controls can adjust it.
class TMMGraphicControl : public QWidget {
  Q_OBJECT

 public:
  explicit TMMGraphicControl(QWidget* parent = nullptr);
  ~TMMGraphicControl() override;

  // The control's own bevel; changes to it arrive at BevelChanged().
  TMMBevel& Bevel() { return *bevel_; }
  const TMMBevel& Bevel() const { return *bevel_; }
  // Copies the settings of `bevel`; it stays the caller's.
  void SetBevel(const TMMBevel& bevel);

  // Background of the field inside the bevel.
  TColor Color() const { return color_; }
  void SetColor(TColor value);

  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);

  // The client rectangle less the bevel's BorderTotal on every side.
  QRect InnerRect() const;

  // Moves and resizes the control; derived controls may adjust the size first.
  virtual void SetBounds(int left, int top, int width, int height);
  void SetLeft(int left) { SetBounds(left, y(), width(), height()); }
  void SetTop(int top) { SetBounds(x(), top, width(), height()); }
  void SetWidth(int width) { SetBounds(x(), y(), width, this->height()); }
  void SetHeight(int height) { SetBounds(x(), y(), width(), height); }

  // While loading, the control takes its settings as given without reacting to them;
  // Loaded() ends that and lets the control bring itself into shape once.
  void BeginLoading() { loading_ = true; }
  virtual void Loaded() { loading_ = false; }
  bool IsLoading() const { return loading_; }

  // Called on every change of the bevel; repaints by default.
  virtual void BevelChanged();

  QSize sizeHint() const override { return size(); }

 protected:
  // Called on every change of Color; repaints by default.
  virtual void ColorChanged();

  // Draws the whole control; the base draws the bevel and fills InnerRect with Color.
  virtual void Paint(QPainter& painter);

  void paintEvent(QPaintEvent* event) override;

 private:
  std::unique_ptr<TMMBevel> bevel_;
  TColor color_ = clBlack;
  TAlign align_ = TAlign::alNone;
  bool loading_ = false;
};

}  // namespace sonarelle
