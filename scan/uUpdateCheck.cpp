#include "scan/uScanThread.h"

void TScanThread::UpdateCheck() {}
