#include "app/AppDelegate.h"

uint64_t AppDelegate::detectDevice() { return 0; }
int32_t AppDelegate::detectAdb() { return 0; }
int32_t AppDelegate::detectDeviceBootMode() { return -1; }
int32_t AppDelegate::rebootDevice() { return -1; }
int32_t AppDelegate::switchDevice() { return -1; }
int32_t AppDelegate::flash(const QString&, const QString&) { return -1; }
int32_t AppDelegate::fastbootReboot() { return 0; }
int32_t AppDelegate::fastbootRebootBootloader() { return 0; }
QString AppDelegate::parseVersionNumber(const QString& text) { return text; }
