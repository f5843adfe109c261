#include "skins/SuiThemeManager.h"

#include <QStyle>
#include <QWidget>

#include "skins/SkinSheet.h"
#include "skins/SuiFileTheme.h"

namespace sonarelle {

namespace {

// The control's own style sheet from before its first skin, kept under the look's rules.
constexpr const char* kBaseSheetProperty = "suiBaseStyleSheet";

}  // namespace

TsuiThemeManager::TsuiThemeManager(QWidget& window, QStringList controls,
                                   const TsuiFileTheme& fileTheme)
    : QObject(&window), window_(window), controls_(std::move(controls)), fileTheme_(fileTheme) {
  setObjectName(QStringLiteral("suiThemeManager1"));
}

QWidget* TsuiThemeManager::Control(const QString& name) const {
  if (!controls_.contains(name)) return nullptr;
  if (auto* control = window_.findChild<QWidget*>(name)) return control;
  if (name == QLatin1String("suiForm1")) return &window_;
  return nullptr;
}

TSkinColors TsuiThemeManager::Colors() const {
  return style_ == TsuiUIStyle::FromThemeFile ? fileTheme_.Colors() : Readable(BuiltInLook(style_));
}

void TsuiThemeManager::SetUIStyle(TsuiUIStyle style) {
  style_ = style;
  const TSkinColors colors = Colors();
  for (const QString& name : controls_) {
    QWidget* control = Control(name);
    if (control == nullptr) continue;
    QVariant base = control->property(kBaseSheetProperty);
    if (!base.isValid()) {
      base = control->styleSheet();
      control->setProperty(kBaseSheetProperty, base);
    }
    // Plain widgets and windows draw a style sheet background only when asked to.
    control->setAttribute(Qt::WA_StyledBackground, true);
    control->setStyleSheet(base.toString() + SkinSheet(*control, colors));
    // A window not shown yet would keep the rules it was first polished with.
    control->style()->unpolish(control);
    control->style()->polish(control);
    control->setProperty(kStyleProperty, static_cast<int>(style));
  }
}

}  // namespace sonarelle
