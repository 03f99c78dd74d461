#include "app/AppDelegate.h"

bool AppDelegate::backAdbData() { return false; }
bool AppDelegate::restoreAdbData() { return false; }
