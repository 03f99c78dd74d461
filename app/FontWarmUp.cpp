#include "app/FontWarmUp.h"

#include <QFontDatabase>
#include <QStringList>
#include <fontconfig/fontconfig.h>
#include <system_error>

FontWarmUp::FontWarmUp() {
    try {
        m_thread = std::thread([toolkit = m_toolkit.get_future()]() mutable {
            // The library keeps its configuration for the whole process; the toolkit's own
            // call then finds it ready.
            FcInit();
            toolkit.wait();
            // The font database is thread-safe; filling it here spares the first layout.
            (void)QFontDatabase::families();
        });
    } catch (const std::system_error&) {
        // No thread: the toolkit reads the fonts itself when the window is laid out.
    }
}

FontWarmUp::~FontWarmUp() {
    finish();
}

void FontWarmUp::toolkitReady() {
    if (m_toolkitReported)
        return;
    m_toolkitReported = true;
    m_toolkit.set_value();
}

void FontWarmUp::finish() {
    toolkitReady();
    if (m_thread.joinable())
        m_thread.join();
}
