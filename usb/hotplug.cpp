#include "usb/usbutils.h"

void usb_set_notify(usb_notify_cb, usb_notify_cb, void*) {}
int usb_init_for_factory(int, int, int32_t) { return -1; }
void perform_deviceadd_cb() {}
void perform_deviceremove_cb() {}
