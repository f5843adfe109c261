#pragma once

#include <QString>

namespace sonarelle {

// A message box with the given caption, the text and an OK button, for components that
// name themselves in the caption. Without a widget application the text goes to standard
// error.
void ShowCaptionedMessage(const QString& caption, const QString& text);

}  // namespace sonarelle
