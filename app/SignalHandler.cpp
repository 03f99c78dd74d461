#include "app/SignalHandler.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Written by the handler, read by the event loop: the only thing a handler may safely do.
int g_pipe[2] = {-1, -1};

void onSignal(int signal) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

const int SignalHandler::kSignals[3] = {SIGTERM, SIGHUP, SIGINT};

SignalHandler::SignalHandler(std::function<void(int)> handler, QObject* parent)
    : QObject(parent), m_onSignal(std::move(handler)) {
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        std::perror("hotspot-updater: signals will end the program at once");
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

SignalHandler::~SignalHandler() {
    for (int signal : kSignals)
        std::signal(signal, SIG_DFL);
}

void SignalHandler::drain() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1)
        m_onSignal(byte);
}
