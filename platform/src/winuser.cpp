// GetSystemMetrics: only what the version naming asks (SM_SERVERR2).
#include <windows.h>

#include "osfacts.h"

int WINAPI GetSystemMetrics(int index) {
  if (index == SM_SERVERR2) return KvReadOsFacts().serverR2;
  return 0;
}
