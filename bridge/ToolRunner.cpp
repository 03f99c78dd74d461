#include "app/AppDelegate.h"

int AppDelegate::adbCommand(const std::optional<QStringList>&, ToolResult*) { return -1; }
int AppDelegate::fastbootCommand(const std::optional<QStringList>&, ToolResult*) { return -1; }
int AppDelegate::shellCommand(const std::optional<QString>&, ToolResult*) { return -1; }
