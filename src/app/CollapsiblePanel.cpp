#include "app/CollapsiblePanel.h"

#include <QLabel>
#include <QToolButton>

#include "platform/MessageBoxes.h"

namespace sonarelle {

TCollapsiblePanel::TCollapsiblePanel(QWidget* parent)
    : QFrame(parent),
      caption_(new QLabel(this)),
      button_(new QToolButton(this)),
      body_(new QWidget(this)) {
  setFrameShape(QFrame::StyledPanel);
  caption_->setIndent(6);
  button_->setAutoRaise(true);
  button_->setObjectName(QStringLiteral("PushPopButton"));
  connect(button_, &QToolButton::clicked, this,
          [this] { RunGuarded([this] { collapsed_ ? Pop() : Push(); }); });
  UpdateButton();
}

void TCollapsiblePanel::SetCaption(const QString& caption) {
  caption_->setText(caption);
}

QString TCollapsiblePanel::Caption() const {
  return caption_->text();
}

void TCollapsiblePanel::SetHints(const QString& expand, const QString& collapse) {
  expandHint_ = expand;
  collapseHint_ = collapse;
  UpdateButton();
}

void TCollapsiblePanel::Push() {
  if (collapsed_) return;
  fullHeight_ = height();
  collapsed_ = true;
  resize(width(), kCaptionHeight);
  UpdateButton();
  if (OnPush) OnPush(this);
}

void TCollapsiblePanel::Pop() {
  if (!collapsed_) return;
  collapsed_ = false;
  resize(width(), fullHeight_);
  UpdateButton();
  if (OnPop) OnPop(this);
}

void TCollapsiblePanel::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  caption_->setGeometry(0, 0, width() - kCaptionHeight, kCaptionHeight);
  button_->setGeometry(width() - kCaptionHeight, 0, kCaptionHeight, kCaptionHeight);
  body_->setGeometry(0, kCaptionHeight, width(), qMax(0, height() - kCaptionHeight));
  body_->setVisible(height() > kCaptionHeight);
}

void TCollapsiblePanel::UpdateButton() {
  button_->setArrowType(collapsed_ ? Qt::UpArrow : Qt::DownArrow);
  button_->setToolTip(collapsed_ ? expandHint_ : collapseHint_);
}

}  // namespace sonarelle
