#include "app/AppDelegate.h"

int32_t AppDelegate::prepareAdb() { return -1; }
bool AppDelegate::isDriverInstalled() { return false; }
bool AppDelegate::killDeviceAgent() { return false; }
bool AppDelegate::recoverDeviceAgent() { return false; }
bool AppDelegate::isDeviceAgentAlive() { return false; }
