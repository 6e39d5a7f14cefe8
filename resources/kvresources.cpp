#include "resources/kvresources.h"

#include <QtCore/qglobal.h>

void KorvaneInitResources() {
  // Must stand outside any namespace: it names the generated registration function.
  Q_INIT_RESOURCE(korvane_art);
}
