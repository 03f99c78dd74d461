#pragma once
// One FunctionFS function of the emulated hotspot: an interface with a bulk OUT and a bulk
// IN endpoint. ep0's events are served on a thread of its own; transfers block on the
// endpoint files, which wait while the host has the function disabled and fail when the
// host disables it mid-transfer (the protocol then starts afresh).

#include <linux/usb/ch9.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>

namespace gadget {

struct InterfaceClass {
    uint8_t cls, subclass, protocol;
};

class FfsFunction {
public:
    // Answers a class or vendor request to the interface; false stalls it.
    using SetupHandler = std::function<bool(const usb_ctrlrequest&, int ep0)>;

    FfsFunction(std::string instance, InterfaceClass ic, std::string label);
    ~FfsFunction();
    FfsFunction(const FfsFunction&) = delete;
    FfsFunction& operator=(const FfsFunction&) = delete;

    void onSetup(SetupHandler handler) { m_setup = std::move(handler); }
    // Mounts the FunctionFS instance `device` (this function's, under the name the system
    // knows it by) at `mountDir`, writes its descriptors and starts serving ep0.
    bool start(const std::string& device, const std::string& mountDir);
    const std::string& instance() const { return m_instance; }

    // A whole transfer from the host, at most `size` bytes; < 0 when the function went away.
    ssize_t read(void* buffer, size_t size);
    // Reads exactly `size` bytes (over as many transfers as it takes).
    bool readAll(void* buffer, size_t size);
    bool write(const void* buffer, size_t size);
    // Bumped whenever the host enables the function; lets a protocol notice a new session.
    unsigned sessions() const { return m_sessions.load(); }

private:
    void serveEp0();

    std::string m_instance;
    InterfaceClass m_class;
    std::string m_label;
    SetupHandler m_setup;
    int m_ep0 = -1, m_out = -1, m_in = -1;
    std::atomic<unsigned> m_sessions{0};
    std::thread m_ep0Thread;
};

} // namespace gadget
