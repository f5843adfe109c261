#include "displays/MMDisplay.h"

#include "displays/MMConnector.h"

namespace sonarelle {

TMMDisplay::~TMMDisplay() {
  TMMConnector::DisplayDestroyed(this);
}

}  // namespace sonarelle
