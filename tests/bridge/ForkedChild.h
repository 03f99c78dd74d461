#pragma once
// A program started with fork and exec. QProcess starts its children vfork-style: until exec
// the child runs on the parent's memory and thread state, which ThreadSanitizer does not
// model, and the starting thread's later locks go unseen. The history suites start their
// servers and stations this way so they can run under ThreadSanitizer.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <sys/types.h>

class ForkedChild {
public:
    enum class Errors { Forwarded, Merged };
    // Standard output is read by wait(); standard error goes to ours or joins the output.
    ForkedChild(const QString& program, const QStringList& args, Errors errors = Errors::Forwarded);
    // Kills a child still running.
    ~ForkedChild();
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    bool started() const { return m_pid > 0; }
    // Waits up to `timeoutMs` for the child to end; its exit code, or -1 when it did not end
    // (it is then killed) or ended by a signal.
    int wait(int timeoutMs);
    // What it wrote, as far as wait() read.
    const QByteArray& output() const { return m_output; }

private:
    void readAvailable();

    pid_t m_pid = -1;
    int m_out = -1;
    bool m_closed = false; // its end of the pipe: nothing more to read
    QByteArray m_output;
};
