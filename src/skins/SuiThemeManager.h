#pragma once

#include <QObject>
#include <QStringList>

#include "skins/SkinColors.h"
#include "skins/SuiUIStyle.h"

class QWidget;

namespace sonarelle {

class TsuiFileTheme;

// A window's theme manager: setting its style puts that look on the window's controls named
// in its list, found by object name each time, so controls made later take it too. A name
// with no control is skipped; "suiForm1" with no control of that name is the window itself.
// Lives on its window as "suiThemeManager1".
class TsuiThemeManager : public QObject {
  Q_OBJECT

 public:
  // `fileTheme` (not owned) supplies the colours of FromThemeFile and must outlive the
  // manager's last SetUIStyle.
  TsuiThemeManager(QWidget& window, QStringList controls, const TsuiFileTheme& fileTheme);

  // Applies `style` to every listed control, also when it is the style already set: the
  // file theme may have loaded another file since.
  void SetUIStyle(TsuiUIStyle style);
  TsuiUIStyle UIStyle() const { return style_; }
  // The colours of the style set last.
  TSkinColors Colors() const;

  const QStringList& Controls() const { return controls_; }
  // The listed control of that name on the window, or null.
  QWidget* Control(const QString& name) const;

  // The dynamic property each restyled control carries: its style as a number.
  static constexpr const char* kStyleProperty = "suiUIStyle";

 private:
  QWidget& window_;
  QStringList controls_;
  const TsuiFileTheme& fileTheme_;
  TsuiUIStyle style_ = TsuiUIStyle::MacOS;
};

}  // namespace sonarelle
