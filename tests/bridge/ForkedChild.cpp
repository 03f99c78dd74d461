#include "tests/bridge/ForkedChild.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

ForkedChild::ForkedChild(const QString& program, const QStringList& args, Errors errors) {
    const QString path = program.contains(u'/') ? program : QStandardPaths::findExecutable(program);
    if (path.isEmpty())
        return;
    // Everything the child needs is made before the fork: it only redirects and execs.
    std::vector<QByteArray> words{QFile::encodeName(path)};
    for (const QString& arg : args)
        words.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        if (errors == Errors::Merged)
            ::dup2(pipeEnds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    m_out = pipeEnds[0];
    ::fcntl(m_out, F_SETFL, O_NONBLOCK);
}

ForkedChild::~ForkedChild() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
}

void ForkedChild::readAvailable() {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(m_out, buffer, sizeof buffer)) > 0)
        m_output.append(buffer, n);
    m_closed |= n == 0;
}

int ForkedChild::wait(int timeoutMs) {
    if (m_pid <= 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    // Its end, not its output's: a server it started may hold the pipe open.
    for (int status = 0;;) {
        pollfd readable{m_out, POLLIN, 0};
        ::poll(&readable, m_closed ? 0 : 1, 20);
        readAvailable();
        const pid_t ended = ::waitpid(m_pid, &status, WNOHANG);
        if (ended == m_pid) {
            readAvailable();
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (ended < 0 && errno != EINTR) {
            m_pid = -1;
            return -1;
        }
        if (clock.hasExpired(timeoutMs)) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            return -1;
        }
    }
}
