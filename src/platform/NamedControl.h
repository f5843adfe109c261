#pragma once

#include <utility>

#include <QRect>
#include <QString>
#include <QWidget>

namespace sonarelle {

// A child control built from `args` (its text first, as Qt's constructors take it), named
// `name` (skins and translations find it by that name) and placed at `place`.
template <class Control, class... Args>
Control* AddNamed(QWidget* parent, const char* name, const QRect& place, Args&&... args) {
  auto* control = new Control(std::forward<Args>(args)..., parent);
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(place);
  return control;
}

}  // namespace sonarelle
