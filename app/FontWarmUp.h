#pragma once

#include <future>
#include <thread>

// Reads the font configuration and fills the toolkit's font list on a thread of its own
// while the toolkit and the window are built: the window's first layout needs both, and they
// are most of the work before the window can appear.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // The application object exists: the toolkit's font list may be filled now.
    void toolkitReady();
    // Waits for the warm-up; call before the first text is measured.
    void finish();

private:
    std::promise<void> m_toolkit;
    std::thread m_thread;
    bool m_toolkitReported = false;
};
