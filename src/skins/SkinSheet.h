#pragma once

#include <QString>

#include "skins/SkinColors.h"

class QWidget;

namespace sonarelle {

// The style sheet rules that draw `control` in `colors`. Every rule is bound to the control's
// object name (or to what the control holds, such as a menu bar's menus), so the controls
// inside it that are not skinned keep their look. Empty for a kind of control no look draws.
QString SkinSheet(const QWidget& control, const TSkinColors& colors);

}  // namespace sonarelle
