// The module's hot-plug watcher on the guest's real udev, as a controller would arm it: one
// identity, both callbacks. Prints the watcher's own trace and one line per callback, with
// what the lookup layer finds at that moment, until the given number of seconds is over.
//
//   hotspot-kernel-watch SECONDS

#include "usb/usbutils.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

void report(const char* what)
{
    // The add callback comes after the rescan, so the lookup must already see the device.
    std::printf("watch: %s, lookup finds %d\n", what, do_find_device2(kOwnVendor, kOwnProduct));
    std::fflush(stdout);
}

void onAdded(void*) { report("added"); }
void onRemoved(void*) { report("removed"); }

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 0;
    if (seconds <= 0) {
        std::fputs("usage: hotspot-kernel-watch SECONDS\n", stderr);
        return 2;
    }
    usb_set_notify(onAdded, onRemoved, nullptr);
    const int armed = usb_init_for_factory(kOwnVendor, kOwnProduct, 0);
    std::printf("watch: armed %d\n", armed);
    std::fflush(stdout);
    if (armed != 0)
        return 1;
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
    app.exec();
    std::printf("watch: done\n");
    std::fflush(stdout);
    return 0;
}
