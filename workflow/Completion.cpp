#include "app/AppDelegate.h"

void AppDelegate::updateWhenDone(int32_t) {}
