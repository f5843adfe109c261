#pragma once

#include <functional>

#include <QFrame>

class QLabel;
class QToolButton;

namespace sonarelle {

// A panel with a 20-pixel caption bar and a push/pop button that collapses it to the bar
// and expands it back to its remembered full height.
class TCollapsiblePanel : public QFrame {
 public:
  static constexpr int kCaptionHeight = 20;

  explicit TCollapsiblePanel(QWidget* parent);

  void SetCaption(const QString& caption);
  QString Caption() const;
  // The hints of the push/pop button, collapsed and expanded.
  void SetHints(const QString& expand, const QString& collapse);
  QString ExpandHint() const { return expandHint_; }
  QString CollapseHint() const { return collapseHint_; }

  // Height of the expanded panel; remembered from the size it had when first collapsed.
  int FullHeight() const { return fullHeight_; }
  bool Collapsed() const { return collapsed_; }

  // Shrinks to the caption bar, then calls OnPush.
  void Push();
  // Grows back to FullHeight, then calls OnPop.
  void Pop();

  // The area below the caption bar, for the panel's contents.
  QWidget* Body() const { return body_; }

  std::function<void(QObject* sender)> OnPush;
  std::function<void(QObject* sender)> OnPop;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void UpdateButton();

  QLabel* caption_;
  QToolButton* button_;
  QWidget* body_;
  QString expandHint_ = QStringLiteral("expand");
  QString collapseHint_ = QStringLiteral("collapse");
  int fullHeight_ = 0;
  bool collapsed_ = false;
};

}  // namespace sonarelle
