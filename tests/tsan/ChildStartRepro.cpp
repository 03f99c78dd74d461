// The smallest program that shows how ThreadSanitizer sees a child that QProcess starts from a
// worker thread, followed by a hand-off of the worker's stack data to the main thread under a
// mutex: the pattern of the application's workers (a tool run, then a blocking post).
//
//   tsan-child-start plain      QProcess without a child-process modifier: no report
//   tsan-child-start modifier   with a modifier of our own (instrumented) code: false races
//
// Qt 6.4 starts every child with clone(CLONE_VM | CLONE_VFORK): until exec the child runs on
// the parent's memory and with the parent thread's thread-local storage, where
// ThreadSanitizer keeps that thread's state. Instrumented code run there (the modifier)
// records its accesses into the parent thread's state behind its back; afterwards correctly
// locked hand-offs from that thread are reported as races on its stack. ThreadSanitizer does
// not model such a child. Without a modifier this small program stays clean, but the suites
// whose workers start tools do not (a thread join after a child start goes unseen there), so
// those suites are not run under ThreadSanitizer.

#include <QCoreApplication>
#include <QProcess>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

std::mutex lock;
std::condition_variable changed;
const int* handed = nullptr;
bool taken = false;

// Fills a stack frame; the hand-off below reuses the same addresses.
__attribute__((noinline)) int scribble(int seed) {
    volatile int frame[64];
    for (int i = 0; i < 64; ++i)
        frame[i] = seed + i;
    return frame[seed % 64];
}

__attribute__((noinline)) void handOver(int seed) {
    int frame[64];
    for (int i = 0; i < 64; ++i)
        frame[i] = seed - i;
    std::unique_lock l(lock);
    handed = frame;
    taken = false;
    changed.notify_all();
    changed.wait(l, [] { return taken; });
}

void startChild(bool withModifier) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::MergedChannels);
    // What the application's tool runner did in the child before exec. The lambda is our
    // code, built with ThreadSanitizer's instrumentation, and runs in the vfork-style child.
    if (withModifier) {
        const pid_t parent = ::getpid();
        p.setChildProcessModifier([parent] {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(127);
        });
    }
    p.start(QStringLiteral("/bin/true"), {});
    p.waitForFinished(-1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool withModifier = argc > 1 && std::strcmp(argv[1], "modifier") == 0;
    constexpr int kRounds = 5;
    std::thread worker([withModifier] {
        for (int round = 0; round < kRounds; ++round) {
            scribble(round);
            startChild(withModifier);
            handOver(round);
        }
    });
    long sum = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::unique_lock l(lock);
        changed.wait(l, [] { return handed != nullptr; });
        for (int i = 0; i < 64; ++i)
            sum += handed[i];
        handed = nullptr;
        taken = true;
        changed.notify_all();
    }
    worker.join();
    std::printf("%d children started, %s (%ld)\n", kRounds,
                withModifier ? "with a child-process modifier" : "plain", sum);
    return 0;
}
