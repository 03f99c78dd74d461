#include "app/AppDelegate.h"

void AppDelegate::updateProc() {}
int32_t AppDelegate::runUpdatePhases() { return 1; }
