#pragma once

#include <QString>

namespace sonarelle {

// The HTML dialog: shows `html` (fetched from `url`, which resolves its relative links) in a
// modal window with a text browser and a Close button.
void ShowHtmlDialog(const QString& html, const QString& url);

}  // namespace sonarelle
