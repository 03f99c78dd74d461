#include "app/AppDelegate.h"

void AppDelegate::initializeProc() {}
std::optional<QString> AppDelegate::getMd5Sum(const QString&) { return std::nullopt; }
