#include "app/AppDelegate.h"

void AppDelegate::detectProc() {}
void AppDelegate::detectPass() {}
