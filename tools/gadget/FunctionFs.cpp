#include "FunctionFs.h"

#include <linux/usb/functionfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <string_view>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace gadget {

namespace {

void put16(std::vector<uint8_t>& b, uint16_t v)
{
    b.push_back(uint8_t(v & 0xFF));
    b.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

void putInterface(std::vector<uint8_t>& b, const InterfaceClass& ic)
{
    b.insert(b.end(), {9, USB_DT_INTERFACE, 0, 0, 2, ic.cls, ic.subclass, ic.protocol, 1});
}

// OUT first and IN second, so ep1 is OUT and ep2 is IN; the controller numbers them.
void putEndpoints(std::vector<uint8_t>& b, uint16_t maxPacket)
{
    b.insert(b.end(), {7, USB_DT_ENDPOINT, 1 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK});
    put16(b, maxPacket);
    b.push_back(0);
    b.insert(b.end(), {7, USB_DT_ENDPOINT, 2 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK});
    put16(b, maxPacket);
    b.push_back(0);
}

std::vector<uint8_t> descriptors(const InterfaceClass& ic)
{
    std::vector<uint8_t> body;
    put32(body, 3); // full-speed count
    put32(body, 3); // high-speed count
    putInterface(body, ic);
    putEndpoints(body, 64);
    putInterface(body, ic);
    putEndpoints(body, 512);
    std::vector<uint8_t> b;
    put32(b, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    put32(b, uint32_t(12 + body.size()));
    put32(b, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

std::vector<uint8_t> strings(const std::string& label)
{
    std::vector<uint8_t> b;
    put32(b, FUNCTIONFS_STRINGS_MAGIC);
    put32(b, uint32_t(16 + 2 + label.size() + 1));
    put32(b, 1); // strings
    put32(b, 1); // languages
    put16(b, 0x0409);
    b.insert(b.end(), label.begin(), label.end());
    b.push_back(0);
    return b;
}

bool writeWhole(int fd, const std::vector<uint8_t>& bytes)
{
    return ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
}

} // namespace

FfsFunction::FfsFunction(std::string instance, InterfaceClass ic, std::string label)
    : m_instance(std::move(instance)), m_class(ic), m_label(std::move(label))
{
}

FfsFunction::~FfsFunction()
{
    // ep0 is served until the process ends.
    if (m_ep0Thread.joinable())
        m_ep0Thread.detach();
}

bool FfsFunction::start(const std::string& device, const std::string& mountDir)
{
    const size_t slash = mountDir.rfind('/');
    if (slash != std::string::npos && slash > 0)
        ::mkdir(mountDir.substr(0, slash).c_str(), 0755);
    ::mkdir(mountDir.c_str(), 0755);
    if (::mount(device.c_str(), mountDir.c_str(), "functionfs", 0, nullptr) != 0 && errno != EBUSY) {
        std::fprintf(stderr, "[gadget] mount %s: %s\n", device.c_str(), std::strerror(errno));
        return false;
    }
    m_ep0 = ::open((mountDir + "/ep0").c_str(), O_RDWR);
    if (m_ep0 < 0 || !writeWhole(m_ep0, descriptors(m_class)) || !writeWhole(m_ep0, strings(m_label))) {
        std::fprintf(stderr, "[gadget] descriptors of %s: %s\n", m_instance.c_str(), std::strerror(errno));
        return false;
    }
    m_out = ::open((mountDir + "/ep1").c_str(), O_RDWR);
    m_in = ::open((mountDir + "/ep2").c_str(), O_RDWR);
    if (m_out < 0 || m_in < 0) {
        std::fprintf(stderr, "[gadget] endpoints of %s: %s\n", m_instance.c_str(), std::strerror(errno));
        return false;
    }
    m_ep0Thread = std::thread([this] { serveEp0(); });
    return true;
}

void FfsFunction::serveEp0()
{
    usb_functionfs_event events[4];
    for (;;) {
        const ssize_t n = ::read(m_ep0, events, sizeof events);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            std::fprintf(stderr, "[gadget] %s ep0: %s\n", m_instance.c_str(), std::strerror(errno));
            return;
        }
        for (size_t i = 0; i < size_t(n) / sizeof events[0]; ++i) {
            const usb_functionfs_event& e = events[i];
            if (e.type == FUNCTIONFS_ENABLE) {
                ++m_sessions;
            } else if (e.type == FUNCTIONFS_SETUP) {
                const usb_ctrlrequest& r = e.u.setup;
                if (!m_setup || !m_setup(r, m_ep0)) {
                    // A transfer against the request's direction stalls it.
                    char none = 0;
                    if (r.bRequestType & USB_DIR_IN)
                        (void)!::read(m_ep0, &none, 0);
                    else
                        (void)!::write(m_ep0, &none, 0);
                }
            }
        }
    }
}

ssize_t FfsFunction::read(void* buffer, size_t size)
{
    for (;;) {
        const ssize_t n = ::read(m_out, buffer, size);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

bool FfsFunction::readAll(void* buffer, size_t size)
{
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = read(p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool FfsFunction::write(const void* buffer, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t n = ::write(m_in, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace gadget
